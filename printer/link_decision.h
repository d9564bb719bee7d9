// What the link knows of the document in progress, and how it decides, after a command that
// changes what the printer holds got no reply, whether that command ran. The link asks the
// printer's status (a query that changes nothing) and compares it with the state before the
// command: the command took effect (its answer is rebuilt from the status), it did not (it may
// be sent again), or the status cannot tell (the command is in doubt and is never sent again).
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

struct PrinterState {
  bool Known = false;
  char Document = 0;  // 'T' ticket, 'A' / 'C' invoice, 'N' non-fiscal, 0 none open
  int Number = 0;     // of the open document, or of the last one ended
  int Lines = 0;      // on the open document: items, payments, texts
  int64_t AmountCents = 0;
  int64_t PaidCents = 0;
  int XNumber = 0;
  int ZNumber = 0;
  uint16_t PrinterStatus = 0;
  uint16_t FiscalStatus = 0;
};

// The state a status answer reports; nothing when the answer lacks the document's fields (a
// printer that tells only its status words).
FISCAL_PRINTER_API std::optional<PrinterState> StateFromStatus(const PrinterAnswer& answer);

// The state after a command that the printer answered, followed from the state before: an
// accepted opening, line, payment, closing or journal closing moves it on, a refusal leaves
// it, a status answer replaces it. Answers a state that is not Known when the answer does not
// let the link follow.
FISCAL_PRINTER_API PrinterState Follow(const PrinterState& before, const CommandInfo& command,
                                       const std::vector<AnsiString>& fields,
                                       const PrinterAnswer& answer);

struct Decision {
  enum class Outcome {
    TookEffect,  // the command ran: Answer is its answer, rebuilt from the status
    AnswerLost,  // the command ran, but its answer cannot be rebuilt (the Z figures)
    DidNot,      // the command did not run: send it again
    CannotTell   // in doubt: never send it again
  };
  Outcome What = Outcome::CannotTell;
  PrinterAnswer Answer;
  std::string Reason;  // for AnswerLost and CannotTell
};

// Whether the command with these fields ran, from the state before it and the status after.
FISCAL_PRINTER_API Decision Decide(const PrinterState& before, const PrinterState& after,
                                   const CommandInfo& command,
                                   const std::vector<AnsiString>& fields);

// The state in words: "ticket 00000012 open, 3 lines, amount 25.00, paid 0.00, X 0001, Z 0041".
FISCAL_PRINTER_API std::string Describe(const PrinterState& state);

}  // namespace plat::link
