// SPDX-License-Identifier: Apache-2.0
// The printer model: its fiscal memory of Z closings, and the reports printed from it, by a
// range of dates or of Z numbers, as totals or closing by closing.
#include "printer/internal/model_ops.h"

namespace plat {

namespace {

using Closing = FiscalPrinterModel::ZClosing;

// YYMMDD with a month and a day that exist in some year; nothing for anything else.
std::optional<AnsiString> ReportDate(const AnsiString& s) {
  const auto v = wire::ReadDigits(s, 6);
  if (!v) return std::nullopt;
  const int month = static_cast<int>(*v / 100 % 100), day = static_cast<int>(*v % 100);
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  return s;
}

// A Z number of one to four digits, with or without leading zeros.
std::optional<int> ReportZ(const AnsiString& s) {
  if (s.empty() || s.size() > report_kind::kZDigits) return std::nullopt;
  const auto v = wire::ReadDigits(s, s.size());
  return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
}

// 'T' or 'D' for the kinds the printer takes (either case); 0 for anything else.
char ReportKind(const AnsiString& s) {
  if (s.size() != 1) return 0;
  const char k = s[0] == 't' ? 'T' : s[0] == 'd' ? 'D' : s[0];
  return k == report_kind::kTotals || k == report_kind::kDetailed ? k : 0;
}

AnsiString ShownDate(const AnsiString& yymmdd) {
  return yymmdd.substr(4, 2) + "/" + yymmdd.substr(2, 2) + "/" + yymmdd.substr(0, 2);
}

}  // namespace

void ModelOps::KeepClosing(M& m) {
  const auto& c = m.counters_;
  Closing z;
  z.Number = c.ZNumber;
  z.Date = ClockFields(m).first;
  z.FiscalDocs = c.FiscalDocs + c.ADocs;
  z.CancelledDocs = c.CancelledDocs;
  z.SalesCents = c.DaySalesCents;
  z.VatCents = c.DayVatCents;
  z.LastTicket = c.LastTicket;
  z.LastInvoiceA = c.LastInvoiceA;
  m.closings_.push_back(std::move(z));
  if (m.closings_.size() > M::kClosingsKept)
    m.closings_.erase(m.closings_.begin(),
                      m.closings_.end() - static_cast<std::ptrdiff_t>(M::kClosingsKept));
}

// Prints the report of the closings that `in` selects, under its range line.
void ModelOps::PrintReport(M& m, const AnsiString& range, char kind,
                           const std::function<bool(const M::ZClosing&)>& in) {
  m.Print(Rule('='));
  m.Print(Center("INFORME DE MEMORIA FISCAL"));
  m.Print(Center(range));
  m.Print(Center(kind == report_kind::kDetailed ? "DETALLADO" : "GLOBAL"));
  m.Print(Stamp(m));
  m.Print(Rule('-'));
  int count = 0, docs = 0, cancelled = 0;
  int64_t sales = 0, vat = 0;
  for (const Closing& z : m.Closings()) {
    if (!in(z)) continue;
    ++count;
    docs += z.FiscalDocs;
    cancelled += z.CancelledDocs;
    sales += z.SalesCents;
    vat += z.VatCents;
    if (kind != report_kind::kDetailed) continue;
    m.Print(LeftRight("Z " + ZeroPad(z.Number, 4) + "  " + ShownDate(z.Date), Money(z.SalesCents)));
    m.Print(LeftRight("  IVA", Money(z.VatCents)));
    m.Print(LeftRight("  DOC. FISCALES / CANCELADOS",
                      std::to_string(z.FiscalDocs) + " / " + std::to_string(z.CancelledDocs)));
    m.Print(LeftRight("  ULTIMO TIQUE / FACTURA B-C", ZeroPad(z.LastTicket, 8)));
    m.Print(LeftRight("  ULTIMA FACTURA A", ZeroPad(z.LastInvoiceA, 8)));
  }
  if (kind == report_kind::kDetailed && count > 0) m.Print(Rule('-'));
  if (count == 0) m.Print(Center("SIN CIERRES Z EN EL RANGO"));
  m.Print(LeftRight("CIERRES Z", std::to_string(count)));
  m.Print(LeftRight("DOC. FISCALES", std::to_string(docs)));
  m.Print(LeftRight("DOC. FISCALES CANCELADOS", std::to_string(cancelled)));
  m.Print(LeftRight("TOTAL VENTAS", Money(sales)));
  m.Print(LeftRight("TOTAL IVA", Money(vat)));
  m.Print(Rule('='));
}

PrinterAnswer ModelOps::FiscalMemoryReportByDate(M& m, const Args& a) {
  const auto from = ReportDate(Arg(a, 0)), to = ReportDate(Arg(a, 1));
  const char kind = ReportKind(Arg(a, 2));
  if (!from || !to || *from > *to || kind == 0) return BadField(m);
  if (m.state_ != M::DocState::Idle) return BadState(m);
  // YYMMDD of one century compare as texts.
  PrintReport(m, "FECHAS " + ShownDate(*from) + " AL " + ShownDate(*to), kind,
              [&](const Closing& z) { return z.Date >= *from && z.Date <= *to; });
  return Accept(m);
}

PrinterAnswer ModelOps::FiscalMemoryReportByZ(M& m, const Args& a) {
  const auto first = ReportZ(Arg(a, 0)), last = ReportZ(Arg(a, 1));
  const char kind = ReportKind(Arg(a, 2));
  if (!first || !last || *first > *last || kind == 0) return BadField(m);
  if (m.state_ != M::DocState::Idle) return BadState(m);
  PrintReport(m, "CIERRES Z " + ZeroPad(*first, 4) + " AL " + ZeroPad(*last, 4), kind,
              [&](const Closing& z) { return z.Number >= *first && z.Number <= *last; });
  return Accept(m);
}

}  // namespace plat
