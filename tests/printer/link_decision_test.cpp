// The link's decision on a command whose reply was lost, checked against the printer model
// itself: for every command of a day, the status before and after it tells that it ran (and
// rebuilds its very answer), and the status without it tells that it did not.
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
using plat::link::PrinterState;
using O = Decision::Outcome;

plat::PrinterAnswer Exec(plat::FiscalPrinterModel& m, const std::string& method,
                         std::vector<AnsiString> fields) {
  std::vector<WideString> args;
  for (const auto& f : fields) args.push_back(plat::AnsiToWide(f));
  std::vector<WideString*> ptrs;
  for (auto& a : args) ptrs.push_back(&a);
  return m.Execute(method, ptrs);
}

PrinterState StatusOf(plat::FiscalPrinterModel& m) {
  auto s = plat::link::StateFromStatus(Exec(m, "Status", {"N"}));
  EXPECT_TRUE(s);
  return s ? *s : PrinterState{};
}

struct Step {
  const char* method;
  std::vector<AnsiString> fields;
};

std::vector<AnsiString> Item(const char* name, const char* qty, const char* price,
                             const char* qualifier = "M") {
  return {name, qty, price, "21.00", qualifier, "0", "0", "0"};
}

std::vector<AnsiString> InvoiceOpen(const char* letter) {
  std::vector<AnsiString> f(19);
  f[2] = letter;
  return f;
}

const std::vector<Step> kDay = {
    {"OpenTicket", {"G"}},
    {"SendTicketItem", Item("Cafe", "2.00", "12.50")},
    {"SendTicketItem", Item("Cafe", "1.00", "12.50", "m")},
    {"SendTicketPayment", {"Descuento", "2.00", "D"}},
    {"SendTicketPayment", {"Efectivo", "20.00", "T"}},
    {"CloseTicket", {}},
    {"OpenInvoice", InvoiceOpen("A")},
    {"SendInvoiceItem", {"Pan", "1.00", "10.00", "21.00", "M", "0", "0", "0", "0", "0", "0", "0"}},
    {"SendInvoicePayment", {"Tarjeta", "12.10", "T"}},
    {"CloseInvoice", {"", "A", ""}},
    {"OpenTicket", {"G"}},
    {"SendTicketItem", Item("Agua", "1.00", "5.00")},
    {"SendTicketPayment", {"Anula", "-5.00", "C"}},
    {"OpenNoFiscal", {}},
    {"SendNoFiscalText", {"----"}},
    {"SendNoFiscalText", {"----"}},
    {"CloseNoFiscal", {}},
    {"CloseJournal", {"X", "P"}},
};

TEST(LinkDecision, EveryCommandOfADayIsFoundRunWithItsAnswerOrFoundNotRun) {
  plat::FiscalPrinterModel m;
  for (const Step& step : kDay) {
    const plat::CommandInfo& info = *plat::FindCommand(step.method);
    PrinterState before = StatusOf(m);
    // Not run: the status is the same as before.
    EXPECT_EQ(plat::link::Decide(before, StatusOf(m), info, step.fields).What, O::DidNot)
        << step.method;
    const plat::PrinterAnswer answer = Exec(m, step.method, step.fields);
    ASSERT_EQ(answer.Result, 1) << step.method;
    const PrinterState after = StatusOf(m);
    const Decision d = plat::link::Decide(before, after, info, step.fields);
    ASSERT_EQ(d.What, O::TookEffect) << step.method << ": " << d.Reason;
    EXPECT_EQ(d.Answer.Fields, answer.Fields) << step.method;
    EXPECT_EQ(d.Answer.FiscalStatus, answer.FiscalStatus) << step.method;
    // The link follows the state from the answers alone, as far as its decisions need.
    const PrinterState followed = plat::link::Follow(before, info, step.fields, answer);
    EXPECT_EQ(followed.Document, after.Document) << step.method;
    EXPECT_EQ(followed.Number, after.Number) << step.method;
    EXPECT_EQ(followed.Lines, after.Lines) << step.method;
    EXPECT_EQ(followed.XNumber, after.XNumber) << step.method;
    // A refused command changes nothing, and the state follows that too.
    if (after.Document != 0) {
      const plat::PrinterAnswer refused = Exec(m, "OpenTicket", {"G"});
      ASSERT_EQ(refused.Result, 0);
      const PrinterState same =
          plat::link::Follow(after, *plat::FindCommand("OpenTicket"), {"G"}, refused);
      EXPECT_EQ(same.Lines, after.Lines);
      EXPECT_EQ(same.Document, after.Document);
    }
  }
}

TEST(LinkDecision, TheZTheDrawerAndAnUnreadableStateAreNeverResent) {
  plat::FiscalPrinterModel m;
  const PrinterState before = StatusOf(m);
  Exec(m, "CloseJournal", {"Z", ""});
  const Decision z =
      plat::link::Decide(before, StatusOf(m), *plat::FindCommand("CloseJournal"), {"Z", ""});
  EXPECT_EQ(z.What, O::AnswerLost);
  EXPECT_EQ(z.Reason, "the Z closing 0001 ran, but its reply with the day's figures was lost");

  const auto& drawer = *plat::FindCommand("OpenCashDrawer");
  EXPECT_EQ(plat::link::Decide(before, before, drawer, {"1"}).What, O::CannotTell);
  // A state that moved in another way than the command moves it: in doubt.
  PrinterState moved = before;
  moved.Document = 'T';
  moved.Lines = 3;
  EXPECT_EQ(plat::link::Decide(before, moved, *plat::FindCommand("CloseTicket"), {}).What,
            O::CannotTell);
  // Without a state before it, nothing can be told.
  EXPECT_EQ(plat::link::Decide({}, before, *plat::FindCommand("OpenTicket"), {"G"}).What,
            O::CannotTell);
  // A status that gives only its two words has no state.
  plat::PrinterAnswer bare;
  bare.Result = 1;
  bare.Fields = {u"0000", u"0000"};
  EXPECT_FALSE(plat::link::StateFromStatus(bare));
  EXPECT_EQ(plat::link::Describe(moved),
            "ticket 00000000 open, 3 lines, amount 0.00, paid 0.00, X 0000, Z 0000");
}

}  // namespace
