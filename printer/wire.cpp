// SPDX-License-Identifier: Apache-2.0
// The translation between the control's arguments and the printer's fields, one table per
// command.
#include "printer/wire.h"

#include <span>

#include "platform/codepage.h"
#include "printer/status.h"

namespace plat::wire {

namespace {

// How one printer field is made.
enum class Form : uint8_t {
  Pass,        // the argument as given (the printer checks its letters)
  Text,        // free text cut to Width, restricted to the printer's text characters
  Quantity,    // Width digits, the last 3 decimals, no point
  Price,       // 7 integer digits, a point, 4 decimals
  NetPrice,    // as Price; the driver's price without VAT gets it back on letter B/C invoices
  Rate,        // Width digits, the last 2 decimals, no point
  Amount,      // Width digits, the last 2 decimals, no point
  DocNumber,   // the buyer's document number: digits without dashes or blanks, cut to Width
  Normal,      // "C", the printer's normal value, for the driver's "G" or "C"; others as given
  Const,       // the fixed value Value
  DelIfEmpty,  // the text cut to Width, or the single byte DEL when there is none
  Whole        // a whole number, zero-padded to Width digits
};

using MV = variants::ModelVariant;

struct FieldRule {
  int Arg;  // 0-based argument of the method; -1 for none
  Form How;
  size_t Width = 0;
  const char* Value = "";
  // A width that differs between the model variants: the variant's, in place of Width.
  variants::Fact<size_t> MV::*Varies = nullptr;
};

// One table per method: the printer command it sends and how each of its fields is made.
struct Translation {
  Command Id;
  Command Sends;
  std::span<const FieldRule> Fields;
};

using enum Form;

constexpr FieldRule kStatus[] = {{0, Pass}};
constexpr FieldRule kCloseJournal[] = {{0, Pass}, {1, Pass}};
// "C" is the printer's normal ticket; the driver's "G" would announce a pharmacy document.
constexpr FieldRule kOpenTicket[] = {{0, Normal, 1, "C"}};
constexpr FieldRule kTicketItem[] = {{0, Text, 0, "", &MV::TicketItemText},
                                     {1, Quantity, 8},
                                     {2, Price},
                                     {3, Rate, 4},
                                     {4, Pass},
                                     {5, Text, 5},
                                     {6, Text, 8},
                                     {7, Text, 15}};
constexpr FieldRule kTicketSubtotal[] = {{0, Pass}, {1, Text, 25}};
constexpr FieldRule kTicketPayment[] = {
    {0, Text, 0, "", &MV::PaymentText}, {1, Amount, 0, "", &MV::TicketAmountDigits}, {2, Pass}};
constexpr FieldRule kInvoicePayment[] = {
    {0, Text, 0, "", &MV::PaymentText}, {1, Amount, 0, "", &MV::InvoiceAmountDigits}, {2, Pass}};
constexpr FieldRule kCut[] = {{-1, Const, 1, "T"}};
constexpr FieldRule kNonFiscalText[] = {{0, Pass}};
// The driver hands the buyer's VAT category seventh and the issuer's eighth; the printer takes
// the issuer's in field 7 and the buyer's in field 8.
constexpr FieldRule kOpenInvoice[] = {
    {0, Pass},      {1, Pass},           {2, Pass},      {3, Pass},      {4, Pass},
    {5, Pass},      {7, Pass},           {6, Pass},      {8, Text, 40},  {9, Text, 40},
    {10, Text, 6},  {11, DocNumber, 11}, {12, Pass},     {13, Text, 40}, {14, Text, 40},
    {15, Text, 40}, {16, Text, 40},      {17, Text, 40}, {18, Pass}};
constexpr FieldRule kInvoiceItem[] = {{0, Text, 0, "", &MV::InvoiceItemText},
                                      {1, Quantity, 8},
                                      {2, NetPrice},
                                      {3, Rate, 4},
                                      {4, Pass},
                                      {5, Text, 5},
                                      {6, Text, 8},
                                      {7, Text, 26},
                                      {8, Text, 26},
                                      {9, Text, 26},
                                      {10, Text, 4},
                                      {11, Text, 15}};
constexpr FieldRule kInvoiceSubtotal[] = {{0, Pass}, {1, Text, 8}};
constexpr FieldRule kCloseInvoice[] = {{0, Pass}, {1, Pass}, {2, DelIfEmpty, 10}};
constexpr FieldRule kSetDateTime[] = {{0, Pass}, {1, Pass}};
constexpr FieldRule kReportByDate[] = {{0, Pass}, {1, Pass}, {2, Pass}};
constexpr FieldRule kReportByZ[] = {
    {0, Whole, report_kind::kZDigits}, {1, Whole, report_kind::kZDigits}, {2, Pass}};

constexpr Translation kTranslations[] = {
    {Command::Status, Command::Status, kStatus},
    {Command::CloseJournal, Command::CloseJournal, kCloseJournal},
    {Command::OpenTicket, Command::OpenTicket, kOpenTicket},
    {Command::SendTicketItem, Command::SendTicketItem, kTicketItem},
    {Command::GetTicketSubtotal, Command::GetTicketSubtotal, kTicketSubtotal},
    {Command::SendTicketPayment, Command::SendTicketPayment, kTicketPayment},
    {Command::CloseTicket, Command::CloseTicket, kCut},
    {Command::OpenNoFiscal, Command::OpenNoFiscal, {}},
    {Command::SendNoFiscalText, Command::SendNoFiscalText, kNonFiscalText},
    {Command::CloseNoFiscal, Command::CloseNoFiscal, kCut},
    {Command::SetGetDateTime, Command::GetDateTime, {}},  // "S" first sets: kSetDateTime
    {Command::OpenInvoice, Command::OpenInvoice, kOpenInvoice},
    {Command::SendInvoiceItem, Command::SendInvoiceItem, kInvoiceItem},
    {Command::GetInvoiceSubtotal, Command::GetInvoiceSubtotal, kInvoiceSubtotal},
    {Command::SendInvoicePayment, Command::SendInvoicePayment, kInvoicePayment},
    {Command::CloseInvoice, Command::CloseInvoice, kCloseInvoice},
    {Command::OpenCashDrawer, Command::OpenCashDrawer, {}},  // "2": OpenCashDrawer2
    {Command::SetDateTime, Command::SetDateTime, kSetDateTime},
    {Command::GetDateTime, Command::GetDateTime, {}},
    {Command::FiscalMemoryReportByDate, Command::FiscalMemoryReportByDate, kReportByDate},
    {Command::FiscalMemoryReportByZ, Command::FiscalMemoryReportByZ, kReportByZ},
    {Command::OpenCashDrawer2, Command::OpenCashDrawer2, {}},
};
consteval bool EveryTranslationFitsItsCommand() {
  if (std::size(kTranslations) != kCommandTable.size()) return false;
  for (size_t i = 0; i < std::size(kTranslations); ++i) {
    const Translation& t = kTranslations[i];
    if (static_cast<size_t>(t.Id) != i) return false;
    if (t.Fields.size() != Info(t.Sends).Fields) return false;
    for (const FieldRule& f : t.Fields)
      if (f.Arg >= static_cast<int>(Info(t.Id).Args)) return false;
  }
  return true;
}
static_assert(EveryTranslationFitsItsCommand(),
              "each method's translation makes exactly the fields of its printer command");

// The printer's text characters: printable ASCII and the Latin letters and signs from 0xA0.
// The typographic signs 0x80 .. 0x9F become a blank; control bytes stay, so that the link
// refuses them with a message naming the field.
AnsiString PrinterText(const AnsiString& s, size_t width) {
  AnsiString out = s.substr(0, width);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 && u < 0xA0) c = ' ';
  }
  return out;
}

// A text as the paper's lines: cut at each line feed (a carriage return ending a piece goes too),
// each piece in lines of at most the paper's width; an empty piece is an empty line.
std::vector<AnsiString> PaperLines(const AnsiString& text) {
  std::vector<AnsiString> lines;
  size_t start = 0;
  while (true) {
    const size_t nl = text.find('\n', start);
    AnsiString piece = text.substr(start, nl == AnsiString::npos ? AnsiString::npos : nl - start);
    if (!piece.empty() && piece.back() == '\r') piece.pop_back();
    if (piece.empty()) lines.emplace_back();
    for (size_t p = 0; p < piece.size(); p += facts::kPaperWidth)
      lines.push_back(piece.substr(p, facts::kPaperWidth));
    if (nl == AnsiString::npos) return lines;
    start = nl + 1;
  }
}

std::optional<AnsiString> Fixed(const AnsiString& text, int decimals, size_t width) {
  const auto v = ParseDecimal(text, decimals);
  return v ? Digits(*v, width) : std::nullopt;
}

}  // namespace

std::optional<int64_t> ParseDecimal(const AnsiString& s, int decimals, bool allowNegative) {
  size_t i = 0;
  bool negative = false;
  if (allowNegative && !s.empty() && s[0] == '-') {
    negative = true;
    i = 1;
  }
  int64_t whole = 0;
  int significant = 0, intDigits = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++intDigits) {
    if (significant > 0 || s[i] != '0') ++significant;
    if (significant > 14) return std::nullopt;  // beyond any field of the printer
    whole = whole * 10 + (s[i] - '0');
  }
  if (intDigits == 0) return std::nullopt;
  int64_t frac = 0;
  int fracDigits = 0;
  bool roundUp = false;
  if (i < s.size()) {
    if (s[i] != '.' && s[i] != ',') return std::nullopt;
    ++i;
    const size_t start = i;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      if (fracDigits < decimals) {
        frac = frac * 10 + (s[i] - '0');
        ++fracDigits;
      } else if (static_cast<int>(i - start) == decimals) {
        roundUp = s[i] >= '5';
      }
    }
    if (i == start || i != s.size()) return std::nullopt;
  }
  for (; fracDigits < decimals; ++fracDigits) frac *= 10;
  int64_t scale = 1;
  for (int d = 0; d < decimals; ++d) scale *= 10;
  int64_t v = whole * scale + frac + (roundUp ? 1 : 0);
  return negative ? -v : v;
}

std::optional<AnsiString> Digits(int64_t value, size_t width) {
  if (value < 0) return std::nullopt;
  AnsiString d = std::to_string(value);
  if (d.size() > width) return std::nullopt;
  return AnsiString(width - d.size(), '0') + d;
}

std::optional<int64_t> ReadDigits(const AnsiString& s, size_t width) {
  if (s.size() != width || width == 0 || width > 18) return std::nullopt;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::optional<AnsiString> PriceText(int64_t tenThousandths) {
  const auto d = Digits(tenThousandths, 11);
  if (!d) return std::nullopt;
  return d->substr(0, 7) + "." + d->substr(7);
}

std::optional<int64_t> ReadPrice(const AnsiString& s) {
  if (s.size() == 9) {  // the printer also takes 7 integer digits and 2 decimals, no point
    const auto cents = ReadDigits(s, 9);
    return cents ? std::optional<int64_t>(*cents * 100) : std::nullopt;
  }
  if (s.size() != 12 || s[7] != '.') return std::nullopt;
  return ReadDigits(s.substr(0, 7) + s.substr(8), 11);
}

PrinterAnswer Refusal(uint16_t printerStatus, uint16_t fiscalStatus) {
  PrinterAnswer a;
  a.PrinterStatus = printerStatus;
  a.FiscalStatus = static_cast<uint16_t>(fiscalStatus | status::kInvalidField | status::kFiscalAny);
  return a;
}

std::optional<std::vector<Request>> Translator::ToPrinter(const CommandInfo& method,
                                                          const std::vector<WideString*>& args,
                                                          Untranslatable* why) {
  const Translation& t = kTranslations[static_cast<size_t>(method.Id)];
  auto arg = [&](int i) {
    return i >= 0 && static_cast<size_t>(i) < args.size() && args[i] ? WideToAnsi(*args[i])
                                                                     : AnsiString();
  };
  auto fail = [&](int i, std::string reason) {
    if (why) *why = {static_cast<size_t>(i + 1), std::move(reason)};
    return std::nullopt;
  };
  std::vector<Request> out;
  if (method.Id == Command::SetGetDateTime) {
    const AnsiString mode = arg(0);
    if (mode == "S")
      out.push_back({Command::SetDateTime, {arg(1), arg(2)}});
    else if (mode != "G")
      return fail(0, "is neither G (read the clock) nor S (set it)");
    out.push_back({Command::GetDateTime, {}});
    return out;
  }
  if (method.Id == Command::OpenCashDrawer) {
    // Each drawer has its own command, with no field.
    const AnsiString drawer = arg(0);
    if (drawer == "1") return std::vector<Request>{{Command::OpenCashDrawer, {}}};
    if (drawer == "2") return std::vector<Request>{{Command::OpenCashDrawer2, {}}};
    return fail(0, "is neither 1 nor 2, the printer's two cash drawers");
  }
  if (method.Id == Command::SendNoFiscalText) {
    // The printer takes a line of at most its paper's width: a longer text, or one of several
    // lines, goes out as consecutive lines, as the paper shows it.
    for (AnsiString& line : PaperLines(arg(0)))
      out.push_back({Command::SendNoFiscalText, {std::move(line)}});
    return out;
  }
  if (method.Id == Command::OpenInvoice) invoiceLetter_ = arg(2).size() == 1 ? arg(2)[0] : 0;
  Request r{t.Sends, {}};
  for (const FieldRule& f : t.Fields) {
    const AnsiString a = arg(f.Arg);
    const size_t width = f.Varies ? (variant_->*f.Varies).Value : f.Width;
    std::optional<AnsiString> v;
    switch (f.How) {
      case Pass:
        v = a;
        break;
      case Text:
        v = PrinterText(a, width);
        break;
      case Quantity:
        v = Fixed(a, 3, width);
        if (!v)
          return fail(f.Arg, "is no quantity of at most " + std::to_string(width - 3) +
                                 " digits and 3 decimals");
        break;
      case Price:
      case NetPrice: {
        auto p = ParseDecimal(a, 4);
        if (p && f.How == NetPrice && invoiceLetter_ != 'A') {
          // The driver sends invoice prices without VAT; letters B and C take them with it.
          const auto rate = ParseDecimal(arg(3), 2);
          if (!rate || *rate < 0) return fail(3, "is no VAT rate");
          const __int128 n = static_cast<__int128>(*p) * (10000 + *rate);
          p = static_cast<int64_t>((n + 5000) / 10000);
        }
        v = p ? PriceText(*p) : std::nullopt;
        if (!v) return fail(f.Arg, "is no unit price of at most 7 digits and 4 decimals");
        break;
      }
      case Rate:
        v = Fixed(a, 2, width);
        if (!v) return fail(f.Arg, "is no VAT rate below 100 % with 2 decimals");
        break;
      case Amount:
        v = Fixed(a, 2, width);
        if (!v)
          return fail(f.Arg, "is no amount of at most " + std::to_string(width - 2) +
                                 " digits and 2 decimals");
        break;
      case DocNumber: {
        AnsiString d;
        for (char c : a)
          if (c != '-' && c != ' ' && c != '.') d += c;
        v = d.substr(0, f.Width);
        break;
      }
      case Normal:
        v = a == "G" || a == "C" ? AnsiString(f.Value) : a;
        break;
      case Const:
        v = AnsiString(f.Value);
        break;
      case DelIfEmpty:
        v = a.empty() ? AnsiString(1, '\x7F') : PrinterText(a, f.Width);
        break;
      case Whole:
        if (a.find_first_not_of("0123456789") == AnsiString::npos) v = Fixed(a, 0, f.Width);
        if (!v)
          return fail(f.Arg,
                      "is no whole number of at most " + std::to_string(f.Width) + " digits");
        break;
    }
    r.Fields.push_back(std::move(*v));
  }
  out.push_back(std::move(r));
  return out;
}

PrinterAnswer Translator::ToAnswer(const CommandInfo&, PrinterAnswer printer) {
  // Reply field N is AnswerField_(N+2): the fields keep their places and their digits.
  return printer;
}

}  // namespace plat::wire
