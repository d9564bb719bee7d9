// The printer model: the journal closings (X reading, Z reduction) and the queries (clock,
// status).
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
  PrinterAnswer answer = Accept(m, {ZeroPad(c.ZNumber, 4), "0", std::to_string(c.XSinceZ),
                                    std::to_string(c.NonFiscalDocs), std::to_string(c.FiscalDocs),
                                    "0", ZeroPad(c.LastTicket, 8), ZeroPad(c.DaySalesCents, 10)});
  c.XSinceZ = 0;
  c.FiscalDocs = 0;
  c.NonFiscalDocs = 0;
  c.CancelledDocs = 0;
  c.DaySalesCents = 0;
  return answer;
}

// Queries.

PrinterAnswer ModelOps::SetGetDateTime(M& m, const Args& a) {
  if (Arg(a, 0) != "G") return BadField(m);
  TDateTime now = m.ClockNow();
  int y, mo, d, h, mi, s, ms;
  DecodeDate(now, y, mo, d);
  DecodeTime(now, h, mi, s, ms);
  return Accept(m, {ZeroPad(y % 100, 2) + ZeroPad(mo, 2) + ZeroPad(d, 2),
                    ZeroPad(h, 2) + ZeroPad(mi, 2) + ZeroPad(s, 2)});
}

PrinterAnswer ModelOps::Status(M& m, const Args&) {
  return Accept(m, {link::HexWord(PrinterBits(m)), link::HexWord(FiscalBits(m))});
}

}  // namespace plat
