// SPDX-License-Identifier: Apache-2.0
// The model variants' table, the translation of their replies to the common layout and back,
// and how the link tells a printer's variant from its answers.
#include "printer/variants.h"

#include <algorithm>
#include <cctype>

#include "platform/codepage.h"

namespace plat::variants {

namespace {

using enum facts::Source;

// ---- ours: the description of our model. The common layout is its own, so its places are the
// identity; the widths are those the control has always sent.
constexpr int kSame[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr size_t kFlagFields[] = {5, 6, 7};  // mode P: issues tickets, ticket-invoices, slips
constexpr size_t kKindField[] = {0};         // mode D: the kind of the open document
// The emulator's name for itself (no printer of this variant is known to tell its name).
constexpr const char* kOursNames[] = {"EMULADOR FISCAL"};

// ---- sibling: the maker's manual of the sibling model.
constexpr int kSiblingC[] = {0, 1, 2, 3, 4, 6};  // its sixth field is unused, the name seventh
constexpr Filler kSiblingCFill[] = {{5, "000001000."}};
constexpr int kSiblingA[] = {0, 1, 2, 3, 4, 5, 6, 7, -1, -1, -1};  // no credit or delivery notes
constexpr int kSiblingSubtotal[] = {1, 2, 3, 4, 5, 6, 7};          // an unused first field
constexpr Filler kSiblingSubtotalFill[] = {{0, "S"}};  // the value of the manual's example
constexpr int kSiblingClosing[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, -1, -1, -1, -1, -1, -1};
constexpr const char* kSiblingNames[] = {"EMULADOR SIB"};

constexpr std::span<const int> Same(size_t n) {
  return std::span<const int>(kSame).first(n);
}

constexpr ModelVariant kVariants[] = {
    {"ours",
     "the model this package was written for, as its description gives it",
     {kOursNames, Assumed},
     {26, Described},
     {18, Described},
     {26, Described},
     {11, Assumed},  // described as 9 wide while its picture has 9 integers and 2 decimals
     {11, Assumed},
     {5, Described},
     {
         ReplyLayout{11, Same(11), {}, kFlagFields, "10", "10", Described},
         ReplyLayout{6, Same(6), {}, {}, "", "", Described},
         ReplyLayout{11, Same(11), {}, {}, "", "", Described},
         ReplyLayout{2, Same(2), {}, kKindField, status_d::kKinds, status_d::kKinds, Described},
         ReplyLayout{7, Same(7), {}, {}, "", "", Described},
         // 17 fields: an inference of the description (the closing's known field count)
         ReplyLayout{17, Same(17), {}, {}, "", "", Assumed},
     }},
    {"sibling",
     "the sibling model of the same family, as its maker's manual documents it",
     {kSiblingNames, Assumed},
     {20, Documented},
     {20, Documented},
     {25, Documented},
     {9, Documented},
     {12, Documented},
     {6, Documented},
     {
         ReplyLayout{11, Same(11), {}, kFlagFields, "10", "SN", Documented},
         ReplyLayout{7, kSiblingC, kSiblingCFill, {}, "", "", Documented},
         ReplyLayout{8, kSiblingA, {}, {}, "", "", Documented},
         // T ticket, I ticket-invoice; O, H as ours; F (slip invoice) has no common letter
         ReplyLayout{2, Same(2), {}, kKindField, "KTOH", "TIOH", Documented},
         ReplyLayout{8, kSiblingSubtotal, kSiblingSubtotalFill, {}, "", "", Documented},
         ReplyLayout{11, kSiblingClosing, {}, {}, "", "", Documented},
     }},
};

consteval bool LayoutsHold() {
  for (const ModelVariant& v : kVariants) {
    for (const ReplyLayout& l : v.Layouts) {
      if (l.Common.size() != l.Letters.size()) return false;
      for (int p : l.Places)
        if (p >= static_cast<int>(l.Fields)) return false;
      for (const Filler& f : l.Fillers)
        if (f.Place >= l.Fields) return false;
      for (size_t f : l.LetterFields)
        if (f >= l.Places.size()) return false;
    }
    // Every variant answers the same common fields.
    for (size_t r = 0; r < kReplies; ++r)
      if (v.Layouts[r].Places.size() != kVariants[0].Layouts[r].Places.size()) return false;
  }
  const auto common = [](Reply r) { return kVariants[0].Layout(r).Places.size(); };
  return common(Reply::StatusP) == std::size(status_p::kLayout) &&
         common(Reply::StatusC) == std::size(status_c::kLayout) &&
         common(Reply::StatusA) == std::size(status_a::kLayout) &&
         common(Reply::StatusD) == std::size(status_d::kLayout) &&
         common(Reply::Subtotal) == std::size(subtotal_field::kLayout) &&
         common(Reply::Closing) == z_field::kCount;
}
static_assert(LayoutsHold(), "each variant's reply layouts fit their replies and the common ones");

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string Trimmed(const AnsiString& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == AnsiString::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// A letter of one alphabet as the other's, or the text unchanged.
AnsiString Swap(const AnsiString& s, std::string_view from, std::string_view to) {
  if (s.size() != 1) return s;
  const size_t at = from.find(s[0]);
  return at == std::string_view::npos ? s : AnsiString(1, to[at]);
}

std::vector<AnsiString> Texts(const PrinterAnswer& a) {
  std::vector<AnsiString> out;
  for (const auto& f : a.Fields) out.push_back(WideToAnsi(f));
  return out;
}

// Whether a value has the shape of a filler: digits, and only the filler's other characters.
bool Shaped(const AnsiString& value, std::string_view filler) {
  if (value.empty()) return false;
  return std::all_of(value.begin(), value.end(), [&](char c) {
    return (c >= '0' && c <= '9') || filler.find(c) != std::string_view::npos;
  });
}

// One reply's checks against one variant: the count of its fields, its fillers' shapes, its
// letters. Adds what does not match to misses.
int Check(const ModelVariant& v, Reply r, const std::optional<PrinterAnswer>& a,
          std::vector<std::string>& misses, int& made) {
  if (!a || a->Result == 0) return 0;
  const ReplyLayout& l = v.Layout(r);
  const std::vector<AnsiString> f = Texts(*a);
  int passed = 0;
  ++made;
  if (f.size() == l.Fields)
    ++passed;
  else
    misses.push_back(std::string(ReplyName(r)) + " answers " + std::to_string(f.size()) +
                     " fields, not " + std::to_string(l.Fields));
  for (const Filler& fill : l.Fillers) {
    ++made;
    if (fill.Place < f.size() && Shaped(f[fill.Place], fill.Value))
      ++passed;
    else
      misses.push_back(std::string(ReplyName(r)) + " field " + std::to_string(fill.Place + 1) +
                       " is not its unused '" + fill.Value + "'");
  }
  for (size_t common : l.LetterFields) {
    const size_t place = static_cast<size_t>(l.Places[common]);
    if (place >= f.size()) continue;
    ++made;
    if (f[place].size() == 1 && l.Letters.find(f[place][0]) != std::string_view::npos)
      ++passed;
    else
      misses.push_back(std::string(ReplyName(r)) + " field " + std::to_string(place + 1) + " '" +
                       AnsiToUtf8(f[place]) + "' is none of " + std::string(l.Letters));
  }
  return passed;
}

}  // namespace

const char* ReplyName(Reply r) {
  switch (r) {
    case Reply::StatusP:
      return "status mode P";
    case Reply::StatusC:
      return "status mode C";
    case Reply::StatusA:
      return "status mode A";
    case Reply::StatusD:
      return "status mode D";
    case Reply::Subtotal:
      return "subtotal";
    case Reply::Closing:
      break;
  }
  return "X/Z closing";
}

std::span<const ModelVariant> All() {
  return kVariants;
}

const ModelVariant& Default() {
  return kVariants[0];
}

const ModelVariant* Find(std::string_view name) {
  for (const ModelVariant& v : kVariants)
    if (Upper(v.Name) == Upper(name)) return &v;
  return nullptr;
}

std::string Names() {
  std::string out;
  for (const ModelVariant& v : kVariants) out += (out.empty() ? "" : ", ") + std::string(v.Name);
  return out;
}

std::optional<Reply> ReplyOf(Command c, const std::vector<AnsiString>& fields) {
  switch (c) {
    case Command::Status: {
      const AnsiString mode = fields.empty() ? AnsiString() : fields[0];
      if (mode == "P") return Reply::StatusP;
      if (mode == "C") return Reply::StatusC;
      if (mode == "A") return Reply::StatusA;
      if (mode == "D") return Reply::StatusD;
      return std::nullopt;
    }
    case Command::GetTicketSubtotal:
    case Command::GetInvoiceSubtotal:
      return Reply::Subtotal;
    case Command::CloseJournal:
      return Reply::Closing;
    default:
      return std::nullopt;
  }
}

PrinterAnswer ToCommon(const ModelVariant& v, Command c, const std::vector<AnsiString>& fields,
                       PrinterAnswer reply) {
  const auto r = ReplyOf(c, fields);
  if (!r || reply.Fields.empty()) return reply;
  const ReplyLayout& l = v.Layout(*r);
  const std::vector<WideString>& raw = reply.Fields;
  std::vector<WideString> out(l.Places.size());
  size_t filled = 0;  // a common field the reply does not reach is left out
  for (size_t i = 0; i < l.Places.size(); ++i) {
    const int p = l.Places[i];
    if (p < 0 || static_cast<size_t>(p) >= raw.size()) continue;
    out[i] = raw[static_cast<size_t>(p)];
    filled = i + 1;
  }
  out.resize(filled);
  for (size_t i : l.LetterFields)
    if (i < out.size()) out[i] = AnsiToWide(Swap(WideToAnsi(out[i]), l.Letters, l.Common));
  // Fields a newer firmware appends keep their order after the known ones.
  if (raw.size() > l.Fields) {
    out.resize(l.Places.size());
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(l.Fields), raw.end());
  }
  reply.Fields = std::move(out);
  return reply;
}

std::vector<AnsiString> FromCommon(const ModelVariant& v, Reply r, std::vector<AnsiString> common) {
  const ReplyLayout& l = v.Layout(r);
  std::vector<AnsiString> out(l.Fields);
  for (const Filler& f : l.Fillers) out[f.Place] = f.Value;
  for (size_t i : l.LetterFields)
    if (i < common.size()) common[i] = Swap(common[i], l.Common, l.Letters);
  for (size_t i = 0; i < l.Places.size() && i < common.size(); ++i)
    if (l.Places[i] >= 0) out[static_cast<size_t>(l.Places[i])] = std::move(common[i]);
  return out;
}

Told Tell(const Answers& a, const std::string& configured) {
  Told t;
  // What the replies show, for the record.
  auto seen = [&](Reply r, const std::optional<PrinterAnswer>& answer) {
    if (!answer) return;
    if (answer->Result == 0) {
      t.Seen.push_back(std::string(ReplyName(r)) + ": refused");
      return;
    }
    const std::vector<AnsiString> f = Texts(*answer);
    std::string line = std::string(ReplyName(r)) + ": " + std::to_string(f.size()) + " fields";
    if (r == Reply::StatusC && f.size() > 5) line += ", sixth '" + AnsiToUtf8(f[5]) + "'";
    if (r == Reply::StatusP && f.size() > 7)
      line += ", flags " + AnsiToUtf8(f[5] + f[6] + f[7]) +
              (f.size() > 10 ? ", name '" + AnsiToUtf8(Trimmed(f[10])) + "'" : "");
    t.Seen.push_back(line);
  };
  seen(Reply::StatusP, a.P);
  seen(Reply::StatusA, a.A);
  seen(Reply::StatusC, a.C);

  // A variant chosen by its name is still held against the replies: a difference is said.
  auto hold = [&](const ModelVariant& v, std::string why) {
    std::vector<std::string> misses;
    int made = 0;
    Check(v, Reply::StatusP, a.P, misses, made);
    Check(v, Reply::StatusA, a.A, misses, made);
    Check(v, Reply::StatusC, a.C, misses, made);
    t.Variant = &v;
    t.Matched = misses.empty();
    t.Why = std::move(why);
    for (const auto& m : misses) t.Why += (&m == &misses.front() ? "; but " : "; ") + m;
    return t;
  };
  if (const ModelVariant* named = configured.empty() ? nullptr : Find(configured))
    return hold(*named, "FISCAL_PRINTER_MODEL names it");
  std::string name;
  if (a.P && a.P->Result != 0 && a.P->Fields.size() > 10)
    name = Trimmed(WideToAnsi(a.P->Fields[10]));
  for (const ModelVariant& v : kVariants) {
    for (const char* known : v.KnownNames.Value) {
      if (!name.empty() && name == known)
        return hold(v, "status mode P names it '" + AnsiToUtf8(name) + "'");
    }
  }
  const std::string unnamed =
      name.empty() ? "status mode P names no model"
                   : "status mode P names '" + AnsiToUtf8(name) + "', not a known name";
  const ModelVariant* best = nullptr;
  int bestPassed = -1, bestMade = 0;
  std::vector<std::string> bestMisses;
  for (const ModelVariant& v : kVariants) {
    std::vector<std::string> misses;
    int made = 0;
    int passed = Check(v, Reply::StatusP, a.P, misses, made);
    passed += Check(v, Reply::StatusA, a.A, misses, made);
    passed += Check(v, Reply::StatusC, a.C, misses, made);
    if (made > 0 && passed == made) {
      t.Variant = &v;
      t.Matched = true;
      t.Why = unnamed + "; its replies match " + v.Name + " (" + std::to_string(made) +
              " checks of the status modes P, A and C)";
      return t;
    }
    if (passed > bestPassed) {
      best = &v;
      bestPassed = passed;
      bestMade = made;
      bestMisses = std::move(misses);
    }
  }
  t.Variant = best ? best : &Default();
  if (bestMade == 0) {
    t.Variant = &Default();
    t.Why = unnamed + "; no status reply to tell the variant by, driven as " +
            std::string(t.Variant->Name);
    return t;
  }
  std::string missed;
  for (const auto& m : bestMisses) missed += (missed.empty() ? "" : "; ") + m;
  t.Why = unnamed + "; its replies match no known variant, driven as the closest, " +
          std::string(t.Variant->Name) + " (" + std::to_string(bestPassed) + " of " +
          std::to_string(bestMade) + " checks: " + missed + ")";
  return t;
}

}  // namespace plat::variants
