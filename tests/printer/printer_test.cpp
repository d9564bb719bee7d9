// SPDX-License-Identifier: Apache-2.0
#include "printer/printer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "printer/emulator.h"

namespace plat {
namespace {

// A backend that answers what the test tells it and records what it received.
class ScriptedBackend : public PrinterBackend {
 public:
  struct Call {
    int port;
    std::string method;
    std::vector<WideString> args;
  };
  std::vector<Call> calls;
  PrinterAnswer next;
  bool raise = false;
  WideString writeFirstArg;

  PrinterAnswer Execute(int port, const char* method,
                        const std::vector<WideString*>& args) override {
    Call c{port, method, {}};
    for (auto* a : args) c.args.push_back(*a);
    calls.push_back(std::move(c));
    if (raise) throw ELinkError("no answer");
    if (!writeFirstArg.empty() && !args.empty()) *args[0] = writeFirstArg;
    return next;
  }
};

class PrinterControlTest : public ::testing::Test {
 protected:
  void SetUp() override { SetPrinterBackend(backend); }
  void TearDown() override { SetPrinterBackend(nullptr); }
  std::shared_ptr<ScriptedBackend> backend = std::make_shared<ScriptedBackend>();
  TPrinterFiscal control;
};

TEST_F(PrinterControlTest, EachMethodSendsItsNameAndArgumentsInOrder) {
  WideString a[19];
  for (int i = 0; i < 19; ++i) a[i] = WideString(1, static_cast<char16_t>(u'a' + i));
  control.OpenTicket(a[0]);
  control.OpenInvoice(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11],
                      a[12], a[13], a[14], a[15], a[16], a[17], a[18]);
  control.SendTicketItem(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
  control.SendInvoiceItem(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11]);
  control.GetTicketSubtotal(a[0], a[1]);
  control.GetInvoiceSubtotal(a[0], a[1]);
  control.SendTicketPayment(a[0], a[1], a[2]);
  control.SendInvoicePayment(a[0], a[1], a[2]);
  control.CloseTicket();
  control.CloseInvoice(a[0], a[1], a[2]);
  control.OpenCashDrawer(a[0]);
  control.OpenNoFiscal();
  control.CloseNoFiscal();
  control.SendNoFiscalText(a[0]);
  control.CloseJournal(a[0], a[1]);
  control.SetGetDateTime(a[0], a[1], a[2]);
  control.Status(a[0]);

  const std::vector<std::pair<std::string, size_t>> expected = {
      {"OpenTicket", 1},
      {"OpenInvoice", 19},
      {"SendTicketItem", 8},
      {"SendInvoiceItem", 12},
      {"GetTicketSubtotal", 2},
      {"GetInvoiceSubtotal", 2},
      {"SendTicketPayment", 3},
      {"SendInvoicePayment", 3},
      {"CloseTicket", 0},
      {"CloseInvoice", 3},
      {"OpenCashDrawer", 1},
      {"OpenNoFiscal", 0},
      {"CloseNoFiscal", 0},
      {"SendNoFiscalText", 1},
      {"CloseJournal", 2},
      {"SetGetDateTime", 3},
      {"Status", 1},
  };
  ASSERT_EQ(backend->calls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].first);
    EXPECT_EQ(backend->calls[i].method, expected[i].first);
    ASSERT_EQ(backend->calls[i].args.size(), expected[i].second);
    for (size_t k = 0; k < expected[i].second; ++k) EXPECT_EQ(backend->calls[i].args[k], a[k]);
  }
}

TEST_F(PrinterControlTest, AnswerReplacesEveryFieldAndRaiseKeepsThem) {
  for (int n = 3; n <= 19; ++n) EXPECT_EQ(control.AnswerField(n).AsWideString(), u"");

  backend->next = {7, 0x1000, 0x3000, {u"f3", u"f4", u"f5", u"f6"}};
  WideString arg = u"N";
  EXPECT_EQ(control.Status(arg), 7);
  EXPECT_EQ(control.AnswerField_3().AsWideString(), u"f3");
  EXPECT_EQ(control.AnswerField_6().AsWideString(), u"f6");
  EXPECT_EQ(control.PrinterStatus().AsInteger(), 0x1000);
  EXPECT_EQ(control.FiscalStatus().AsInteger(), 0x3000);

  backend->raise = true;
  EXPECT_THROW(control.Status(arg), ELinkError);
  EXPECT_EQ(control.AnswerField_3().AsWideString(), u"f3");
  EXPECT_EQ(control.AnswerField_6().AsWideString(), u"f6");
  EXPECT_EQ(control.FiscalStatus().AsInteger(), 0x3000);

  backend->raise = false;
  backend->next = {0, 0, 0x0030, {u"only"}};
  EXPECT_EQ(control.Status(arg), 0);
  EXPECT_EQ(control.AnswerField_3().AsWideString(), u"only");
  for (int n = 4; n <= 19; ++n) EXPECT_EQ(control.AnswerField(n).AsWideString(), u"") << n;
  EXPECT_EQ(control.FiscalStatus().AsInteger(), 0x0030);

  // A backend answering more fields than the control has keeps the first seventeen.
  backend->next = {1, 0, 0, std::vector<WideString>(20, u"x")};
  control.Status(arg);
  EXPECT_EQ(control.AnswerField_19().AsWideString(), u"x");
}

TEST_F(PrinterControlTest, AnswerFieldOutsideThreeToNineteenRaises) {
  for (int n : {-1, 0, 2, 20, 100}) EXPECT_THROW(control.AnswerField(n), EVariantError) << n;
  EXPECT_EQ(control.AnswerField_19().Type(), VarType::WideStr);
}

TEST_F(PrinterControlTest, ArgumentsAreWrittenBackAndPortIsPassed) {
  control.SetPortNumber(Variant("3"));
  EXPECT_EQ(control.PortNumber().AsInteger(), 3);
  backend->writeFirstArg = u"changed";
  WideString drawer = u"1";
  control.OpenCashDrawer(drawer);
  EXPECT_EQ(drawer, u"changed");
  EXPECT_EQ(backend->calls.back().port, 3);
  EXPECT_THROW(control.SetPortNumber(Variant("COM1")), EConvertError);
  EXPECT_EQ(control.PortNumber().AsInteger(), 3);
}

TEST_F(PrinterControlTest, BackendSwitchingAndReturnToTheDefaultEmulator) {
  EXPECT_EQ(CurrentPrinterBackend(), backend);
  auto second = std::make_shared<ScriptedBackend>();
  SetPrinterBackend(second);
  control.OpenNoFiscal();
  EXPECT_TRUE(backend->calls.empty());
  EXPECT_EQ(second->calls.size(), 1u);

  SetPrinterBackend(nullptr);
  EXPECT_EQ(CurrentPrinterBackend(), DefaultEmulator());
  auto& emu = *DefaultEmulator();
  emu.ClearJournal();
  WideString g = u"G", d, t;
  EXPECT_NE(control.SetGetDateTime(g, d, t), 0);
  EXPECT_EQ(emu.Methods(), std::vector<std::string>{"SetGetDateTime"});
  EXPECT_EQ(control.AnswerField_3().AsWideString().size(), 6u);
}

TEST_F(PrinterControlTest, EmulatorRefusalReachesTheControl) {
  auto emu = std::make_shared<FiscalEmulator>();
  SetPrinterBackend(emu);
  EXPECT_EQ(control.CloseTicket(), 0);
  EXPECT_EQ(control.FiscalStatus().AsInteger(),
            status::kFiscalised | status::kInvalidState | status::kFiscalAny);
  WideString g = u"G";
  EXPECT_NE(control.OpenTicket(g), 0);
  EXPECT_EQ(control.AnswerField_3().AsWideString(), u"") << "the opening answers no number";
  EXPECT_EQ(control.FiscalStatus().AsInteger(),
            status::kFiscalised | status::kFiscalDocumentOpen | status::kDocumentOpen);
}

}  // namespace
}  // namespace plat
