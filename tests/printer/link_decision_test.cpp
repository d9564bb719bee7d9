// SPDX-License-Identifier: Apache-2.0
// The link's decision on a command whose reply was lost, checked against the printer model
// itself through the printer's non-printing queries only: for every command of a day, the
// queries before and after it tell that it ran (and rebuild its very answer), the queries
// without it tell that it did not, and what no query tells stays in doubt.
#include "printer/link_decision.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "printer/model.h"

namespace {

using plat::AnsiString;
using plat::WideString;
using plat::link::Decision;
using plat::link::Snapshot;
using O = Decision::Outcome;

plat::PrinterAnswer Exec(plat::FiscalPrinterModel& m, const std::string& method,
                         std::vector<AnsiString> fields) {
  std::vector<WideString> args;
  for (const auto& f : fields) args.push_back(plat::AnsiToWide(f));
  std::vector<WideString*> ptrs;
  for (auto& a : args) ptrs.push_back(&a);
  return m.Execute(method, ptrs);
}

// What the queries of a set read on the model, for the command being decided.
Snapshot ReadOn(plat::FiscalPrinterModel& m, unsigned reads, const plat::CommandInfo& command) {
  Snapshot s;
  for (const auto& q : plat::link::QueriesFor(reads, nullptr, command))
    s = plat::link::Learn(s, q, Exec(m, q.Method, q.Fields));
  return s;
}

struct Step {
  const char* method;
  std::vector<AnsiString> fields;
  O ran;  // the decision once it ran
};

std::vector<AnsiString> Item(const char* name, const char* qty, const char* price,
                             const char* qualifier = "M") {
  return {name, qty, price, "2100", qualifier, "00000", "00000000", "000000000000000"};
}

std::vector<AnsiString> InvoiceOpen(const char* letter) {
  std::vector<AnsiString> f(19);
  f[0] = "T";
  f[1] = "C";
  f[2] = letter;
  f[7] = "I";
  f[18] = "C";
  return f;
}

const std::vector<Step> kDay = {
    {"SetDateTime", {"270102", "083000"}, O::TookEffect},
    {"OpenTicket", {"C"}, O::TookEffect},
    {"SendTicketItem", Item("Cafe", "00002000", "0000012.5000"), O::TookEffect},
    {"SendTicketItem", Item("Cafe", "00001000", "0000012.5000", "m"), O::TookEffect},
    {"GetTicketSubtotal", {"P", ""}, O::CannotTell},
    {"SendTicketPayment", {"Descuento", "00000000200", "D"}, O::TookEffect},
    {"SendTicketPayment", {"Efectivo", "00000002000", "T"}, O::TookEffect},
    {"CloseTicket", {"T"}, O::TookEffect},
    {"OpenInvoice", InvoiceOpen("A"), O::TookEffect},
    {"SendInvoiceItem",
     {"Pan", "00001000", "0000010.0000", "2100", "M", "00000", "00000000", "", "", "", "0000",
      "000000000000000"},
     O::TookEffect},
    {"SendInvoicePayment", {"Tarjeta", "00000001210", "T"}, O::TookEffect},
    {"CloseInvoice", {"T", "A", "\x7f"}, O::TookEffect},
    {"OpenTicket", {"C"}, O::TookEffect},
    {"SendTicketItem", Item("Agua", "00001000", "0000005.0000"), O::TookEffect},
    {"SendTicketPayment", {"Anula", "00000000500", "C"}, O::TookEffect},
    {"OpenNoFiscal", {}, O::TookEffect},
    {"SendNoFiscalText", {"----"}, O::CannotTell},
    {"CloseNoFiscal", {"T"}, O::TookEffect},
    {"OpenCashDrawer", {}, O::CannotTell},
    {"OpenCashDrawer2", {}, O::CannotTell},
    {"CloseJournal", {"X", "P"}, O::CannotTell},
    {"CloseJournal", {"Z", "P"}, O::AnswerLost},
};

TEST(LinkDecision, EveryCommandOfADayIsFoundRunWithItsAnswerOrFoundNotRun) {
  plat::FiscalPrinterModel m;
  Snapshot followed = ReadOn(m, ~0u, plat::Info(plat::Command::Status));
  for (const Step& step : kDay) {
    const plat::CommandInfo* info = plat::FindCommand(step.method);
    ASSERT_NE(info, nullptr) << step.method;
    ASSERT_TRUE(plat::link::Changes(*info, step.fields)) << step.method;
    const unsigned after = plat::link::ReadsAfter(*info, step.fields);
    const Snapshot before = ReadOn(m, plat::link::ReadsBefore(*info, step.fields) | after, *info);
    // The link's followed snapshot holds nothing the printer contradicts.
    EXPECT_EQ(plat::link::Describe(plat::link::Overlay(before, followed)),
              plat::link::Describe(plat::link::Overlay(followed, before)))
        << step.method;

    // Not run: never found run; found not run wherever some query can tell.
    const Decision without =
        plat::link::Decide(before, ReadOn(m, after, *info), *info, step.fields);
    EXPECT_EQ(without.What, step.ran == O::TookEffect || step.ran == O::AnswerLost ? O::DidNot
                            : step.method == std::string("SendNoFiscalText")       ? O::CannotTell
                                                                                   : step.ran)
        << step.method << ": " << without.Reason;

    const plat::PrinterAnswer answer = Exec(m, step.method, step.fields);
    ASSERT_EQ(answer.Result, 1) << step.method;
    const Snapshot now = ReadOn(m, after, *info);
    const Decision d = plat::link::Decide(before, now, *info, step.fields);
    ASSERT_EQ(d.What, step.ran) << step.method << ": " << d.Reason;
    if (d.What == O::TookEffect) {
      EXPECT_EQ(d.Answer.Fields, answer.Fields) << step.method;
      EXPECT_EQ(d.Answer.FiscalStatus, answer.FiscalStatus) << step.method;
    } else {
      EXPECT_FALSE(d.Reason.empty()) << step.method;
    }
    followed =
        plat::link::Follow(plat::link::Overlay(followed, before), *info, step.fields, answer);
  }
}

TEST(LinkDecision, AnythingElseThanTheCommandsOwnMoveIsInDoubt) {
  plat::FiscalPrinterModel m;
  const auto& item = *plat::FindCommand("SendTicketItem");
  const auto& close = *plat::FindCommand("CloseTicket");
  const auto& open = *plat::FindCommand("OpenTicket");
  const auto sale = Item("Cafe", "00001000", "0000012.5000");
  Snapshot none;
  EXPECT_EQ(plat::link::Decide(none, none, open, {"C"}).What, O::CannotTell);

  Exec(m, "OpenTicket", {"C"});
  const Snapshot empty = ReadOn(m, ~0u, item);
  Exec(m, "SendTicketItem", sale);
  Exec(m, "SendTicketItem", sale);
  // Two lines where one was sent, a closing whose number jumped, an opening over an open
  // document: none of these is this command's move.
  EXPECT_EQ(plat::link::Decide(empty, ReadOn(m, ~0u, item), item, sale).What, O::CannotTell);
  Snapshot jumped = ReadOn(m, ~0u, close);
  Snapshot closed = jumped;
  closed.FiscalWord = 0;
  *closed.LastTicket += 2;
  EXPECT_EQ(plat::link::Decide(jumped, closed, close, {"T"}).What, O::CannotTell);
  EXPECT_EQ(plat::link::Decide(jumped, jumped, open, {"C"}).What, O::CannotTell);
  // A payment whose amount does not read is never decided either way.
  EXPECT_EQ(plat::link::Decide(jumped, jumped, *plat::FindCommand("SendTicketPayment"),
                               {"Efectivo", "diez", "T"})
                .What,
            O::CannotTell);
  // The subtotal that prints nothing is a query; the one that prints is not.
  EXPECT_FALSE(plat::link::Changes(*plat::FindCommand("GetTicketSubtotal"), {"N", ""}));
  EXPECT_TRUE(plat::link::Changes(*plat::FindCommand("GetTicketSubtotal"), {"P", ""}));
}

}  // namespace
