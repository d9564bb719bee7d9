// The printer model: fiscal documents (tickets and invoices: opening, items, subtotal, payments,
// closing, cancellation) and the cash drawer.
#include "printer/internal/model_ops.h"

namespace plat {

PrinterAnswer ModelOps::OpenTicket(M& m, const Args& a) {
  if (m.state_ != M::DocState::Idle) return BadState(m);
  if (Arg(a, 0).size() != 1) return BadField(m);
  BeginDocument(m, M::DocState::Ticket, 0);
  AnsiString number = ZeroPad(NextDocNumber(m), 8);
  m.Print(Rule('='));
  m.Print(LeftRight("TIQUE", "Nro " + number));
  m.Print(Stamp(m));
  m.Print(Rule('-'));
  return Accept(m, {number});
}

PrinterAnswer ModelOps::OpenInvoice(M& m, const Args& a) {
  if (m.state_ != M::DocState::Idle) return BadState(m);
  AnsiString letter = Arg(a, 2);
  if (letter != "A" && letter != "C") return BadField(m);
  BeginDocument(m, M::DocState::Invoice, letter[0]);
  AnsiString number = ZeroPad(NextDocNumber(m), 8);
  m.Print(Rule('='));
  m.Print(LeftRight("FACTURA " + letter, "Nro " + number));
  m.Print(Stamp(m));
  m.Print(Rule('-'));
  AnsiString name = Arg(a, 8), docType = Arg(a, 10), docNumber = Arg(a, 11), address = Arg(a, 13),
             buyerVat = Arg(a, 6);
  if (!name.empty()) m.Print(Cut(name, kWidth));
  if (!docType.empty() || !docNumber.empty()) m.Print(Cut(docType + " " + docNumber, kWidth));
  if (!address.empty()) m.Print(Cut(address, kWidth));
  if (!buyerVat.empty()) m.Print(Cut("IVA: " + buyerVat, kWidth));
  if (!name.empty() || !docType.empty() || !docNumber.empty() || !address.empty() ||
      !buyerVat.empty())
    m.Print(Rule('-'));
  return Accept(m, {number});
}

PrinterAnswer ModelOps::Item(M& m, const Args& a, M::DocState kind) {
  if (m.state_ != kind || m.totalPrinted_) return BadState(m);
  AnsiString description = Arg(a, 0), qualifier = Arg(a, 4);
  auto qty = ParseHundredths(Arg(a, 1));
  auto price = ParseHundredths(Arg(a, 2));
  auto rate = ParseHundredths(Arg(a, 3));
  if (!qty || !price || !rate || *qty <= 0 || (qualifier != "M" && qualifier != "m"))
    return BadField(m);
  int64_t rateForAmount = kind == M::DocState::Invoice ? *rate : 0;
  int64_t amount = LineAmount(*qty, *price, rateForAmount);
  if (amount > kMaxCents) return Refuse(m, status::kTotalsOverflow);

  if (qualifier == "M") {
    if (m.docTotal_ + amount > kMaxCents) return Refuse(m, status::kTotalsOverflow);
    m.items_.push_back({description, *price, *rate, *qty, amount});
    m.docTotal_ += amount;
  } else {
    // Taking an item back: it must have been sold on this document, in that quantity.
    auto it = std::find_if(m.items_.begin(), m.items_.end(), [&](const M::SoldItem& s) {
      return s.Description == description && s.UnitPriceCents == *price &&
             s.RateHundredths == *rate && s.QuantityHundredths >= *qty;
    });
    if (it == m.items_.end()) return BadState(m);
    if (it->QuantityHundredths == *qty) amount = it->AmountCents;  // no rounding residue
    amount = std::min(amount, it->AmountCents);
    it->QuantityHundredths -= *qty;
    it->AmountCents -= amount;
    m.docTotal_ -= amount;
  }

  m.Print(Cut((qualifier == "m" ? "ANULA " : "") + description, kWidth));
  AnsiString detail = "  " + Money(*qty) + " x " + Money(*price);
  if (kind == M::DocState::Invoice) detail += " (" + Money(*rate) + "%)";
  m.Print(LeftRight(detail, Money(qualifier == "m" ? -amount : amount)));
  ++m.lines_;
  return Accept(m);
}
PrinterAnswer ModelOps::SendTicketItem(M& m, const Args& a) {
  return Item(m, a, M::DocState::Ticket);
}
PrinterAnswer ModelOps::SendInvoiceItem(M& m, const Args& a) {
  return Item(m, a, M::DocState::Invoice);
}

PrinterAnswer ModelOps::Subtotal(M& m, const Args& a, M::DocState kind) {
  if (m.state_ != kind) return BadState(m);
  if (Arg(a, 0) == "P") m.Print(LeftRight("SUBTOTAL", Money(m.docTotal_)));
  return Accept(m, {std::to_string(ItemCount(m)), Money(m.docTotal_), Money(m.docPaid_)});
}
PrinterAnswer ModelOps::GetTicketSubtotal(M& m, const Args& a) {
  return Subtotal(m, a, M::DocState::Ticket);
}
PrinterAnswer ModelOps::GetInvoiceSubtotal(M& m, const Args& a) {
  return Subtotal(m, a, M::DocState::Invoice);
}

PrinterAnswer ModelOps::Payment(M& m, const Args& a, M::DocState kind) {
  if (m.state_ != kind) return BadState(m);
  AnsiString description = Arg(a, 0), qualifier = Arg(a, 2);
  if (qualifier == "C") {
    // Cancels the whole document, whatever was sold or paid; the amount is only printed.
    auto amount = ParseHundredths(Arg(a, 1), true);
    if (!amount) return BadField(m);
    m.Print(LeftRight(Cut(description, 24), Money(*amount)));
    m.Print(Center("*** CANCELADO ***"));
    int number = TakeDocNumber(m);
    m.Print(LeftRight(DocName(m), "Nro " + ZeroPad(number, 8)));
    m.Print(Rule('='));
    ++m.counters_.FiscalDocs;
    ++m.counters_.CancelledDocs;
    EndDocument(m);
    return Accept(m, {ZeroPad(number, 8)});
  }
  if (qualifier != "T" && qualifier != "D") return BadField(m);
  if (m.docPaid_ >= m.docTotal_) return BadState(m);
  auto amount = ParseHundredths(Arg(a, 1));
  if (!amount || *amount <= 0) return BadField(m);
  int64_t balance = m.docTotal_ - m.docPaid_;
  if (qualifier == "D") {
    if (*amount > balance) return BadField(m);
    m.docTotal_ -= *amount;
    m.Print(LeftRight(Cut(description, 24), Money(-*amount)));
  } else {
    if (m.docPaid_ + *amount > kMaxCents) return Refuse(m, status::kTotalsOverflow);
    PrintTotal(m);
    m.docPaid_ += *amount;
    m.Print(LeftRight(Cut(description, 24), Money(*amount)));
  }
  ++m.lines_;
  int64_t left = std::max<int64_t>(0, m.docTotal_ - m.docPaid_);
  int64_t change = std::max<int64_t>(0, m.docPaid_ - m.docTotal_);
  return Accept(m, {Money(left), Money(change)});
}
PrinterAnswer ModelOps::SendTicketPayment(M& m, const Args& a) {
  return Payment(m, a, M::DocState::Ticket);
}
PrinterAnswer ModelOps::SendInvoicePayment(M& m, const Args& a) {
  return Payment(m, a, M::DocState::Invoice);
}

PrinterAnswer ModelOps::Close(M& m, M::DocState kind) {
  if (m.state_ != kind || ItemCount(m) == 0 || m.docPaid_ < m.docTotal_) return BadState(m);
  PrintTotal(m);
  if (m.docPaid_ > m.docTotal_) m.Print(LeftRight("VUELTO", Money(m.docPaid_ - m.docTotal_)));
  m.Print(Rule('-'));
  int number = TakeDocNumber(m);
  m.Print(LeftRight(DocName(m), "Nro " + ZeroPad(number, 8)));
  m.Print(Center("GRACIAS POR SU COMPRA"));
  m.Print(Rule('='));
  ++m.counters_.FiscalDocs;
  m.counters_.DaySalesCents += m.docTotal_;
  EndDocument(m);
  return Accept(m, {ZeroPad(number, 8)});
}
PrinterAnswer ModelOps::CloseTicket(M& m, const Args&) {
  return Close(m, M::DocState::Ticket);
}
PrinterAnswer ModelOps::CloseInvoice(M& m, const Args& a) {
  AnsiString letter = Arg(a, 1);
  if (m.state_ == M::DocState::Invoice && !letter.empty() &&
      letter != AnsiString(1, m.invoiceLetter_))
    return BadField(m);
  return Close(m, M::DocState::Invoice);
}

PrinterAnswer ModelOps::OpenCashDrawer(M& m, const Args& a) {
  AnsiString drawer = Arg(a, 0);
  if (drawer != "1" && drawer != "2") return BadField(m);
  m.drawerOpen_ = true;
  return Accept(m);
}

}  // namespace plat
