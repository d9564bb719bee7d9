// SPDX-License-Identifier: Apache-2.0
// The fiscal printer control: hands each command to the process's printer backend and keeps
// the printer's last answer.
#include "printer/printer.h"

#include <algorithm>
#include <string>

#include "platform/exceptions.h"

namespace plat {

template <Command C, typename... A>
int16_t TPrinterFiscal::Call(A&... args) {
  static_assert(sizeof...(A) == Info(C).Args,
                "the control's method takes another number of arguments than the command table");
  return Run(Info(C).Method, {&args...});
}

int16_t TPrinterFiscal::Run(const char* method, std::initializer_list<WideString*> args) {
  std::shared_ptr<PrinterBackend> backend = CurrentPrinterBackend();
  args_.assign(args);
  // A raising backend leaves the previous answer in place.
  PrinterAnswer answer = backend->Execute(portNumber_, method, args_);
  printerStatus_ = answer.PrinterStatus;
  fiscalStatus_ = answer.FiscalStatus;
  // The fields the answer brings, the rest empty (only those an earlier answer filled need it).
  const size_t given = std::min(answer.Fields.size(), fields_.size());
  for (size_t i = 0; i < given; ++i) fields_[i] = std::move(answer.Fields[i]);
  for (size_t i = given; i < fieldsFilled_; ++i) fields_[i].clear();
  fieldsFilled_ = given;
  return answer.Result;
}

int16_t TPrinterFiscal::OpenTicket(WideString& a1) {
  return Call<Command::OpenTicket>(a1);
}

int16_t TPrinterFiscal::OpenInvoice(WideString& a1, WideString& a2, WideString& a3, WideString& a4,
                                    WideString& a5, WideString& a6, WideString& a7, WideString& a8,
                                    WideString& a9, WideString& a10, WideString& a11,
                                    WideString& a12, WideString& a13, WideString& a14,
                                    WideString& a15, WideString& a16, WideString& a17,
                                    WideString& a18, WideString& a19) {
  return Call<Command::OpenInvoice>(a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14,
                                    a15, a16, a17, a18, a19);
}

int16_t TPrinterFiscal::SendTicketItem(WideString& a1, WideString& a2, WideString& a3,
                                       WideString& a4, WideString& a5, WideString& a6,
                                       WideString& a7, WideString& a8) {
  return Call<Command::SendTicketItem>(a1, a2, a3, a4, a5, a6, a7, a8);
}

int16_t TPrinterFiscal::SendInvoiceItem(WideString& a1, WideString& a2, WideString& a3,
                                        WideString& a4, WideString& a5, WideString& a6,
                                        WideString& a7, WideString& a8, WideString& a9,
                                        WideString& a10, WideString& a11, WideString& a12) {
  return Call<Command::SendInvoiceItem>(a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12);
}

int16_t TPrinterFiscal::GetTicketSubtotal(WideString& a1, WideString& a2) {
  return Call<Command::GetTicketSubtotal>(a1, a2);
}

int16_t TPrinterFiscal::GetInvoiceSubtotal(WideString& a1, WideString& a2) {
  return Call<Command::GetInvoiceSubtotal>(a1, a2);
}

int16_t TPrinterFiscal::SendTicketPayment(WideString& a1, WideString& a2, WideString& a3) {
  return Call<Command::SendTicketPayment>(a1, a2, a3);
}

int16_t TPrinterFiscal::SendInvoicePayment(WideString& a1, WideString& a2, WideString& a3) {
  return Call<Command::SendInvoicePayment>(a1, a2, a3);
}

int16_t TPrinterFiscal::CloseTicket() {
  return Call<Command::CloseTicket>();
}

int16_t TPrinterFiscal::CloseInvoice(WideString& a1, WideString& a2, WideString& a3) {
  return Call<Command::CloseInvoice>(a1, a2, a3);
}

int16_t TPrinterFiscal::OpenCashDrawer(WideString& a1) {
  return Call<Command::OpenCashDrawer>(a1);
}

int16_t TPrinterFiscal::OpenNoFiscal() {
  return Call<Command::OpenNoFiscal>();
}

int16_t TPrinterFiscal::CloseNoFiscal() {
  return Call<Command::CloseNoFiscal>();
}

int16_t TPrinterFiscal::SendNoFiscalText(WideString& a1) {
  return Call<Command::SendNoFiscalText>(a1);
}

int16_t TPrinterFiscal::CloseJournal(WideString& a1, WideString& a2) {
  return Call<Command::CloseJournal>(a1, a2);
}

int16_t TPrinterFiscal::SetGetDateTime(WideString& a1, WideString& a2, WideString& a3) {
  return Call<Command::SetGetDateTime>(a1, a2, a3);
}

int16_t TPrinterFiscal::Status(WideString& a1) {
  return Call<Command::Status>(a1);
}

int16_t TPrinterFiscal::FiscalMemoryReportByDate(WideString& from, WideString& to,
                                                 WideString& kind) {
  return Call<Command::FiscalMemoryReportByDate>(from, to, kind);
}

int16_t TPrinterFiscal::FiscalMemoryReportByZ(WideString& first, WideString& last,
                                              WideString& kind) {
  return Call<Command::FiscalMemoryReportByZ>(first, last, kind);
}

void TPrinterFiscal::SetPortNumber(const Variant& v) {
  portNumber_ = v.AsInteger();
}

void TPrinterFiscal::SetBaudRate(const Variant& v) {
  baudRate_ = v.AsInteger();
}

Variant TPrinterFiscal::AnswerField(int n) const {
  if (n < 3 || n > 19)
    throw EVariantError("the printer control has no answer field AnswerField_" + std::to_string(n) +
                        " (AnswerField_3 to AnswerField_19)");
  return Variant(fields_[static_cast<size_t>(n - 3)]);
}

}  // namespace plat
