// SPDX-License-Identifier: Apache-2.0
// The two-copy cash-out receipt, printed by GeraReciboSangria.
#include <gtest/gtest.h>

#include "tests/closing/day_closing_support.h"

namespace closingtest {
namespace {

const std::string kSep = kDashes + "\n";
const std::string kTitle1 = std::string(9, ' ') + "RECIBO SAÍDA NUMERÁRIO" + std::string(9, ' ');
const std::string kTitle2 =
    std::string(6, ' ') + "SAIDA DE NUMERARIO - SANGRIA" + std::string(6, ' ');
const std::string kHeading = Lt("MODALIDADE", 20) + " " + Rt("VALOR", 10);

std::string Detail(const std::string& env, const std::string& name, const std::string& amount) {
  return env + " " + Lt(name, 20) + " " + Rt(amount, 10);
}
std::string Total(const std::string& amount, int feeds) {
  return Lt("TOTAL SANGRIAS", 27) + Rt(amount, 15) + std::string(static_cast<size_t>(feeds), '\n');
}
// The receipt's part of the journal: up to its CloseNoFiscal.
Texts ReceiptCommands(testhost::DriverHost& host) {
  Texts all = host.CommandTexts(), out;
  for (const auto& c : all) {
    out.push_back(c);
    if (c == kClose) break;
  }
  return out;
}

TEST(ReciboSangria, WholeDocumentWithReasonNoteAndEnvelopeHeading) {
  testhost::DriverHost host;
  Closing c;
  c.movFecha = MovFecha(
      {{"001", "000001", "DINHEIRO", 150.5, 140.0}, {"002", "000002", "CHEQUE", -20.0, 0.0}});
  c.envelope = "S";
  c.tipoSangria = "TROCO";
  c.descSangria = "COFRE";
  EXPECT_FALSE(c.Run(host));

  const std::string heading = "NR. ENV " + kHeading;
  const std::string d1 = Detail("000001", "DINHEIRO", "150.50");
  const std::string d2 = Detail("000002", "CHEQUE", "-20.00");
  EXPECT_EQ(host.CommandTexts(), (Texts{kOpen,
                                        Send(kTitle1),
                                        Send(kSep),
                                        Send("Motivo: TROCO"),
                                        Send("Observacao: COFRE"),
                                        Send(kSep),
                                        Send(heading),
                                        Send(d1),
                                        Send(d2),
                                        Send(Total("130.50", 2)),
                                        Send(kSep),
                                        Send("Supervisor : 01 JOAO\n"),
                                        Send(kTitle2),
                                        Send(kSep),
                                        Send("Motivo: TROCO"),
                                        Send("Observacao: COFRE"),
                                        Send(kSep),
                                        Send(heading),
                                        Send(d1),
                                        Send(d2),
                                        Send(Total("130.50", 2)),
                                        Send(kSep),
                                        Send("Operador : 02 MARIA\n"),
                                        kClose}));
  EXPECT_EQ(LogTexts(host), (Texts{"GeraReciboSangria", "OpenNoFiscal", kTitle1, kSep, heading, d1,
                                   d2, kSep, "Supervisor : 01 JOAO\n", kTitle2, kSep, heading, d1,
                                   d2, kSep, "Operador : 02 MARIA\n", "CloseNoFiscal"}));
  EXPECT_TRUE(host.dialogs.empty());
}

TEST(ReciboSangria, ReasonAndNoteLinesAndTheSecondSeparator) {
  struct Case {
    std::string reason, note;
    Texts between;  // texts between the first title and the heading
  } cases[] = {
      {"", "", {kSep}},
      {"TROCO", "", {kSep, "Motivo: TROCO", kSep}},
      {"", "COFRE", {kSep, "Observacao: COFRE", kSep}},
      {"TROCO", "COFRE", {kSep, "Motivo: TROCO", "Observacao: COFRE", kSep}},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.reason + "/" + tc.note);
    testhost::DriverHost host;
    Closing c;
    c.tipoSangria = tc.reason;
    c.descSangria = tc.note;
    c.Run(host);
    const Texts sent = SentTexts(host);
    Texts between(sent.begin() + 1, sent.begin() + 1 + static_cast<long>(tc.between.size()));
    EXPECT_EQ(between, tc.between);
    EXPECT_EQ(sent[1 + tc.between.size()], kHeading);
    // One separator is logged between title and heading, whatever was printed.
    const Texts log = LogTexts(host);
    EXPECT_EQ(Texts(log.begin() + 2, log.begin() + 5), (Texts{kTitle1, kSep, kHeading}));
  }
}

TEST(ReciboSangria, LineCounterAddsAFeedToTheTotalOfEveryTenthLine) {
  struct Case {
    int rows, feeds1, feeds2;
  } cases[] = {{0, 2, 2}, {1, 2, 2}, {8, 3, 2}, {9, 2, 2}, {18, 3, 2}};
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.rows);
    testhost::DriverHost host;
    Closing c;
    Rows rows;
    for (int i = 0; i < tc.rows; ++i) rows.push_back({"001", "000001", "DINHEIRO", 1.0, 0.0});
    c.movFecha = MovFecha(rows);
    c.Run(host);
    const std::string amount = std::to_string(tc.rows) + ".00";
    Texts totals;
    for (const auto& s : SentTexts(host))
      if (s.rfind("TOTAL SANGRIAS", 0) == 0) totals.push_back(s);
    EXPECT_EQ(totals, (Texts{Total(amount, tc.feeds1), Total(amount, tc.feeds2)}));
  }
}

TEST(ReciboSangria, AmountFieldFollowsTheKindOfCashOut) {
  for (bool boSangria : {true, false}) {
    SCOPED_TRACE(boSangria);
    testhost::DriverHost host;
    Closing c;
    c.boSangria = boSangria;
    c.movFecha = MovFecha({{"001", "000001", "DINHEIRO", 150.5, -7.25}});
    c.Run(host);
    const std::string amount = boSangria ? "150.50" : "-7.25";
    const Texts sent = SentTexts(host);
    EXPECT_EQ(sent[3], Detail("000001", "DINHEIRO", amount));
    EXPECT_EQ(sent[4], Total(amount, 2));
  }
}

TEST(ReciboSangria, EmptyClosingDataLowerCaseEnvelopeFlagAndCommaSeparator) {
  testhost::DriverHost host;
  host.SetDecimalSeparator(',');
  Closing c;
  c.movFecha = MovFecha({});
  c.envelope = "s";
  c.Run(host);
  const Texts sent = SentTexts(host);
  EXPECT_EQ(Texts(sent.begin() + 2, sent.begin() + 4), (Texts{kHeading, Total("0,00", 2)}));
}

TEST(ReciboSangria, SignatureIsCutTo48Characters) {
  testhost::DriverHost host;
  Closing c;
  c.operSup = OperSup(std::string(60, 'S'), "ANA");
  c.Run(host);
  const std::string cut = ("Supervisor : 01 " + std::string(60, 'S')).substr(0, 48) + "\n";
  const Texts receipt = ReceiptCommands(host);
  EXPECT_EQ(receipt[7], Send(cut));
  EXPECT_EQ(receipt[14], Send("Operador : 02 ANA\n"));
}

}  // namespace
}  // namespace closingtest
