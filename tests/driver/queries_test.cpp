// SPDX-License-Identifier: Apache-2.0
// Printer state, clock and identity queries, through the package as a host calls them.
#include <gtest/gtest.h>

#include "platform/dataset.h"
#include "tests/support/harness.h"

namespace {

using plat::AnsiString;
using plat::MakeBundle;
using testhost::DriverHost;

plat::Variant HostBundle() {
  return MakeBundle({{"ESQUEMA", "ESQ"},
                     {"DATAATUIMP", "S"},
                     {"ECFIMP", "0003"},
                     {"REDIMP", "12"},
                     {"SERIEIMP", "SER-1"},
                     {"DATAIMP", "01/01/26 00:00"}});
}

// The host's settings file, enciphered with the driver's key.
void WriteSettings(DriverHost& host, const AnsiString& ecf, const AnsiString& serie) {
  auto cds = testhost::MakeDataSet(
      {{"NRECFCAIXA", plat::FieldType::String, 40}, {"NRSERIEECF", plat::FieldType::String, 40}},
      {{plat::Cripto(ecf, 7), plat::Cripto(serie, 7)}});
  cds->SaveToFile(host.PathOf("Quorilo.cds"));
}

TEST(PrinterClock, AnswerFieldsGiveDateTextAndLogLine) {
  struct Case {
    std::vector<plat::WideString> fields;
    AnsiString text;  // DATAIMP handed back
  };
  const Case cases[] = {{{u"261207", u"204512"}, "07/12/26 20:45"},
                        {{u"2612", u"20"}, "/12/26 20:"},  // short answers: as far as they go
                        {{}, "// :"}};
  for (const auto& c : cases) {
    DriverHost host;
    host.ClearLog();
    WriteSettings(host, "0007", "SER-99");
    host.Emu().SetFieldsAfter("SetGetDateTime", c.fields);
    plat::Variant params = HostBundle();
    EXPECT_TRUE(CALL(host, Carrega_Dados_Impressora)(params));
    EXPECT_EQ(params, MakeBundle({{"DATAATUIMP", "S"},
                                  {"ECFIMP", "0007"},
                                  {"REDIMP", "12"},
                                  {"SERIEIMP", "SER-99"},
                                  {"DATAIMP", c.text}}));
    EXPECT_EQ(host.CommandTexts(), std::vector<std::string>{"SetGetDateTime(G||)"});
    const auto space = c.text.find(' ');
    EXPECT_EQ(host.Log(), std::vector<AnsiString>{"getDataImp:  - " + c.text.substr(0, space) +
                                                  " - " + c.text.substr(space + 1)});
  }
}

TEST(PrinterClock, VerificaDataConvertsThePrinterClock) {
  DriverHost host;
  host.Emu().SetFieldsAfter("SetGetDateTime", {u"261207", u"204512"});
  plat::TDateTime dt = 0;
  AnsiString stData = "host text";
  EXPECT_TRUE(CALL(host, VerificaData)("ESQ", dt, "", stData, false));
  EXPECT_DOUBLE_EQ(dt, plat::EncodeDate(2026, 12, 7) + plat::EncodeTime(20, 45, 0));
  EXPECT_EQ(stData, "host text");
}

TEST(PrinterClock, RefusedDateCommandMakesVerificaDataRaise) {
  DriverHost host;
  host.Emu().Refuse("SetGetDateTime");
  plat::TDateTime dt = 5;
  EXPECT_THROW(CALL(host, VerificaData)("ESQ", dt, "", "01/02/26 03:04", false),
               plat::EConvertError);
  EXPECT_EQ(dt, 5);
  EXPECT_TRUE(host.dialogs.empty());
}

TEST(PrinterClock, FailureShowsDialogAndCallerKeepsItsText) {
  DriverHost host;
  host.Emu().RaiseOn("SetGetDateTime", "no link");
  plat::TDateTime dt = 0;
  EXPECT_TRUE(CALL(host, VerificaData)("ESQ", dt, "", "01/02/26 03:04", false));
  EXPECT_DOUBLE_EQ(dt, plat::EncodeDate(2026, 2, 1) + plat::EncodeTime(3, 4, 0));
  ASSERT_EQ(host.dialogs.size(), 1u);
  EXPECT_EQ(host.dialogs[0].Text, "no link");
  EXPECT_EQ(host.dialogs[0].Scheme, "ESQ");
  EXPECT_EQ(host.dialogs[0].Kind, plat::tmErro);

  WriteSettings(host, "1", "2");
  plat::Variant params = HostBundle();
  EXPECT_TRUE(CALL(host, Carrega_Dados_Impressora)(params));
  EXPECT_EQ(plat::RecebeParams(params, "DATAIMP").AsString(), "01/01/26 00:00");
}

TEST(PrinterIdentity, WithoutSettingsFileHandsValuesBack) {
  DriverHost host;
  plat::Variant params = HostBundle();
  EXPECT_FALSE(CALL(host, Carrega_Dados_Impressora)(params));
  EXPECT_EQ(params, MakeBundle({{"DATAATUIMP", "S"},
                                {"ECFIMP", "0003"},
                                {"REDIMP", "12"},
                                {"SERIEIMP", "SER-1"},
                                {"DATAIMP", "01/01/26 00:00"}}));
  EXPECT_TRUE(host.Emu().Journal().empty());
}

TEST(PrinterIdentity, BadSettingsFileRaisesToHost) {
  DriverHost host;
  auto cds = testhost::MakeDataSet(
      {{"NRECFCAIXA", plat::FieldType::String, 40}, {"NRSERIEECF", plat::FieldType::String, 40}},
      {{"not hex", "zz"}});
  cds->SaveToFile(host.PathOf("Quorilo.cds"));
  plat::Variant params = HostBundle();
  EXPECT_THROW(CALL(host, Carrega_Dados_Impressora)(params), plat::EConvertError);
}

TEST(PrinterState, EstadoImpTestsTheFirstAnswerField) {
  struct Case {
    std::vector<plat::WideString> fields;
    bool expected;
  };
  const Case cases[] = {{{u"0000", u"0600"}, true}, {{u""}, false}, {{}, false}, {{u"0"}, true}};
  for (const auto& c : cases) {
    for (bool flag : {false, true}) {
      DriverHost host;
      host.Emu().SetFieldsAfter("Status", c.fields);
      EXPECT_EQ(CALL(host, Estado_Imp)("", flag, !flag), c.expected);
      EXPECT_EQ(host.CommandTexts(), std::vector<std::string>{"Status(N)"});
    }
  }
}

TEST(PrinterState, NrCupomRepeatsTheLastAnswerWithoutSending) {
  DriverHost host;
  ASSERT_TRUE(CALL(host, Leitura_X_Imp)("", "ESQ", ""));
  host.ClearLog();
  host.Emu().ClearJournal();
  EXPECT_EQ(CALL(host, Nr_Cupom)("", ""), "00001");
  EXPECT_EQ(CALL(host, Nr_Cupom)("", ""), "00001");
  EXPECT_EQ(host.Log(), (std::vector<AnsiString>{"Nr_Cupom: 00001", "Nr_Cupom: 00001"}));
  EXPECT_TRUE(host.Emu().Journal().empty());
}

}  // namespace
