// SPDX-License-Identifier: Apache-2.0
// The printer model: non-fiscal documents (opening, free text lines, closing).
#include "printer/internal/model_ops.h"

namespace plat {

PrinterAnswer ModelOps::OpenNoFiscal(M& m, const Args&) {
  if (!MayOpen(m)) return BadState(m);
  BeginDocument(m, M::DocState::NonFiscal, 0);
  AnsiString number = ZeroPad(NextNumber(m.counters_.LastNonFiscal), 8);
  m.Print(Rule('='));
  m.Print(Center("DOCUMENTO NO FISCAL"));
  m.Print(LeftRight(Stamp(m), "Nro " + number));
  m.Print(Rule('-'));
  return Accept(m);
}
PrinterAnswer ModelOps::SendNoFiscalText(M& m, const Args& a) {
  if (m.state_ != M::DocState::NonFiscal) return BadState(m);
  // One paper line: a longer text is not taken.
  AnsiString text = Arg(a, 0);
  if (text.size() > kWidth) return BadField(m);
  CleanLine(text);
  KeepTail(m.paper_);
  m.paper_.push_back(std::move(text));
  ++m.lines_;
  return Accept(m);
}
PrinterAnswer ModelOps::CloseNoFiscal(M& m, const Args& a) {
  if (m.state_ != M::DocState::NonFiscal) return BadState(m);
  if (Arg(a, 0) != "T" && Arg(a, 0) != "P") return BadField(m);
  m.counters_.LastNonFiscal = NextNumber(m.counters_.LastNonFiscal);
  ++m.counters_.NonFiscalDocs;
  m.counters_.LastDocument = m.counters_.LastNonFiscal;
  AnsiString number = ZeroPad(m.counters_.LastNonFiscal % 10000000, kNonFiscalNumberWidth);
  m.Print(Rule('-'));
  m.Print(Center("FIN DOCUMENTO NO FISCAL"));
  m.Print(Rule('='));
  EndDocument(m);
  return Accept(m, {number});
}

}  // namespace plat
