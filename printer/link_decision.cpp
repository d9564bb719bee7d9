// The link's decision on a command whose reply was lost, from the printer's status.
#include "printer/link_decision.h"

#include <algorithm>

#include "platform/codepage.h"
#include "printer/internal/model_ops.h"

namespace plat::link {

namespace {

// The places of the fields StateFromStatus reads in a status answer (0 is AnswerField_3).
namespace status_field {
constexpr size_t kDocument = 2;
constexpr size_t kNumber = 3;
constexpr size_t kLines = 4;
constexpr size_t kAmount = 5;
constexpr size_t kPaid = 6;
constexpr size_t kXNumber = 7;
constexpr size_t kZNumber = 8;
constexpr size_t kCount = 9;
}  // namespace status_field

// A whole number of digits only ("00000012", "3"), or nothing.
std::optional<int> Count(const AnsiString& s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::optional<int> CountField(const PrinterAnswer& a, size_t i) {
  if (i >= a.Fields.size()) return std::nullopt;
  return Count(WideToAnsi(a.Fields[i]));
}

bool SameDocument(const PrinterState& a, const PrinterState& b) {
  return a.Document == b.Document && a.Number == b.Number && a.Lines == b.Lines &&
         a.XNumber == b.XNumber && a.ZNumber == b.ZNumber;
}

bool IsInvoice(char d) {
  return d == 'A' || d == 'C';
}

// The document kind that a command works on, or 0 for none.
bool WorksOn(Command c, char document) {
  switch (c) {
    case Command::SendTicketItem:
    case Command::SendTicketPayment:
    case Command::CloseTicket:
      return document == 'T';
    case Command::SendInvoiceItem:
    case Command::SendInvoicePayment:
    case Command::CloseInvoice:
      return IsInvoice(document);
    case Command::SendNoFiscalText:
    case Command::CloseNoFiscal:
      return document == 'N';
    default:
      return false;
  }
}

PrinterAnswer Accepted(const PrinterState& after, std::vector<AnsiString> fields = {}) {
  PrinterAnswer a;
  a.Result = 1;
  a.PrinterStatus = after.PrinterStatus;
  a.FiscalStatus = after.FiscalStatus;
  for (auto& f : fields) a.Fields.push_back(AnsiToWide(f));
  return a;
}

const char* DocumentName(char d) {
  switch (d) {
    case 'T':
      return "ticket";
    case 'A':
      return "invoice A";
    case 'C':
      return "invoice C";
    case 'N':
      return "non-fiscal document";
    default:
      return "no document";
  }
}

}  // namespace

std::optional<PrinterState> StateFromStatus(const PrinterAnswer& answer) {
  namespace f = status_field;
  if (answer.Result == 0 || answer.Fields.size() < f::kCount) return std::nullopt;
  PrinterState s;
  const AnsiString kind = WideToAnsi(answer.Fields[f::kDocument]);
  if (kind.size() > 1 ||
      (kind.size() == 1 && kind != "T" && kind != "A" && kind != "C" && kind != "N"))
    return std::nullopt;
  s.Document = kind.empty() ? 0 : kind[0];
  const auto number = CountField(answer, f::kNumber), lines = CountField(answer, f::kLines),
             x = CountField(answer, f::kXNumber), z = CountField(answer, f::kZNumber);
  const auto amount = model::ParseHundredths(WideToAnsi(answer.Fields[f::kAmount]), true);
  const auto paid = model::ParseHundredths(WideToAnsi(answer.Fields[f::kPaid]), true);
  if (!number || !lines || !x || !z || !amount || !paid) return std::nullopt;
  s.Known = true;
  s.Number = *number;
  s.Lines = *lines;
  s.AmountCents = *amount;
  s.PaidCents = *paid;
  s.XNumber = *x;
  s.ZNumber = *z;
  s.PrinterStatus = answer.PrinterStatus;
  s.FiscalStatus = answer.FiscalStatus;
  return s;
}

PrinterState Follow(const PrinterState& before, const CommandInfo& command,
                    const std::vector<AnsiString>& fields, const PrinterAnswer& answer) {
  if (command.Id == Command::Status) {
    auto s = StateFromStatus(answer);
    return s ? *s : PrinterState{};
  }
  // A refusal changes nothing; a query neither.
  if (!before.Known || answer.Result == 0 || command.Kind == Effect::ReadOnly) return before;
  PrinterState s = before;
  s.PrinterStatus = answer.PrinterStatus;
  s.FiscalStatus = answer.FiscalStatus;
  const auto number = CountField(answer, 0);
  auto open = [&](char kind) {
    if (!number) return PrinterState{};
    s.Document = kind;
    s.Number = *number;
    s.Lines = 0;
    s.AmountCents = s.PaidCents = 0;
    return s;
  };
  auto end = [&] {
    if (!number) return PrinterState{};
    s.Document = 0;
    s.Number = *number;
    s.Lines = 0;
    s.AmountCents = s.PaidCents = 0;
    return s;
  };
  switch (command.Id) {
    case Command::OpenTicket:
      return open('T');
    case Command::OpenInvoice:
      return fields.size() > 2 && fields[2].size() == 1 ? open(fields[2][0]) : PrinterState{};
    case Command::OpenNoFiscal:
      return open('N');
    case Command::SendTicketPayment:
    case Command::SendInvoicePayment:
      if (fields.size() > 2 && fields[2] == "C") return end();
      [[fallthrough]];
    case Command::SendTicketItem:
    case Command::SendInvoiceItem:
    case Command::SendNoFiscalText:
      ++s.Lines;
      return s;
    case Command::CloseTicket:
    case Command::CloseInvoice:
    case Command::CloseNoFiscal:
      return end();
    case Command::CloseJournal:
      if (!number || fields.empty()) return PrinterState{};
      if (fields[0] == "Z") {
        s.ZNumber = *number;
        s.XNumber = 0;
      } else {
        s.XNumber = *number;
      }
      return s;
    default:
      return s;  // the drawer: nothing the status shows
  }
}

Decision Decide(const PrinterState& before, const PrinterState& after, const CommandInfo& command,
                const std::vector<AnsiString>& fields) {
  using O = Decision::Outcome;
  Decision d;
  if (!before.Known || !after.Known) {
    d.Reason = "the printer's state before or after the command is not known";
    return d;
  }
  auto took = [&](std::vector<AnsiString> answerFields = {}) {
    d.What = O::TookEffect;
    d.Answer = Accepted(after, std::move(answerFields));
    return d;
  };
  const AnsiString qualifier = fields.size() > 2 ? fields[2] : AnsiString();
  const bool sameDay = after.XNumber == before.XNumber && after.ZNumber == before.ZNumber;
  const AnsiString number = model::ZeroPad(after.Number, 8);
  switch (command.Id) {
    case Command::OpenTicket:
    case Command::OpenInvoice:
    case Command::OpenNoFiscal: {
      const char kind = command.Id == Command::OpenTicket     ? 'T'
                        : command.Id == Command::OpenNoFiscal ? 'N'
                        : qualifier.size() == 1               ? qualifier[0]
                                                              : '?';
      if (before.Document == 0 && after.Document == kind && after.Lines == 0 && sameDay)
        return took({number});
      break;
    }
    case Command::SendTicketItem:
    case Command::SendInvoiceItem:
    case Command::SendNoFiscalText:
      if (WorksOn(command.Id, before.Document) && after.Document == before.Document &&
          after.Number == before.Number && after.Lines == before.Lines + 1)
        return took();
      break;
    case Command::SendTicketPayment:
    case Command::SendInvoicePayment:
      if (!WorksOn(command.Id, before.Document)) break;
      if (qualifier == "C") {
        if (after.Document == 0 && after.Number == before.Number && sameDay) return took({number});
      } else if (after.Document == before.Document && after.Number == before.Number &&
                 after.Lines == before.Lines + 1) {
        return took({model::Money(std::max<int64_t>(0, after.AmountCents - after.PaidCents)),
                     model::Money(std::max<int64_t>(0, after.PaidCents - after.AmountCents))});
      }
      break;
    case Command::CloseTicket:
    case Command::CloseInvoice:
    case Command::CloseNoFiscal:
      if (WorksOn(command.Id, before.Document) && after.Document == 0 &&
          after.Number == before.Number && sameDay)
        return took({number});
      break;
    case Command::CloseJournal:
      if (before.Document != 0 || fields.empty()) break;
      if (fields[0] == "X" && after.ZNumber == before.ZNumber &&
          after.XNumber == std::min(before.XNumber + 1, 9999))
        return took({model::ZeroPad(after.XNumber, 4)});
      if (fields[0] == "Z" && after.XNumber == 0 &&
          after.ZNumber == (before.ZNumber >= 9999 ? 1 : before.ZNumber + 1)) {
        d.What = O::AnswerLost;
        d.Reason = "the Z closing " + model::ZeroPad(after.ZNumber, 4) +
                   " ran, but its reply with the day's figures was lost";
        return d;
      }
      break;
    case Command::OpenCashDrawer:
      d.Reason = "the printer's state does not show whether the drawer opened";
      return d;
    default:
      break;
  }
  if (SameDocument(before, after)) {
    d.What = O::DidNot;
    return d;
  }
  d.Reason = "the printer's state changed in another way than this command changes it";
  return d;
}

std::string Describe(const PrinterState& s) {
  if (!s.Known) return "no state the link can read";
  std::string out = DocumentName(s.Document);
  if (s.Document != 0) {
    out += " " + model::ZeroPad(s.Number, 8) + " open, " + std::to_string(s.Lines) +
           " lines, amount " + model::Money(s.AmountCents) + ", paid " + model::Money(s.PaidCents);
  } else {
    out += " open, last document " + model::ZeroPad(s.Number, 8);
  }
  return out + ", X " + model::ZeroPad(s.XNumber, 4) + ", Z " + model::ZeroPad(s.ZNumber, 4);
}

}  // namespace plat::link
