// SPDX-License-Identifier: Apache-2.0
// The link's decision on a command whose reply was lost, from the printer's documented
// non-printing queries.
#include "printer/link_decision.h"

#include "platform/codepage.h"
#include "printer/status.h"

namespace plat::link {

namespace {

// The reply fields the link reads, at their places in the printer's reply layouts.
namespace mode_n = status_n;
namespace mode_a = status_a;
namespace mode_d = status_d;
namespace subtotal = subtotal_field;
// The widths of the numbers the link rebuilds or tells.
constexpr size_t kZWidth = z_field::kLayout[z_field::kNumber].Width;
constexpr size_t kTicketWidth = status_a::kLayout[status_a::kTicketDone].Width;
constexpr size_t kNonFiscalWidth = kNonFiscalNumberWidth;

// How far the clock read back may have run on from the time set.
constexpr long kClockSlackSeconds = 300;

// The open document the fiscal status word tells.
OpenDocument Open(uint16_t fiscal) {
  return ReadState(0, fiscal).Document;
}
bool FiscalOpen(uint16_t fiscal) {
  return Open(fiscal) == OpenDocument::Fiscal;
}
bool NonFiscalOpen(uint16_t fiscal) {
  return Open(fiscal) == OpenDocument::NonFiscal;
}
bool AnyOpen(uint16_t fiscal) {
  return Open(fiscal) != OpenDocument::None;
}

AnsiString Text(const PrinterAnswer& a, size_t i) {
  return i < a.Fields.size() ? WideToAnsi(a.Fields[i]) : AnsiString();
}

// A count of digits only ("00000012"), or nothing.
std::optional<long> Number(const AnsiString& s) {
  if (s.empty() || s.size() > 15) return std::nullopt;
  long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// An amount in cents: the printer's digits with two implied decimals ("000000002500"), or a
// decimal with a point or comma ("25.00").
std::optional<int64_t> Cents(const AnsiString& s) {
  const size_t point = s.find_first_of(".,");
  if (point == AnsiString::npos) {
    auto v = Number(s);
    return v ? std::optional<int64_t>(*v) : std::nullopt;
  }
  const auto whole = point == 0 ? std::optional<long>(0) : Number(s.substr(0, point));
  AnsiString frac = s.substr(point + 1);
  while (frac.size() > 2 && frac.back() == '0') frac.pop_back();
  if (!whole || frac.size() > 2) return std::nullopt;
  frac.resize(2, '0');
  const auto f = Number(frac);
  if (!f) return std::nullopt;
  return static_cast<int64_t>(*whole) * 100 + *f;
}

AnsiString Digits(int64_t v, size_t width) {
  AnsiString s = std::to_string(v < 0 ? 0 : v);
  return s.size() >= width ? s : AnsiString(width - s.size(), '0') + s;
}

AnsiString Field(const std::vector<AnsiString>& fields, size_t i) {
  return i < fields.size() ? fields[i] : AnsiString();
}

bool IsItem(Command c) {
  return c == Command::SendTicketItem || c == Command::SendInvoiceItem;
}
bool IsPayment(Command c) {
  return c == Command::SendTicketPayment || c == Command::SendInvoicePayment;
}
bool IsSubtotal(Command c) {
  return c == Command::GetTicketSubtotal || c == Command::GetInvoiceSubtotal;
}
bool OnInvoice(Command c) {
  return c == Command::OpenInvoice || c == Command::SendInvoiceItem ||
         c == Command::SendInvoicePayment || c == Command::CloseInvoice ||
         c == Command::GetInvoiceSubtotal;
}

// The qualifier of an item (field 5) or a payment (field 3).
char Qualifier(const CommandInfo& c, const std::vector<AnsiString>& fields) {
  const AnsiString q = Field(fields, IsItem(c.Id) ? 4 : 2);
  return q.size() == 1 ? q[0] : (IsItem(c.Id) && q.empty() ? 'M' : '?');
}

// The series a closing completes a number of, in the snapshot.
using SeriesOf = std::optional<long> Snapshot::*;
SeriesOf Series(const CommandInfo& c, const std::vector<AnsiString>& fields) {
  if (c.Id == Command::CloseNoFiscal) return &Snapshot::LastNonFiscal;
  if (c.Id == Command::CloseInvoice && Field(fields, 1) == "A") return &Snapshot::LastA;
  return &Snapshot::LastTicket;
}

// The mode-D kind an opening gives: a ticket, a ticket-invoice (or ticket-credit-note), a
// non-fiscal document.
char KindOpened(const CommandInfo& c, const std::vector<AnsiString>& fields) {
  if (c.Id == Command::OpenTicket) return mode_d::kTicket;
  if (c.Id == Command::OpenNoFiscal) return mode_d::kNonFiscal;
  const AnsiString kind = Field(fields, 0);
  return kind == "N" || kind == "M" ? mode_d::kCreditNote : mode_d::kTicketInvoice;
}

}  // namespace

unsigned Missing(const Snapshot& s, unsigned reads) {
  unsigned out = 0;
  auto check = [&](unsigned bit, bool have) {
    if ((reads & bit) && !have) out |= bit;
  };
  check(kReadsWords, s.FiscalWord.has_value());
  check(kReadsDocument, s.Kind.has_value());
  check(kReadsNumbers, s.LastTicket && s.LastA && s.LastNonFiscal);
  check(kReadsLastZ, s.LastZ.has_value());
  check(kReadsItems, s.Items.has_value());
  check(kReadsGross, s.GrossCents.has_value());
  check(kReadsPaid, s.PaidCents.has_value());
  check(kReadsClock, s.ClockDate && s.ClockTime);
  return out;
}

Snapshot Overlay(Snapshot base, const Snapshot& fresh) {
  auto put = [](auto& to, const auto& from) {
    if (from) to = from;
  };
  put(base.PrinterWord, fresh.PrinterWord);
  put(base.FiscalWord, fresh.FiscalWord);
  put(base.Kind, fresh.Kind);
  put(base.Letter, fresh.Letter);
  put(base.LastTicket, fresh.LastTicket);
  put(base.LastA, fresh.LastA);
  put(base.LastNonFiscal, fresh.LastNonFiscal);
  put(base.LastZ, fresh.LastZ);
  put(base.Items, fresh.Items);
  put(base.GrossCents, fresh.GrossCents);
  put(base.PaidCents, fresh.PaidCents);
  put(base.ClockDate, fresh.ClockDate);
  put(base.ClockTime, fresh.ClockTime);
  return base;
}

bool Changes(const CommandInfo& command, const std::vector<AnsiString>& fields) {
  if (IsSubtotal(command.Id)) return Field(fields, 0) != "N";
  return command.Kind == Effect::ChangesState;
}

std::vector<Query> QueriesFor(unsigned reads, const Snapshot* known, const CommandInfo& command) {
  const unsigned want = known ? Missing(*known, reads) : reads;
  std::vector<Query> out;
  if (want & kReadsDocument) out.push_back({"Status", {"D"}, kReadsWords | kReadsDocument});
  if (want & kReadsNumbers)
    out.push_back({"Status", {"A"}, kReadsWords | kReadsNumbers | kReadsLastZ});
  else if (want & kReadsLastZ)
    out.push_back({"Status", {"N"}, kReadsWords | kReadsLastZ});
  if (want & kReadsTotals)
    out.push_back({OnInvoice(command.Id) ? "GetInvoiceSubtotal" : "GetTicketSubtotal",
                   {"N", ""},
                   kReadsWords | kReadsTotals});
  if (want & kReadsClock) out.push_back({"GetDateTime", {}, kReadsWords | kReadsClock});
  // The status words come with every answer; mode N is asked when nothing else is.
  if ((want & kReadsWords) && out.empty())
    out.push_back({"Status", {"N"}, kReadsWords | kReadsLastZ});
  return out;
}

unsigned ReadsBefore(const CommandInfo& c, const std::vector<AnsiString>& fields) {
  switch (c.Id) {
    case Command::OpenTicket:
    case Command::OpenInvoice:
    case Command::OpenNoFiscal:
    case Command::SendNoFiscalText:
      return kReadsWords;
    case Command::SendTicketItem:
    case Command::SendInvoiceItem:
      return kReadsWords | (Qualifier(c, fields) == 'M' ? kReadsItems : kReadsGross);
    case Command::SendTicketPayment:
    case Command::SendInvoicePayment:
      switch (Qualifier(c, fields)) {
        case 'T':
        case 't':
          return kReadsWords | kReadsPaid;
        case 'D':
        case 'R':
          return kReadsWords | kReadsGross;
        default:  // a cancel
          return kReadsWords | kReadsNumbers;
      }
    case Command::CloseTicket:
    case Command::CloseInvoice:
    case Command::CloseNoFiscal:
      return kReadsWords | kReadsNumbers;
    case Command::CloseJournal:
      return Field(fields, 0) == "Z" ? kReadsWords | kReadsLastZ : kReadsNothing;
    default:
      return kReadsNothing;  // nothing any query could tell
  }
}

unsigned ReadsAfter(const CommandInfo& c, const std::vector<AnsiString>& fields) {
  switch (c.Id) {
    case Command::OpenTicket:
    case Command::OpenInvoice:
      return kReadsWords | kReadsDocument | kReadsItems;
    case Command::OpenNoFiscal:
      return kReadsWords | kReadsDocument;
    case Command::SendTicketItem:
    case Command::SendInvoiceItem:
    case Command::SendTicketPayment:
    case Command::SendInvoicePayment:
      if (IsPayment(c.Id) && Qualifier(c, fields) == 'C') return kReadsWords | kReadsNumbers;
      return kReadsWords | kReadsTotals;
    case Command::CloseTicket:
    case Command::CloseInvoice:
    case Command::CloseNoFiscal:
      return kReadsWords | kReadsNumbers;
    case Command::SendNoFiscalText:
      return kReadsWords;
    case Command::CloseJournal:
      return Field(fields, 0) == "Z" ? kReadsWords | kReadsLastZ : kReadsNothing;
    case Command::SetDateTime:
      return kReadsWords | kReadsClock;
    default:
      return kReadsNothing;
  }
}

Snapshot Learn(Snapshot k, const Query& q, const PrinterAnswer& a) {
  k.PrinterWord = a.PrinterStatus;
  k.FiscalWord = a.FiscalStatus;
  if (q.Gives & kReadsTotals) {
    if (a.Result == 0) {
      // Refused: no document of its kind is open, so none has lines.
      k.Items = 0;
      k.GrossCents = k.PaidCents = 0;
      if (!AnyOpen(a.FiscalStatus)) k.Kind = 0;
    } else {
      k.Items = Number(Text(a, subtotal::kItems));
      k.GrossCents = Cents(Text(a, subtotal::kGross));
      k.PaidCents = Cents(Text(a, subtotal::kPaid));
    }
    return k;
  }
  if (a.Result == 0) return k;
  if (q.Gives & kReadsClock) {
    const AnsiString date = Text(a, clock_field::kDate), time = Text(a, clock_field::kTime);
    if (date.size() == 6 && Number(date) && time.size() == 6 && Number(time)) {
      k.ClockDate = date;
      k.ClockTime = time;
    }
  }
  if (q.Gives & kReadsDocument) {
    const AnsiString kind = Text(a, mode_d::kKind), letter = Text(a, mode_d::kLetter);
    k.Kind.reset();
    k.Letter.reset();
    if (!AnyOpen(a.FiscalStatus)) {
      k.Kind = 0;  // what mode D says with nothing open is not told
    } else if (kind.size() == 1 && mode_d::kKinds.find(kind[0]) != std::string_view::npos) {
      k.Kind = kind[0];
      if (letter.size() == 1 && mode_d::kLetters.find(letter[0]) != std::string_view::npos)
        k.Letter = letter[0];
    }
  }
  if (q.Gives & kReadsNumbers) {
    k.LastZ = Number(Text(a, mode_a::kLastZ));
    k.LastTicket = Number(Text(a, mode_a::kTicketDone));
    k.LastA = Number(Text(a, mode_a::kADone));
    k.LastNonFiscal = Number(Text(a, mode_a::kNonFiscal));
  } else if (q.Gives & kReadsLastZ) {
    k.LastZ = Number(Text(a, mode_n::kLastZ));
  }
  return k;
}

Snapshot Follow(Snapshot s, const CommandInfo& c, const std::vector<AnsiString>& fields,
                const PrinterAnswer& a) {
  s.PrinterWord = a.PrinterStatus;
  s.FiscalWord = a.FiscalStatus;
  if (c.Id == Command::Status) {
    const AnsiString mode = Field(fields, 0);
    const unsigned gives = mode == "D"   ? kReadsDocument
                           : mode == "A" ? kReadsNumbers
                           : mode == "N" ? kReadsLastZ
                                         : kReadsNothing;
    return gives ? Learn(s, {"Status", fields, kReadsWords | gives}, a) : s;
  }
  if (IsSubtotal(c.Id)) return Learn(s, {c.Method, fields, kReadsWords | kReadsTotals}, a);
  if (a.Result == 0 || !Changes(c, fields)) return s;
  auto ended = [&] {
    s.Kind = 0;
    s.Letter.reset();
    s.Items = 0;
    s.GrossCents = s.PaidCents = 0;
  };
  const char q = Qualifier(c, fields);
  switch (c.Id) {
    case Command::OpenTicket:
    case Command::OpenInvoice:
      s.Kind = KindOpened(c, fields);
      s.Letter.reset();
      if (c.Id == Command::OpenTicket) s.Letter = mode_d::kNoLetter;
      if (c.Id == Command::OpenInvoice && Field(fields, 2).size() == 1) s.Letter = fields[2][0];
      s.Items = 0;
      s.GrossCents = s.PaidCents = 0;
      break;
    case Command::OpenNoFiscal:
      s.Kind = mode_d::kNonFiscal;
      s.Letter.reset();
      break;
    case Command::SendTicketItem:
    case Command::SendInvoiceItem:
      // Whether a void or a bonus counts as a line is not told; its amount is the printer's.
      if (q == 'M' && s.Items) ++*s.Items;
      if (q != 'M') s.Items.reset();
      s.GrossCents.reset();
      break;
    case Command::SendTicketPayment:
    case Command::SendInvoicePayment: {
      const auto amount = Cents(Field(fields, 1));
      if (q == 'C') {
        ended();
      } else if ((q == 'T' || q == 't') && amount && s.PaidCents) {
        *s.PaidCents += q == 'T' ? *amount : -*amount;
      } else if (q == 'T' || q == 't') {
        s.PaidCents.reset();
      } else {
        s.GrossCents.reset();
      }
      break;
    }
    case Command::CloseTicket:
    case Command::CloseInvoice:
    case Command::CloseNoFiscal:
      s.*Series(c, fields) = Number(Text(a, close_field::kNumber));
      ended();
      break;
    case Command::CloseJournal:
      if (Field(fields, 0) == "Z") {
        s.LastZ = Number(Text(a, z_field::kNumber));
        s.LastNonFiscal.reset();  // whether the non-fiscal series starts again is not told
      }
      break;
    default:
      break;
  }
  return s;
}

Decision Decide(const Snapshot& before, const Snapshot& after, const CommandInfo& c,
                const std::vector<AnsiString>& fields) {
  using O = Decision::Outcome;
  Decision d;
  auto took = [&](std::vector<AnsiString> answerFields = {}) {
    d.What = O::TookEffect;
    d.Answer.Result = 1;
    d.Answer.PrinterStatus = after.PrinterWord.value_or(0);
    d.Answer.FiscalStatus = after.FiscalWord.value_or(0);
    for (auto& f : answerFields) d.Answer.Fields.push_back(AnsiToWide(f));
    return d;
  };
  auto didNot = [&] {
    d.What = O::DidNot;
    return d;
  };
  auto cannot = [&](std::string why) {
    d.What = O::CannotTell;
    d.Reason = std::move(why);
    return d;
  };
  const auto unread = [](unsigned reads, const Snapshot& s) {
    return Missing(s, reads & ~(kReadsDocument | kReadsNumbers)) != 0;
  };
  if (c.Id == Command::SetDateTime) {
    // The clock read back: at the time set, or up to a few minutes on, it was set; elsewhere it
    // was not (and setting it again changes nothing else).
    if (!after.ClockDate || !after.ClockTime) return cannot("the printer's clock does not read");
    auto seconds = [](const AnsiString& t) {
      const long v = Number(t).value_or(0);
      return v / 10000 * 3600 + v / 100 % 100 * 60 + v % 100;
    };
    const long ahead = seconds(*after.ClockTime) - seconds(Field(fields, 1));
    if (*after.ClockDate == Field(fields, 0) && ahead >= 0 && ahead <= kClockSlackSeconds)
      return took();
    return didNot();
  }
  const unsigned need = ReadsBefore(c, fields);
  if (need == kReadsNothing) {
    switch (c.Id) {
      case Command::CloseJournal:
        return cannot("the printer does not report its X count, so whether the X closing ran");
      case Command::OpenCashDrawer:
      case Command::OpenCashDrawer2:
        return cannot("the printer does not report whether the drawer opened");
      default:
        if (IsSubtotal(c.Id))
          return cannot("the printer does not report whether the subtotal printed");
        return cannot("no printer query tells whether " + std::string(c.Method) + " ran");
    }
  }
  if (unread(need, before)) return cannot("the printer's state before the command was not read");
  if (unread(ReadsAfter(c, fields), after))
    return cannot("the printer's state after the command does not read");
  const bool wasOpen = AnyOpen(*before.FiscalWord), isOpen = AnyOpen(*after.FiscalWord);
  const bool isFiscal = FiscalOpen(*after.FiscalWord);
  const char q = Qualifier(c, fields);

  switch (c.Id) {
    case Command::OpenTicket:
    case Command::OpenInvoice:
    case Command::OpenNoFiscal: {
      if (wasOpen) return cannot("a document was open before the opening");
      if (!isOpen) return didNot();
      const bool fiscal = c.Id != Command::OpenNoFiscal;
      const char kind = KindOpened(c, fields);
      if (!after.Kind) return cannot("the kind of the document open does not read");
      const bool letterOk =
          c.Id != Command::OpenInvoice ||
          (after.Letter && Field(fields, 2).size() == 1 && *after.Letter == fields[2][0]);
      if (fiscal == isFiscal && *after.Kind == kind && letterOk && (!fiscal || after.Items == 0))
        return took();
      return cannot("another document than the one opened is open");
    }
    case Command::SendTicketItem:
    case Command::SendInvoiceItem:
      if (!FiscalOpen(*before.FiscalWord) || !isFiscal)
        return cannot("no fiscal document is open around the item");
      if (q == 'M') {
        if (*after.Items == *before.Items + 1) return took();
        if (*after.Items == *before.Items &&
            (!before.GrossCents || before.GrossCents == after.GrossCents))
          return didNot();
        return cannot("the document's items moved in another way than one item");
      } else {
        const int64_t moved = *after.GrossCents - *before.GrossCents;
        if (moved == 0 && (!before.Items || before.Items == after.Items)) return didNot();
        if ((q == 'r' && moved > 0) || ((q == 'm' || q == 'R') && moved < 0)) return took();
        return cannot("the document's total moved in another way than this line moves it");
      }
    case Command::SendTicketPayment:
    case Command::SendInvoicePayment: {
      if (q == 'C') {
        if (!before.LastTicket || !before.LastA || !after.LastTicket || !after.LastA)
          return cannot("the printer's document numbers do not read");
        if (!wasOpen) return cannot("no document was open before the cancel");
        const bool sameNumbers =
            before.LastTicket == after.LastTicket && before.LastA == after.LastA;
        if (!isOpen && sameNumbers) return took();
        if (isOpen && sameNumbers) return didNot();
        return cannot("a document number moved");
      }
      if (!FiscalOpen(*before.FiscalWord) || !isFiscal)
        return cannot("no fiscal document is open around the payment");
      const auto amount = Cents(Field(fields, 1));
      if (!amount) return cannot("the payment's amount does not read");
      if (q == 'T' || q == 't') {
        const int64_t moved = *after.PaidCents - *before.PaidCents;
        if (moved == 0 && *amount != 0) return didNot();
        if (moved == (q == 'T' ? *amount : -*amount) && *amount != 0)
          return took({Digits(*after.GrossCents - *after.PaidCents, kStillToPayWidth)});
        return cannot("the amount paid moved in another way than this payment moves it");
      }
      if (q == 'D' || q == 'R') {
        const int64_t moved = *after.GrossCents - *before.GrossCents;
        if (moved == 0 && *amount != 0) return didNot();
        if (moved == (q == 'R' ? *amount : -*amount) && *amount != 0)
          return took({Digits(*after.GrossCents - *after.PaidCents, kStillToPayWidth)});
        return cannot("the total moved in another way than this discount or surcharge moves it");
      }
      return cannot("the payment's qualifier is not one the link knows");
    }
    case Command::CloseTicket:
    case Command::CloseInvoice:
    case Command::CloseNoFiscal: {
      const auto series = Series(c, fields);
      if (!(before.*series) || !(after.*series))
        return cannot("the printer's document numbers do not read");
      if (!wasOpen) return cannot("no document was open before the closing");
      const long was = *(before.*series), now = *(after.*series);
      if (!isOpen && now == was + 1)
        return took({Digits(
            now, c.Id == Command::CloseNoFiscal ? kNonFiscalNumberWidth : kDocumentNumberWidth)});
      if (isOpen && now == was) return didNot();
      return cannot("the document's number moved in another way than this closing moves it");
    }
    case Command::SendNoFiscalText:
      if (!NonFiscalOpen(*before.FiscalWord) && !NonFiscalOpen(*after.FiscalWord))
        return didNot();  // refused: no non-fiscal document is open
      return cannot("the printer does not report whether a non-fiscal text line printed");
    case Command::CloseJournal:  // Z
      if (wasOpen) return cannot("a document was open before the Z closing");
      if (*after.LastZ == *before.LastZ) return didNot();
      if (*after.LastZ == *before.LastZ + 1) {
        d.What = O::AnswerLost;
        d.Reason = "the Z closing " + Digits(*after.LastZ, kZWidth) +
                   " ran, but its reply with the day's figures was lost";
        return d;
      }
      return cannot("the Z number moved in another way than one Z closing moves it");
    default:
      return cannot("no printer query tells whether " + std::string(c.Method) + " ran");
  }
}

std::string Describe(const Snapshot& s) {
  std::string out;
  auto add = [&](const std::string& part) { out += (out.empty() ? "" : ", ") + part; };
  auto money = [](int64_t cents) {
    return std::to_string(cents / 100) + "." + Digits(cents % 100, 2);
  };
  if (s.FiscalWord) {
    if (!AnyOpen(*s.FiscalWord)) {
      add("no document open");
    } else {
      std::string doc = FiscalOpen(*s.FiscalWord) ? "fiscal document" : "non-fiscal document";
      if (s.Kind && *s.Kind) {
        doc += std::string(" ") + *s.Kind;
        if (s.Letter) doc += std::string(1, *s.Letter);
      }
      doc += " open";
      if (s.Items) doc += " (items " + std::to_string(*s.Items);
      if (s.Items && s.GrossCents) doc += ", gross " + money(*s.GrossCents);
      if (s.Items && s.PaidCents) doc += ", paid " + money(*s.PaidCents);
      if (s.Items) doc += ")";
      add(doc);
    }
  }
  if (s.LastTicket) add("last ticket or B/C " + Digits(*s.LastTicket, kTicketWidth));
  if (s.LastA) add("last A " + Digits(*s.LastA, kTicketWidth));
  if (s.LastNonFiscal) add("last non-fiscal " + Digits(*s.LastNonFiscal, kNonFiscalWidth));
  if (s.LastZ) add("last Z " + Digits(*s.LastZ, kZWidth));
  return out.empty() ? "nothing the link could read" : out;
}

}  // namespace plat::link
