// SPDX-License-Identifier: Apache-2.0
// The built-in fiscal printer emulator, registered as the backend "emulator": the printer model
// (printer/model.h) behind the PrinterBackend interface, with a journal of every command
// received and scripting for tests. docs/emulator.md describes its behaviour. An emulator takes
// one command at a time, also from several controls and threads; its journal and paper are read
// between commands.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "printer/api.h"
#include "printer/backend.h"
#include "printer/model.h"
#include "printer/status.h"
#include "printer/wire.h"

namespace plat {

// One command as the emulator received it.
struct ExecutedCommand {
  std::string Method;
  std::vector<WideString> Args;  // exactly as received, before execution
  int16_t Result = 0;
  bool Raised = false;  // the command raised instead of answering
};
// The former name, kept for hosts built against it.
using JournalEntry [[deprecated("use plat::ExecutedCommand")]] = ExecutedCommand;

class FISCAL_PRINTER_API FiscalEmulator final : public PrinterBackend {
 public:
  FiscalEmulator();

  PrinterAnswer Execute(int portNumber, const char* method,
                        const std::vector<WideString*>& args) override;

  FiscalPrinterModel& Model() { return model_; }
  const FiscalPrinterModel& Model() const { return model_; }

  // Journal of every command received (also refused and raising ones); past 40000 only the
  // newest 20000 at least are kept.
  const std::vector<ExecutedCommand>& Journal() const { return journal_; }
  void ClearJournal() { journal_.clear(); }
  // Method names of the journal, in order (for compact assertions).
  std::vector<std::string> Methods() const;
  // The paper printed so far (the model's; its newest 20000 lines at least).
  const std::vector<AnsiString>& Paper() const { return model_.Paper(); }
  void ClearPaper() { model_.ClearPaper(); }
  // Port number of the last command.
  int LastPort() const { return lastPort_; }

  // The model's variant told from its own answers to the status modes P, A and C, as the link
  // tells a printer's (nothing runs that changes the model).
  variants::Told TellVariant();

  // ---- Scripting. A rule applies to commands of one method ("" for any); occurrence 0 means
  // every matching command, n the n-th matching command counted from when the rule was added.
  enum class Action {
    Refuse,     // not executed; answers 0 with the invalid-state bit
    Raise,      // not executed; raises plat::Exception(Message)
    SetFields,  // executed; then the answer fields are replaced by Fields
    WriteArg,   // executed; then argument ArgIndex (0-based) is set to ArgValue
    Silent      // not executed; raises ELinkError as a switched-off printer
  };
  struct Rule {
    std::string Method;
    int Occurrence = 0;
    Action What = Action::Refuse;
    AnsiString Message;
    std::vector<WideString> Fields;
    int ArgIndex = 0;
    WideString ArgValue;
    int seen = 0;  // matching commands seen so far
  };
  void AddRule(Rule rule);
  void ClearRules();
  void Refuse(const std::string& method, int occurrence = 0);
  void RaiseOn(const std::string& method, const AnsiString& message, int occurrence = 0);
  void SetFieldsAfter(const std::string& method, std::vector<WideString> fields,
                      int occurrence = 0);
  void WriteArgAfter(const std::string& method, int argIndex, WideString value, int occurrence = 0);
  // The n-th command of any method from now (1-based) is refused / raises.
  void RefuseNth(int n);
  void RaiseNth(int n, const AnsiString& message);
  // A switched-off printer: every command raises ELinkError("the printer does not answer").
  void SetSwitchedOff(bool off);

 private:
  // The command translated to the printer's fields and run on the model.
  PrinterAnswer Run(const std::string& method, const std::vector<WideString*>& args);

  FiscalPrinterModel model_;
  wire::Translator translator_;
  mutable std::mutex mu_;  // one command at a time, also from several controls
  std::vector<ExecutedCommand> journal_;
  std::vector<Rule> rules_;
  bool switchedOff_ = false;
  int lastPort_ = 0;
};

// The process's default emulator: the backend that controls use until a host sets another. It
// answers as the variant FISCAL_PRINTER_MODEL names (ours when unset or unknown).
FISCAL_PRINTER_API std::shared_ptr<FiscalEmulator> DefaultEmulator();

}  // namespace plat
