// SPDX-License-Identifier: Apache-2.0
#include "printer/emulator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "printer/commands.h"
#include "printer/internal/model_ops.h"

namespace plat {
namespace {

using Args = std::vector<WideString>;

// Runs one command on the emulator with arguments held here, so that writes are visible.
struct Bench {
  FiscalEmulator emu;
  Args lastArgs;
  PrinterAnswer last;

  PrinterAnswer Run(const std::string& method, Args args = {}, int port = 1) {
    lastArgs = std::move(args);
    std::vector<WideString*> ptrs;
    for (auto& a : lastArgs) ptrs.push_back(&a);
    last = emu.Execute(port, method.c_str(), ptrs);
    return last;
  }
  std::string Field(size_t i) const {  // AnswerField_3 is Field(3)
    return i - 3 < last.Fields.size()
               ? std::string(last.Fields[i - 3].begin(), last.Fields[i - 3].end())
               : std::string();
  }
  // Convenience commands with the arguments the driver sends.
  int16_t OpenTicket() { return Run("OpenTicket", {u"G"}).Result; }
  int16_t OpenInvoice(const WideString& letter) {
    Args a(19);
    a[0] = u"T";
    a[1] = u"C";
    a[2] = letter;
    a[3] = u"1";
    a[4] = u"F";
    a[8] = u"Juan Perez";
    a[10] = u"DNI";
    a[11] = u"20123456";
    a[12] = u"B";
    a[13] = u"Calle 1";
    a[18] = u"C";
    return Run("OpenInvoice", a).Result;
  }
  int16_t TicketItem(const WideString& desc, const WideString& qty, const WideString& price,
                     const WideString& qualifier = u"M", const WideString& rate = u"000021.00") {
    return Run("SendTicketItem", {desc, qty, price, rate, qualifier, u"0", u"0", u"0"}).Result;
  }
  int16_t InvoiceItem(const WideString& desc, const WideString& qty, const WideString& price,
                      const WideString& rate, const WideString& qualifier = u"M") {
    return Run("SendInvoiceItem",
               {desc, qty, price, rate, qualifier, u"0", u"0", u"", u"", u"", u"", u"0"})
        .Result;
  }
  int16_t TicketPay(const WideString& amount, const WideString& q = u"T") {
    return Run("SendTicketPayment", {u"Efectivo", amount, q}).Result;
  }
  int16_t InvoicePay(const WideString& amount, const WideString& q = u"T") {
    return Run("SendInvoicePayment", {u"Efectivo", amount, q}).Result;
  }
  int16_t CloseTicket() { return Run("CloseTicket").Result; }
  int16_t CloseInvoice(const WideString& letter) {
    return Run("CloseInvoice", {u"T", letter, u""}).Result;
  }
  const FiscalPrinterModel::Counters& C() const { return emu.Model().GetCounters(); }
  bool PaperHas(const std::string& text) const {
    for (const auto& l : emu.Paper())
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
};

bool Refused(const PrinterAnswer& a, uint16_t bit) {
  return a.Result == 0 && (a.FiscalStatus & bit) && (a.FiscalStatus & status::kFiscalAny);
}

// ---- state machine

enum class Start { Idle, Ticket, InvoiceA, NonFiscal, TicketPaid };

void Prepare(Bench& b, Start s) {
  switch (s) {
    case Start::Idle:
      break;
    case Start::Ticket:
      ASSERT_TRUE(b.OpenTicket());
      ASSERT_TRUE(b.TicketItem(u"Cafe", u"000001.00", u"000010.00"));
      break;
    case Start::InvoiceA:
      ASSERT_TRUE(b.OpenInvoice(u"A"));
      ASSERT_TRUE(b.InvoiceItem(u"Cafe", u"000001.00", u"000010.00", u"000021.00"));
      break;
    case Start::NonFiscal:
      ASSERT_TRUE(b.Run("OpenNoFiscal").Result);
      break;
    case Start::TicketPaid:
      ASSERT_TRUE(b.OpenTicket());
      ASSERT_TRUE(b.TicketItem(u"Cafe", u"000001.00", u"000010.00"));
      ASSERT_TRUE(b.TicketPay(u"000010.00"));
      break;
  }
}

struct StateCase {
  const char* name;
  Start start;
  std::string method;
  Args args;
  bool accepted;
  uint16_t bit;  // refusal bit when not accepted
};

TEST(EmulatorStateTest, CommandsAreAcceptedOrRefusedByState) {
  const Args item = {u"Te", u"000001.00", u"000005.00", u"000021.00", u"M", u"0", u"0", u"0"};
  const Args invItem = {u"Te", u"000001.00", u"000005.00", u"000021.00", u"M", u"0",
                        u"0",  u"",          u"",          u"",          u"",  u"0"};
  Args invoiceOpen(19);
  invoiceOpen[0] = u"T";
  invoiceOpen[2] = u"C";
  const uint16_t S = status::kInvalidState;
  const std::vector<StateCase> cases = {
      {"item with nothing open", Start::Idle, "SendTicketItem", item, false, S},
      {"invoice item on a ticket", Start::Ticket, "SendInvoiceItem", invItem, false, S},
      {"ticket item on an invoice", Start::InvoiceA, "SendTicketItem", item, false, S},
      {"item after payment", Start::TicketPaid, "SendTicketItem", item, false, S},
      {"subtotal with nothing open",
       Start::Idle,
       "GetTicketSubtotal",
       {u"P", u"Subtotal"},
       false,
       S},
      {"invoice subtotal on a ticket", Start::Ticket, "GetInvoiceSubtotal", {u"P", u""}, false, S},
      {"payment with nothing open",
       Start::Idle,
       "SendTicketPayment",
       {u"E", u"1.00", u"T"},
       false,
       S},
      {"payment once paid",
       Start::TicketPaid,
       "SendTicketPayment",
       {u"E", u"1.00", u"T"},
       false,
       S},
      {"discount once paid",
       Start::TicketPaid,
       "SendTicketPayment",
       {u"D", u"1.00", u"D"},
       false,
       S},
      {"close ticket with nothing open", Start::Idle, "CloseTicket", {}, false, S},
      {"close ticket unpaid", Start::Ticket, "CloseTicket", {}, false, S},
      {"close invoice on a ticket", Start::TicketPaid, "CloseInvoice", {u"T", u"", u""}, false, S},
      {"second ticket open", Start::Ticket, "OpenTicket", {u"G"}, false, S},
      {"ticket open during non-fiscal", Start::NonFiscal, "OpenTicket", {u"G"}, false, S},
      {"invoice open during ticket", Start::Ticket, "OpenInvoice", invoiceOpen, false, S},
      {"non-fiscal open during invoice", Start::InvoiceA, "OpenNoFiscal", {}, false, S},
      {"text with no non-fiscal open", Start::Idle, "SendNoFiscalText", {u"x"}, false, S},
      {"text on a ticket", Start::Ticket, "SendNoFiscalText", {u"x"}, false, S},
      {"close non-fiscal with none open", Start::Ticket, "CloseNoFiscal", {}, false, S},
      {"X with a ticket open", Start::Ticket, "CloseJournal", {u"X", u"P"}, false, S},
      {"Z with a non-fiscal open", Start::NonFiscal, "CloseJournal", {u"Z", u""}, false, S},
      {"other journal kind",
       Start::Idle,
       "CloseJournal",
       {u"Q", u""},
       false,
       status::kInvalidField},
      {"two-letter ticket argument",
       Start::Idle,
       "OpenTicket",
       {u"GG"},
       false,
       status::kInvalidField},
      {"invoice letter Z", Start::Idle, "OpenInvoice",
       [] {
         Args a(19);
         a[0] = u"T";
         a[2] = u"Z";
         return a;
       }(),
       false, status::kInvalidField},
      {"invoice kind outside F, N, T, M", Start::Idle, "OpenInvoice",
       [] {
         Args a(19);
         a[0] = u"Q";
         a[2] = u"B";
         return a;
       }(),
       false, status::kInvalidField},
      {"close invoice of another kind",
       Start::InvoiceA,
       "CloseInvoice",
       {u"F", u"A", u""},
       false,
       status::kInvalidField},
      {"status mode outside its list", Start::Idle, "Status", {u"Q"}, false, status::kInvalidField},
      {"unknown method", Start::Idle, "PrintBarcode", {u"1"}, false, status::kUnknownCommand},
      {"missing arguments", Start::Idle, "OpenTicket", {}, false, status::kInvalidField},
      {"drawer while a ticket is open", Start::Ticket, "OpenCashDrawer", {u"1"}, true, 0},
      {"drawer while idle", Start::Idle, "OpenCashDrawer", {u"1"}, true, 0},
      {"status during a non-fiscal", Start::NonFiscal, "Status", {u"N"}, true, 0},
      {"ticket open letter outside C and G",
       Start::Idle,
       "OpenTicket",
       {u"S"},
       false,
       status::kInvalidField},
      {"invoice C open", Start::Idle, "OpenInvoice", invoiceOpen, true, 0},
      {"close paid ticket", Start::TicketPaid, "CloseTicket", {}, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b;
    Prepare(b, c.start);
    auto stateBefore = b.emu.Model().State();
    auto a = b.Run(c.method, c.args);
    if (c.accepted) {
      EXPECT_NE(a.Result, 0);
      EXPECT_EQ(a.FiscalStatus & status::kRefusalMask, 0);
    } else {
      EXPECT_TRUE(Refused(a, c.bit)) << std::hex << a.FiscalStatus;
      EXPECT_EQ(b.emu.Model().State(), stateBefore);
    }
  }
}

// The words a fiscalised printer answers: "0600" idle and "3600" with a ticket open, as the
// maker's examples show them; a non-fiscal document is bit 13 alone.
TEST(EmulatorStateTest, DocumentBitsFollowTheOpenDocument) {
  Bench b;
  EXPECT_EQ(b.Run("Status", {u"N"}).FiscalStatus, 0x0600);
  b.OpenTicket();
  EXPECT_EQ(b.last.FiscalStatus, 0x3600);
  b.Run("SendNoFiscalText", {u"x"});  // refused, the bits still describe the ticket
  EXPECT_EQ(b.last.FiscalStatus, 0x3600 | status::kInvalidState | status::kFiscalAny);
  b.TicketItem(u"Pan", u"1", u"2");
  b.TicketPay(u"2");
  b.CloseTicket();
  EXPECT_EQ(b.last.FiscalStatus, 0x0600);
  b.Run("OpenNoFiscal");
  EXPECT_EQ(b.last.FiscalStatus, 0x2600);
  EXPECT_EQ(ReadState(b.last.PrinterStatus, b.last.FiscalStatus).Document, OpenDocument::NonFiscal);
  b.Run("OpenCashDrawer", {u"1"});
  EXPECT_EQ(b.last.PrinterStatus, status::kDrawerOpen);
  b.Run("Status", {u"N"});
  EXPECT_EQ(b.last.PrinterStatus, 0);
}

// ---- fields

TEST(EmulatorFieldTest, NumberFieldsAreCheckedOnItems) {
  struct Case {
    WideString qty, price, rate, qualifier;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {u"000001.99", u"000010.00", u"000021.00", u"M", true},
      {u"1,5", u"10", u"21", u"M", true},
      {u"000001.00", u"1234567.50", u"000000.00", u"M", true},
      {u"abc", u"10", u"21", u"M", false},
      {u"", u"10", u"21", u"M", false},
      {u"1", u"", u"21", u"M", false},
      {u"1", u"10", u"", u"M", false},
      {u"1.2.3", u"10", u"21", u"M", false},
      {u"1e3", u"10", u"21", u"M", false},
      {u" 1.00", u"10", u"21", u"M", false},
      {u"1.", u"10", u"21", u"M", false},
      {u"-1", u"10", u"21", u"M", false},
      {u"0", u"10", u"21", u"M", false},
      {u"1", u"-10", u"21", u"M", false},
      {u"1", u"99999999999999", u"21", u"M", false},
      {u"1", u"10", u"21", u"X", false},
      {u"1", u"10", u"21", u"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.qty.begin(), c.qty.end()) + " / " +
                 std::string(c.price.begin(), c.price.end()));
    Bench b;
    b.OpenTicket();
    int16_t r = b.TicketItem(u"Cafe", c.qty, c.price, c.qualifier, c.rate);
    if (c.accepted) {
      EXPECT_NE(r, 0);
    } else {
      EXPECT_TRUE(Refused(b.last, status::kInvalidField));
      EXPECT_EQ(b.emu.Model().DocumentTotalCents(), 0);
    }
  }
}

TEST(EmulatorFieldTest, PaymentFieldsAreChecked) {
  for (const WideString& bad :
       {WideString(u"x"), WideString(u"0"), WideString(u""), WideString(u"-5.00")}) {
    Bench b;
    b.OpenTicket();
    b.TicketItem(u"Cafe", u"1", u"10");
    EXPECT_EQ(b.TicketPay(bad), 0);
    EXPECT_TRUE(Refused(b.last, status::kInvalidField));
    EXPECT_EQ(b.emu.Model().DocumentPaidCents(), 0);
  }
  Bench b;
  b.OpenTicket();
  b.TicketItem(u"Cafe", u"1", u"10");
  EXPECT_EQ(b.TicketPay(u"5", u"X"), 0);
  EXPECT_TRUE(Refused(b.last, status::kInvalidField));
}

// ---- sales

TEST(EmulatorSaleTest, TicketSaleAnswersItsNumberAndCountsTheSale) {
  Bench b;
  ASSERT_TRUE(b.OpenTicket());
  EXPECT_TRUE(b.last.Fields.empty()) << "the opening answers no number";
  ASSERT_TRUE(b.TicketItem(u"Cafe con leche", u"000002.00", u"000012.50"));
  ASSERT_TRUE(b.TicketItem(u"Medialuna", u"000003.00", u"000001.99"));
  ASSERT_TRUE(b.Run("GetTicketSubtotal", {u"P", u"Subtotal"}).Result);
  EXPECT_EQ(b.Field(3), "00002");
  EXPECT_EQ(b.Field(4), "000000003097");
  ASSERT_TRUE(b.TicketPay(u"000020.00"));
  EXPECT_EQ(b.Field(3), "000000001097");
  EXPECT_EQ(b.CloseTicket(), 0) << "closing with a balance due";
  ASSERT_TRUE(b.TicketPay(u"000020.00"));
  EXPECT_EQ(b.Field(3), "000000000000");
  EXPECT_EQ(b.last.Fields.size(), 1u) << "the payment answers only what is still to pay";
  ASSERT_TRUE(b.CloseTicket());
  EXPECT_EQ(b.Field(3), "00000001");
  EXPECT_EQ(b.emu.Model().State(), FiscalPrinterModel::DocState::Idle);
  EXPECT_EQ(b.C().LastTicket, 1);
  EXPECT_EQ(b.C().FiscalDocs, 1);
  EXPECT_EQ(b.C().DaySalesCents, 3097);
  EXPECT_TRUE(b.PaperHas("SUBTOTAL"));
  EXPECT_TRUE(b.PaperHas("VUELTO"));
  for (const auto& line : b.emu.Paper()) EXPECT_LE(line.size(), 40u) << line;

  b.OpenTicket();
  b.TicketItem(u"Agua", u"1", u"1");
  b.TicketPay(u"1");
  ASSERT_TRUE(b.CloseTicket());
  EXPECT_EQ(b.Field(3), "00000002");
  EXPECT_EQ(b.C().DaySalesCents, 3197);
}

TEST(EmulatorSaleTest, InvoiceAPricesAreNetAndBCShareTheTicketSeries) {
  Bench b;
  ASSERT_TRUE(b.OpenInvoice(u"A"));
  EXPECT_EQ(b.emu.Model().InvoiceLetter(), 'A');
  ASSERT_TRUE(b.InvoiceItem(u"Vino", u"000002.00", u"000010.00", u"000021.00"));
  // 2 x 0.33 with 10.5%: 0.7293 rounds to 0.73.
  ASSERT_TRUE(b.InvoiceItem(u"Pan", u"000002.00", u"000000.33", u"000010.50"));
  EXPECT_EQ(b.emu.Model().DocumentTotalCents(), 2420 + 73);
  ASSERT_TRUE(b.Run("GetInvoiceSubtotal", {u"P", u"Subtotal"}).Result);
  EXPECT_EQ(b.Field(4), "000000002493");
  EXPECT_EQ(b.Field(5), "000000000427") << "4.20 + 0.07 of VAT";
  EXPECT_EQ(b.CloseInvoice(u"C"), 0) << "letter differs from the open invoice";
  ASSERT_TRUE(b.InvoicePay(u"000030.00"));
  ASSERT_TRUE(b.CloseInvoice(u"A"));
  EXPECT_EQ(b.Field(3), "00000001");
  EXPECT_EQ(b.C().LastInvoiceA, 1);
  EXPECT_EQ(b.C().LastInvoiceC, 0);
  EXPECT_EQ(b.C().LastTicket, 0);

  // The driver sends letter C prices without VAT too; the control hands the printer the price
  // with it (8.26 at 21 % is 9.9946), and the line comes to what the driver meant.
  ASSERT_TRUE(b.OpenInvoice(u"C"));
  ASSERT_TRUE(b.InvoiceItem(u"Vino", u"3", u"8.26", u"21"));
  EXPECT_EQ(b.emu.Journal().back().Args[2], u"8.26") << "the journal keeps the driver's text";
  EXPECT_EQ(b.emu.Model().DocumentTotalCents(), 2998);
  ASSERT_TRUE(b.InvoicePay(u"29.98"));
  ASSERT_TRUE(b.CloseInvoice(u"C"));
  EXPECT_EQ(b.Field(3), "00000001") << "first of the ticket and B/C series";
  ASSERT_TRUE(b.OpenTicket());
  ASSERT_TRUE(b.TicketItem(u"Agua", u"1", u"1"));
  ASSERT_TRUE(b.TicketPay(u"1"));
  ASSERT_TRUE(b.CloseTicket());
  EXPECT_EQ(b.Field(3), "00000002");
  EXPECT_EQ(b.C().LastInvoiceA, 1);
  EXPECT_EQ(b.C().FiscalDocs, 2);
  EXPECT_EQ(b.C().ADocs, 1);
  EXPECT_EQ(b.C().DaySalesCents, 2493 + 2998 + 100);
  EXPECT_TRUE(b.PaperHas("Juan Perez"));
}

TEST(EmulatorSaleTest, DiscountReducesTheTotal) {
  Bench b;
  b.OpenTicket();
  b.TicketItem(u"Cena", u"1", u"100");
  EXPECT_EQ(b.Run("SendTicketPayment", {u"Descuento", u"000150.00", u"D"}).Result, 0)
      << "discount above the total";
  EXPECT_TRUE(Refused(b.last, status::kInvalidField));
  ASSERT_TRUE(b.Run("SendTicketPayment", {u"Descuento", u"000010.00", u"D"}).Result);
  EXPECT_EQ(b.emu.Model().DocumentTotalCents(), 9000);
  EXPECT_EQ(b.emu.Model().DocumentPaidCents(), 0);
  ASSERT_TRUE(b.TicketPay(u"000090.00"));
  ASSERT_TRUE(b.CloseTicket());
  EXPECT_EQ(b.C().DaySalesCents, 9000);
  EXPECT_TRUE(b.PaperHas("-10.00"));
}

TEST(EmulatorSaleTest, ItemCancellationTakesBackASoldItem) {
  Bench b;
  b.OpenTicket();
  b.TicketItem(u"Cafe", u"2", u"10");
  b.TicketItem(u"Te", u"1", u"5");
  EXPECT_EQ(b.TicketItem(u"Agua", u"1", u"3", u"m"), 0) << "never sold";
  EXPECT_TRUE(Refused(b.last, status::kInvalidState));
  EXPECT_EQ(b.TicketItem(u"Cafe", u"3", u"10", u"m"), 0) << "more than sold";
  ASSERT_TRUE(b.TicketItem(u"Cafe", u"1", u"10", u"m"));
  EXPECT_EQ(b.emu.Model().DocumentTotalCents(), 1500);
  ASSERT_TRUE(b.TicketItem(u"Te", u"1", u"5", u"m"));
  b.Run("GetTicketSubtotal", {u"N", u""});
  EXPECT_EQ(b.Field(3), "00001");
  EXPECT_EQ(b.Field(4), "000000001000");
  EXPECT_TRUE(b.PaperHas("ANULA Te"));

  // With every item taken back the ticket cannot be closed, only cancelled.
  ASSERT_TRUE(b.TicketItem(u"Cafe", u"1", u"10", u"m"));
  EXPECT_EQ(b.TicketPay(u"1"), 0);
  EXPECT_EQ(b.CloseTicket(), 0);
  ASSERT_TRUE(b.TicketPay(u"0", u"C"));
}

TEST(EmulatorSaleTest, CancellationEndsTheTicketWithoutSales) {
  Bench b;
  b.OpenTicket();
  b.TicketItem(u"Cafe", u"1", u"10");
  b.TicketItem(u"Te", u"1", u"20.5");
  b.TicketPay(u"5");
  // The driver sends the sale total in general number format.
  ASSERT_TRUE(b.Run("SendTicketPayment", {u"Dinheiro", u"30.5", u"C"}).Result);
  EXPECT_TRUE(b.last.Fields.empty()) << "a cancellation answers only the status words";
  EXPECT_EQ(b.last.FiscalStatus, status::kFiscalised);
  EXPECT_EQ(b.emu.Model().State(), FiscalPrinterModel::DocState::Idle);
  EXPECT_EQ(b.C().LastTicket, 1);
  EXPECT_EQ(b.C().FiscalDocs, 1);
  EXPECT_EQ(b.C().CancelledDocs, 1);
  EXPECT_EQ(b.C().DaySalesCents, 0);
  EXPECT_TRUE(b.PaperHas("*** CANCELADO ***"));
  EXPECT_EQ(b.Run("SendTicketPayment", {u"Dinheiro", u"30.5", u"C"}).Result, 0)
      << "nothing left to cancel";
  EXPECT_EQ(b.C().LastTicketDone, 0) << "a cancelled ticket is not done";
  ASSERT_TRUE(b.OpenTicket());
  ASSERT_TRUE(b.TicketPay(u"0", u"C")) << "an empty ticket can be cancelled";
  EXPECT_EQ(b.C().LastTicket, 2);
}

// ---- non-fiscal documents

TEST(EmulatorNonFiscalTest, TextIsSplitAndWrappedAndTheDocumentNumbered) {
  Bench b;
  ASSERT_TRUE(b.Run("OpenNoFiscal").Result);
  b.emu.ClearPaper();
  const std::string long45(45, 'a');
  struct Case {
    WideString text;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {u"Suprimento 150.00", {"Suprimento 150.00"}},
      {u"", {""}},
      {WideString(long45.begin(), long45.end()), {std::string(40, 'a'), std::string(5, 'a')}},
      {u"uno\ndos", {"uno", "dos"}},
      {u"----\n", {"----", ""}},
      {u"tab\there", {"tab here"}},
      {WideString(40, u'b'), {std::string(40, 'b')}},
      {WideString(41, u'c'), {std::string(40, 'c'), "c"}},
      {u"cr at the end\r", {"cr at the end"}},
      {u"\r", {""}},
      {u"del\x7F", {"del "}},
      {u"Sa\u00EDda",
       {"Sa\xED"
        "da"}},  // Windows-1252 on paper
  };
  for (const auto& c : cases) {
    b.emu.ClearPaper();
    ASSERT_TRUE(b.Run("SendNoFiscalText", {c.text}).Result);
    EXPECT_EQ(b.emu.Paper(), c.lines);
  }
  ASSERT_TRUE(b.Run("CloseNoFiscal").Result);
  EXPECT_EQ(b.Field(3), "0000001");
  EXPECT_EQ(b.C().NonFiscalDocs, 1);
  b.Run("OpenNoFiscal");
  b.Run("CloseNoFiscal");
  EXPECT_EQ(b.Field(3), "0000002");
  EXPECT_EQ(b.C().FiscalDocs, 0);
}

// ---- journal closings and queries

TEST(EmulatorJournalTest, XAndZAnswerTheDayAndZClearsIt) {
  Bench b;
  for (int i = 0; i < 2; ++i) {
    b.OpenTicket();
    b.TicketItem(u"Cena", u"1", u"617.25");
    b.TicketPay(u"617.25");
    b.CloseTicket();
  }
  b.Run("OpenNoFiscal");
  b.Run("CloseNoFiscal");
  ASSERT_TRUE(b.Run("CloseJournal", {u"X", u"P"}).Result);
  EXPECT_EQ(b.Field(3), "00001");
  ASSERT_TRUE(b.Run("CloseJournal", {u"X", u"P"}).Result);
  EXPECT_EQ(b.Field(3), "00002");

  ASSERT_TRUE(b.Run("CloseJournal", {u"Z", u""}).Result);
  std::vector<std::string> fields;
  for (size_t i = 3; i <= 10; ++i) fields.push_back(b.Field(i));
  EXPECT_EQ(fields, (std::vector<std::string>{"00001", "00000", "00000", "00001", "00002", "00000",
                                              "00000002", "00000000123450"}));
  EXPECT_EQ(b.last.Fields.size(), plat::z_field::kCount);
  EXPECT_EQ(b.Field(11), "00000000021426") << "the VAT inside 1234.50 at 21 %";
  EXPECT_TRUE(b.PaperHas("INFORME Z Nro 0001"));
  const auto& c = b.C();
  EXPECT_EQ(c.ZNumber, 1);
  EXPECT_EQ(c.XSinceZ, 0);
  EXPECT_EQ(c.FiscalDocs, 0);
  EXPECT_EQ(c.NonFiscalDocs, 0);
  EXPECT_EQ(c.DaySalesCents, 0);
  EXPECT_EQ(c.LastTicket, 2) << "document numbers run on across days";

  ASSERT_TRUE(b.Run("CloseJournal", {u"Z", u""}).Result);
  fields.clear();
  for (size_t i = 3; i <= 10; ++i) fields.push_back(b.Field(i));
  EXPECT_EQ(fields, (std::vector<std::string>{"00002", "00000", "00000", "00000", "00000", "00000",
                                              "00000002", "00000000000000"}));
}

TEST(EmulatorQueryTest, DateAndTimeComeFromTheModelClock) {
  Bench b;
  b.emu.Model().SetClock([] { return EncodeDate(2026, 12, 7) + EncodeTime(20, 45, 12); });
  ASSERT_TRUE(b.Run("SetGetDateTime", {u"G", u"", u""}).Result);
  EXPECT_EQ(b.Field(3), "261207");
  EXPECT_EQ(b.Field(4), "204512");
  EXPECT_EQ(b.Field(5), "");
  EXPECT_EQ(b.Run("SetGetDateTime", {u"S", u"", u""}).Result, 0);
  b.OpenTicket();
  EXPECT_TRUE(b.PaperHas("07/12/2026 20:45"));
}

// The fiscal memory keeps each Z closing with its date; the reports print those of a range of
// dates or Z numbers, as totals or closing by closing, and are refused mid-document.
TEST(EmulatorReportTest, FiscalMemoryReportsPrintTheClosingsOfTheirRange) {
  Bench b;
  TDateTime today = EncodeDate(2026, 12, 7) + EncodeTime(21, 0, 0);
  b.emu.Model().SetClock([&today] { return today; });
  for (const char* sale : {"100.00", "", "250.50"}) {  // three days, one without sales
    if (*sale) {
      b.OpenTicket();
      b.TicketItem(u"Cena", u"1", AnsiToWide(sale));
      b.TicketPay(AnsiToWide(sale));
      b.CloseTicket();
    }
    ASSERT_TRUE(b.Run("CloseJournal", {u"Z", u""}).Result);
    today += 1;
  }
  ASSERT_EQ(b.emu.Model().Closings().size(), 3u);
  EXPECT_EQ(b.emu.Model().Closings()[2].Date, "261209");

  struct Case {
    const char* method;
    Args args;
    int16_t result;
    std::vector<std::string> printed;  // lines the report holds, in order
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {"FiscalMemoryReportByDate",
       {u"261207", u"261208", u"T"},
       1,
       {"INFORME DE MEMORIA FISCAL", "FECHAS 07/12/26 AL 08/12/26", "GLOBAL", "CIERRES Z", "2",
        "TOTAL VENTAS", "100.00"},
       {"Z 0001", "250.50"}},
      {"FiscalMemoryReportByZ",
       {u"2", u"3", u"D"},
       1,
       {"CIERRES Z 0002 AL 0003", "DETALLADO", "Z 0002  08/12/26", "0.00", "Z 0003  09/12/26",
        "250.50", "CIERRES Z", "2", "TOTAL VENTAS", "250.50"},
       {"Z 0001"}},
      {"FiscalMemoryReportByZ", {u"0007", u"9999", u"t"}, 1, {"SIN CIERRES Z EN EL RANGO"}, {}},
      {"FiscalMemoryReportByDate", {u"261208", u"261207", u"T"}, 0, {}, {}},  // backwards
      {"FiscalMemoryReportByDate", {u"261307", u"261308", u"T"}, 0, {}, {}},  // no month 13
      {"FiscalMemoryReportByZ", {u"1", u"3", u"X"}, 0, {}, {}},               // no such kind
      {"FiscalMemoryReportByZ", {u"1", u"10000", u"T"}, 0, {}, {}},           // five digits
  };
  for (const Case& c : cases) {
    b.emu.ClearPaper();
    EXPECT_EQ(b.Run(c.method, c.args).Result, c.result) << c.method;
    if (c.result == 0) {
      EXPECT_TRUE(b.last.FiscalStatus & status::kInvalidField) << c.method;
      EXPECT_TRUE(b.emu.Paper().empty()) << c.method;
    }
    std::string paper;
    for (const auto& l : b.emu.Paper()) paper += l + "\n";
    size_t at = 0;
    for (const auto& line : c.printed) {
      at = paper.find(line, at);
      EXPECT_NE(at, std::string::npos) << line << "\n" << paper;
    }
    for (const auto& line : c.absent) EXPECT_EQ(paper.find(line), std::string::npos) << paper;
  }

  // Only between documents; the fiscal memory outlives a restart of the printer.
  b.OpenTicket();
  EXPECT_EQ(b.Run("FiscalMemoryReportByZ", {u"1", u"3", u"T"}).Result, 0);
  EXPECT_TRUE(b.last.FiscalStatus & status::kInvalidState);
  FiscalPrinterModel restarted;
  restarted.LoadState(b.emu.Model().SaveState());
  ASSERT_EQ(restarted.Closings().size(), 3u);
  EXPECT_EQ(restarted.Closings()[0].SalesCents, 10000);
  EXPECT_EQ(restarted.Closings()[2].Date, "261209");
}

// A long-running emulator keeps the newest paper lines and commands, not all of them.
TEST(EmulatorJournalTest, PaperAndJournalKeepABoundedTail) {
  Bench b;
  b.Run("OpenNoFiscal");
  const WideString page(model::kWidth * 1000, u'x');
  for (size_t i = 0; i < 2 * model::kTailKept / 1000; ++i) b.Run("SendNoFiscalText", {page});
  b.Run("SendNoFiscalText", {u"last line"});
  EXPECT_LE(b.emu.Paper().size(), 2 * model::kTailKept);
  EXPECT_GE(b.emu.Paper().size(), model::kTailKept);
  EXPECT_EQ(b.emu.Paper().back(), "last line");
  while (b.emu.Journal().size() < 2 * model::kTailKept - 1) b.Run("Status", {u"N"});
  b.Run("Status", {u"A"});
  b.Run("Status", {u"C"});
  EXPECT_EQ(b.emu.Journal().size(), model::kTailKept);
  EXPECT_EQ(b.emu.Journal().back().Args[0], u"C");
}

// ---- journal and scripting

TEST(EmulatorScriptTest, JournalKeepsArgumentsAsReceived) {
  Bench b;
  b.emu.WriteArgAfter("OpenTicket", 0, u"written");
  b.OpenTicket();
  EXPECT_EQ(b.lastArgs[0], u"written");
  b.Run("Nonsense", {u"a", u"b"}, 7);
  ASSERT_EQ(b.emu.Journal().size(), 2u);
  EXPECT_EQ(b.emu.Journal()[0].Args, Args{u"G"});
  EXPECT_EQ(b.emu.Journal()[0].Result, 1);
  EXPECT_EQ(b.emu.Journal()[1].Args, (Args{u"a", u"b"}));
  EXPECT_EQ(b.emu.Journal()[1].Result, 0);
  EXPECT_EQ(b.emu.Methods(), (std::vector<std::string>{"OpenTicket", "Nonsense"}));
  EXPECT_EQ(b.emu.LastPort(), 7);
}

TEST(EmulatorScriptTest, RefuseAndRaiseDoNotExecute) {
  Bench b;
  b.emu.Refuse("OpenTicket");
  auto a = b.Run("OpenTicket", {u"G"});
  EXPECT_EQ(a.Result, 0);
  EXPECT_EQ(a.FiscalStatus, status::kFiscalised | status::kInvalidState | status::kFiscalAny);
  EXPECT_EQ(b.emu.Model().State(), FiscalPrinterModel::DocState::Idle);
  EXPECT_EQ(b.emu.Model().Paper().size(), 0u);
  b.emu.ClearRules();

  b.emu.RaiseOn("OpenTicket", "paper jam");
  try {
    b.OpenTicket();
    FAIL() << "no exception";
  } catch (const ELinkError&) {
    FAIL() << "a scripted failure is not a link failure";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "paper jam");
  }
  EXPECT_TRUE(b.emu.Journal().back().Raised);
  EXPECT_EQ(b.emu.Model().State(), FiscalPrinterModel::DocState::Idle);
  b.emu.ClearRules();

  FiscalEmulator::Rule silent;
  silent.Method = "Status";
  silent.What = FiscalEmulator::Action::Silent;
  b.emu.AddRule(silent);
  EXPECT_THROW(b.Run("Status", {u"N"}, 3), ELinkError);
  EXPECT_TRUE(b.OpenTicket()) << "the rule is for Status only";
}

TEST(EmulatorScriptTest, OccurrenceFiresOnceOnTheNthMatchingCommand) {
  Bench b;
  b.Run("Status", {u"N"});  // before the rule: not counted
  b.emu.Refuse("Status", 2);
  EXPECT_NE(b.Run("Status", {u"N"}).Result, 0);
  EXPECT_NE(b.OpenTicket(), 0);  // another method: not counted
  EXPECT_EQ(b.Run("Status", {u"N"}).Result, 0);
  EXPECT_NE(b.Run("Status", {u"N"}).Result, 0);
  EXPECT_NE(b.Run("Status", {u"N"}).Result, 0);
}

TEST(EmulatorScriptTest, NthCommandOfAnyMethod) {
  Bench b;
  b.Run("Status", {u"N"});
  b.emu.RefuseNth(3);
  EXPECT_TRUE(b.OpenTicket());
  EXPECT_TRUE(b.TicketItem(u"Cafe", u"1", u"10"));
  EXPECT_EQ(b.TicketPay(u"10"), 0);
  EXPECT_EQ(b.emu.Model().DocumentPaidCents(), 0) << "refused commands are not executed";
  EXPECT_TRUE(b.TicketPay(u"10"));

  b.emu.RaiseNth(2, "broken");
  EXPECT_TRUE(b.Run("Status", {u"N"}).Result);
  EXPECT_THROW(b.CloseTicket(), Exception);
  EXPECT_EQ(b.emu.Model().State(), FiscalPrinterModel::DocState::Ticket);
  EXPECT_TRUE(b.CloseTicket());
}

TEST(EmulatorScriptTest, SetFieldsAndWriteArgApplyAfterExecution) {
  Bench b;
  b.emu.SetFieldsAfter("CloseJournal", {u"0042", u"", u"3"});
  ASSERT_TRUE(b.Run("CloseJournal", {u"Z", u""}).Result);
  EXPECT_EQ(b.last.Fields, (Args{u"0042", u"", u"3"}));
  EXPECT_EQ(b.C().ZNumber, 1) << "the command still ran";

  b.emu.WriteArgAfter("OpenCashDrawer", 0, u"9", 1);
  b.Run("OpenCashDrawer", {u"1"});
  EXPECT_EQ(b.lastArgs[0], u"9");
  b.Run("OpenCashDrawer", {u"1"});
  EXPECT_EQ(b.lastArgs[0], u"1") << "an occurrence rule is spent after firing";

  b.emu.WriteArgAfter("OpenCashDrawer", 5, u"out of range");
  EXPECT_NE(b.Run("OpenCashDrawer", {u"1"}).Result, 0);
}

TEST(EmulatorScriptTest, FirstDueRuleWinsAndEveryRuleCounts) {
  Bench b;
  b.emu.Refuse("Status", 1);
  b.emu.SetFieldsAfter("Status", {u"x"}, 1);
  EXPECT_EQ(b.Run("Status", {u"N"}).Result, 0);
  // The second rule also saw the first command, so it is never due again.
  EXPECT_NE(b.Run("Status", {u"N"}).Result, 0);
  EXPECT_EQ(b.Field(3), "00000000");
}

TEST(EmulatorScriptTest, SwitchedOffPrinterRaisesAndRecovers) {
  Bench b;
  b.emu.SetSwitchedOff(true);
  try {
    b.Run("Status", {u"N"}, 4);
    FAIL() << "no exception";
  } catch (const ELinkError& e) {
    EXPECT_EQ(e.Message(), "the printer does not answer on port 4");
  }
  EXPECT_TRUE(b.emu.Journal().back().Raised);
  EXPECT_EQ(b.emu.LastPort(), 4);
  b.emu.SetSwitchedOff(false);
  EXPECT_NE(b.Run("Status", {u"N"}).Result, 0);
}

TEST(EmulatorDefaultTest, DefaultEmulatorIsOneSharedInstance) {
  EXPECT_EQ(DefaultEmulator().get(), DefaultEmulator().get());
  EXPECT_NE(DefaultEmulator(), nullptr);
}

TEST(EmulatorQueryTest, StatusModeDTellsTheDocumentInProgress) {
  Bench b;
  auto doc = [&] {
    EXPECT_TRUE(b.Run("Status", {u"D"}).Result);
    return b.Field(3) + "/" + b.Field(4);
  };
  EXPECT_EQ(doc(), "/");
  b.OpenTicket();
  EXPECT_EQ(doc(), "K/N");
  b.TicketPay(u"0", u"C");
  b.OpenInvoice(u"B");
  EXPECT_EQ(doc(), "T/B");
  b.Run("SendInvoicePayment", {u"x", u"0", u"C"});
  b.Run("OpenNoFiscal");
  EXPECT_EQ(doc(), "O/N");
}

TEST(EmulatorQueryTest, TheClockIsSetBetweenDocumentsOnly) {
  Bench b;
  b.emu.Model().SetClock([] { return EncodeDate(2026, 12, 7) + EncodeTime(20, 45, 12); });
  ASSERT_TRUE(b.Run("SetGetDateTime", {u"S", u"270102", u"083000"}).Result);
  EXPECT_EQ(b.Field(3), "270102") << "the clock is read back after setting it";
  EXPECT_EQ(b.Field(4), "083000");
  EXPECT_EQ(b.emu.Methods().back(), "SetGetDateTime");
  b.Run("SetGetDateTime", {u"G", u"", u""});
  EXPECT_EQ(b.Field(3), "270102");  // the offset stays
  for (const Args& bad : {Args{u"S", u"271302", u"083000"}, Args{u"S", u"2701", u"083000"},
                          Args{u"S", u"270102", u"250000"}})
    EXPECT_FALSE(b.Run("SetGetDateTime", bad).Result);
  b.OpenTicket();
  EXPECT_FALSE(b.Run("SetGetDateTime", {u"S", u"270102", u"083000"}).Result);
}

TEST(EmulatorStateTest, AModelComesBackWithItsDocumentAndCounters) {
  Bench b;
  b.OpenTicket();
  b.TicketItem(u"Ñandú \\ 1", u"2", u"10.00");
  const std::string saved = b.emu.Model().SaveState();
  FiscalPrinterModel restarted;
  restarted.LoadState(saved);
  EXPECT_EQ(restarted.SaveState(), saved);
  EXPECT_EQ(restarted.State(), FiscalPrinterModel::DocState::Ticket);
  EXPECT_EQ(restarted.DocumentTotalCents(), 2000);
  EXPECT_EQ(restarted.DocumentLines(), 1);
  // The item sold before the restart can be taken back after it.
  Args take = {u"Ñandú \\ 1", u"00001000", u"0000010.0000", u"2100", u"m", u"0", u"0", u"0"};
  std::vector<WideString*> ptrs;
  for (auto& a : take) ptrs.push_back(&a);
  EXPECT_EQ(restarted.Execute("SendTicketItem", ptrs).Result, 1);
  for (const std::string bad :
       {"", "fiscal-printer-state 2\nnonsense 1\n", "fiscal-printer-state 2\ncounters x\n"})
    EXPECT_THROW(restarted.LoadState(bad), Exception) << bad;
}

}  // namespace
}  // namespace plat
