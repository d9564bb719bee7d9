// SPDX-License-Identifier: Apache-2.0
// The model variants of the printer family, as data: for each variant the widths of the text and
// amount fields it takes, its limits, and the layout of every reply that differs between the
// variants. Two are known: "ours", the model this package was first written for, and "sibling",
// a sibling model of the same family documented by its maker. Each entry carries its source:
// documented (the maker's manual of the sibling), described (the description of our model) or
// assumed (this package's own choice, confirmed by nothing).
//
// The control answers one layout whatever the variant: our model's (printer/commands.h). A
// variant's reply is turned into it as it comes from the printer (ToCommon), and the printer
// model answers its variant's layout from it (FromCommon), so the driver, the link's decisions
// and every tool read the same places on both. The link tells the variant from the printer's
// own answers (Tell); docs/printer-link.md has the same tables. Constant data and pure
// functions, safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "printer/api.h"
#include "printer/backend.h"
#include "printer/commands.h"
#include "printer/facts.h"

namespace plat::variants {

// Where a fact comes from.
// Where a fact comes from, as the table of printer facts marks it (facts::Name says it).
using Source = facts::Source;

template <typename T>
struct Fact {
  T Value;
  Source From;
};

// The replies whose layout differs between the variants.
enum class Reply : uint8_t { StatusP, StatusC, StatusA, StatusD, Subtotal, Closing };
constexpr size_t kReplies = 6;
FISCAL_PRINTER_API const char* ReplyName(Reply r);  // "status mode A", "subtotal", ...

// A fixed value the variant sends at a place no common field fills.
struct Filler {
  size_t Place;
  const char* Value;
};

// How one reply of a variant maps onto the common layout: the common field i is the variant's
// field Places[i] (-1: the variant has none, the control answers it empty, or leaves it out when
// no later field follows); the variant's other places hold its fillers. At the common places
// LetterFields, the letter Common[k] is the variant's Letters[k].
struct ReplyLayout {
  size_t Fields;  // the fields of the variant's reply
  std::span<const int> Places;
  std::span<const Filler> Fillers = {};
  std::span<const size_t> LetterFields = {};
  std::string_view Common = "";
  std::string_view Letters = "";
  Source From = Source::Described;
};

struct ModelVariant {
  const char* Name;   // as FISCAL_PRINTER_MODEL and --model name it
  const char* About;  // one line for people
  // The names the variant answers in status mode P, field 11.
  Fact<std::span<const char* const>> KnownNames;
  // ---- field rules: the widths it takes
  Fact<size_t> TicketItemText;       // item description on a ticket
  Fact<size_t> InvoiceItemText;      // item description on an invoice
  Fact<size_t> PaymentText;          // payment, discount and surcharge description
  Fact<size_t> TicketAmountDigits;   // ticket payment amount, 2 implied decimals
  Fact<size_t> InvoiceAmountDigits;  // invoice payment amount, 2 implied decimals
  // ---- limits
  Fact<int> MaxPayments;  // payments on one document
  // ---- reply layouts, by Reply
  ReplyLayout Layouts[kReplies];

  constexpr const ReplyLayout& Layout(Reply r) const { return Layouts[static_cast<size_t>(r)]; }
};

// The known variants; the first is the one a printer is driven as when nothing tells.
FISCAL_PRINTER_API std::span<const ModelVariant> All();
FISCAL_PRINTER_API const ModelVariant& Default();
// The variant of a name (any case), or nullptr.
FISCAL_PRINTER_API const ModelVariant* Find(std::string_view name);
// The names, for messages: "ours, sibling".
FISCAL_PRINTER_API std::string Names();

// The reply of a printer command whose layout differs between variants; nothing for the others.
FISCAL_PRINTER_API std::optional<Reply> ReplyOf(Command printerCommand,
                                                const std::vector<AnsiString>& fields);

// A variant's reply in the common layout, and the common layout in a variant's (only replies
// that ReplyOf names are touched; a refusal carries no fields to move).
FISCAL_PRINTER_API PrinterAnswer ToCommon(const ModelVariant& v, Command printerCommand,
                                          const std::vector<AnsiString>& fields,
                                          PrinterAnswer reply);
FISCAL_PRINTER_API std::vector<AnsiString> FromCommon(const ModelVariant& v, Reply reply,
                                                      std::vector<AnsiString> common);

// ---- telling the variant from the printer's answers

// The printer's raw answers to status modes P, A and C (nothing for one not answered).
struct Answers {
  std::optional<PrinterAnswer> P, A, C;
};

struct Told {
  const ModelVariant* Variant = nullptr;
  bool Matched = false;  // the replies match the variant (none given: the configuration named it)
  std::string Why;       // how it was told, or what did not match
  // Every layout fact checked against the replies: "status mode A: 8 fields (sibling)".
  std::vector<std::string> Seen;
};

// By the configured name (FISCAL_PRINTER_MODEL) when set; else by the name in mode P when it is
// a known one; else by the shape of the replies (how many fields modes A and C answer, mode C's
// sixth field, mode P's flag letters): the variant every check matches, or the closest one with
// the mismatch said. A variant chosen by a name is held against the replies all the same, and
// what differs is said.
FISCAL_PRINTER_API Told Tell(const Answers& answers, const std::string& configured = "");

}  // namespace plat::variants
