// SPDX-License-Identifier: Apache-2.0
// Where the printer control's commands go: the backend interface, and the registry of backends
// by name. The built-in backends register themselves: "emulator" (the process's printer model,
// printer/emulator.h) and "serial" (a printer on a serial line, printer/serial_backend.h).
// Without a backend installed by the host, FISCAL_PRINTER names the one to use ("emulator"
// when unset). The registry functions are safe to call from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/types.h"
#include "printer/api.h"

namespace plat {

// The printer's answer to one command.
struct PrinterAnswer {
  int16_t Result = 0;  // the method's answer; nonzero = accepted
  uint16_t PrinterStatus = 0;
  uint16_t FiscalStatus = 0;
  std::vector<WideString> Fields;  // AnswerField_3, AnswerField_4, ... (at most 17)
};

class FISCAL_PRINTER_API PrinterBackend {
 public:
  virtual ~PrinterBackend() = default;
  // Executes one command of the named method ("OpenTicket", "SendTicketItem", ...). args are
  // the method's by-reference arguments in order; the backend may write them. A failure to
  // reach the printer raises (ELinkError); a refusal is an answer with Result 0. A backend
  // receives one command at a time from each control; one that several controls share guards
  // itself.
  virtual PrinterAnswer Execute(int portNumber, const char* method,
                                const std::vector<WideString*>& args) = 0;
};

// Makes the backend of a name when FISCAL_PRINTER selects it. It is asked at every command, so
// it answers the same backend while its configuration stays the same.
using PrinterBackendFactory = std::function<std::shared_ptr<PrinterBackend>()>;

// Adds (or replaces) the backend of a name.
FISCAL_PRINTER_API void RegisterPrinterBackend(const std::string& name,
                                               PrinterBackendFactory factory);
// The registered names, in alphabetical order.
FISCAL_PRINTER_API std::vector<std::string> PrinterBackendNames();

// The backend that every control uses from its next command on; a null backend returns to the
// one that FISCAL_PRINTER names.
FISCAL_PRINTER_API void SetPrinterBackend(std::shared_ptr<PrinterBackend> backend);
// While one lives on a thread, every status query that thread sends goes out once and waits one
// reply timeout at most, even for a printer that stopped answering: for a host's idle checks of
// the printer, which must never hold the line for long while a request may be waiting. Other
// commands, and other threads, are not affected. Scopes nest.
class FISCAL_PRINTER_API QuickStatusQueries {
 public:
  QuickStatusQueries();
  ~QuickStatusQueries();
  QuickStatusQueries(const QuickStatusQueries&) = delete;
  QuickStatusQueries& operator=(const QuickStatusQueries&) = delete;
  // Whether a scope lives on the calling thread.
  static bool Active();

 private:
  bool outer_;
};

// The host's backend, or else the one FISCAL_PRINTER names. Raises ELinkError, listing the
// known names, when it names none.
FISCAL_PRINTER_API std::shared_ptr<PrinterBackend> CurrentPrinterBackend();

}  // namespace plat
