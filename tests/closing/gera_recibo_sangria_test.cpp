// SPDX-License-Identifier: Apache-2.0
// The cash-out and closing flow: questions, outcomes, hand-over to the reports, failures.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/closing/day_closing_support.h"

namespace closingtest {
namespace {

std::vector<std::string> Questions(testhost::DriverHost& host) {
  std::vector<std::string> out;
  for (const auto& d : host.dialogs) {
    EXPECT_EQ(d.Kind, plat::tmPergunta);
    EXPECT_EQ(d.Scheme, "ESQ");
    out.push_back(plat::AnsiToUtf8(d.Text));
  }
  return out;
}
size_t Count(const std::vector<std::string>& v, const std::string& s) {
  return static_cast<size_t>(std::count(v.begin(), v.end(), s));
}

const std::string kAbre = "Deseja abrir o caixa?";
const std::string kReducao = "Confirma impressão da redução z?";
const std::string kRelat = "Confirma impressão dos relatórios de fechamento?";

TEST(GeraReciboSangria, OutcomesFollowTheOperatorsAnswers) {
  struct Case {
    const char* name;
    bool boSangria, boImpRelSan, boImprimeRedZ, boAccessImpRedz;
    std::deque<bool> answers;
    std::vector<std::string> questions;
    bool result, reduziu;
    size_t documents;  // non-fiscal documents opened
  } cases[] = {
      {"withdrawal", true, true, true, true, {true}, {}, false, false, 1},
      {"withdrawal, no receipt", true, false, true, true, {}, {}, false, false, 0},
      {"reopen", false, true, false, true, {true}, {kAbre}, true, false, 3},
      {"no Z allowed", false, true, false, true, {false}, {kAbre}, false, false, 3},
      {"no Z access", false, true, true, false, {false}, {kAbre}, false, false, 3},
      {"Z refused", false, true, true, true, {false, false}, {kAbre, kReducao}, false, false, 3},
      // clang-format off
      {"Z, no reports", false, true, true, true, {false, true, false}, {kAbre, kReducao, kRelat}, false, true, 3},
      {"Z and reports", false, true, true, true, {false, true, true}, {kAbre, kReducao, kRelat}, false, true, 5},
      {"nothing printed, questions asked", false, false, true, true, {false, true, true}, {kAbre, kReducao, kRelat}, false, true, 2},
      // clang-format on
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    testhost::DriverHost host;
    host.answers = tc.answers;
    Closing c;
    c.boSangria = tc.boSangria;
    c.boImpRelSan = tc.boImpRelSan;
    c.boImprimeRedZ = tc.boImprimeRedZ;
    c.boAccessImpRedz = tc.boAccessImpRedz;
    c.emiRelProd = "N";
    c.movTot = Movements({{"1", "DINHEIRO", 10.0}});
    c.movAbertura = Movements({{"1", "DINHEIRO", 10.0}});
    c.prod = Sales(10);
    c.prodFech = Sales(10);
    EXPECT_EQ(c.Run(host), tc.result);
    EXPECT_EQ(c.boReduziu, tc.reduziu);
    EXPECT_EQ(Questions(host), tc.questions);
    EXPECT_EQ(Count(host.Emu().Methods(), "OpenNoFiscal"), tc.documents);
    EXPECT_EQ(host.Emu().Model().State(), plat::FiscalPrinterModel::DocState::Idle);
  }
}

TEST(GeraReciboSangria, ClosingSequenceOfDocuments) {
  testhost::DriverHost host;
  host.answers = {false, true, true};
  Closing c;
  c.boSangria = false;
  c.emiRelProd = "N";
  c.impLeituraX = "S";
  c.movTot = Movements({{"1", "DINHEIRO", 10.0}});
  c.prod = Sales(10);
  c.prodFech = Products({});
  c.Run(host);
  // X reading, receipt, shift product report (closing the already closed receipt), shift
  // closing report, closing product report without products, general closing report.
  std::vector<std::string> docs;
  for (const auto& m : host.Emu().Methods())
    if (m != "SendNoFiscalText") docs.push_back(m);
  EXPECT_EQ(docs, (std::vector<std::string>{"CloseJournal", "OpenNoFiscal", "CloseNoFiscal",
                                            "CloseNoFiscal", "OpenNoFiscal", "CloseNoFiscal",
                                            "OpenNoFiscal", "CloseNoFiscal", "OpenNoFiscal",
                                            "CloseNoFiscal"}));
  EXPECT_EQ(host.Emu().Journal()[0].Args[0], u"X");
  // Every line of the reports reached an open document.
  for (const auto& e : host.Commands("SendNoFiscalText")) EXPECT_NE(e.Result, 0);
}

TEST(GeraReciboSangria, ShiftReportPrintsEvenWhenTheProductReportDidNot) {
  testhost::DriverHost host;
  Closing c;
  c.boSangria = false;
  c.emiRelProd = "X";
  c.impLeituraX = "s";  // lower case takes no X reading
  c.movTot = Movements({{"1", "DINHEIRO", 10.0}});
  c.Run(host);
  const auto methods = host.Emu().Methods();
  EXPECT_EQ(Count(methods, "CloseJournal"), 0u);
  EXPECT_EQ(Count(methods, "OpenNoFiscal"), 2u);
  for (const auto& e : host.Commands("SendNoFiscalText")) EXPECT_NE(e.Result, 0);
  const Texts log = LogTexts(host);
  EXPECT_EQ(After(log, "CloseNoFiscal")[0], "Relatorio_Produto");
  EXPECT_EQ(After(log, "CloseNoFiscal")[1], "OpenNoFiscal");
}

TEST(GeraReciboSangria, EmptyMovementTotalsSuppressBothClosingReports) {
  testhost::DriverHost host;
  host.answers = {false, true, true};
  Closing c;
  c.boSangria = false;
  c.emiRelProd = "N";
  c.movAbertura = Movements({{"1", "DINHEIRO", 10.0}});
  c.prod = Sales(10);
  c.prodFech = Sales(20);
  EXPECT_FALSE(c.Run(host));
  EXPECT_TRUE(c.boReduziu);
  const Texts sent = SentTexts(host);
  EXPECT_EQ(
      std::count_if(sent.begin(), sent.end(),
                    [](const std::string& s) { return s.find("RELATORIO DE PRODUTOS") != s.npos; }),
      2);
  for (const auto& s : sent) EXPECT_EQ(s.find("TOTAL VENDAS"), std::string::npos);
}

TEST(GeraReciboSangria, ByReferenceArgumentsAndHostCursorsStay) {
  testhost::DriverHost host;
  host.answers = {false, true, true};
  Closing c;
  c.boSangria = false;
  c.emiRelProd = "N";
  c.movFecha = MovFecha({{"1", "1", "A", 1.0, 1.0}, {"2", "2", "B", 2.0, 2.0}});
  c.movFecha->Next();
  auto* redz = c.redz;
  auto* imposto = c.impostoRedz;
  c.Run(host);
  EXPECT_EQ(c.cupomDia, "000123");
  EXPECT_EQ(c.redz, redz);
  EXPECT_EQ(c.formRedz, nullptr);
  EXPECT_EQ(c.impostoRedz, imposto);
  EXPECT_EQ(c.totNFis, nullptr);
  EXPECT_EQ(c.movFecha->RecNo(), 2);
}

TEST(GeraReciboSangria, FailuresShowTheDialogWithTheSchemeAndAnswerFalse) {
  {
    SCOPED_TRACE("a host dataset without a field the receipt reads");
    testhost::DriverHost host;
    host.answers = {true};
    Closing c;
    c.boSangria = false;
    c.movFecha = testhost::MakeDataSet({{"NMTIPORECE", FieldType::String}}, {{"A"}});
    EXPECT_FALSE(c.Run(host));
    EXPECT_FALSE(c.boReduziu);
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].Kind, plat::tmErro);
    EXPECT_EQ(host.dialogs[0].Scheme, "ESQ");
    EXPECT_NE(host.dialogs[0].Text.find("NRENVELOPE"), std::string::npos);
    EXPECT_EQ(host.Emu().Model().State(), plat::FiscalPrinterModel::DocState::NonFiscal);
  }
  {
    SCOPED_TRACE("no dataset");
    testhost::DriverHost host;
    Closing c;
    c.nullOperSup = true;
    EXPECT_FALSE(c.Run(host));
    EXPECT_TRUE(c.boReduziu);  // the failure came before the flag was cleared
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_NE(host.dialogs[0].Text.find("cdsOperSup"), std::string::npos);
    EXPECT_TRUE(host.Emu().Journal().empty());
  }
  {
    SCOPED_TRACE("driver not started");
    testhost::DriverHost host(false);
    Closing c;
    EXPECT_FALSE(c.Run(host));
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].Kind, plat::tmErro);
    EXPECT_EQ(LogTexts(host), (Texts{"GeraReciboSangria"}));
  }
  {
    SCOPED_TRACE("log not writable: the first line is outside the handler");
    testhost::DriverHost host;
    host.BreakLog();
    Closing c;
    EXPECT_THROW(
        CALL(host, GeraReciboSangria)(
            "", "", "", "", "", 0, c.cupomDia, c.movFecha.get(), c.sangria.get(), c.prod.get(),
            c.operSup.get(), c.movTot.get(), c.movAbertura.get(), c.prodFech.get(), 0.0, true, true,
            false, c.redz, c.formRedz, c.impostoRedz, c.totNFis, c.boReduziu, c.tipoRece.get(), "N",
            "N", "N", "N", "ESQ", true, false, true, "", ""),
        plat::Exception);
  }
}

}  // namespace
}  // namespace closingtest
