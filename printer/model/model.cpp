// SPDX-License-Identifier: Apache-2.0
// The printer model: its command dispatch, the paper and the clock. The handlers, by what they
// handle, live beside this file.
#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/os.h"
#include "printer/internal/model_ops.h"

namespace plat {

namespace model {

std::optional<int64_t> ParseHundredths(const AnsiString& s, bool allowNegative) {
  const auto v = wire::ParseDecimal(s, 2, allowNegative);
  if (!v || *v > kMaxCents || *v < -kMaxCents) return std::nullopt;
  return v;
}

int64_t LineAmount(int64_t qty, int64_t price, int64_t rateHundredths) {
  // thousandths x ten-thousandths = 10^-7; cents are 10^-2.
  __int128 n = static_cast<__int128>(qty) * price * (10000 + rateHundredths);
  const __int128 d = static_cast<__int128>(100000) * 10000;
  __int128 q = (n + d / 2) / d;
  if (q > kMaxCents) return kMaxCents + 1;
  return static_cast<int64_t>(q);
}

int64_t VatIncluded(int64_t amountCents, int64_t rateHundredths) {
  const __int128 n = static_cast<__int128>(amountCents) * rateHundredths;
  const __int128 d = 10000 + rateHundredths;
  return static_cast<int64_t>((n + d / 2) / d);
}

std::vector<AnsiString> Reply(std::span<const ReplyField> layout, std::span<const int64_t> values) {
  std::vector<AnsiString> out;
  for (size_t i = 0; i < layout.size() && i < values.size(); ++i) {
    const auto d = wire::Digits(std::max<int64_t>(0, values[i]), layout[i].Width);
    // A count past its field's digits shows its lowest digits, as a counter that wraps.
    const AnsiString all = std::to_string(std::max<int64_t>(0, values[i]));
    out.push_back(d ? *d : all.substr(all.size() - layout[i].Width));
  }
  return out;
}

}  // namespace model

namespace {

// Each command's handler, at its command's place in the table; its argument counts apply.
struct HandlerRow {
  Command Id;
  ModelOps::Handler Run;
};
constexpr HandlerRow kHandlers[] = {
    {Command::Status, &ModelOps::Status},
    {Command::CloseJournal, &ModelOps::CloseJournal},
    {Command::OpenTicket, &ModelOps::OpenTicket},
    {Command::SendTicketItem, &ModelOps::SendTicketItem},
    {Command::GetTicketSubtotal, &ModelOps::GetTicketSubtotal},
    {Command::SendTicketPayment, &ModelOps::SendTicketPayment},
    {Command::CloseTicket, &ModelOps::CloseTicket},
    {Command::OpenNoFiscal, &ModelOps::OpenNoFiscal},
    {Command::SendNoFiscalText, &ModelOps::SendNoFiscalText},
    {Command::CloseNoFiscal, &ModelOps::CloseNoFiscal},
    {Command::SetGetDateTime, &ModelOps::NoSuchCommand},  // the control sends Set/GetDateTime
    {Command::OpenInvoice, &ModelOps::OpenInvoice},
    {Command::SendInvoiceItem, &ModelOps::SendInvoiceItem},
    {Command::GetInvoiceSubtotal, &ModelOps::GetInvoiceSubtotal},
    {Command::SendInvoicePayment, &ModelOps::SendInvoicePayment},
    {Command::CloseInvoice, &ModelOps::CloseInvoice},
    {Command::OpenCashDrawer, &ModelOps::OpenCashDrawer},
    {Command::SetDateTime, &ModelOps::SetDateTime},
    {Command::GetDateTime, &ModelOps::GetDateTime},
    {Command::FiscalMemoryReportByDate, &ModelOps::FiscalMemoryReportByDate},
    {Command::FiscalMemoryReportByZ, &ModelOps::FiscalMemoryReportByZ},
    {Command::OpenCashDrawer2, &ModelOps::OpenCashDrawer},
};
consteval bool EveryCommandHandledInOrder() {
  if (std::size(kHandlers) != kCommandTable.size()) return false;
  for (size_t i = 0; i < std::size(kHandlers); ++i)
    if (static_cast<size_t>(kHandlers[i].Id) != i) return false;
  return true;
}
static_assert(EveryCommandHandledInOrder(), "every command has its handler, in table order");

}  // namespace

PrinterAnswer ModelOps::Execute(M& m, const std::string& method, const Args& args) {
  m.drawerOpen_ = false;  // the drawer sensor reports only right after opening it
  const CommandInfo* info = FindCommand(method);
  if (info == nullptr) return Refuse(m, status::kUnknownCommand);
  // A command with missing or extra fields is a malformed command, not a crash.
  if (args.size() != info->Fields) return BadField(m);
  for (auto* p : args)
    if (p == nullptr) return BadField(m);
  return kHandlers[static_cast<size_t>(info->Id)].Run(m, args);
}

FiscalPrinterModel::FiscalPrinterModel() = default;

PrinterAnswer FiscalPrinterModel::Execute(const std::string& method,
                                          const std::vector<WideString*>& args) {
  return ModelOps::Execute(*this, method, args);
}

void FiscalPrinterModel::Print(std::string_view line) {
  AnsiString clean(line.substr(0, kWidth));
  CleanLine(clean);
  KeepTail(paper_);
  paper_.push_back(std::move(clean));
}

TDateTime FiscalPrinterModel::ClockNow() const {
  return (clock_ ? clock_() : Now()) + clockOffset_;
}

}  // namespace plat
