// SPDX-License-Identifier: Apache-2.0
// How the link decides, when the reply to a command that changes what the printer holds was
// lost, whether that command ran. It rests only on what the printer documents as printing
// nothing: the document-open conditions of the status words, the status request's modes D (the
// kind and letter of the open document), A (the last number of each series) and N (the last Z),
// and the subtotal that does not print (items, gross total, paid). The link follows a snapshot
// of these from the replies it gets; before a command whose row needs a value the snapshot lacks,
// it reads that value; after a lost reply it reads what the row compares and decides: the
// command ran (its answer is rebuilt), it did not (it may be sent again), or the printer's
// queries cannot tell (the command is in doubt and is never sent again).
// docs/printer-link.md has the decision table. Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"
#include "printer/api.h"
#include "printer/backend.h"
#include "printer/commands.h"

namespace plat::link {

// What a row reads, as a set of bits.
enum Reads : unsigned {
  kReadsNothing = 0,
  kReadsWords = 1u << 0,     // the status words: which document is open
  kReadsDocument = 1u << 1,  // status request mode D: kind and letter
  kReadsNumbers = 1u << 2,   // status request mode A: last number of each series
  kReadsLastZ = 1u << 3,     // status request mode N: the last Z
  kReadsItems = 1u << 4,     // non-printing subtotal: items
  kReadsGross = 1u << 5,     // non-printing subtotal: gross total
  kReadsPaid = 1u << 6,      // non-printing subtotal: paid
  kReadsClock = 1u << 7,     // the clock's get: date and time
};
constexpr unsigned kReadsTotals = kReadsItems | kReadsGross | kReadsPaid;

// What the link knows of the printer: every value is either read from the printer or followed
// from a reply since; an empty one is not known.
struct Snapshot {
  std::optional<uint16_t> PrinterWord, FiscalWord;  // of the latest reply
  std::optional<char> Kind;           // mode D: 'K', 'T', 'O', 'H', 'M'; 0 when nothing is open
  std::optional<char> Letter;         // mode D: 'N', 'A', 'B', 'C'
  std::optional<long> LastTicket;     // mode A 2: last ticket or B/C document completed
  std::optional<long> LastA;          // mode A 4: last A document completed
  std::optional<long> LastNonFiscal;  // mode A 6
  std::optional<long> LastZ;          // mode N 4 (mode A 1)
  std::optional<long> Items;          // subtotal: lines billed on the open document
  std::optional<int64_t> GrossCents, PaidCents;
  std::optional<AnsiString> ClockDate, ClockTime;  // YYMMDD, HHMMSS
};

// The values of a set that the snapshot does not hold.
FISCAL_PRINTER_API unsigned Missing(const Snapshot& snapshot, unsigned reads);
// The snapshot with every value that fresh holds put over it.
FISCAL_PRINTER_API Snapshot Overlay(Snapshot base, const Snapshot& fresh);

// Whether running the command changes what the printer holds or prints (so that it must never
// run twice): the table's effect, and a subtotal that prints.
FISCAL_PRINTER_API bool Changes(const CommandInfo& command, const std::vector<AnsiString>& fields);

// The queries that read a set of values: a status request with its mode letter, or the
// non-printing subtotal of the open document's kind.
struct Query {
  std::string Method;
  std::vector<AnsiString> Fields;
  unsigned Gives = kReadsNothing;
};
// The queries that read what is asked and not known in the snapshot (all of it when known is
// nullptr), for the command being decided (whose subtotal: ticket or invoice).
FISCAL_PRINTER_API std::vector<Query> QueriesFor(unsigned reads, const Snapshot* known,
                                                 const CommandInfo& command);

// What the row of the command with these fields needs known before it is sent, and what it
// reads after its reply was lost.
FISCAL_PRINTER_API unsigned ReadsBefore(const CommandInfo& command,
                                        const std::vector<AnsiString>& fields);
FISCAL_PRINTER_API unsigned ReadsAfter(const CommandInfo& command,
                                       const std::vector<AnsiString>& fields);

// The snapshot with what a query's answer tells (a refused subtotal tells that no document of
// its kind is open).
FISCAL_PRINTER_API Snapshot Learn(Snapshot known, const Query& query, const PrinterAnswer& answer);

// The snapshot after a command the printer answered, followed from the one before it: its
// status words, and what an accepted opening, line, payment or closing moves; what the link
// cannot follow becomes unknown. A refusal changes only the status words.
FISCAL_PRINTER_API Snapshot Follow(Snapshot before, const CommandInfo& command,
                                   const std::vector<AnsiString>& fields,
                                   const PrinterAnswer& answer);

struct Decision {
  enum class Outcome {
    TookEffect,  // the command ran: Answer is its answer, rebuilt from the queries
    AnswerLost,  // the command ran, but its answer cannot be rebuilt (the Z figures)
    DidNot,      // the command did not run: it may be sent again
    CannotTell   // in doubt: never send it again
  };
  Outcome What = Outcome::CannotTell;
  PrinterAnswer Answer;
  std::string Reason;  // for AnswerLost and CannotTell: what the link could not tell
};

// Whether the command with these fields ran, from the snapshot before it and the one read
// after its reply was lost.
FISCAL_PRINTER_API Decision Decide(const Snapshot& before, const Snapshot& after,
                                   const CommandInfo& command,
                                   const std::vector<AnsiString>& fields);

// The snapshot in words: "ticket open (items 3, gross 25.00, paid 0.00), last ticket 00000012,
// last Z 00041"; what is not known is left out.
FISCAL_PRINTER_API std::string Describe(const Snapshot& snapshot);

}  // namespace plat::link
