// SPDX-License-Identifier: Apache-2.0
// The product sales report: its flags, the document hand-over flag and both layouts.
#include <gtest/gtest.h>

#include "tests/closing/day_closing_support.h"

namespace closingtest {
namespace {

struct Report {
  plat::AnsiString emi = "N", trib = "N", cupomDia = "000123";
  bool flag = true;

  void Run(testhost::DriverHost& host, plat::TClientDataSet* products) {
    host.ClearLog();
    host.Emu().ClearJournal();
    CALL(host, Relatorio_Produto)
    ("COM1", "", "SER", "01", "02", cupomDia, products, emi, trib, "ESQ", flag);
  }
};

const std::string kTitle = std::string(9, ' ') + "RELATORIO DE PRODUTOS" + std::string(10, ' ');
const std::string kColumns = Lt("CODIGO", 13) + Lt("NOME", 15) + Rt("QTDE", 4) + Rt("VLR.TOT.", 8);

// Every line is sent and then logged; the document opens after the caller's is closed.
void ExpectDocument(testhost::DriverHost& host, const Texts& lines, const Texts& extraLog = {}) {
  Texts commands{kClose, kOpen};
  for (const auto& l : lines) commands.push_back(Send(l));
  commands.push_back(kClose);
  EXPECT_EQ(host.CommandTexts(), commands);
  Texts log{"Relatorio_Produto", "CloseNoFiscal", "OpenNoFiscal"};
  for (const auto& l : lines) {
    log.push_back(l);
    if (l == kColumns + "\n") log.insert(log.end(), extraLog.begin(), extraLog.end());
  }
  log.push_back("CloseNoFiscal");
  EXPECT_EQ(LogTexts(host), log);
}

TEST(RelatorioProduto, PlainLayout) {
  testhost::DriverHost host;
  auto products = Products({{"001", "ARROZ", 2.0, 10.5, 1.0, 0.5, "T", 21.0},
                            {"002", "FEIJAO", 1.0, 5.0, 0.0, 0.0, "I", 0.0}});
  Report r;
  r.flag = false;
  r.Run(host, products.get());
  EXPECT_TRUE(r.flag);
  ExpectDocument(host, {"", kTitle, "", kColumns, "",
                        Lt("001", 11) + " " + Lt("ARROZ", 13) + " 2.00" + Rt("10.50", 10),
                        Lt("002", 11) + " " + Lt("FEIJAO", 13) + " 1.00" + Rt("5.00", 10), "",
                        V("Total de Acréscimos", "1.00"), "", V("Total de Descontos", "0.50"), "",
                        V("Total das Vendas", "15.50"), ""});
  EXPECT_TRUE(host.dialogs.empty());
}

TEST(RelatorioProduto, TaxCategoryLayoutGroupsByLetterThenRate) {
  testhost::DriverHost host;
  auto products = Products({{"001", "ARROZ", 2.0, 10.0, 0.0, 0.0, "T", 21.0},
                            {"003", "FEIJAO", 1.0, 5.0, 0.0, 1.0, "I", 0.0},
                            {"002", "OLEO", 1.0, 7.5, 0.5, 0.0, "T", 21.0}});
  Report r;
  r.flag = false;
  r.trib = "S";
  r.Run(host, products.get());
  auto detail = [](const std::string& cd, const std::string& nm, const std::string& qt,
                   const std::string& vr) {
    return Lt(cd, 11) + " " + Lt(nm, 13) + " " + Rt(qt, 5) + Rt(vr, 8);
  };
  ExpectDocument(host,
                 {"",
                  kTitle,
                  "",
                  kColumns + "\n",
                  "Isento",
                  detail("003", "FEIJAO", "1.00", "5.00"),
                  "Tributacao  21.00",
                  detail("001", "ARROZ", "2.00", "10.00"),
                  detail("002", "OLEO", "1.00", "7.50"),
                  V("VALOR", "22.50"),
                  kBlanks,
                  Lt("Tributados", 30),
                  V("21.00", "17.50") + "\n",
                  V("Isento", "5.00") + "\n",
                  Lt("Total de Acréscimos", 35) + Rt("0.50", 13),
                  kBlanks,
                  V("Total de Descontos", "1.00"),
                  kBlanks,
                  V("Total das Vendas", "22.50"),
                  kBlanks},
                 {""});
}

TEST(RelatorioProduto, CategorySummaryWithUnknownLetterAndCommaSeparator) {
  testhost::DriverHost host;
  host.SetDecimalSeparator(',');
  auto products = Products({{"1", "A", 1.0, 2.0, 0.0, 0.0, "T", 10.5},
                            {"2", "B", 1.0, 3.0, 0.0, 0.0, "X", 0.0},
                            {"3", "C", 1.0, 4.0, 0.0, 0.0, "F", 0.0},
                            {"4", "D", 1.0, 6.0, 0.0, 0.0, "T", 10.5}});
  Report r;
  r.trib = "S";
  r.Run(host, products.get());
  const Texts sent = SentTexts(host);
  const Texts after = After(sent, Lt("Tributados", 30));
  // Categories come last-seen first; the zero rate with an unknown letter keeps the label
  // before it (the last rate text of the walk).
  EXPECT_EQ(Texts(after.begin(), after.begin() + 3),
            (Texts{V("0", "3,00") + "\n", V("10,50", "8,00") + "\n",
                   V("Subst. Tributaria", "4,00") + "\n"}));
  // The unknown letter's group heading is an empty line.
  EXPECT_EQ(Texts(sent.begin() + 4, sent.begin() + 9),
            (Texts{"Subst. Tributaria", Lt("3", 11) + " " + Lt("C", 13) + "  1,00    4,00",
                   "Tributacao  10,50", Lt("1", 11) + " " + Lt("A", 13) + "  1,00    2,00",
                   Lt("4", 11) + " " + Lt("D", 13) + "  1,00    6,00"}));
  EXPECT_EQ(sent[9], "");
}

TEST(RelatorioProduto, CategoryLetterLongerThanTheSummaryKeepsOneRowPerProduct) {
  // The summary keeps 20 characters of a letter; a longer one never matches its own row again,
  // so each of its products adds a row of its own instead of adding to the one before.
  testhost::DriverHost host;
  const std::string longLetter = "EXENTO_ESPECIAL_PRUEBA_X";
  auto products = testhost::MakeDataSet({{"CDPRODUTO", FieldType::String},
                                         {"NMPRODUTO", FieldType::String, 40},
                                         {"QTPRODVEND", FieldType::Float},
                                         {"VRTOTAL", FieldType::Float},
                                         {"VRACRE", FieldType::Float},
                                         {"VRDESC", FieldType::Float},
                                         {"IDTPIMPOSFIS", FieldType::String, 30},
                                         {"VRPEALIMPFIS", FieldType::Float}},
                                        {{"1", "A", 1.0, 2.0, 0.0, 0.0, "T", 21.0},
                                         {"2", "B", 1.0, 3.0, 0.0, 0.0, longLetter, 0.0},
                                         {"3", "C", 1.0, 4.0, 0.0, 0.0, longLetter, 0.0},
                                         {"4", "D", 1.0, 5.0, 0.0, 0.0, "T", 21.0}});
  Report r;
  r.trib = "S";
  r.Run(host, products.get());
  const Texts after = After(SentTexts(host), Lt("Tributados", 30));
  EXPECT_EQ(
      Texts(after.begin(), after.begin() + 3),
      (Texts{V("21.00", "7.00") + "\n", V("21.00", "4.00") + "\n", V("21.00", "3.00") + "\n"}));
}

TEST(RelatorioProduto, FlagsAndDocumentHandOver) {
  struct Case {
    std::string emi;
    bool flagIn;
    std::deque<bool> answers;
    bool prints, flagOut;
    size_t questions;
  } cases[] = {
      {"N", false, {}, true, true, 0},        {"N", true, {}, true, true, 0},
      {"S", false, {true}, true, true, 1},    {"S", true, {false}, false, true, 1},
      {"S", false, {false}, false, false, 1}, {"s", false, {}, false, false, 0},
      {"", true, {}, false, true, 0},         {"X", false, {}, false, false, 0},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.emi + (tc.flagIn ? " in:True" : " in:False"));
    testhost::DriverHost host;
    host.answers = tc.answers;
    auto products = Sales(10);
    Report r;
    r.emi = tc.emi;
    r.flag = tc.flagIn;
    r.Run(host, products.get());
    EXPECT_EQ(r.flag, tc.flagOut);
    ASSERT_EQ(host.dialogs.size(), tc.questions);
    if (tc.questions) {
      EXPECT_EQ(plat::AnsiToUtf8(host.dialogs[0].Text),
                "Confirma impressão do Relatório de Produtos?");
      EXPECT_EQ(host.dialogs[0].Kind, plat::tmPergunta);
      EXPECT_EQ(host.dialogs[0].Scheme, "ESQ");
    }
    std::vector<std::string> methods = host.Emu().Methods();
    if (!tc.prints) {
      EXPECT_TRUE(methods.empty());
      continue;
    }
    std::vector<std::string> start{"OpenNoFiscal"};
    if (!tc.flagIn) start.insert(start.begin(), "CloseNoFiscal");
    EXPECT_EQ(std::vector<std::string>(methods.begin(),
                                       methods.begin() + static_cast<long>(start.size())),
              start);
    EXPECT_EQ(methods.back(), "CloseNoFiscal");
  }
}

TEST(RelatorioProduto, NoProductsClosesTheCallersDocumentOnly) {
  testhost::DriverHost host;
  auto products = Products({});
  Report r;
  r.flag = false;
  r.Run(host, products.get());
  EXPECT_TRUE(r.flag);
  EXPECT_EQ(host.CommandTexts(), (Texts{kClose}));
  EXPECT_EQ(LogTexts(host), (Texts{"Relatorio_Produto", "CloseNoFiscal"}));
}

TEST(RelatorioProduto, CreatesTheFormWhenTheDriverIsNotStarted) {
  testhost::DriverHost host(false);
  auto products = Sales(10);
  Report r;
  r.Run(host, products.get());
  EXPECT_TRUE(host.dialogs.empty());
  EXPECT_EQ(host.Emu().Methods().back(), "CloseNoFiscal");
  EXPECT_EQ(host.Emu().Journal().back().Result != 0, true);
}

TEST(RelatorioProduto, FailuresShowTheDialogAndLeaveTheDocumentOpen) {
  testhost::DriverHost host;
  auto products = testhost::MakeDataSet({{"CDPRODUTO", FieldType::String},
                                         {"NMPRODUTO", FieldType::String},
                                         {"QTPRODVEND", FieldType::Float},
                                         {"VRTOTAL", FieldType::Float}},
                                        {{"1", "A", 1.0, 2.0}, {"2", "B", 1.0, 3.0}});
  products->Next();
  Report r;
  r.Run(host, products.get());
  EXPECT_EQ(products->RecNo(), 2);  // the host's cursor stays
  ASSERT_EQ(host.dialogs.size(), 1u);
  EXPECT_EQ(host.dialogs[0].Kind, plat::tmErro);
  EXPECT_EQ(host.dialogs[0].Scheme, "ESQ");
  EXPECT_NE(host.dialogs[0].Text.find("VRACRE"), std::string::npos);
  EXPECT_EQ(host.Emu().Model().State(), plat::FiscalPrinterModel::DocState::NonFiscal);

  host.dialogs.clear();
  r.Run(host, nullptr);
  ASSERT_EQ(host.dialogs.size(), 1u);
  EXPECT_EQ(host.dialogs[0].Kind, plat::tmErro);

  host.BreakLog();  // the first log line is outside the handler
  EXPECT_THROW(CALL(host, Relatorio_Produto)("", "", "", "", "", r.cupomDia, products.get(), "N",
                                             "N", "ESQ", r.flag),
               plat::Exception);
}

}  // namespace
}  // namespace closingtest
