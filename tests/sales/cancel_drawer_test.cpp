// SPDX-License-Identifier: Apache-2.0
// Cancelling the open ticket from the host's sale file, and opening the cash drawer.
#include <functional>

#include "platform/dataset.h"
#include "platform/os.h"
#include "tests/sales/sales_support.h"

namespace salestest {
namespace {

using plat::FieldType;

class CancelTest : public SalesTest {
 protected:
  void SaveSale(const std::vector<std::vector<Variant>>& rows) {
    testhost::MakeDataSet(
        {{"NRITEM", FieldType::Integer, 0}, {"VRPRECCOMVEN", FieldType::Float, 0}}, rows)
        ->SaveToFile(host.PathOf("cdsVenda.cds"));
  }
  bool Cancel() {
    Variant answer = plat::VarArrayOf({Variant("keep")});
    const bool r = CALL(host, Cancela_Cupom_Imp)(ArfisOpenArray(43), answer);
    EXPECT_EQ(answer, plat::VarArrayOf({Variant("keep")}));
    return r;
  }
};

TEST_P(CancelTest, SendsTheSaleTotalInGeneralFormat) {
  struct Case {
    std::vector<std::vector<Variant>> rows;
    const char* amount;
  } cases[] = {
      {{{1, 10.5}, {2, 20.0}, {3, Variant::Null()}}, "30.5"},
      {{}, "0"},
      {{{1, 100.0}}, "100"},
      {{{1, 0.1}, {2, 0.2}}, "0.3"},
  };
  for (const Case& c : cases) {
    host.Emu().Model() = plat::FiscalPrinterModel();
    OpenWithItem("T", 1, 50, Num("21"));
    SaveSale(c.rows);
    EXPECT_TRUE(Cancel()) << c.amount;
    EXPECT_EQ(host.CommandTexts(), Texts{"SendTicketPayment(Dinheiro|" + Num(c.amount) + "|C)"});
    EXPECT_TRUE(host.Log().empty());
    EXPECT_TRUE(host.dialogs.empty());
    EXPECT_EQ(host.Emu().Model().State(), plat::FiscalPrinterModel::DocState::Idle);
  }
}

TEST_P(CancelTest, RefusedCancellationAnswersFalseQuietly) {
  OpenWithItem("T", 1, 50, Num("21"));
  SaveSale({{1, 50.0}});
  host.Emu().Refuse("SendTicketPayment");
  EXPECT_FALSE(Cancel());
  EXPECT_EQ(host.Emu().Methods(), std::vector<std::string>{"SendTicketPayment"});
  EXPECT_TRUE(host.Log().empty());
  EXPECT_TRUE(host.dialogs.empty());
}

TEST_P(CancelTest, MissingSaleFileSendsNothingAndAnswersFalse) {
  OpenWithItem("T", 1, 50, Num("21"));
  EXPECT_FALSE(Cancel());
  EXPECT_TRUE(host.Emu().Journal().empty());
  EXPECT_TRUE(host.Log().empty());
  EXPECT_TRUE(host.dialogs.empty());
}

TEST_P(CancelTest, UnreadableSaleFileRaisesToTheHost) {
  plat::WriteFileAtomic(host.PathOf("cdsVenda.cds"), "not a dataset");
  EXPECT_THROW(Cancel(), plat::Exception);
  testhost::MakeDataSet({{"OTHER", FieldType::Float, 0}}, {{1.0}})
      ->SaveToFile(host.PathOf("cdsVenda.cds"));
  EXPECT_THROW(Cancel(), plat::Exception);
  EXPECT_TRUE(host.Emu().Journal().empty());
  EXPECT_TRUE(host.dialogs.empty());
}

INSTANTIATE_TEST_SUITE_P(Separators, CancelTest, ::testing::Values('.', ','));

TEST(CashDrawer, LogsTheCommandOnlyWhenAccepted) {
  struct Case {
    const char* name;
    std::function<void(plat::FiscalEmulator&)> script;
    bool result;
    Lines log;
  } cases[] = {
      {"accepted", [](plat::FiscalEmulator&) {}, true, {"Abre_Gaveta_Imp", "OpenCashDrawer: 1"}},
      {"refused",
       [](plat::FiscalEmulator& e) { e.Refuse("OpenCashDrawer"); },
       false,
       {"Abre_Gaveta_Imp"}},
      {"argument written back",
       [](plat::FiscalEmulator& e) { e.WriteArgAfter("OpenCashDrawer", 0, u"2"); },
       true,
       {"Abre_Gaveta_Imp", "OpenCashDrawer: 2"}},
  };
  for (const Case& c : cases) {
    testhost::DriverHost host;
    host.ClearLog();
    host.Emu().ClearJournal();
    c.script(host.Emu());
    EXPECT_EQ(CALL(host, Abre_Gaveta_Imp)("ignored", true), c.result) << c.name;
    EXPECT_EQ(host.CommandTexts(), std::vector<std::string>{"OpenCashDrawer(1)"}) << c.name;
    EXPECT_EQ(host.Log(), c.log) << c.name;
    EXPECT_TRUE(host.dialogs.empty()) << c.name;
  }
}

TEST(CashDrawer, FailuresRaiseToTheHost) {
  testhost::DriverHost host;
  host.Emu().ClearJournal();
  host.BreakLog();
  EXPECT_THROW(CALL(host, Abre_Gaveta_Imp)("", false), plat::Exception);
  EXPECT_TRUE(host.Emu().Journal().empty());
  host.RepairLog();

  host.Emu().RaiseOn("OpenCashDrawer", "sin respuesta");
  EXPECT_THROW(CALL(host, Abre_Gaveta_Imp)("", false), plat::Exception);
  EXPECT_TRUE(host.dialogs.empty());
}

}  // namespace
}  // namespace salestest
