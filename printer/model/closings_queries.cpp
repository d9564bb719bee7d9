// SPDX-License-Identifier: Apache-2.0
// The printer model: the journal closings (X reading, Z reduction) and the queries (clock,
// status).
#include "platform/exceptions.h"
#include "printer/internal/model_ops.h"

namespace plat {

void ModelOps::PrintDaySummary(M& m, const AnsiString& title) {
  const auto& c = m.counters_;
  m.Print(Rule('='));
  m.Print(Center(title));
  m.Print(Stamp(m));
  m.Print(Rule('-'));
  m.Print(LeftRight("DOC. FISCALES", std::to_string(c.FiscalDocs + c.ADocs)));
  m.Print(LeftRight("DOC. FISCALES CANCELADOS", std::to_string(c.CancelledDocs)));
  m.Print(LeftRight("DOC. NO FISCALES", std::to_string(c.NonFiscalDocs)));
  m.Print(LeftRight("ULTIMO TIQUE / FACTURA B-C", ZeroPad(c.LastTicket, 8)));
  m.Print(LeftRight("ULTIMA FACTURA A", ZeroPad(c.LastInvoiceA, 8)));
  m.Print(LeftRight("VENTAS DEL DIA", Money(c.DaySalesCents)));
  m.Print(Rule('='));
}

namespace {

// The closing's reply: its number, then the day's figures (17 fields).
std::vector<AnsiString> ClosingReply(const FiscalPrinterModel& m, int number) {
  const FiscalPrinterModel::Counters& c = m.GetCounters();
  const int64_t values[] = {number,
                            c.CancelledDocs,
                            0,  // homologated non-fiscal documents: the model issues none
                            c.NonFiscalDocs,
                            c.FiscalDocs,
                            c.ADocs,
                            c.LastTicket,
                            c.DaySalesCents,
                            c.DayVatCents,
                            0,  // perceptions
                            c.LastInvoiceA,
                            0,  // credit notes and delivery notes: the model issues none
                            0,
                            0,
                            0,
                            0,
                            0};
  return variants::FromCommon(m.GetVariant(), variants::Reply::Closing,
                              Reply(z_field::kLayout, values));
}

}  // namespace

PrinterAnswer ModelOps::CloseJournal(M& m, const Args& a) {
  AnsiString kind = Arg(a, 0);
  if (kind != "X" && kind != "Z") return BadField(m);
  if (m.state_ != M::DocState::Idle) return BadState(m);
  auto& c = m.counters_;
  if (kind == "X") {
    c.XSinceZ = std::min(c.XSinceZ + 1, 9999);
    PrintDaySummary(m, "INFORME X Nro " + ZeroPad(c.XSinceZ, 4));
    return Accept(m, ClosingReply(m, c.XSinceZ));
  }
  c.ZNumber = c.ZNumber >= 99999 ? 1 : c.ZNumber + 1;
  PrintDaySummary(m, "INFORME Z Nro " + ZeroPad(c.ZNumber, 4));
  PrinterAnswer answer = Accept(m, ClosingReply(m, c.ZNumber));
  KeepClosing(m);
  c.XSinceZ = 0;
  c.FiscalDocs = 0;
  c.ADocs = 0;
  c.NonFiscalDocs = 0;
  c.CancelledDocs = 0;
  c.DaySalesCents = 0;
  c.DayVatCents = 0;
  c.FirstDocDate.clear();
  c.FirstDocTime.clear();
  return answer;
}

// Queries.

PrinterAnswer ModelOps::SetDateTime(M& m, const Args& a) {
  // 1 date YYMMDD, 2 time HHMMSS; only between documents.
  const AnsiString date = Arg(a, 0), time = Arg(a, 1);
  if (!wire::ReadDigits(date, 6) || !wire::ReadDigits(time, 6)) return BadField(m);
  auto two = [](const AnsiString& s, size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); };
  TDateTime wanted;
  try {
    wanted = EncodeDate(2000 + two(date, 0), two(date, 2), two(date, 4)) +
             EncodeTime(two(time, 0), two(time, 2), two(time, 4));
  } catch (const Exception&) {
    return BadField(m);
  }
  if (m.state_ != M::DocState::Idle) return BadState(m);
  m.clockOffset_ += wanted - m.ClockNow();
  return Accept(m);
}

PrinterAnswer ModelOps::GetDateTime(M& m, const Args&) {
  const auto [date, time] = ClockFields(m);
  return Accept(m, {date, time});
}

namespace {

// What the model tells of itself in the modes P and C: a roll printer of 40 columns that
// issues tickets and ticket-invoices under its variant's name, and the taxpayer of the demo.
std::vector<AnsiString> Characteristics(const variants::ModelVariant& v) {
  return {"000", "000", "000", "040", "000", "1", "1", "0", "2", "R", v.KnownNames.Value[0]};
}
const std::vector<AnsiString> kTaxpayer = {"20000000001", "0001",   "I",
                                           "2100",        "999999", "EMULADOR DE IMPRESORA FISCAL"};

}  // namespace

// The status request answers the group of its mode: N the last ticket, the fiscal day and the
// last Z; P the printer's characteristics; C the taxpayer; A the counters; D the document
// being issued (nothing open: both fields empty); S nothing.
PrinterAnswer ModelOps::Status(M& m, const Args& a) {
  const AnsiString mode = Arg(a, 0);
  const auto& c = m.counters_;
  const auto& v = m.GetVariant();
  // Each mode's reply in the variant's layout.
  auto answer = [&](variants::Reply r, std::vector<AnsiString> common) {
    return Accept(m, variants::FromCommon(v, r, std::move(common)));
  };
  if (mode == "N") {
    const int64_t values[] = {c.LastTicketDone, 0, 0, c.ZNumber, 0, 0};
    std::vector<AnsiString> f = Reply(std::span(status_n::kLayout).first(6), values);
    f[status_n::kFirstDate] = c.FirstDocDate.empty() ? "000000" : c.FirstDocDate;
    f[status_n::kFirstTime] = c.FirstDocTime.empty() ? "000000" : c.FirstDocTime;
    f.push_back("EMU0000001");
    f.push_back("00");
    return Accept(m, std::move(f));
  }
  if (mode == "P") return answer(variants::Reply::StatusP, Characteristics(v));
  if (mode == "C") return answer(variants::Reply::StatusC, kTaxpayer);
  if (mode == "A") {
    const int64_t values[] = {c.ZNumber,
                              c.LastTicketDone,
                              c.LastTicket,
                              c.LastADone,
                              c.LastInvoiceA,
                              c.LastNonFiscal % 100000,
                              0,
                              c.LastNonFiscal,
                              0,
                              0,
                              0};
    return answer(variants::Reply::StatusA, Reply(status_a::kLayout, values));
  }
  if (mode == "D") {
    if (m.state_ == M::DocState::Idle) return answer(variants::Reply::StatusD, {"", ""});
    const char letter = m.state_ == M::DocState::Invoice ? m.invoiceLetter_ : 'N';
    return answer(variants::Reply::StatusD, {AnsiString(1, m.docKind_), AnsiString(1, letter)});
  }
  if (mode == "S") return Accept(m);
  return BadField(m);
}

}  // namespace plat
