// The built-in fiscal printer: the printer model (documents, counters, paper) and the
// in-process backend with its journal and scripting. docs/emulator.md describes the behaviour.
#include "printer/emulator.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/os.h"

namespace plat {

namespace {

constexpr size_t kWidth = 40;

// A paper line as the printer shows it: control characters as blanks.
void CleanLine(AnsiString& line) {
  for (char& c : line) {
    const auto u = static_cast<unsigned char>(c);
    c = (u < 0x20) | (u == 0x7F) ? ' ' : c;
  }
}
// Largest amount a document or a field may hold: 9 999 999 999.99.
constexpr int64_t kMaxCents = 999999999999LL;
constexpr int kMaxDocNumber = 99999999;

AnsiString Rule(char c) {
  return AnsiString(kWidth, c);
}

AnsiString Cut(const AnsiString& s, size_t width) {
  return s.size() <= width ? s : s.substr(0, width);
}

AnsiString Center(const AnsiString& s) {
  AnsiString t = Cut(s, kWidth);
  return AnsiString((kWidth - t.size()) / 2, ' ') + t;
}

// Text on the left, value on the right; the text is cut so that the value always fits.
AnsiString LeftRight(const AnsiString& left, const AnsiString& right) {
  AnsiString r = Cut(right, kWidth);
  size_t room = r.size() < kWidth ? kWidth - r.size() - 1 : 0;
  AnsiString l = Cut(left, room);
  return l + AnsiString(kWidth - l.size() - r.size(), ' ') + r;
}

AnsiString ZeroPad(int64_t n, int width) {
  AnsiString digits = std::to_string(n < 0 ? -n : n);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
  return n < 0 ? "-" + digits : digits;
}

// Amounts on paper and in answers: "1234.50", "-5.00".
AnsiString Money(int64_t cents) {
  int64_t a = cents < 0 ? -cents : cents;
  return AnsiString(cents < 0 ? "-" : "") + std::to_string(a / 100) + "." + ZeroPad(a % 100, 2);
}

// A number field: digits with at most one '.' or ',' as the decimal mark ("000012.50",
// "12,5", "30"). More than two decimals round half up to hundredths. No blanks, no exponent, no
// sign unless allowed. Answers the value in hundredths, or nothing when the text is no number.
std::optional<int64_t> ParseHundredths(const AnsiString& s, bool allowNegative = false) {
  size_t i = 0;
  bool negative = false;
  if (allowNegative && !s.empty() && s[0] == '-') {
    negative = true;
    i = 1;
  }
  int64_t whole = 0;
  int intDigits = 0;
  int significant = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    ++intDigits;
    if (significant > 0 || s[i] != '0') ++significant;
    if (significant > 10) return std::nullopt;  // beyond any amount the printer holds
    whole = whole * 10 + (s[i] - '0');
  }
  if (intDigits == 0) return std::nullopt;
  int64_t frac = 0;
  if (i < s.size()) {
    if (s[i] != '.' && s[i] != ',') return std::nullopt;
    ++i;
    int fracDigits = 0;
    int roundDigit = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++fracDigits) {
      if (fracDigits < 2) frac = frac * 10 + (s[i] - '0');
      if (fracDigits == 2) roundDigit = s[i] - '0';
    }
    if (fracDigits == 0 || i != s.size()) return std::nullopt;
    if (fracDigits == 1) frac *= 10;
    if (roundDigit >= 5) ++frac;
  }
  int64_t v = whole * 100 + frac;
  if (v > kMaxCents) return std::nullopt;
  return negative ? -v : v;
}

// qty (hundredths) x price (cents) x (1 + rate%) rounded half up to cents.
int64_t LineAmount(int64_t qty, int64_t price, int64_t rateHundredths) {
  __int128 n = static_cast<__int128>(qty) * price * (10000 + rateHundredths);
  const __int128 d = static_cast<__int128>(100) * 10000;
  __int128 q = (n + d / 2) / d;
  if (q > kMaxCents) return kMaxCents + 1;
  return static_cast<int64_t>(q);
}

AnsiString Hex4(uint16_t v) {
  char buf[5];
  std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(v));
  return buf;
}

int NextNumber(int n) {
  return n >= kMaxDocNumber ? 1 : n + 1;
}

}  // namespace

// The command handlers; a friend of the model, so that the header keeps only the state.
struct ModelOps {
  using M = FiscalPrinterModel;
  using Args = std::vector<WideString*>;
  using Handler = PrinterAnswer (*)(M&, const Args&);

  struct Command {
    std::string_view Name;
    size_t ArgCount;
    Handler Run;
  };

  // ---- answers

  static uint16_t FiscalBits(const M& m) {
    switch (m.state_) {
      case M::DocState::Ticket:
      case M::DocState::Invoice:
        return status::kFiscalDocumentOpen | status::kDocumentOpen;
      case M::DocState::NonFiscal:
        return status::kDocumentOpen;
      case M::DocState::Idle:
        break;
    }
    return 0;
  }
  static uint16_t PrinterBits(const M& m) { return m.drawerOpen_ ? status::kDrawerOpen : 0; }

  static PrinterAnswer Accept(const M& m, std::vector<AnsiString> fields = {}) {
    PrinterAnswer a;
    a.Result = 1;
    a.PrinterStatus = PrinterBits(m);
    a.FiscalStatus = FiscalBits(m);
    for (const auto& f : fields) a.Fields.push_back(AnsiToWide(f));
    return a;
  }
  static PrinterAnswer Refuse(const M& m, uint16_t bit) {
    PrinterAnswer a;
    a.Result = 0;
    a.PrinterStatus = PrinterBits(m);
    a.FiscalStatus = static_cast<uint16_t>(FiscalBits(m) | bit | status::kFiscalAny);
    return a;
  }
  static PrinterAnswer BadState(const M& m) { return Refuse(m, status::kInvalidState); }
  static PrinterAnswer BadField(const M& m) { return Refuse(m, status::kInvalidField); }

  static AnsiString Arg(const Args& a, size_t i) { return WideToAnsi(*a[i]); }

  // ---- paper

  // Prints one text as the paper shows it: cut at "\n", each piece wrapped at 40 columns,
  // control characters as blanks.
  static void PrintWrapped(M& m, std::string_view text) {
    size_t start = 0;
    while (true) {
      const size_t nl = text.find('\n', start);
      std::string_view piece =
          text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
      if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
      if (piece.empty()) m.Print("");
      for (size_t p = 0; p < piece.size(); p += kWidth) m.Print(piece.substr(p, kWidth));
      if (nl == std::string_view::npos) break;
      start = nl + 1;
    }
  }

  static AnsiString Stamp(const M& m) {
    TDateTime now = m.ClockNow();
    int y, mo, d, h, mi, s, ms;
    DecodeDate(now, y, mo, d);
    DecodeTime(now, h, mi, s, ms);
    return ZeroPad(d, 2) + "/" + ZeroPad(mo, 2) + "/" + ZeroPad(y, 4) + " " + ZeroPad(h, 2) + ":" +
           ZeroPad(mi, 2);
  }

  static AnsiString DocName(const M& m) {
    if (m.state_ == M::DocState::Invoice) return AnsiString("FACTURA ") + m.invoiceLetter_;
    return "TIQUE";
  }
  static int NextDocNumber(const M& m) {
    if (m.state_ == M::DocState::Invoice)
      return NextNumber(m.invoiceLetter_ == 'A' ? m.counters_.LastInvoiceA
                                                : m.counters_.LastInvoiceC);
    return NextNumber(m.counters_.LastTicket);
  }
  // Takes the number of the document being ended.
  static int TakeDocNumber(M& m) {
    int& last =
        m.state_ == M::DocState::Invoice
            ? (m.invoiceLetter_ == 'A' ? m.counters_.LastInvoiceA : m.counters_.LastInvoiceC)
            : m.counters_.LastTicket;
    last = NextNumber(last);
    return last;
  }

  static void BeginDocument(M& m, M::DocState state, char letter) {
    m.state_ = state;
    m.invoiceLetter_ = letter;
    m.docTotal_ = 0;
    m.docPaid_ = 0;
    m.totalPrinted_ = false;
    m.items_.clear();
  }
  static void EndDocument(M& m) { BeginDocument(m, M::DocState::Idle, 0); }

  static void PrintTotal(M& m) {
    if (m.totalPrinted_) return;
    m.Print(LeftRight("TOTAL", Money(m.docTotal_)));
    m.totalPrinted_ = true;
  }

  static int ItemCount(const M& m) {
    return static_cast<int>(
        std::count_if(m.items_.begin(), m.items_.end(),
                      [](const M::SoldItem& i) { return i.QuantityHundredths > 0; }));
  }

  // ---- fiscal documents

  static PrinterAnswer OpenTicket(M& m, const Args& a) {
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

  static PrinterAnswer OpenInvoice(M& m, const Args& a) {
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

  static PrinterAnswer Item(M& m, const Args& a, M::DocState kind) {
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
    return Accept(m);
  }
  static PrinterAnswer SendTicketItem(M& m, const Args& a) {
    return Item(m, a, M::DocState::Ticket);
  }
  static PrinterAnswer SendInvoiceItem(M& m, const Args& a) {
    return Item(m, a, M::DocState::Invoice);
  }

  static PrinterAnswer Subtotal(M& m, const Args& a, M::DocState kind) {
    if (m.state_ != kind) return BadState(m);
    if (Arg(a, 0) == "P") m.Print(LeftRight("SUBTOTAL", Money(m.docTotal_)));
    return Accept(m, {std::to_string(ItemCount(m)), Money(m.docTotal_), Money(m.docPaid_)});
  }
  static PrinterAnswer GetTicketSubtotal(M& m, const Args& a) {
    return Subtotal(m, a, M::DocState::Ticket);
  }
  static PrinterAnswer GetInvoiceSubtotal(M& m, const Args& a) {
    return Subtotal(m, a, M::DocState::Invoice);
  }

  static PrinterAnswer Payment(M& m, const Args& a, M::DocState kind) {
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
    int64_t left = std::max<int64_t>(0, m.docTotal_ - m.docPaid_);
    int64_t change = std::max<int64_t>(0, m.docPaid_ - m.docTotal_);
    return Accept(m, {Money(left), Money(change)});
  }
  static PrinterAnswer SendTicketPayment(M& m, const Args& a) {
    return Payment(m, a, M::DocState::Ticket);
  }
  static PrinterAnswer SendInvoicePayment(M& m, const Args& a) {
    return Payment(m, a, M::DocState::Invoice);
  }

  static PrinterAnswer Close(M& m, M::DocState kind) {
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
  static PrinterAnswer CloseTicket(M& m, const Args&) { return Close(m, M::DocState::Ticket); }
  static PrinterAnswer CloseInvoice(M& m, const Args& a) {
    AnsiString letter = Arg(a, 1);
    if (m.state_ == M::DocState::Invoice && !letter.empty() &&
        letter != AnsiString(1, m.invoiceLetter_))
      return BadField(m);
    return Close(m, M::DocState::Invoice);
  }

  static PrinterAnswer OpenCashDrawer(M& m, const Args& a) {
    AnsiString drawer = Arg(a, 0);
    if (drawer != "1" && drawer != "2") return BadField(m);
    m.drawerOpen_ = true;
    return Accept(m);
  }

  // ---- non-fiscal documents

  static PrinterAnswer OpenNoFiscal(M& m, const Args&) {
    if (m.state_ != M::DocState::Idle) return BadState(m);
    BeginDocument(m, M::DocState::NonFiscal, 0);
    AnsiString number = ZeroPad(NextNumber(m.counters_.LastNonFiscal), 8);
    m.Print(Rule('='));
    m.Print(Center("DOCUMENTO NO FISCAL"));
    m.Print(LeftRight(Stamp(m), "Nro " + number));
    m.Print(Rule('-'));
    return Accept(m, {number});
  }
  static PrinterAnswer SendNoFiscalText(M& m, const Args& a) {
    if (m.state_ != M::DocState::NonFiscal) return BadState(m);
    AnsiString text = Arg(a, 0);
    if (text.size() <= kWidth && text.find('\n') == AnsiString::npos &&
        (text.empty() || text.back() != '\r')) {
      // One paper line, the usual case: the text itself goes onto the paper.
      CleanLine(text);
      m.paper_.push_back(std::move(text));
    } else {
      PrintWrapped(m, text);
    }
    return Accept(m);
  }
  static PrinterAnswer CloseNoFiscal(M& m, const Args&) {
    if (m.state_ != M::DocState::NonFiscal) return BadState(m);
    m.counters_.LastNonFiscal = NextNumber(m.counters_.LastNonFiscal);
    ++m.counters_.NonFiscalDocs;
    AnsiString number = ZeroPad(m.counters_.LastNonFiscal, 8);
    m.Print(Rule('-'));
    m.Print(Center("FIN DOCUMENTO NO FISCAL"));
    m.Print(Rule('='));
    EndDocument(m);
    return Accept(m, {number});
  }

  // ---- journal closings

  static void PrintDaySummary(M& m, const AnsiString& title) {
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

  static PrinterAnswer CloseJournal(M& m, const Args& a) {
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

  // ---- queries

  static PrinterAnswer SetGetDateTime(M& m, const Args& a) {
    if (Arg(a, 0) != "G") return BadField(m);
    TDateTime now = m.ClockNow();
    int y, mo, d, h, mi, s, ms;
    DecodeDate(now, y, mo, d);
    DecodeTime(now, h, mi, s, ms);
    return Accept(m, {ZeroPad(y % 100, 2) + ZeroPad(mo, 2) + ZeroPad(d, 2),
                      ZeroPad(h, 2) + ZeroPad(mi, 2) + ZeroPad(s, 2)});
  }

  static PrinterAnswer Status(M& m, const Args&) {
    return Accept(m, {Hex4(PrinterBits(m)), Hex4(FiscalBits(m))});
  }

  static constexpr Command kCommands[] = {
      {"OpenTicket", 1, &OpenTicket},
      {"OpenInvoice", 19, &OpenInvoice},
      {"SendTicketItem", 8, &SendTicketItem},
      {"SendInvoiceItem", 12, &SendInvoiceItem},
      {"GetTicketSubtotal", 2, &GetTicketSubtotal},
      {"GetInvoiceSubtotal", 2, &GetInvoiceSubtotal},
      {"SendTicketPayment", 3, &SendTicketPayment},
      {"SendInvoicePayment", 3, &SendInvoicePayment},
      {"CloseTicket", 0, &CloseTicket},
      {"CloseInvoice", 3, &CloseInvoice},
      {"OpenCashDrawer", 1, &OpenCashDrawer},
      {"OpenNoFiscal", 0, &OpenNoFiscal},
      {"CloseNoFiscal", 0, &CloseNoFiscal},
      {"SendNoFiscalText", 1, &SendNoFiscalText},
      {"CloseJournal", 2, &CloseJournal},
      {"SetGetDateTime", 3, &SetGetDateTime},
      {"Status", 1, &Status},
  };

  static PrinterAnswer Execute(M& m, const std::string& method, const Args& args) {
    m.drawerOpen_ = false;  // the drawer sensor reports only right after opening it
    for (const auto& c : kCommands) {
      if (method != c.Name) continue;
      // A command with missing or extra fields is a malformed command, not a crash.
      if (args.size() != c.ArgCount) return BadField(m);
      for (auto* p : args)
        if (p == nullptr) return BadField(m);
      return c.Run(m, args);
    }
    return Refuse(m, status::kUnknownCommand);
  }
};

// ---------------------------------------------------------------------------------------------
// FiscalPrinterModel

FiscalPrinterModel::FiscalPrinterModel() = default;

PrinterAnswer FiscalPrinterModel::Execute(const std::string& method,
                                          const std::vector<WideString*>& args) {
  return ModelOps::Execute(*this, method, args);
}

void FiscalPrinterModel::Print(std::string_view line) {
  AnsiString clean(line.substr(0, kWidth));
  CleanLine(clean);
  paper_.push_back(std::move(clean));
}

TDateTime FiscalPrinterModel::ClockNow() const {
  return clock_ ? clock_() : Now();
}

// ---------------------------------------------------------------------------------------------
// FiscalEmulator

FiscalEmulator::FiscalEmulator() = default;

PrinterAnswer FiscalEmulator::Execute(int portNumber, const char* method,
                                      const std::vector<WideString*>& args) {
  std::lock_guard<std::mutex> lock(mu_);
  lastPort_ = portNumber;
  JournalEntry entry;
  entry.Method = method ? method : "";
  entry.Args.reserve(args.size());
  for (auto* p : args) entry.Args.push_back(p ? *p : WideString());
  journal_.push_back(std::move(entry));
  const size_t index = journal_.size() - 1;
  const std::string& name = journal_[index].Method;  // nothing below adds to the journal

  auto raise = [&](auto&& exception) {
    journal_[index].Raised = true;
    throw exception;
  };
  auto silence = [portNumber] {
    return ELinkError("the printer does not answer on port " + std::to_string(portNumber));
  };
  if (switchedOff_) raise(silence());

  // Every matching rule counts the command; the first one due applies.
  std::optional<Rule> fired;
  for (auto it = rules_.begin(); it != rules_.end();) {
    bool matches = it->Method.empty() || it->Method == name;
    if (matches) ++it->seen;
    bool due = matches && (it->Occurrence == 0 || it->seen == it->Occurrence);
    if (due && !fired) {
      fired = *it;
      if (it->Occurrence != 0) {
        it = rules_.erase(it);
        continue;
      }
    }
    ++it;
  }

  if (fired) {
    switch (fired->What) {
      case Action::Refuse: {
        PrinterAnswer a = ModelOps::Refuse(model_, status::kInvalidState);
        journal_[index].Result = a.Result;
        return a;
      }
      case Action::Raise:
        raise(Exception(fired->Message));
        break;
      case Action::Silent:
        raise(silence());
        break;
      case Action::SetFields:
      case Action::WriteArg:
        break;
    }
  }

  PrinterAnswer answer;
  try {
    answer = model_.Execute(name, args);
  } catch (...) {
    journal_[index].Raised = true;
    throw;
  }
  if (fired && fired->What == Action::SetFields) answer.Fields = fired->Fields;
  if (fired && fired->What == Action::WriteArg && fired->ArgIndex >= 0 &&
      static_cast<size_t>(fired->ArgIndex) < args.size() && args[fired->ArgIndex] != nullptr)
    *args[fired->ArgIndex] = fired->ArgValue;
  journal_[index].Result = answer.Result;
  return answer;
}

std::vector<std::string> FiscalEmulator::Methods() const {
  std::vector<std::string> out;
  out.reserve(journal_.size());
  for (const auto& e : journal_) out.push_back(e.Method);
  return out;
}

void FiscalEmulator::AddRule(Rule rule) {
  std::lock_guard<std::mutex> lock(mu_);
  rule.seen = 0;
  rules_.push_back(std::move(rule));
}

void FiscalEmulator::ClearRules() {
  std::lock_guard<std::mutex> lock(mu_);
  rules_.clear();
}

void FiscalEmulator::Refuse(const std::string& method, int occurrence) {
  Rule r;
  r.Method = method;
  r.Occurrence = occurrence;
  r.What = Action::Refuse;
  AddRule(std::move(r));
}

void FiscalEmulator::RaiseOn(const std::string& method, const AnsiString& message, int occurrence) {
  Rule r;
  r.Method = method;
  r.Occurrence = occurrence;
  r.What = Action::Raise;
  r.Message = message;
  AddRule(std::move(r));
}

void FiscalEmulator::SetFieldsAfter(const std::string& method, std::vector<WideString> fields,
                                    int occurrence) {
  Rule r;
  r.Method = method;
  r.Occurrence = occurrence;
  r.What = Action::SetFields;
  r.Fields = std::move(fields);
  AddRule(std::move(r));
}

void FiscalEmulator::WriteArgAfter(const std::string& method, int argIndex, WideString value,
                                   int occurrence) {
  Rule r;
  r.Method = method;
  r.Occurrence = occurrence;
  r.What = Action::WriteArg;
  r.ArgIndex = argIndex;
  r.ArgValue = std::move(value);
  AddRule(std::move(r));
}

void FiscalEmulator::RefuseNth(int n) {
  if (n <= 0) return;  // the 0th command never comes; a rule for it would refuse them all
  Refuse("", n);
}

void FiscalEmulator::RaiseNth(int n, const AnsiString& message) {
  if (n <= 0) return;
  RaiseOn("", message, n);
}

void FiscalEmulator::SetSwitchedOff(bool off) {
  std::lock_guard<std::mutex> lock(mu_);
  switchedOff_ = off;
}

std::shared_ptr<FiscalEmulator> DefaultEmulator() {
  static const std::shared_ptr<FiscalEmulator> instance = std::make_shared<FiscalEmulator>();
  return instance;
}

}  // namespace plat
