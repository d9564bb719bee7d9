// SPDX-License-Identifier: Apache-2.0
// Closing a ticket or an invoice: subtotal, discount, payments, closing, the answer array.
#include <functional>

#include "printer/status.h"
#include "tests/sales/sales_support.h"

namespace salestest {
namespace {

using plat::FieldType;

// A money movement: kind, card code, receipt type, original receipt type, amount.
struct Mov {
  const char* kind;
  const char* card;
  const char* type;
  const char* origType;
  double amount;
};

Variant MovPacket(const std::vector<Mov>& movs) {
  std::vector<std::vector<Variant>> rows;
  for (const Mov& m : movs) {
    rows.push_back({m.kind == nullptr ? Variant::Null() : Variant(m.kind), Variant(m.card),
                    Variant(m.type), Variant(m.origType), Variant(m.amount)});
  }
  return testhost::MoneyMovements(rows)->Data();
}

ArfisOpenArray CloseArray(const AnsiString& kind, double discount, const Variant& movs) {
  return testhost::CloseArray("AZUL", kind, discount, movs);
}

Variant Answer() {
  return plat::VarArrayOf({Variant(), Variant(), Variant()});
}
Variant Answered(const char* number = "00000042") {
  return plat::VarArrayOf({Variant(0), Variant(number), Variant("")});
}

class CloseTest : public SalesTest {};

// A sale of 50 with a discount of 5, one cash payment, one card payment and a movement that
// is not a payment.
const std::vector<Mov> kTwoPayments = {
    {"E", "", "1", "", 20}, {"S", "", "1", "", 99}, {"E", "VISA", "9", "2", 25}};

TEST_P(CloseTest, TicketWithDiscountAndTwoPayments) {
  OpenWithItem("T", 2, 25, Num("21"));
  plat::TStringList voucher;
  voucher.Add("TARJETA VISA");
  Variant answer = Answer();
  EXPECT_TRUE(
      CALL(host, FechaCupom)(CloseArray("T", 5, MovPacket(kTwoPayments)), &voucher, answer));
  EXPECT_EQ(
      host.CommandTexts(),
      NumAll(Texts{"GetTicketSubtotal(P|Subtotal)", "SendTicketPayment(Descuento|000005.00|D)",
                   "SendTicketPayment(Efectivo|000020.00|T)",
                   "SendTicketPayment(Tarjeta|000025.00|T)", "CloseTicket()"}));
  EXPECT_EQ(host.Log(),
            NumAll(Lines{"FechaCupom", "GetTicketSubtotal:  - P - Subtotal",
                         "SendTicketPayment:  - Descuento - 000005.00 - D",
                         "SendTicketPayment:  - Efectivo - 000020.00 - T",
                         "SendTicketPayment:  - Tarjeta - 000025.00 - T", "CloseTicket"}));
  EXPECT_EQ(answer, Answered());
  EXPECT_EQ(answer[0].Type(), plat::VarType::Integer);
  EXPECT_EQ(host.Emu().Model().State(), plat::FiscalPrinterModel::DocState::Idle);
  for (const auto& line : host.Emu().Paper())
    EXPECT_EQ(line.find("TARJETA VISA"), std::string::npos);
  EXPECT_TRUE(host.dialogs.empty());
}

// Paper low keeps a new document from being opened, but the open one is finished.
TEST_P(CloseTest, WarningsOfThePrinterNeverStopASale) {
  OpenWithItem("T", 2, 25, Num("21"));
  host.Emu().Model().SetWarnings(plat::status::kPaperLow,
                                 plat::status::kBatteryLow | plat::status::kFiscalMemoryAlmostFull);
  struct Quiet {
    plat::FiscalPrinterModel& m;
    ~Quiet() { m.SetWarnings(0, 0); }
  } quiet{host.Emu().Model()};
  Variant answer = Answer();
  EXPECT_TRUE(CALL(host, FechaCupom)(CloseArray("T", 5, MovPacket(kTwoPayments)), nullptr, answer));
  EXPECT_EQ(host.Emu().Model().State(), plat::FiscalPrinterModel::DocState::Idle);
  EXPECT_EQ(host.Emu().Model().GetCounters().LastTicketDone, 1);
  EXPECT_TRUE(host.dialogs.empty());
}

TEST_P(CloseTest, InvoiceWithDiscountAndTwoPayments) {
  OpenWithItem("A", 1, 121, Num("21"));
  Variant answer = Answer();
  const std::vector<Mov> movs = {{"E", "", "1", "", 16}, {"E", "VISA", "9", "2", 100}};
  EXPECT_TRUE(CALL(host, FechaCupom)(CloseArray("A", 5, MovPacket(movs)), nullptr, answer));
  EXPECT_EQ(
      host.CommandTexts(),
      NumAll(Texts{"GetInvoiceSubtotal(P|Subtotal)", "SendInvoicePayment(Descuento|000005.00|D)",
                   "SendInvoicePayment(Efectivo|000016.00|T)",
                   "SendInvoicePayment(Tarjeta|000100.00|T)", "CloseInvoice(T|A|)"}));
  EXPECT_EQ(host.Log(), NumAll(Lines{"FechaCupom", "GetInvoiceSubtotal:  - P - Subtotal",
                                     "SendInvoicePayment:  - Descuento - 000005.00 - D",
                                     "SendInvoicePayment:  - Efectivo - 000016.00 - T",
                                     "SendInvoicePayment:  - Tarjeta - 000100.00 - T",
                                     "CloseInvoice:  - T - A - "}));
  EXPECT_EQ(answer, Answered());
}

// The running success flag: each answer replaces it; payments and the closing only follow
// an accepted step, but every payment is tried once the walk has started.
TEST_P(CloseTest, RefusalChains) {
  struct Case {
    const char* name;
    double discount;
    std::vector<Mov> movs;
    std::function<void(plat::FiscalEmulator&)> script;
    std::vector<std::string> methods;
    bool result;
  } cases[] = {
      {"all accepted, no discount",
       0,
       {{"E", "", "1", "", 30}, {"E", "", "1", "", 20}},
       [](plat::FiscalEmulator&) {},
       {"GetTicketSubtotal", "SendTicketPayment", "SendTicketPayment", "CloseTicket"},
       true},
      {"subtotal refused, discount accepted",
       5,
       {{"E", "", "1", "", 45}},
       [](plat::FiscalEmulator& e) { e.Refuse("GetTicketSubtotal"); },
       {"GetTicketSubtotal", "SendTicketPayment", "SendTicketPayment", "CloseTicket"},
       true},
      {"subtotal refused, no discount",
       0,
       {{"E", "", "1", "", 50}},
       [](plat::FiscalEmulator& e) { e.Refuse("GetTicketSubtotal"); },
       {"GetTicketSubtotal"},
       false},
      {"discount refused",
       5,
       {{"E", "", "1", "", 45}},
       [](plat::FiscalEmulator& e) { e.Refuse("SendTicketPayment", 1); },
       {"GetTicketSubtotal", "SendTicketPayment"},
       false},
      {"first of two payments refused",
       0,
       {{"E", "", "1", "", 20}, {"E", "", "1", "", 50}},
       [](plat::FiscalEmulator& e) { e.Refuse("SendTicketPayment", 1); },
       {"GetTicketSubtotal", "SendTicketPayment", "SendTicketPayment", "CloseTicket"},
       true},
      {"last payment refused",
       0,
       {{"E", "", "1", "", 20}, {"E", "", "1", "", 30}},
       [](plat::FiscalEmulator& e) { e.Refuse("SendTicketPayment", 2); },
       {"GetTicketSubtotal", "SendTicketPayment", "SendTicketPayment"},
       false},
      {"closing refused",
       0,
       {{"E", "", "1", "", 50}},
       [](plat::FiscalEmulator& e) { e.Refuse("CloseTicket"); },
       {"GetTicketSubtotal", "SendTicketPayment", "CloseTicket"},
       false},
      {"no payment rows: the subtotal decides",
       0,
       {{"S", "", "1", "", 50}, {nullptr, "", "1", "", 50}},
       [](plat::FiscalEmulator& e) { e.Refuse("CloseTicket"); },
       {"GetTicketSubtotal", "CloseTicket"},
       false},
  };
  for (const Case& c : cases) {
    host.Emu().Model() = plat::FiscalPrinterModel();
    host.Emu().ClearRules();
    OpenWithItem("T", 2, 25, Num("21"));
    c.script(host.Emu());
    Variant answer = Answer();
    EXPECT_EQ(
        CALL(host, FechaCupom)(CloseArray("T", c.discount, MovPacket(c.movs)), nullptr, answer),
        c.result)
        << c.name;
    EXPECT_EQ(host.Emu().Methods(), c.methods) << c.name;
    EXPECT_EQ(host.Log().size(), c.methods.size() + 1) << c.name;
    EXPECT_EQ(answer, Answered()) << c.name;
    EXPECT_TRUE(host.dialogs.empty()) << c.name;
  }
}

TEST_P(CloseTest, DatasetsAreLoadedEvenWhenNoPaymentIsSent) {
  OpenWithItem("T", 2, 25, Num("21"));
  host.Emu().Refuse("GetTicketSubtotal");
  ArfisOpenArray ar = CloseArray("T", 0, MovPacket({{"E", "", "1", "", 50}}));
  ar[32] = testhost::MakeDataSet({{"SALDO", FieldType::Float, 0}}, {{1.0}, {2.0}})->Data();
  Variant answer = Answer();
  EXPECT_FALSE(CALL(host, FechaCupom)(ar, nullptr, answer));
  EXPECT_EQ(Form().cdsMovCaixa.RecordCount(), 1);
  EXPECT_EQ(Form().cdsRecebAux.RecordCount(), 3);
  EXPECT_EQ(Form().cdsSaldCred.RecordCount(), 2);
  // A host without consumer-credit data passes nothing there.
  EXPECT_FALSE(Form().cdsEmprestimo.Active());
}

TEST_P(CloseTest, UnknownReceiptTypePrintsItsCodeNotTheRowTheTableStoodOn) {
  OpenWithItem("T", 2, 25, Num("21"));
  Variant answer = Answer();
  const std::vector<Mov> movs = {{"E", "", "2", "", 20}, {"E", "", "77", "", 30}};
  EXPECT_TRUE(CALL(host, FechaCupom)(CloseArray("T", 0, MovPacket(movs)), nullptr, answer));
  EXPECT_EQ(host.CommandTexts(),
            NumAll(Texts{"GetTicketSubtotal(P|Subtotal)", "SendTicketPayment(Tarjeta|000020.00|T)",
                         "SendTicketPayment(77|000030.00|T)", "CloseTicket()"}));
}

TEST_P(CloseTest, PaymentOfAMillionKeepsAllItsDigits) {
  OpenWithItem("T", 1, 1234567.5, Num("21"));
  Variant answer = Answer();
  EXPECT_TRUE(CALL(host, FechaCupom)(
      CloseArray("T", 0, MovPacket({{"E", "", "1", "", 1234567.509}})), nullptr, answer));
  EXPECT_EQ(host.Commands("SendTicketPayment")[0].Args[1], plat::AnsiToWide(Num("1234567.50")));
}

TEST_P(CloseTest, AnswerArrayIsFilledWhateverHappensInside) {
  struct Case {
    const char* name;
    const char* kind;
    std::function<void(ArfisOpenArray&)> prepare;
    const char* dialog;  // the dialog's text, or null for none
  } cases[] = {
      {"lower-case kind", "t", [](ArfisOpenArray&) {}, nullptr},
      {"empty kind", "", [](ArfisOpenArray&) {}, nullptr},
      {"kind B", "B", [](ArfisOpenArray&) {}, nullptr},
      {"control raises", "T",
       [this](ArfisOpenArray&) { host.Emu().RaiseOn("GetTicketSubtotal", "sin papel"); },
       "sin papel"},
      {"movements without the kind field", "T",
       [](ArfisOpenArray& ar) {
         ar[13] = testhost::MakeDataSet({{"X", FieldType::String, 1}}, {{"E"}})->Data();
       },
       ""},
      {"credit data that is not a dataset", "T", [](ArfisOpenArray& ar) { ar[33] = Variant("x"); },
       ""},
  };
  for (const Case& c : cases) {
    host.Emu().Model() = plat::FiscalPrinterModel();
    host.Emu().ClearRules();
    OpenWithItem("T", 2, 25, Num("21"));
    ArfisOpenArray ar = CloseArray(c.kind, 5, MovPacket(kTwoPayments));
    c.prepare(ar);
    Variant answer = Answer();
    EXPECT_FALSE(CALL(host, FechaCupom)(ar, nullptr, answer)) << c.name;
    EXPECT_EQ(answer, Answered()) << c.name;
    ASSERT_FALSE(host.Log().empty()) << c.name;
    EXPECT_EQ(host.Log()[0], "FechaCupom") << c.name;
    ASSERT_EQ(host.dialogs.size(), c.dialog ? 1u : 0u) << c.name;
    if (c.dialog) {
      EXPECT_EQ(host.dialogs[0].Scheme, "AZUL") << c.name;
      EXPECT_EQ(host.dialogs[0].Kind, plat::tmErro) << c.name;
      if (*c.dialog) {
        EXPECT_EQ(host.dialogs[0].Text, c.dialog) << c.name;
      }
    }
    if (AnsiString(c.kind) != "T") {
      EXPECT_TRUE(host.Emu().Journal().empty()) << c.name;
      EXPECT_EQ(host.Log(), Lines{"FechaCupom"}) << c.name;
    }
  }
}

TEST_P(CloseTest, BadArraysRaiseToTheHostBeforeAnythingIsLogged) {
  struct Case {
    const char* name;
    std::function<void(ArfisOpenArray&)> spoil;
  } cases[] = {
      {"42 elements", [](ArfisOpenArray& ar) { ar.resize(42); }},
      {"no elements", [](ArfisOpenArray& ar) { ar.clear(); }},
      {"movements not a dataset", [](ArfisOpenArray& ar) { ar[13] = Variant("x"); }},
      {"receipt types empty", [](ArfisOpenArray& ar) { ar[14] = Variant(); }},
      {"discount not a number", [](ArfisOpenArray& ar) { ar[6] = Variant("cinco"); }},
      {"text position holding an array",
       [](ArfisOpenArray& ar) { ar[20] = plat::VarArrayOf({Variant(1)}); }},
  };
  for (const Case& c : cases) {
    Restart();
    ArfisOpenArray ar = CloseArray("T", 5, MovPacket(kTwoPayments));
    c.spoil(ar);
    Variant answer = Answer();
    EXPECT_THROW(CALL(host, FechaCupom)(ar, nullptr, answer), plat::Exception) << c.name;
    EXPECT_EQ(answer, Answer()) << c.name;
    EXPECT_TRUE(host.Log().empty()) << c.name;
    EXPECT_TRUE(host.Emu().Journal().empty()) << c.name;
    EXPECT_TRUE(host.dialogs.empty()) << c.name;
  }
}

TEST_P(CloseTest, AnswerThatIsNotAThreeElementArrayRaisesWithoutPartialWrites) {
  OpenWithItem("T", 2, 25, Num("21"));
  Variant notArray("x");
  EXPECT_THROW(CALL(host, FechaCupom)(CloseArray("t", 0, MovPacket({})), nullptr, notArray),
               plat::Exception);
  EXPECT_EQ(notArray, Variant("x"));
  Variant two = plat::VarArrayOf({Variant("a"), Variant("b")});
  EXPECT_THROW(CALL(host, FechaCupom)(CloseArray("t", 0, MovPacket({})), nullptr, two),
               plat::Exception);
  EXPECT_EQ(two, plat::VarArrayOf({Variant("a"), Variant("b")}));
}

INSTANTIATE_TEST_SUITE_P(Separators, CloseTest, ::testing::Values('.', ','));

}  // namespace
}  // namespace salestest
