// SPDX-License-Identifier: Apache-2.0
// Opening a ticket or an invoice: commands, log lines and the bundle handed back.
#include "tests/sales/sales_support.h"

namespace salestest {
namespace {

using testhost::A;

class OpenTest : public SalesTest {
 protected:
  // The six pairs handed back, in order, as (key, value) with the value's kind.
  void ExpectHandedBack(const Variant& bundle, int tefErro = 0) {
    ASSERT_TRUE(bundle.IsArray());
    ASSERT_EQ(bundle.Count(), 6);
    const char* keys[] = {"INTTEFERRO",     "INCLUICPF", "INCLUINOME",
                          "INCLUIENDERECO", "CUPNR",     "CONTCUPOM"};
    const Variant values[] = {Variant(tefErro),   Variant("S"),  Variant("Juan"),
                              Variant("Calle 1"), Variant("15"), Variant("3")};
    for (int i = 0; i < 6; ++i) {
      ASSERT_EQ(bundle[i].Count(), 2);
      EXPECT_EQ(bundle[i][0], Variant(keys[i]));
      EXPECT_EQ(bundle[i][1], values[i]) << keys[i];
    }
    EXPECT_EQ(bundle[0][1].Type(), plat::VarType::Integer);
  }
};

TEST_P(OpenTest, KindsOtherThanTicketAndInvoiceSendAndLogNothing) {
  for (const char* kind : {"t", "a", "B", "", "TX", "AC"}) {
    Restart();
    Variant params = OpenBundle(kind);
    EXPECT_FALSE(CALL(host, AbreCupom)(params)) << kind;
    EXPECT_TRUE(host.Emu().Journal().empty()) << kind;
    EXPECT_TRUE(host.Log().empty()) << kind;
    EXPECT_TRUE(host.dialogs.empty()) << kind;
    ExpectHandedBack(params);
  }
}

TEST_P(OpenTest, TicketLogsTheKindAndArgumentWhateverTheAnswer) {
  struct Case {
    bool refuse;
    bool expected;
  } cases[] = {{false, true}, {true, false}};
  for (const Case& c : cases) {
    Restart();
    host.Emu().ClearRules();
    if (c.refuse) host.Emu().Refuse("OpenTicket");
    Variant params = OpenBundle("T");
    EXPECT_EQ(CALL(host, AbreCupom)(params), c.expected);
    EXPECT_EQ(host.CommandTexts(), Texts{"OpenTicket(G)"});
    EXPECT_EQ(host.Log(), Lines{"AbreCupom(OpenTicket) :T - G"});
    EXPECT_TRUE(host.dialogs.empty());
    ExpectHandedBack(params);
  }
}

TEST_P(OpenTest, InvoiceSendsTheBuyersDataInItsNineteenPlaces) {
  for (const char* letter : {"A", "C"}) {
    Restart();
    host.Emu().Model() = plat::FiscalPrinterModel();
    const std::string l = letter;
    Variant params = plat::MakeBundle({{"ESQUEMACOR", "AZUL"},
                                       {"INCLUICPF", "S"},
                                       {"INCLUINOME", A("Juan Muñoz de la Peña")},
                                       {"INCLUIENDERECO", A("Avenida Córdoba 1234, piso 5")},
                                       {"CUPNR", "15"},
                                       {"CONTCUPOM", "3"},
                                       {"TIPOTICKET", letter},
                                       {"IVACOMP", "Inscripto"},
                                       {"IVAPROP", ""},
                                       {"TIPODOC", "CUIT"},
                                       {"NRDOC", "20-12345678-9"},
                                       {"INTTEFERRO", 2}});
    EXPECT_TRUE(CALL(host, AbreCupom)(params));
    EXPECT_EQ(host.CommandTexts(), Texts{"OpenInvoice(T|C|" + l +
                                         "|1|F||I||Juan Muñoz de la Peña||CUIT|20-12345678-9|B|"
                                         "Avenida Córdoba 1234, piso 5|||||C)"});
    EXPECT_EQ(host.Log(), Lines{A("AbreCupom(OpenInVoice): " + l +
                                  " - T - I -  - Juan Muñoz de la Peña - CUIT - 20-12345678-9 - "
                                  "Avenida Córdoba 1234, piso 5")});
    EXPECT_EQ(params[0][1], Variant(2));
  }
}

TEST_P(OpenTest, LogShowsTheArgumentsAsTheControlLeftThem) {
  host.Emu().WriteArgAfter("OpenTicket", 0, u"X");
  Variant ticket = OpenBundle("T");
  EXPECT_TRUE(CALL(host, AbreCupom)(ticket));
  EXPECT_EQ(host.CommandTexts(), Texts{"OpenTicket(G)"});
  EXPECT_EQ(host.Log(), Lines{"AbreCupom(OpenTicket) :T - X"});

  Restart();
  host.Emu().Model() = plat::FiscalPrinterModel();
  host.Emu().WriteArgAfter("OpenInvoice", 8, u"Otro");
  Variant invoice = OpenBundle("A");
  EXPECT_TRUE(CALL(host, AbreCupom)(invoice));
  EXPECT_EQ(host.Log(),
            Lines{"AbreCupom(OpenInVoice): A - T - R - M - Otro - DNI - 20123 - Calle 1"});
  ExpectHandedBack(invoice);
}

TEST_P(OpenTest, TefErrorComesBackAsAnIntegerFromText) {
  Variant params = plat::MakeBundle({{"TIPOTICKET", "T"},
                                     {"INTTEFERRO", "7"},
                                     {"INCLUICPF", "S"},
                                     {"INCLUINOME", "Juan"},
                                     {"INCLUIENDERECO", "Calle 1"},
                                     {"CUPNR", "15"},
                                     {"CONTCUPOM", "3"},
                                     {"MESA", "9"}});
  EXPECT_TRUE(CALL(host, AbreCupom)(params));
  ExpectHandedBack(params, 7);
}

TEST_P(OpenTest, UnconvertibleTefErrorRaisesBeforeAnythingIsSent) {
  Variant params = OpenBundle("T");
  params[13][1] = Variant("abc");
  ASSERT_EQ(params[13][0], Variant("INTTEFERRO"));
  const Variant passed = params;
  EXPECT_THROW(CALL(host, AbreCupom)(params), plat::Exception);
  EXPECT_EQ(params, passed);
  EXPECT_TRUE(host.Emu().Journal().empty());
  EXPECT_TRUE(host.Log().empty());
  EXPECT_TRUE(host.dialogs.empty());
}

TEST_P(OpenTest, BrokenLogAfterAnAcceptedOpenAnswersFalseWithTheDialog) {
  host.BreakLog();
  Variant params = OpenBundle("T");
  EXPECT_FALSE(CALL(host, AbreCupom)(params));
  EXPECT_EQ(host.Emu().Model().State(), plat::FiscalPrinterModel::DocState::Ticket);
  ASSERT_EQ(host.dialogs.size(), 1u);
  EXPECT_EQ(host.dialogs[0].Kind, plat::tmErro);
  EXPECT_EQ(host.dialogs[0].Scheme, "AZUL");
  EXPECT_EQ(host.dialogs[0].Arg3, "N");
  EXPECT_EQ(host.dialogs[0].Arg4, "N");
  ExpectHandedBack(params);
  host.RepairLog();
}

TEST_P(OpenTest, ControlFailureShowsItsMessageAndStillHandsTheBundleBack) {
  host.Emu().RaiseOn("OpenInvoice", "printer jammed");
  Variant params = OpenBundle("C");
  EXPECT_FALSE(CALL(host, AbreCupom)(params));
  ASSERT_EQ(host.dialogs.size(), 1u);
  EXPECT_EQ(host.dialogs[0].Text, "printer jammed");
  EXPECT_EQ(host.dialogs[0].Scheme, "AZUL");
  EXPECT_TRUE(host.Log().empty());
  ExpectHandedBack(params);
}

INSTANTIATE_TEST_SUITE_P(Separators, OpenTest, ::testing::Values('.', ','));

}  // namespace
}  // namespace salestest
