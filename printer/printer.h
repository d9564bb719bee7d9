// SPDX-License-Identifier: Apache-2.0
// The fiscal printer control. Each method hands one command to the current backend
// (printer/backend.h: the built-in emulator, a printer on a serial line, or the host's own) and
// answers a 16-bit value: nonzero means the printer accepted the command. Every argument is a wide
// text passed by reference, which the control may write. After a command the control holds the
// printer's answer: PrinterStatus, FiscalStatus and the answer fields from AnswerField_3 on.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/variant.h"
#include "printer/api.h"
#include "printer/backend.h"
#include "printer/commands.h"

namespace plat {

// One control belongs to one thread at a time; several controls may run commands at once, and
// the built-in backends take their commands one at a time.
class FISCAL_PRINTER_API TPrinterFiscal {
 public:
  TPrinterFiscal() = default;

  int16_t OpenTicket(WideString& a1);
  int16_t OpenInvoice(WideString& a1, WideString& a2, WideString& a3, WideString& a4,
                      WideString& a5, WideString& a6, WideString& a7, WideString& a8,
                      WideString& a9, WideString& a10, WideString& a11, WideString& a12,
                      WideString& a13, WideString& a14, WideString& a15, WideString& a16,
                      WideString& a17, WideString& a18, WideString& a19);
  int16_t SendTicketItem(WideString& a1, WideString& a2, WideString& a3, WideString& a4,
                         WideString& a5, WideString& a6, WideString& a7, WideString& a8);
  int16_t SendInvoiceItem(WideString& a1, WideString& a2, WideString& a3, WideString& a4,
                          WideString& a5, WideString& a6, WideString& a7, WideString& a8,
                          WideString& a9, WideString& a10, WideString& a11, WideString& a12);
  int16_t GetTicketSubtotal(WideString& a1, WideString& a2);
  int16_t GetInvoiceSubtotal(WideString& a1, WideString& a2);
  int16_t SendTicketPayment(WideString& a1, WideString& a2, WideString& a3);
  int16_t SendInvoicePayment(WideString& a1, WideString& a2, WideString& a3);
  int16_t CloseTicket();
  int16_t CloseInvoice(WideString& a1, WideString& a2, WideString& a3);
  int16_t OpenCashDrawer(WideString& a1);
  int16_t OpenNoFiscal();
  int16_t CloseNoFiscal();
  int16_t SendNoFiscalText(WideString& a1);
  int16_t CloseJournal(WideString& a1, WideString& a2);
  int16_t SetGetDateTime(WideString& a1, WideString& a2, WideString& a3);
  int16_t Status(WideString& a1);
  // The fiscal-memory reports, which no entry point prints: the Z closings from one date to
  // another (YYMMDD each) or from one Z number to another, as totals ("T") or closing by closing
  // ("D"). Only between documents; the printer answers no fields.
  int16_t FiscalMemoryReportByDate(WideString& from, WideString& to, WideString& kind);
  int16_t FiscalMemoryReportByZ(WideString& first, WideString& last, WideString& kind);

  // Properties. Each answer field reads as a wide-text variant (empty until a command answered
  // it); a command that completes replaces all of them, one that raises leaves them.
  Variant PortNumber() const { return Variant(portNumber_); }
  void SetPortNumber(const Variant& v);  // converted to an integer
  Variant BaudRate() const { return Variant(baudRate_); }
  void SetBaudRate(const Variant& v);
  Variant PrinterStatus() const { return Variant(static_cast<int>(printerStatus_)); }
  Variant FiscalStatus() const { return Variant(static_cast<int>(fiscalStatus_)); }
  Variant AnswerField(int n) const;  // n from 3 to 19; EVariantError otherwise
  Variant AnswerField_3() const { return AnswerField(3); }
  Variant AnswerField_4() const { return AnswerField(4); }
  Variant AnswerField_5() const { return AnswerField(5); }
  Variant AnswerField_6() const { return AnswerField(6); }
  Variant AnswerField_7() const { return AnswerField(7); }
  Variant AnswerField_8() const { return AnswerField(8); }
  Variant AnswerField_9() const { return AnswerField(9); }
  Variant AnswerField_10() const { return AnswerField(10); }
  Variant AnswerField_11() const { return AnswerField(11); }
  Variant AnswerField_12() const { return AnswerField(12); }
  Variant AnswerField_13() const { return AnswerField(13); }
  Variant AnswerField_14() const { return AnswerField(14); }
  Variant AnswerField_15() const { return AnswerField(15); }
  Variant AnswerField_16() const { return AnswerField(16); }
  Variant AnswerField_17() const { return AnswerField(17); }
  Variant AnswerField_18() const { return AnswerField(18); }
  Variant AnswerField_19() const { return AnswerField(19); }
  bool MessagesOn() const { return messagesOn_; }
  void SetMessagesOn(bool on) { messagesOn_ = on; }

 private:
  // Runs the command with the control's arguments; their number is checked against the
  // command table when the library is compiled.
  template <Command C, typename... A>
  int16_t Call(A&... args);
  int16_t Run(const char* method, std::initializer_list<WideString*> args);

  int32_t portNumber_ = 0;
  int32_t baudRate_ = 9600;
  uint16_t printerStatus_ = 0;
  uint16_t fiscalStatus_ = 0;
  std::array<WideString, 17> fields_;
  size_t fieldsFilled_ = 0;  // fields_ past this one are empty
  bool messagesOn_ = false;
  std::vector<WideString*> args_;  // the command being run's arguments, kept to reuse its room
};

}  // namespace plat
