// SPDX-License-Identifier: Apache-2.0
// Opening-amount and cash-supply receipts.
#include <gtest/gtest.h>

#include "tests/support/harness.h"

namespace {

using plat::AnsiString;
using testhost::DriverHost;
using Texts = std::vector<std::string>;

TEST(Suprimento, PrintsOneLineBetweenOpenAndClose) {
  struct Case {
    bool entraCaixa;
    double value;
    char separator;
    AnsiString line;
  };
  const Case cases[] = {
      {false, 150, '.', "Suprimento 150.00"},     {true, 150, '.', "Aber_Caixa 150.00"},
      {false, 0, '.', "Suprimento 0.00"},         {false, -12.5, '.', "Suprimento -12.50"},
      {false, 1234.5, '.', "Suprimento 1234.50"}, {false, 150, ',', "Suprimento 150,00"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    DriverHost host;
    host.ClearLog();
    host.SetDecimalSeparator(c.separator);
    EXPECT_TRUE(CALL(host, Suprimento)("", "ESQ", c.value, c.entraCaixa));
    EXPECT_EQ(host.CommandTexts(),
              (Texts{"OpenNoFiscal()", "SendNoFiscalText(" + c.line + ")", "CloseNoFiscal()"}));
    EXPECT_EQ(host.Log(),
              (std::vector<AnsiString>{"OpenNoFiscal", "Suprimento: " + c.line, "CloseNoFiscal"}));
    EXPECT_TRUE(host.dialogs.empty());
  }
}

TEST(Suprimento, RefusalSkipsLaterCommandsButLogsAllThreeLines) {
  const Texts all = {"OpenNoFiscal()", "SendNoFiscalText(Suprimento 10.00)", "CloseNoFiscal()"};
  struct Case {
    const char* refused;
    size_t sent;
  };
  for (const Case c : {Case{"OpenNoFiscal", 1}, {"SendNoFiscalText", 2}, {"CloseNoFiscal", 3}}) {
    SCOPED_TRACE(c.refused);
    DriverHost host;
    host.ClearLog();
    host.Emu().Refuse(c.refused);
    EXPECT_FALSE(CALL(host, Suprimento)("", "ESQ", 10, false));
    EXPECT_EQ(host.CommandTexts(), Texts(all.begin(), all.begin() + c.sent));
    EXPECT_EQ(host.Log(), (std::vector<AnsiString>{"OpenNoFiscal", "Suprimento: Suprimento 10.00",
                                                   "CloseNoFiscal"}));
    EXPECT_TRUE(host.dialogs.empty());
  }
}

TEST(Suprimento, FailureShowsDialogAndAnswersFalse) {
  DriverHost host;
  host.Emu().RaiseOn("SendNoFiscalText", "paper jam");
  EXPECT_FALSE(CALL(host, Suprimento)("", "AZUL", 10, false));
  ASSERT_EQ(host.dialogs.size(), 1u);
  const auto& d = host.dialogs[0];
  EXPECT_EQ(std::tie(d.Text, d.Arg2, d.Arg3, d.Arg4, d.Kind, d.Arg6, d.Scheme, d.Arg8),
            std::make_tuple(AnsiString("paper jam"), AnsiString(), AnsiString("N"), AnsiString("N"),
                            plat::tmErro, AnsiString(), AnsiString("AZUL"), 0));
  EXPECT_EQ(d.Data, nullptr);
}

}  // namespace
