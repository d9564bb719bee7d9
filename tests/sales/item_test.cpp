// SPDX-License-Identifier: Apache-2.0
// Item lines: description cleaning, amount texts, invoice net price, log lines and failures.
#include "tests/sales/sales_support.h"

namespace salestest {
namespace {

using testhost::A;
using testhost::W;

class ItemTest : public SalesTest {
 protected:
  void Open(const AnsiString& kind) {
    Variant params = OpenBundle(kind);
    ASSERT_TRUE(CALL(host, AbreCupom)(params));
    Restart();
  }
  bool Cancel(const plat::WideString& name, const AnsiString& rate,
              const plat::WideString& qualifier, const plat::WideString& kind, double qty,
              double price) {
    return CALL(host, Cancela_ItGenerico)("AZUL", "x", name, plat::AnsiToWide(rate), qualifier,
                                          u"5", u"1.5", u"2", kind, qty, price);
  }
};

TEST_P(ItemTest, TicketAndInvoiceLinesCarryTheirAmountTexts) {
  struct Case {
    const char* kind;
    double qty;
    double price;
    const char* rate;
    const char* fields;  // quantity|price|rate as sent, '.' standing for the separator
  } cases[] = {
      // Quantity and price are cut, the rate is rounded.
      {"T", 1.999, 10.999, "10.559", "000001.99|000010.99|000010.56"},
      {"T", 2, 1234567.5, "21", "000002.00|1234567.50|000021.00"},
      // On an invoice the price goes without VAT.
      {"A", 1, 121, "21", "000001.00|000100.00|000021.00"},
      {"C", 3, 121, "21.00", "000003.00|000100.00|000021.00"},
      // The net price is taken with the rounded rate 10.56: 110.5599 / 1.1056 is just under
      // 100, with 10.559 it would be just over.
      {"A", 1, 110.5599, "10.559", "000001.00|000099.99|000010.56"},
      {"A", 1, 10, "0", "000001.00|000010.00|000000.00"},
  };
  for (const Case& c : cases) {
    host.Emu().Model() = plat::FiscalPrinterModel();
    Open(c.kind);
    const std::string kind = c.kind;
    EXPECT_TRUE(CALL(host, VendaItem)(ItemBundle("Agua", c.qty, c.price, c.kind, Num(c.rate))))
        << kind << " " << c.price;
    const std::string fields = NumAll(Texts{c.fields})[0];
    const std::string method = kind == "T" ? "SendTicketItem" : "SendInvoiceItem";
    const std::string tail = kind == "T" ? "|M|0|0|0)" : "|M|0|0|||||0)";
    EXPECT_EQ(host.CommandTexts(), Texts{method + "(Agua|" + fields + tail});
    std::string logFields = fields;
    for (size_t p = 0; (p = logFields.find('|', p)) != std::string::npos;)
      logFields.replace(p, 1, " - ");
    EXPECT_EQ(host.Log(), Lines{"VendaItem:  - Agua - " + logFields + " - M"});
    EXPECT_TRUE(host.dialogs.empty());
  }
}

TEST_P(ItemTest, DescriptionLosesOnlyTheEnye) {
  struct Case {
    std::string given;  // UTF-8
    std::string sent;
  } cases[] = {
      {"Ñoquis de piña", "Noquis de pina"},
      {"Café Ñandú àéíóú ÁÉÍÓÚ ü", "Café Nandú àéíóú ÁÉÍÓÚ ü"},
      {"ññÑÑ", "nnNN"},
      {"", ""},
  };
  Open("T");
  for (const Case& c : cases) {
    Restart();
    EXPECT_TRUE(CALL(host, VendaItem)(ItemBundle(A(c.given), 1, 1, "T", "21")));
    ASSERT_EQ(host.Commands("SendTicketItem").size(), 1u);
    EXPECT_EQ(host.Commands("SendTicketItem")[0].Args[0], W(c.sent));
  }
  // A wide description is cleaned in Windows-1252: what it cannot hold becomes '?'.
  Restart();
  EXPECT_TRUE(Cancel(u"Ñu\u4e2d", "21", u"M", u"T", 1, 1));
  EXPECT_EQ(host.Commands("SendTicketItem")[0].Args[0], u"Nu?");
}

TEST_P(ItemTest, DescriptionWithALineBreakStaysOnTheCallsOneLogLine) {
  Open("T");
  const std::string forged = "Agua\r\n08/12/2026 10:00:00 - CloseTicket";
  ASSERT_TRUE(CALL(host, VendaItem)(ItemBundle(forged, 1, 1, "T", "21")));
  // The printer gets the text as given; only its log line is escaped.
  EXPECT_EQ(host.Commands("SendTicketItem")[0].Args[0], W(forged));
  const Lines log = host.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].find("VendaItem:  - Agua\\r\\n08/12/2026 10:00:00 - CloseTicket - "), 0u)
      << log[0];
}

TEST_P(ItemTest, CancellationSendsTheHostsFieldsAndLogsThemAll) {
  Open("T");
  ASSERT_TRUE(CALL(host, VendaItem)(ItemBundle(A("Piña"), 2, 10, "T", Num("21"))));
  Restart();
  EXPECT_TRUE(Cancel(W("Piña"), Num("21"), u"m", u"T", 1, 10));
  const std::string one = Num("000001.00"), ten = Num("000010.00"), rate = Num("000021.00");
  EXPECT_EQ(host.CommandTexts(),
            Texts{"SendTicketItem(Pina|" + one + "|" + ten + "|" + rate + "|m|5|1.5|2)"});
  EXPECT_EQ(host.Log(), Lines{"Cancela_ItGenerico: Pina - " + one + " - " + ten + " - " + rate +
                              " - m - 5 - 1.5 - 2"});

  host.Emu().Model() = plat::FiscalPrinterModel();
  Open("A");
  ASSERT_TRUE(CALL(host, VendaItem)(ItemBundle("Pan", 1, 121, "A", Num("21"))));
  Restart();
  EXPECT_TRUE(Cancel(u"Pan", Num("21"), u"m", u"A", 1, 121));
  const std::string hundred = Num("000100.00");
  EXPECT_EQ(host.CommandTexts(),
            Texts{"SendInvoiceItem(Pan|" + one + "|" + hundred + "|" + rate + "|m|5|1.5|||||2)"});
  EXPECT_EQ(host.Log(), Lines{"Cancela_ItGenerico: Pan - " + one + " - " + hundred + " - " + rate +
                              " - m - 5 - 1.5 -  -  -  -  - 2"});
}

TEST_P(ItemTest, RefusedLineLeavesNoLogLine) {
  Open("T");
  // An empty qualifier goes out as given; this printer refuses it.
  EXPECT_FALSE(Cancel(u"Agua", Num("21"), u"", u"T", 1, 1));
  EXPECT_EQ(host.CommandTexts(), Texts{"SendTicketItem(Agua|" + Num("000001.00|000001.00|") +
                                       Num("000021.00") + "||5|1.5|2)"});
  host.Emu().Refuse("SendTicketItem");
  EXPECT_FALSE(CALL(host, VendaItem)(ItemBundle("Agua", 1, 1, "T", Num("21"))));
  EXPECT_TRUE(host.Log().empty());
  EXPECT_TRUE(host.dialogs.empty());
}

TEST_P(ItemTest, BrokenLogAfterAnAcceptedLineAnswersFalseWithTheDialog) {
  Open("T");
  host.BreakLog();
  EXPECT_FALSE(CALL(host, VendaItem)(ItemBundle("Agua", 1, 1, "T", Num("21"))));
  EXPECT_EQ(host.Emu().Model().DocumentTotalCents(), 100);
  ASSERT_EQ(host.dialogs.size(), 1u);
  EXPECT_EQ(host.dialogs[0].Kind, plat::tmErro);
  EXPECT_EQ(host.dialogs[0].Scheme, "AZUL");
  host.RepairLog();
}

TEST_P(ItemTest, RateIsReadBeforeTheKindIsLookedAt) {
  struct Case {
    const char* kind;
    const char* rate;
    bool dialog;
  } cases[] = {
      {"B", "abc", true}, {"", "", true},     {"T", "", true},   {"A", "21%", true},
      {"B", "21", false}, {"t", "21", false}, {"", "21", false},
  };
  Open("T");
  for (const Case& c : cases) {
    Restart();
    EXPECT_FALSE(CALL(host, VendaItem)(ItemBundle("Agua", 1, 1, c.kind, c.rate)))
        << c.kind << "/" << c.rate;
    EXPECT_FALSE(CALL(host, Cancela_ItGenerico)("ROJO", "", u"Agua", plat::AnsiToWide(c.rate), u"M",
                                                u"0", u"0", u"0", plat::AnsiToWide(c.kind), 1, 1));
    EXPECT_TRUE(host.Emu().Journal().empty());
    EXPECT_TRUE(host.Log().empty());
    ASSERT_EQ(host.dialogs.size(), c.dialog ? 2u : 0u) << c.kind << "/" << c.rate;
    if (c.dialog) {
      EXPECT_EQ(host.dialogs[0].Scheme, "AZUL");
      EXPECT_EQ(host.dialogs[1].Scheme, "ROJO");
    }
  }
}

TEST_P(ItemTest, RateOfMinusHundredGivesNoNetPrice) {
  Open("A");
  EXPECT_FALSE(CALL(host, VendaItem)(ItemBundle("Agua", 1, 10, "A", Num("-100"))));
  EXPECT_TRUE(host.Emu().Journal().empty());
  EXPECT_EQ(host.dialogs.size(), 1u);
}

TEST_P(ItemTest, UnconvertibleQuantityRaisesToTheHost) {
  Open("T");
  Variant params = ItemBundle("Agua", 1, 1, "T", "21");
  params[7][1] = Variant("uno");
  EXPECT_THROW(CALL(host, VendaItem)(params), plat::Exception);
  EXPECT_TRUE(host.Emu().Journal().empty());
  EXPECT_TRUE(host.dialogs.empty());
}

TEST_P(ItemTest, QuantityAndPriceAsTextsInTheHostsSeparator) {
  Open("T");
  Variant params = ItemBundle("Agua", 0, 0, "T", Num("21"));
  params[7][1] = Variant(Num("1.5"));
  params[8][1] = Variant(Num("2.25"));
  EXPECT_TRUE(CALL(host, VendaItem)(params));
  EXPECT_EQ(host.CommandTexts(),
            NumAll(Texts{"SendTicketItem(Agua|000001.50|000002.25|000021.00|M|0|0|0)"}));
}

INSTANTIATE_TEST_SUITE_P(Separators, ItemTest, ::testing::Values('.', ','));

}  // namespace
}  // namespace salestest
