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
  m.Print(LeftRight("DOC. FISCALES", std::to_string(c.FiscalDocs)));
  m.Print(LeftRight("DOC. FISCALES CANCELADOS", std::to_string(c.CancelledDocs)));
  m.Print(LeftRight("DOC. NO FISCALES", std::to_string(c.NonFiscalDocs)));
  m.Print(LeftRight("ULTIMO TIQUE", ZeroPad(c.LastTicket, 8)));
  m.Print(LeftRight("ULTIMA FACTURA A", ZeroPad(c.LastInvoiceA, 8)));
  m.Print(LeftRight("ULTIMA FACTURA C", ZeroPad(c.LastInvoiceC, 8)));
  m.Print(LeftRight("VENTAS DEL DIA", Money(c.DaySalesCents)));
  m.Print(Rule('='));
}

PrinterAnswer ModelOps::CloseJournal(M& m, const Args& a) {
  AnsiString kind = Arg(a, 0);
  if (kind != "X" && kind != "Z") return BadField(m);
  if (m.state_ != M::DocState::Idle) return BadState(m);
  auto& c = m.counters_;
  if (kind == "X") {
    c.XSinceZ = std::min(c.XSinceZ + 1, 9999);
    PrintDaySummary(m, "INFORME X Nro " + ZeroPad(c.XSinceZ, 4));
    return Accept(m, {ZeroPad(c.XSinceZ, 4)});
  }
  c.ZNumber = c.ZNumber >= 9999 ? 1 : c.ZNumber + 1;
  PrintDaySummary(m, "INFORME Z Nro " + ZeroPad(c.ZNumber, 4));
  PrinterAnswer answer = Accept(
      m, {ZeroPad(c.ZNumber, 4), "0", std::to_string(c.XSinceZ), std::to_string(c.NonFiscalDocs),
          std::to_string(c.FiscalDocs), "0", ZeroPad(c.LastTicket, 8), ZeroPad(c.DaySalesCents, 10),
          std::to_string(c.CancelledDocs), ZeroPad(c.LastInvoiceA, 8), ZeroPad(c.LastInvoiceC, 8),
          ZeroPad(c.LastNonFiscal, 8)});
  c.XSinceZ = 0;
  c.FiscalDocs = 0;
  c.NonFiscalDocs = 0;
  c.CancelledDocs = 0;
  c.DaySalesCents = 0;
  return answer;
}

// Queries.

PrinterAnswer ModelOps::SetGetDateTime(M& m, const Args& a) {
  const AnsiString mode = Arg(a, 0);
  if (mode == "S") {
    // Sets the clock: 2 date YYMMDD, 3 time HHMMSS; only between documents.
    const AnsiString date = Arg(a, 1), time = Arg(a, 2);
    auto digits = [](const AnsiString& s) {
      return s.size() == 6 &&
             std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(date) || !digits(time)) return BadField(m);
    auto two = [](const AnsiString& s, size_t at) {
      return (s[at] - '0') * 10 + (s[at + 1] - '0');
    };
    TDateTime wanted;
    try {
      wanted = EncodeDate(2000 + two(date, 0), two(date, 2), two(date, 4)) +
               EncodeTime(two(time, 0), two(time, 2), two(time, 4));
    } catch (const Exception&) {
      return BadField(m);
    }
    if (m.state_ != M::DocState::Idle) return BadState(m);
    m.clockOffset_ += wanted - m.ClockNow();
  } else if (mode != "G") {
    return BadField(m);
  }
  TDateTime now = m.ClockNow();
  int y, mo, d, h, mi, s, ms;
  DecodeDate(now, y, mo, d);
  DecodeTime(now, h, mi, s, ms);
  return Accept(m, {ZeroPad(y % 100, 2) + ZeroPad(mo, 2) + ZeroPad(d, 2),
                    ZeroPad(h, 2) + ZeroPad(mi, 2) + ZeroPad(s, 2)});
}

// The status words, then the document in progress: its kind ("T", "A", "C", "N" for a
// non-fiscal one, empty when none is open), its number (the one it will get, or when none is
// open the last document's), its lines, amount and payments, and the day's X and Z numbers.
PrinterAnswer ModelOps::Status(M& m, const Args&) {
  AnsiString kind;
  int number = m.counters_.LastDocument;
  switch (m.state_) {
    case M::DocState::Ticket:
      kind = "T";
      number = NextDocNumber(m);
      break;
    case M::DocState::Invoice:
      kind = AnsiString(1, m.invoiceLetter_);
      number = NextDocNumber(m);
      break;
    case M::DocState::NonFiscal:
      kind = "N";
      number = NextNumber(m.counters_.LastNonFiscal);
      break;
    case M::DocState::Idle:
      break;
  }
  return Accept(
      m, {link::HexWord(PrinterBits(m)), link::HexWord(FiscalBits(m)), kind, ZeroPad(number, 8),
          std::to_string(m.lines_), Money(m.docTotal_), Money(m.docPaid_),
          ZeroPad(m.counters_.XSinceZ, 4), ZeroPad(m.counters_.ZNumber, 4)});
}

}  // namespace plat
