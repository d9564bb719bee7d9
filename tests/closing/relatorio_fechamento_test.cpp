// SPDX-License-Identifier: Apache-2.0
// The shift and general closing reports, printed by GeraReciboSangria.
#include <gtest/gtest.h>

#include "tests/closing/day_closing_support.h"

namespace closingtest {
namespace {

struct Figures {
  std::string sales;
  Texts types;  // value lines of the payment types
  std::string received, issued, supply, withdrawals, resultLabel, result;
};

// The shift report as sent (commands) and as logged.
void ExpectShift(const Texts& commands, const Texts& log, const Figures& f) {
  const std::string title =
      std::string(8, ' ') + "RELATORIO DE FECHAMENTO" + std::string(9, ' ') + "\n";
  const std::string sales = V("TOTAL VENDAS", f.sales) + "\n";
  Texts sent{title, sales, sales + kDashes + "\n"};
  Texts logged{title, sales + kDashes + "\n"};
  for (const auto& t : f.types) sent.push_back(t), logged.push_back(t);
  const Texts tail{V("CONTRA-VALE RECEBIDO(+)", f.received), V("CONTRA-VALE EMITIDO(-)", f.issued),
                   V("SUPRIMENTO(-)", f.supply), kDashes, V("TOTAL SANGRIAS", f.withdrawals)};
  for (const auto& t : tail) sent.push_back(t), logged.push_back(t);
  sent.push_back("");
  sent.push_back(V(f.resultLabel, f.result));
  logged.push_back(V(f.resultLabel, f.result));
  Texts expected{kOpen};
  for (const auto& s : sent) expected.push_back(Send(s));
  expected.push_back(kClose);
  EXPECT_EQ(commands, expected);
  logged.insert(logged.begin(), {"Relatorio_Produto", "OpenNoFiscal"});
  logged.push_back("CloseNoFiscal");
  EXPECT_EQ(log, logged);
}

void ExpectGeneral(const Texts& commands, const Texts& log, const Figures& f) {
  const std::string title =
      std::string(11, ' ') + "relFechamentoGeral" + std::string(11, ' ') + "\n";
  const std::string sales = V("TOTAL VENDAS", f.sales) + "\n";
  const std::string supply = V("SUPRIMENTO(-)", f.supply) + "\n";
  Texts sent{title, kBlanks, sales, sales + kDashes};
  for (const auto& t : f.types) sent.push_back(t);
  sent.insert(
      sent.end(),
      {V("CONTRA-VALE RECEBIDO(+)", f.received), V("CONTRA-VALE EMITIDO(-)", f.issued), supply,
       supply + kDashes, V("TOTAL SANGRIAS", f.withdrawals), kBlanks, V(f.resultLabel, f.result)});
  Texts expected{kOpen};
  for (const auto& s : sent) expected.push_back(Send(s));
  expected.push_back(kClose);
  EXPECT_EQ(commands, expected);
  Texts logged{"GeraReciboSangria", "Relatorio_Produto", "OpenNoFiscal"};
  for (const auto& s : sent)
    if (s != supply) logged.push_back(s);
  logged.push_back("CloseNoFiscal");
  EXPECT_EQ(log, logged);
}

// Runs a shift closing (receipt first) and a general closing on the same movements and sales.
void CheckBoth(const Rows& movements, double sale1, double sale2, const Figures& f) {
  {
    SCOPED_TRACE("shift");
    testhost::DriverHost host;
    Closing c;
    c.boSangria = false;
    c.movAbertura = Movements(movements);
    c.movTot = Movements(movements);
    c.prod = Products(
        {{"1", "A", 1.0, sale1, 0.0, 0.0, "T", 21.0}, {"2", "B", 1.0, sale2, 0.0, 0.0, "T", 21.0}});
    EXPECT_FALSE(c.Run(host));
    ExpectShift(After(host.CommandTexts(), kClose), After(LogTexts(host), "CloseNoFiscal"), f);
    EXPECT_TRUE(c.prod->Eof());  // the host's products were walked to their end
  }
  {
    SCOPED_TRACE("general");
    testhost::DriverHost host;
    Closing c;
    c.boSangria = false;
    c.boImpRelSan = false;
    c.movTot = Movements(movements);
    c.prodFech = Products(
        {{"1", "A", 1.0, sale1, 0.0, 0.0, "T", 21.0}, {"2", "B", 1.0, sale2, 0.0, 0.0, "T", 21.0}});
    host.answers = {false, true, true};
    EXPECT_FALSE(c.Run(host));
    EXPECT_TRUE(c.boReduziu);
    ExpectGeneral(host.CommandTexts(), LogTexts(host), f);
  }
}

const Rows kExample{{"1", "DINHEIRO", 500.0},
                    {"5", "CARTAO", 300.0},
                    {"2", "CV", 20.0},
                    {"3", "SUP", 100.0},
                    {"4", "CVR", 50.0}};
const Texts kExampleTypes{V("DINHEIRO", "500.00"), V("CARTAO", "300.00")};

TEST(RelatorioFechamento, WorkedExampleGivesSurplus) {
  CheckBoth(kExample, 400, 300,
            {"700.00", kExampleTypes, "50.00", "20.00", "100.00", "730.00", "SOBRA", "30.00"});
}

TEST(RelatorioFechamento, WorkedExampleWithMoreSalesGivesShortage) {
  CheckBoth(kExample, 450, 300,
            {"750.00", kExampleTypes, "50.00", "20.00", "100.00", "730.00", "FALTA", "-20.00"});
}

TEST(RelatorioFechamento, RepeatedAndUnknownKindsAndABalancedTill) {
  // Two "3" rows: the later is the supply; two "1" rows and an "A" row are listed and summed;
  // "a" and "6" are ignored.
  const Rows rows{{"3", "S1", 70.0},   {"1", "DINHEIRO", 100.0}, {"a", "X", 999.0},
                  {"A", "VALE", 10.0}, {"1", "DINHEIRO", 40.0},  {"6", "Y", 999.0},
                  {"3", "S2", 40.0}};
  const Texts types{V("DINHEIRO", "100.00"), V("VALE", "10.00"), V("DINHEIRO", "40.00")};
  CheckBoth(rows, 70, 40, {"110.00", types, "0.00", "0.00", "40.00", "110.00", "SOBRA", "0.00"});
}

TEST(RelatorioFechamento, RoundingResidueBelowZeroStillGivesShortage) {
  // 0.3 taken out against 0.1 + 0.2 sold: the difference is a tiny negative residue.
  CheckBoth({{"1", "DINHEIRO", 0.3}}, 0.1, 0.2,
            {"0.30", {V("DINHEIRO", "0.30")}, "0.00", "0.00", "0.00", "0.30", "FALTA", "0.00"});
}

TEST(RelatorioFechamento, ShiftWithoutMovementsListsNoTypes) {
  testhost::DriverHost host;
  Closing c;
  c.boSangria = false;
  c.movTot = Movements({{"1", "DINHEIRO", 500.0}});  // lets the report print
  c.prod = Sales(700);
  c.Run(host);
  ExpectShift(After(host.CommandTexts(), kClose), After(LogTexts(host), "CloseNoFiscal"),
              {"700.00", {}, "0.00", "0.00", "0.00", "0.00", "FALTA", "-700.00"});
}

}  // namespace
}  // namespace closingtest
