// SPDX-License-Identifier: Apache-2.0
// The printer model: fiscal documents (tickets and invoices: opening, items, subtotal, payments,
// closing, cancellation) and the cash drawer. Every field comes in the printer's own form
// (printer/wire.h): quantities 5+3 digits, unit prices 7+4 with a point, VAT rates 2+2,
// amounts 9+2.
#include "printer/internal/model_ops.h"

namespace plat {

namespace {

bool OneOf(const AnsiString& field, std::string_view letters) {
  return field.size() == 1 && letters.find(field[0]) != std::string_view::npos;
}

}  // namespace

PrinterAnswer ModelOps::OpenTicket(M& m, const Args& a) {
  if (!MayOpen(m)) return BadState(m);
  if (!OneOf(Arg(a, 0), "CG")) return BadField(m);
  BeginDocument(m, M::DocState::Ticket, 0);
  AnsiString number = ZeroPad(NextDocNumber(m), 8);
  m.Print(Rule('='));
  m.Print(LeftRight("TIQUE", "Nro " + number));
  m.Print(Stamp(m));
  m.Print(Rule('-'));
  return Accept(m);
}

PrinterAnswer ModelOps::OpenInvoice(M& m, const Args& a) {
  if (!MayOpen(m)) return BadState(m);
  const AnsiString kind = Arg(a, 0), letter = Arg(a, 2);
  if (!OneOf(kind, "FNTM") || !OneOf(letter, "ABC")) return BadField(m);
  BeginDocument(m, M::DocState::Invoice, letter[0]);
  m.docKind_ = kind[0];
  AnsiString number = ZeroPad(NextDocNumber(m), 8);
  m.Print(Rule('='));
  m.Print(LeftRight("FACTURA " + letter, "Nro " + number));
  m.Print(Stamp(m));
  m.Print(Rule('-'));
  AnsiString name = Arg(a, 8), docType = Arg(a, 10), docNumber = Arg(a, 11), address = Arg(a, 13),
             buyerVat = Arg(a, 7);
  if (!name.empty()) m.Print(Cut(name, kWidth));
  if (!docType.empty() || !docNumber.empty()) m.Print(Cut(docType + " " + docNumber, kWidth));
  if (!address.empty()) m.Print(Cut(address, kWidth));
  if (!buyerVat.empty()) m.Print(Cut("IVA: " + buyerVat, kWidth));
  if (!name.empty() || !docType.empty() || !docNumber.empty() || !address.empty() ||
      !buyerVat.empty())
    m.Print(Rule('-'));
  return Accept(m);
}

PrinterAnswer ModelOps::Item(M& m, const Args& a, M::DocState kind) {
  // After a payment only payments, the closing and the cancellation are taken.
  if (m.state_ != kind || m.payments_ > 0 || m.totalPrinted_) return BadState(m);
  AnsiString description = Arg(a, 0), qualifier = Arg(a, 4);
  const auto qty = wire::ReadDigits(Arg(a, 1), 8);
  const auto price = wire::ReadPrice(Arg(a, 2));
  const auto rate = wire::ReadDigits(Arg(a, 3), 4);
  if (!qty || !price || !rate || *qty <= 0 || !OneOf(qualifier, "MmRr")) return BadField(m);
  // Letter A prices are without VAT; tickets and letters B and C include it.
  const bool net = kind == M::DocState::Invoice && m.invoiceLetter_ == 'A';
  int64_t amount = LineAmount(*qty, *price, net ? *rate : 0);
  if (amount > kMaxCents) return Refuse(m, status::kTotalsOverflow);
  int64_t vat = net ? amount - LineAmount(*qty, *price, 0) : VatIncluded(amount, *rate);

  const bool adds = qualifier == "M" || qualifier == "r";
  if (qualifier == "M") {
    if (m.docTotal_ + amount > kMaxCents) return Refuse(m, status::kTotalsOverflow);
    m.items_.push_back({description, *price, *rate, *qty, amount, vat});
  } else if (qualifier == "m") {
    // Taking an item back: it must have been sold on this document, in that quantity.
    auto it = std::find_if(m.items_.begin(), m.items_.end(), [&](const M::SoldItem& s) {
      return s.Description == description && s.UnitPrice == *price && s.RateHundredths == *rate &&
             s.Quantity >= *qty;
    });
    if (it == m.items_.end()) return BadState(m);
    if (it->Quantity == *qty) {  // no rounding residue
      amount = it->AmountCents;
      vat = it->VatCents;
    }
    amount = std::min(amount, it->AmountCents);
    vat = std::min(vat, it->VatCents);
    it->Quantity -= *qty;
    it->AmountCents -= amount;
    it->VatCents -= vat;
  } else if (qualifier == "R") {
    if (amount > m.docTotal_) return BadField(m);  // a bonus never makes the total negative
  } else if (m.docTotal_ + amount > kMaxCents) {
    return Refuse(m, status::kTotalsOverflow);
  }
  m.docTotal_ += adds ? amount : -amount;
  m.docVat_ += adds ? vat : -vat;

  const char* prefix = qualifier == "m" ? "ANULA " : qualifier == "R" ? "BONIF. " : "";
  m.Print(Cut(prefix + description, kWidth));
  AnsiString detail = "  " + Money((*qty + 5) / 10) + " x " + Money((*price + 50) / 100);
  if (kind == M::DocState::Invoice) detail += " (" + Money(*rate) + "%)";
  m.Print(LeftRight(detail, Money(adds ? amount : -amount)));
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
  if (!OneOf(Arg(a, 0), "PN")) return BadField(m);
  if (Arg(a, 0) == "P") m.Print(LeftRight("SUBTOTAL", Money(m.docTotal_)));
  const int64_t values[] = {ItemCount(m),           m.docTotal_, m.docVat_, m.docPaid_, 0, 0,
                            m.docTotal_ - m.docVat_};
  return Accept(m, variants::FromCommon(m.GetVariant(), variants::Reply::Subtotal,
                                        Reply(subtotal_field::kLayout, values)));
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
  const auto& v = m.GetVariant();
  const auto amount = wire::ReadDigits(
      Arg(a, 1),
      (kind == M::DocState::Ticket ? v.TicketAmountDigits : v.InvoiceAmountDigits).Value);
  if (!amount || !OneOf(qualifier, "CTtDR")) return BadField(m);
  if (qualifier == "C") {
    // Cancels the whole document, whatever was sold or paid; the amount is only printed. The
    // document takes its number, but is not done.
    m.Print(LeftRight(Cut(description, 24), Money(*amount)));
    m.Print(Center("*** CANCELADO ***"));
    int number = TakeDocNumber(m, false);
    m.Print(LeftRight(DocName(m), "Nro " + ZeroPad(number, 8)));
    m.Print(Rule('='));
    ++m.counters_.CancelledDocs;
    EndDocument(m);
    return Accept(m);
  }
  if (*amount <= 0) return BadField(m);
  const int64_t balance = m.docTotal_ - m.docPaid_;
  if (qualifier == "D") {
    if (m.payments_ > 0 || m.docPaid_ >= m.docTotal_) return BadState(m);
    if (*amount > balance) return BadField(m);
    m.docTotal_ -= *amount;
    m.Print(LeftRight(Cut(description, 24), Money(-*amount)));
  } else if (qualifier == "R") {
    if (m.payments_ > 0) return BadState(m);
    if (m.docTotal_ + *amount > kMaxCents) return Refuse(m, status::kTotalsOverflow);
    m.docTotal_ += *amount;
    m.Print(LeftRight(Cut(description, 24), Money(*amount)));
  } else if (qualifier == "T") {
    if (m.docPaid_ >= m.docTotal_ || m.payments_ >= v.MaxPayments.Value) return BadState(m);
    if (m.docPaid_ + *amount > kMaxCents) return Refuse(m, status::kTotalsOverflow);
    PrintTotal(m);
    m.docPaid_ += *amount;
    ++m.payments_;
    m.Print(LeftRight(Cut(description, 24), Money(*amount)));
  } else {  // "t": takes back a payment made
    if (*amount > m.docPaid_) return BadState(m);
    m.docPaid_ -= *amount;
    m.Print(LeftRight(Cut("ANULA " + description, 24), Money(-*amount)));
  }
  ++m.lines_;
  const int64_t left[] = {std::max<int64_t>(0, m.docTotal_ - m.docPaid_)};
  static constexpr ReplyField kStillToPay[] = {{"still to pay", kStillToPayWidth, 2}};
  return Accept(m, Reply(kStillToPay, left));
}
PrinterAnswer ModelOps::SendTicketPayment(M& m, const Args& a) {
  return Payment(m, a, M::DocState::Ticket);
}
PrinterAnswer ModelOps::SendInvoicePayment(M& m, const Args& a) {
  return Payment(m, a, M::DocState::Invoice);
}

PrinterAnswer ModelOps::Close(M& m, M::DocState kind) {
  // Only a sale with a total above zero, paid in full, closes.
  if (m.state_ != kind || m.docTotal_ <= 0 || m.docPaid_ < m.docTotal_) return BadState(m);
  PrintTotal(m);
  if (m.docPaid_ > m.docTotal_) m.Print(LeftRight("VUELTO", Money(m.docPaid_ - m.docTotal_)));
  m.Print(Rule('-'));
  int number = TakeDocNumber(m, true);
  m.Print(LeftRight(DocName(m), "Nro " + ZeroPad(number, 8)));
  m.Print(Center("GRACIAS POR SU COMPRA"));
  m.Print(Rule('='));
  m.counters_.DaySalesCents += m.docTotal_;
  m.counters_.DayVatCents += m.docVat_;
  EndDocument(m);
  return Accept(m, {ZeroPad(number, kDocumentNumberWidth)});
}
PrinterAnswer ModelOps::CloseTicket(M& m, const Args& a) {
  if (!OneOf(Arg(a, 0), "TP")) return BadField(m);
  return Close(m, M::DocState::Ticket);
}
PrinterAnswer ModelOps::CloseInvoice(M& m, const Args& a) {
  // Kind and letter as the invoice was opened with.
  const AnsiString kind = Arg(a, 0), letter = Arg(a, 1);
  if (m.state_ != M::DocState::Invoice) return BadState(m);
  if (!OneOf(kind, "FNTM") || !OneOf(letter, "ABC") || kind[0] != m.docKind_ ||
      letter[0] != m.invoiceLetter_)
    return BadField(m);
  return Close(m, M::DocState::Invoice);
}

PrinterAnswer ModelOps::OpenCashDrawer(M& m, const Args&) {
  m.drawerOpen_ = true;
  return Accept(m);
}

}  // namespace plat
