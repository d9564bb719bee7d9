// SPDX-License-Identifier: Apache-2.0
// The emulator's replies, field by field, against the printer's documented layouts, and the
// control's translation of the driver's arguments into the printer's fields.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "printer/emulator.h"
#include "printer/wire.h"

namespace plat {
namespace {

using Args = std::vector<WideString>;

PrinterAnswer Send(FiscalEmulator& emu, const std::string& method, Args args) {
  std::vector<WideString*> ptrs;
  for (auto& a : args) ptrs.push_back(&a);
  return emu.Execute(1, method.c_str(), ptrs);
}

Args Invoice(const WideString& letter) {
  Args a(19);
  a[0] = u"T";
  a[1] = u"C";
  a[2] = letter;
  a[3] = u"1";
  a[4] = u"F";
  a[6] = u"F";  // the buyer's category, as the driver hands it
  a[7] = u"I";
  a[18] = u"C";
  return a;
}

const Args kItem = {u"Cafe", u"000002.00", u"000010.00", u"000021.00", u"M", u"0", u"0", u"0"};
const Args kInvoiceItem = {u"Vino", u"1", u"100", u"21", u"M", u"0",
                           u"0",    u"",  u"",    u"",   u"",  u"0"};

// A layout as the printer's description gives it: "8" is exactly 8 digits, "t10" a text of at
// most 10 characters.
void ExpectLayout(const PrinterAnswer& a, const std::string& layout) {
  std::istringstream in(layout);
  std::vector<std::string> widths;
  for (std::string w; in >> w;) widths.push_back(w);
  ASSERT_EQ(a.Fields.size(), widths.size());
  for (size_t i = 0; i < widths.size(); ++i) {
    const std::string f = WideToUtf8(a.Fields[i]);
    SCOPED_TRACE("reply field " + std::to_string(i + 1) + " '" + f + "'");
    if (widths[i][0] == 't') {
      EXPECT_LE(f.size(), std::stoul(widths[i].substr(1)));
    } else {
      EXPECT_EQ(f.size(), std::stoul(widths[i]));
      EXPECT_EQ(f.find_first_not_of("0123456789"), std::string::npos);
    }
  }
}

struct Step {
  std::string method;
  Args args;
  std::string layout;  // of its reply
};

TEST(PrinterReplies, EveryCommandOfADayAnswersTheDocumentedFields) {
  const std::string z = "5 5 5 5 5 5 8 14 14 14 8 8 8 8 14 14 14";
  const std::string subtotal = "5 12 12 12 12 12 12";
  const std::vector<Step> day = {
      {"Status", {u"N"}, "8 6 6 5 8 8 t10 t2"},
      {"Status", {u"P"}, "3 3 3 3 3 1 1 1 1 t2 t15"},
      {"Status", {u"C"}, "11 4 t1 4 6 t40"},
      {"Status", {u"A"}, "5 8 8 8 8 5 5 8 8 8 8"},
      {"Status", {u"S"}, ""},
      {"SetGetDateTime", {u"G", u"", u""}, "6 6"},
      {"OpenTicket", {u"G"}, ""},
      {"Status", {u"D"}, "t1 t1"},
      {"SendTicketItem", kItem, ""},
      {"GetTicketSubtotal", {u"N", u"Subtotal"}, subtotal},
      {"SendTicketPayment", {u"Descuento", u"000001.00", u"D"}, "12"},
      {"SendTicketPayment", {u"Efectivo", u"000030.00", u"T"}, "12"},
      {"CloseTicket", {}, "8"},
      {"OpenInvoice", Invoice(u"A"), ""},
      {"SendInvoiceItem", kInvoiceItem, ""},
      {"GetInvoiceSubtotal", {u"P", u"Subtotal"}, subtotal},
      {"SendInvoicePayment", {u"Efectivo", u"121", u"T"}, "12"},
      {"CloseInvoice", {u"T", u"A", u""}, "8"},
      {"OpenTicket", {u"G"}, ""},
      {"SendTicketPayment", {u"Dinheiro", u"0", u"C"}, ""},
      {"OpenNoFiscal", {}, ""},
      {"SendNoFiscalText", {u"Suprimento"}, ""},
      {"CloseNoFiscal", {}, "7"},
      {"OpenCashDrawer", {u"1"}, ""},
      {"CloseJournal", {u"X", u"P"}, z},
      {"CloseJournal", {u"Z", u""}, z},
  };
  FiscalEmulator emu;
  for (const auto& s : day) {
    SCOPED_TRACE(s.method + (s.args.empty() ? "" : " " + WideToUtf8(s.args[0])));
    const PrinterAnswer a = Send(emu, s.method, s.args);
    EXPECT_NE(a.Result, 0);
    ExpectLayout(a, s.layout);
  }
}

TEST(PrinterReplies, FiguresAreThePrintersDigitsWithImpliedDecimals) {
  FiscalEmulator emu;
  Send(emu, "OpenTicket", {u"G"});
  Send(emu, "SendTicketItem", kItem);  // 2 x 10.00, VAT included at 21 %
  auto a = Send(emu, "GetTicketSubtotal", {u"N", u""});
  EXPECT_EQ(a.Fields, (Args{u"00001", u"000000002000", u"000000000347", u"000000000000",
                            u"000000000000", u"000000000000", u"000000001653"}));
  a = Send(emu, "SendTicketPayment", {u"Efectivo", u"000005.00", u"T"});
  EXPECT_EQ(a.Fields, Args{u"000000001500"});
  Send(emu, "SendTicketPayment", {u"Efectivo", u"000015.00", u"T"});
  EXPECT_EQ(Send(emu, "CloseTicket", {}).Fields, Args{u"00000001"});
  a = Send(emu, "Status", {u"N"});
  EXPECT_EQ(a.Fields[0], u"00000001");  // the last ticket issued
  EXPECT_EQ(a.Fields[3], u"00000");     // no Z yet
  a = Send(emu, "CloseJournal", {u"Z", u""});
  EXPECT_EQ(a.Fields[0], u"00001");
  EXPECT_EQ(a.Fields[7], u"00000000002000");
  EXPECT_EQ(a.Fields[8], u"00000000000347");
}

TEST(PrinterReplies, TheModelTakesBothUnitPriceForms) {
  for (const char* price : {"0000012.5000", "000001250"}) {
    FiscalPrinterModel m;
    std::vector<WideString> open = {u"C"};
    std::vector<WideString> item = {u"Cafe", u"00002000", AnsiToWide(price), u"2100", u"M", u"0",
                                    u"0",    u"0"};
    std::vector<WideString*> o = {&open[0]}, it;
    for (auto& f : item) it.push_back(&f);
    ASSERT_NE(m.Execute("OpenTicket", o).Result, 0);
    EXPECT_NE(m.Execute("SendTicketItem", it).Result, 0) << price;
    EXPECT_EQ(m.DocumentTotalCents(), 2500) << price;
  }
}

TEST(PrinterReplies, DocumentedRefusals) {
  struct Case {
    const char* name;
    std::vector<Step> before;
    Step refused;
  };
  const Step open{"OpenTicket", {u"G"}, ""};
  const Step item{"SendTicketItem", kItem, ""};
  const Step pay{"SendTicketPayment", {u"Efectivo", u"1", u"T"}, ""};
  const std::vector<Case> cases = {
      {"item after a payment", {open, item, pay}, item},
      {"a sixth payment", {open, item, pay, pay, pay, pay, pay}, pay},
      {"close with no total above zero",
       {open, item, {"SendTicketItem", {u"Cafe", u"2", u"10", u"21", u"m", u"0", u"0", u"0"}, ""}},
       {"CloseTicket", {}, ""}},
      {"close invoice of another letter",
       {{"OpenInvoice", Invoice(u"B"), ""},
        {"SendInvoiceItem", kInvoiceItem, ""},
        {"SendInvoicePayment", {u"E", u"121", u"T"}, ""}},
       {"CloseInvoice", {u"T", u"C", u""}, ""}},
      {"an invoice letter outside A, B, C", {}, {"OpenInvoice", Invoice(u"E"), ""}},
      {"a payment qualifier outside its list",
       {open, item},
       {"SendTicketPayment", {u"E", u"1", u"Q"}, ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FiscalEmulator emu;
    for (const auto& s : c.before) ASSERT_NE(Send(emu, s.method, s.args).Result, 0) << s.method;
    EXPECT_EQ(Send(emu, c.refused.method, c.refused.args).Result, 0);
  }
}

TEST(PrinterReplies, WarningsAreReportedAndPaperLowKeepsNewDocumentsClosed) {
  FiscalEmulator emu;
  ASSERT_NE(Send(emu, "OpenTicket", {u"G"}).Result, 0);
  // The open document is finished with every warning set.
  emu.Model().SetWarnings(status::kPaperLow, status::kBatteryLow | status::kFiscalMemoryAlmostFull);
  for (const Step& s : std::vector<Step>{{"SendTicketItem", kItem, ""},
                                         {"SendTicketPayment", {u"E", u"20", u"T"}, ""},
                                         {"CloseTicket", {}, ""},
                                         {"CloseJournal", {u"Z", u""}, ""}}) {
    const PrinterAnswer a = Send(emu, s.method, s.args);
    EXPECT_NE(a.Result, 0) << s.method;
    EXPECT_EQ(
        StatusWarnings(a.PrinterStatus, a.FiscalStatus),
        (std::vector<std::string>{"paper low on the journal roll", "paper low on the receipt roll",
                                  "battery low", "fiscal memory almost full"}));
    EXPECT_TRUE(a.PrinterStatus & status::kPrinterAny) << "paper low is under the summary";
    EXPECT_TRUE(a.FiscalStatus & status::kFiscalAny) << "battery low is under the summary";
  }
  // While either roll's paper is low no document of any kind opens, and the reason names it.
  const struct {
    uint16_t low;
    const char* reason;
  } rolls[] = {
      {status::kJournalPaperLow, "no document can be opened while the journal roll's paper is low"},
      {status::kReceiptPaperLow, "no document can be opened while the receipt roll's paper is low"},
  };
  for (const auto& roll : rolls) {
    emu.Model().SetWarnings(roll.low, 0);
    for (const Step& s : std::vector<Step>{{"OpenTicket", {u"G"}, ""},
                                           {"OpenInvoice", Invoice(u"B"), ""},
                                           {"OpenNoFiscal", {}, ""}}) {
      const PrinterAnswer a = Send(emu, s.method, s.args);
      EXPECT_EQ(a.Result, 0) << s.method;
      EXPECT_EQ(RefusalReasons(a.PrinterStatus, a.FiscalStatus, true).front(), roll.reason);
      EXPECT_EQ(emu.Model().State(), FiscalPrinterModel::DocState::Idle) << s.method;
    }
  }
  emu.Model().SetWarnings(0, 0);
  EXPECT_NE(Send(emu, "OpenNoFiscal", {}).Result, 0);
}

// ---- the control's translation

std::vector<std::string> Wire(wire::Translator& t, const std::string& method, Args args,
                              size_t request = 0) {
  std::vector<WideString*> ptrs;
  for (auto& a : args) ptrs.push_back(&a);
  const auto r = t.ToPrinter(*FindCommand(method), ptrs);
  std::vector<std::string> out;
  if (!r) return {"untranslatable"};
  if (request >= r->size()) return {"no such request"};
  out.push_back(Info((*r)[request].Id).Method);
  for (const auto& f : (*r)[request].Fields) out.push_back(f);
  return out;
}

TEST(PrinterTranslation, DriverArgumentsBecomeThePrintersFields) {
  using V = std::vector<std::string>;
  wire::Translator t;
  EXPECT_EQ(Wire(t, "OpenTicket", {u"G"}), (V{"OpenTicket", "C"}));
  EXPECT_EQ(Wire(t, "SendTicketItem",
                 {u"Cafe con leche y medialunas", u"000001.00", u"000012.50", u"000021.00", u"M",
                  u"0", u"0", u"0"}),
            (V{"SendTicketItem", "Cafe con leche y medialuna", "00001000", "0000012.5000", "2100",
               "M", "0", "0", "0"}));
  EXPECT_EQ(
      Wire(t, "SendTicketItem", {u"a\u201Cb", u"1,5", u"0,333", u"10,5", u"m", u"", u"", u""})[1],
      "a b");  // a typographic quote has no place in the printer's characters
  EXPECT_EQ(Wire(t, "SendTicketItem", {u"x", u"1,5", u"0,33335", u"10,5", u"m", u"", u"", u""}),
            (V{"SendTicketItem", "x", "00001500", "0000000.3334", "1050", "m", "", "", ""}));
  EXPECT_EQ(Wire(t, "SendTicketPayment", {u"Efectivo", u"1234567.50", u"T"}),
            (V{"SendTicketPayment", "Efectivo", "00123456750", "T"}));
  EXPECT_EQ(Wire(t, "SendTicketPayment", {u"Dinheiro", u"30.5", u"C"})[2], "00000003050");
  EXPECT_EQ(Wire(t, "CloseTicket", {}), (V{"CloseTicket", "T"}));
  EXPECT_EQ(Wire(t, "CloseNoFiscal", {}), (V{"CloseNoFiscal", "T"}));
  EXPECT_EQ(Wire(t, "CloseInvoice", {u"T", u"C", u""}), (V{"CloseInvoice", "T", "C", "\x7F"}));
  EXPECT_EQ(Wire(t, "SetGetDateTime", {u"G", u"", u""}), V{"GetDateTime"});
  EXPECT_EQ(Wire(t, "SetGetDateTime", {u"S", u"270102", u"083000"}),
            (V{"SetDateTime", "270102", "083000"}));
  EXPECT_EQ(Wire(t, "SetGetDateTime", {u"S", u"270102", u"083000"}, 1), V{"GetDateTime"});
  // Each drawer has a command of its own, with no field.
  EXPECT_EQ(Wire(t, "OpenCashDrawer", {u"1"}), V{"OpenCashDrawer"});
  EXPECT_EQ(Wire(t, "OpenCashDrawer", {u"2"}), V{"OpenCashDrawer2"});
  // A text longer than the paper's 40 characters goes out as consecutive lines of at most 40.
  const std::string text = std::string(40, 'a') + std::string(40, 'b') + "tail\r\nnext";
  const Args line = {Utf8ToWide(text)};
  EXPECT_EQ(Wire(t, "SendNoFiscalText", line, 0), (V{"SendNoFiscalText", std::string(40, 'a')}));
  EXPECT_EQ(Wire(t, "SendNoFiscalText", line, 1), (V{"SendNoFiscalText", std::string(40, 'b')}));
  EXPECT_EQ(Wire(t, "SendNoFiscalText", line, 2), (V{"SendNoFiscalText", "tail"}));
  EXPECT_EQ(Wire(t, "SendNoFiscalText", line, 3), (V{"SendNoFiscalText", "next"}));
  EXPECT_EQ(Wire(t, "SendNoFiscalText", line, 4), V{"no such request"});

  // The invoice: the issuer's category goes to field 7, the buyer's to field 8; the buyer's
  // number loses its dashes; letter B/C prices get their VAT back, letter A's stay net.
  Args open = Invoice(u"C");
  open[11] = u"20-12345678-9";
  const V fields = Wire(t, "OpenInvoice", open);
  EXPECT_EQ(fields[7], "I");
  EXPECT_EQ(fields[8], "F");
  EXPECT_EQ(fields[12], "20123456789");
  const Args item = {u"Vino tinto de la casa 750",
                     u"000001.00",
                     u"000008.26",
                     u"000021.00",
                     u"M",
                     u"0",
                     u"0",
                     u"",
                     u"",
                     u"",
                     u"",
                     u"0"};
  EXPECT_EQ(Wire(t, "SendInvoiceItem", item)[1], "Vino tinto de la c");
  EXPECT_EQ(Wire(t, "SendInvoiceItem", item)[3], "0000009.9946");
  Wire(t, "OpenInvoice", Invoice(u"A"));
  EXPECT_EQ(Wire(t, "SendInvoiceItem", item)[3], "0000008.2600");
}

TEST(PrinterTranslation, ArgumentsWithoutAPrinterFormAreRefusedUnsent) {
  const std::vector<Args> items = {
      {u"x", u"abc", u"1", u"21", u"M", u"", u"", u""},       // quantity no number
      {u"x", u"100000", u"1", u"21", u"M", u"", u"", u""},    // beyond 5 integer digits
      {u"x", u"-1", u"1", u"21", u"M", u"", u"", u""},        // negative
      {u"x", u"1", u"12345678", u"21", u"M", u"", u"", u""},  // price beyond 7 digits
      {u"x", u"1", u"1", u"100", u"M", u"", u"", u""},        // rate beyond 2 digits
      {u"x", u"1", u"1", u"21.00.0", u"M", u"", u"", u""},
  };
  wire::Translator t;
  for (const auto& a : items) EXPECT_EQ(Wire(t, "SendTicketItem", a)[0], "untranslatable");
  EXPECT_EQ(Wire(t, "SendTicketPayment", {u"E", u"1e3", u"T"})[0], "untranslatable");
  EXPECT_EQ(Wire(t, "SetGetDateTime", {u"X", u"", u""})[0], "untranslatable");
  for (const WideString drawer : {u"", u"0", u"3", u"12", u" 1"})
    EXPECT_EQ(Wire(t, "OpenCashDrawer", {drawer})[0], "untranslatable");

  FiscalEmulator emu;
  Send(emu, "OpenTicket", {u"G"});
  const PrinterAnswer a = Send(emu, "SendTicketItem", items[1]);
  EXPECT_EQ(a.Result, 0);
  EXPECT_TRUE(a.FiscalStatus & status::kInvalidField);
  EXPECT_TRUE(a.FiscalStatus & status::kFiscalDocumentOpen);
  EXPECT_EQ(emu.Model().DocumentLines(), 0);
}

}  // namespace
}  // namespace plat
