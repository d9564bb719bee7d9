// SPDX-License-Identifier: Apache-2.0
#include "printer/link_frame.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <set>

#include "platform/exceptions.h"

namespace {

using namespace plat::link;
using plat::AnsiString;
using plat::WideString;

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

TEST(LinkFrame, EncodesHostFramesByteForByte) {
  struct Case {
    uint8_t seq;
    const char* method;
    std::vector<AnsiString> fields;
    std::string frame;
  };
  const std::vector<Case> cases = {
      {0x20, "Status", {"N"}, std::string("\x02 *\x1cN\x03") + "00B9"},
      {0x21, "CloseTicket", {"T"}, std::string("\x02!E\x1cT\x03") + "00DB"},
      // The close invoice's TOTAL text may be the lone DEL, and nowhere else.
      {0x20,
       "CloseInvoice",
       {"T", "C", "\x7F"},
       std::string("\x02 e\x1cT\x1c"
                   "C\x1c\x7F\x03") +
           "01F4"},
      // A command with no field has no FS at all (the maker's example frames them so).
      {0x33, "OpenNoFiscal", {}, std::string("\x02\x33\x48\x03") + "0080"},
      {0x20, "GetDateTime", {}, std::string("\x02 Y\x03") + "007E"},
      {0x20, "OpenCashDrawer", {}, std::string("\x02 {\x03") + "00A0"},
      {0x20, "OpenCashDrawer2", {}, std::string("\x02 |\x03") + "00A1"},
      // An empty field is FS followed directly by the next FS or by ETX.
      {0x20, "CloseJournal", {"X", ""}, std::string("\x02 9\x1cX\x1c\x03") + "00EE"},
      // Windows-1252 bytes above 0x7F travel as they are and count in the sum.
      {0x20,
       "SendNoFiscalText",
       {"Pe\xf1"
        "a"},
       std::string("\x02 I\x1cPe\xf1"
                   "a\x03") +
           "0291"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EncodeCommand(c.seq, c.method, c.fields), c.frame) << c.method;
}

TEST(LinkFrame, EncodesWideArgumentsAsWindows1252) {
  WideString text = u"Pe\u00f1a \u20ac";
  const std::string frame =
      EncodeCommand(0x20, "SendNoFiscalText", std::vector<WideString*>{&text});
  EXPECT_EQ(frame.substr(3, frame.size() - 8),
            "\x1cPe\xf1"
            "a \x80");
  EXPECT_EQ(text, u"Pe\u00f1a \u20ac");
}

TEST(LinkFrame, ChecksumIsTheSixteenBitSum) {
  EXPECT_EQ(Checksum(""), 0);
  EXPECT_EQ(Checksum(Bytes({0x02, 0x20, 0x2A, 0x03})), 0x4F);
  // 300 x 0xFF = 76500, which wraps to 10964.
  EXPECT_EQ(Checksum(std::string(300, '\xff')), 0x2AD4);
  EXPECT_EQ(HexWord(0x2AD4), "2AD4");
  EXPECT_EQ(HexWord(0x000f), "000F");
}

TEST(LinkFrame, SequenceRunsFrom0x20To0x7FAndWraps) {
  const std::vector<std::pair<int, int>> cases = {{0x20, 0x21}, {0x50, 0x51}, {0x7E, 0x7F},
                                                  {0x7F, 0x20}, {0x00, 0x20}, {0x1F, 0x20},
                                                  {0x80, 0x20}, {0xFF, 0x20}};
  for (auto [from, to] : cases) EXPECT_EQ(NextSequence(static_cast<uint8_t>(from)), to) << from;
  std::set<int> seen;
  uint8_t s = kFirstSequence;
  for (int i = 0; i < 96; ++i, s = NextSequence(s)) seen.insert(s);
  EXPECT_EQ(seen.size(), 96u);
  EXPECT_EQ(s, kFirstSequence);
}

TEST(LinkFrame, CommandTableIsOneToOne) {
  std::set<std::string> methods;
  std::set<int> cmds;
  for (const auto& c : plat::kCommandTable) {
    methods.insert(c.Method);
    EXPECT_EQ(FindCommand(std::string_view(c.Method)), &c);
    if (c.Cmd == 0) continue;  // SetGetDateTime: sent as SetDateTime / GetDateTime
    cmds.insert(c.Cmd);
    EXPECT_EQ(FindCommand(c.Cmd), &c);
  }
  EXPECT_EQ(methods.size(), plat::kCommandTable.size());
  EXPECT_EQ(cmds.size(), plat::kCommandTable.size() - 1);  // all but SetGetDateTime
  EXPECT_EQ(FindCommand(static_cast<uint8_t>(0)), nullptr);
  EXPECT_EQ(FindCommand(std::string_view("PrintBarcode")), nullptr);
  EXPECT_EQ(FindCommand(static_cast<uint8_t>(0x41)), nullptr);
}

TEST(LinkFrame, RefusesUnknownMethodsAndWrongFieldCounts) {
  EXPECT_THROW(EncodeCommand(0x20, "PrintBarcode", std::vector<AnsiString>{}), plat::ELinkError);
  EXPECT_THROW(EncodeCommand(0x20, "OpenTicket", std::vector<AnsiString>{}), plat::ELinkError);
  EXPECT_THROW(EncodeCommand(0x20, "CloseTicket", std::vector<AnsiString>{}), plat::ELinkError);
  EXPECT_THROW(EncodeCommand(0x20, "SetGetDateTime", std::vector<AnsiString>{}), plat::ELinkError);
  EXPECT_THROW(EncodeCommand(0x20, "CloseInvoice", std::vector<AnsiString>{"\x7F", "C", ""}),
               plat::ELinkError);
}

TEST(LinkFrame, RefusesControlBytesInFieldsNamingCommandAndField) {
  for (int bad : {0x1C, 0x03, 0x0A, 0x7F, 0x02, 0x00, 0x0D, 0x15}) {
    std::vector<AnsiString> fields = {"Efectivo", "10.00", "T"};
    fields[1].insert(2, 1, static_cast<char>(bad));
    try {
      EncodeCommand(0x20, "SendTicketPayment", fields);
      ADD_FAILURE() << "byte " << bad << " was framed";
    } catch (const plat::ELinkError& e) {
      EXPECT_NE(e.Message().find("SendTicketPayment"), std::string::npos) << e.Message();
      EXPECT_NE(e.Message().find("field 2"), std::string::npos) << e.Message();
    }
  }
  // Everything from 0x20 on but 0x7F is text, the upper half of the code page included.
  std::string all;
  for (int c = 0x20; c <= 0xFF; ++c)
    if (c != 0x7F) all += static_cast<char>(c);
  EXPECT_NO_THROW(EncodeCommand(0x20, "SendNoFiscalText", std::vector<AnsiString>{all}));
}

TEST(LinkFrame, DecodesHostFrames) {
  auto f = DecodeCommand(std::string("\x02 9\x1cX\x1c\x03") + "00EE");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->Seq, 0x20);
  EXPECT_EQ(f->Cmd, 0x39);
  EXPECT_EQ(f->Fields, (std::vector<AnsiString>{"X", ""}));
  auto none = DecodeCommand(std::string("\x02!E\x03") + "006B");
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->Fields.empty());
  EXPECT_FALSE(DecodeCommand(std::string("\x02!E\x03") + "006C"));
  EXPECT_FALSE(DecodeCommand(std::string("\x02!EX\x03") + "00C3"));  // no FS before the field
}

TEST(LinkFrame, RepliesRoundTripAndDecodeByteForByte) {
  const std::string literal = std::string(
                                  "\x02 *\x1c"
                                  "0000\x1c"
                                  "0000\x1c"
                                  "0000\x1c"
                                  "0000\x03") +
                              "03BF";
  auto r = DecodeReply(literal);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Seq, 0x20);
  EXPECT_EQ(r->Cmd, 0x2A);
  EXPECT_EQ(r->Fields, (std::vector<AnsiString>{"0000", "0000"}));
  EXPECT_EQ(EncodeReply(*r), literal);

  ReplyFrame z{0x7F,
               0x39,
               0x0000,
               0x0800,
               {"0042", "",
                "Pe\xf1"
                "a"}};
  auto back = DecodeReply(EncodeReply(z));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Seq, 0x7F);
  EXPECT_EQ(back->FiscalStatus, 0x0800);
  EXPECT_EQ(back->Fields, z.Fields);
}

TEST(LinkFrame, RejectsMalformedReplies) {
  auto seal = [](std::string body) {
    body = "\x02" + body + "\x03";
    return body + HexWord(Checksum(body));
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"no status words", seal(" *")},
      {"one status word", seal(" *\x1c"
                               "0000")},
      {"status not hex", seal(" *\x1c"
                              "00G0\x1c"
                              "0000")},
      {"status empty", seal(" *\x1c"
                            "\x1c"
                            "0000")},
      {"status too long", seal(" *\x1c"
                               "00000\x1c"
                               "0000")},
      {"sequence below 0x20", seal("\x1f*\x1c"
                                   "0000\x1c"
                                   "0000")},
      {"control byte in a field", seal(" *\x1c"
                                       "0000\x1c"
                                       "0000\x1c"
                                       "a\x0a"
                                       "b")},
      {"checksum wrong", std::string("\x02 *\x1c"
                                     "0000\x1c"
                                     "0000\x03") +
                             "0000"},
      {"too short", "\x02\x03"},
  };
  for (const auto& [what, frame] : cases) EXPECT_FALSE(DecodeReply(frame)) << what;
  // A reply with more answer fields than the control holds is read up to AnswerField_19.
  std::string many =
      " 9\x1c"
      "0000\x1c"
      "0000";
  for (int i = 3; i <= 21; ++i) many += "\x1c" + std::to_string(i);
  const auto wide = DecodeReply(seal(many));
  ASSERT_TRUE(wide);
  ASSERT_EQ(wide->Fields.size(), 17u);
  EXPECT_EQ(wide->Fields.front(), "3");
  EXPECT_EQ(wide->Fields.back(), "19");
  EXPECT_TRUE(
      DecodeReply(seal(" *\x1c"
                       "0000\x1c"
                       "0000")));
}

TEST(LinkFrame, StatusWordsAndChecksumReadInEitherCaseWithOrWithoutLeadingZeros) {
  struct Case {
    const char* printer;
    const char* fiscal;
    uint16_t printerWord, fiscalWord;
  };
  for (const Case& c : {Case{"0000", "0600", 0x0000, 0x0600}, Case{"abcd", "Ef01", 0xABCD, 0xEF01},
                        Case{"0", "600", 0, 0x0600}, Case{"80", "c080", 0x0080, 0xC080},
                        Case{"0040", "8", 0x0040, 0x0008}}) {
    std::string body =
        std::string("\x02 *\x1c") + c.printer + "\x1c" + c.fiscal + "\x1c" + "0012\x03";
    const std::string upper = HexWord(Checksum(body));
    std::string lower = upper;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const std::string& sum : {upper, lower}) {
      // Whole, and fed byte by byte as the line brings it.
      const auto r = DecodeReply(body + sum);
      ASSERT_TRUE(r) << c.printer << " " << c.fiscal << " " << sum;
      EXPECT_EQ(r->PrinterStatus, c.printerWord) << c.printer;
      EXPECT_EQ(r->FiscalStatus, c.fiscalWord) << c.fiscal;
      EXPECT_EQ(r->Fields, std::vector<AnsiString>{"0012"});  // fields keep their digits
      ReplyParser parser;
      ReplyParser::Event last = ReplyParser::Event::None;
      for (char ch : body + sum) last = parser.Feed(static_cast<uint8_t>(ch));
      EXPECT_EQ(last, ReplyParser::Event::Reply) << sum;
    }
  }
}

TEST(LinkFrame, ReplyEncodingNeverBreaksTheFrame) {
  ReplyFrame r{0x20, 0x2A, 0, 0, {}};
  r.Fields.push_back(
      std::string("a\x1c"
                  "b\x03"
                  "c\x7f",
                  6));
  for (int i = 0; i < 20; ++i) r.Fields.push_back("x");
  auto back = DecodeReply(EncodeReply(r));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Fields.size(), kMaxAnswerFields);
  EXPECT_EQ(back->Fields[0], "a b c ");
}

TEST(LinkFrame, AnswerIsRefusedOnlyByARefusingCondition) {
  // Warnings (battery low 0x0004, fiscal memory almost full 0x0100) and states never refuse.
  const std::vector<std::pair<uint16_t, int>> cases = {
      {0x0000, 1}, {0x3000, 1}, {0x2000, 1}, {0x0004, 1}, {0x0100, 1}, {0x0800, 1}, {0x0001, 0},
      {0x0002, 0}, {0x8008, 0}, {0x8010, 0}, {0xB020, 0}, {0x8040, 0}, {0x8080, 0}, {0x7F04, 1}};
  for (auto [fiscal, accepted] : cases) {
    ReplyFrame r{0x20, 0x40, 0xC000, fiscal, {"00000001"}};
    const plat::PrinterAnswer a = ToAnswer(r);
    EXPECT_EQ(a.Result != 0, accepted != 0) << std::hex << fiscal;
    EXPECT_EQ(a.FiscalStatus, fiscal);
    EXPECT_EQ(a.PrinterStatus, 0xC000);
    EXPECT_EQ(a.Fields, std::vector<WideString>{u"00000001"});
  }
}

TEST(LinkFrame, DecodesStatusWordsIntoReasons) {
  using V = std::vector<std::string>;
  EXPECT_EQ(DecodePrinterStatus(0), V{});
  EXPECT_EQ(DecodePrinterStatus(0xC000), V{"out of paper"});
  EXPECT_EQ(DecodePrinterStatus(0x904C),
            (V{"printer error", "offline", "buffer full", "drawer open"}));
  EXPECT_EQ(DecodePrinterStatus(0x2003), V{});  // bits with no meaning
  EXPECT_EQ(DecodePrinterStatus(0x0FB0),
            (V{"paper low on the journal roll", "paper low on the receipt roll", "buffer empty",
               "paper at the slip input", "slip inserted", "validation intake ready",
               "paper at the validation intake"}));
  EXPECT_EQ(DecodeFiscalStatus(0x8020), V{"command not valid in the current state"});
  EXPECT_EQ(DecodeFiscalStatus(0x3600), (V{"a fiscal document is open", "a document is open"}));
  EXPECT_EQ(DecodeFiscalStatus(0x2600), (V{"a document is open", "a non-fiscal document is open"}));
  EXPECT_EQ(DecodeFiscalStatus(0xFFFF),
            (V{"fiscal memory error", "working memory error", "battery low", "unknown command",
               "invalid field", "command not valid in the current state", "totals overflow",
               "fiscal memory full", "fiscal memory almost full",
               "a Z closing is required, or the document's item limit is reached",
               "a fiscal document is open", "a document is open",
               "invoice or slip printing initialised"}));
  // The fiscalisation state is a value of two bits; the working state gives no reason.
  EXPECT_EQ(DecodeFiscalStatus(0x0600), V{});
  EXPECT_EQ(DecodeFiscalStatus(0x0200), V{"certified for training, not fiscalised"});
  EXPECT_EQ(DecodeFiscalStatus(0x0400), V{"de-fiscalised"});
  EXPECT_EQ(plat::StatusWarnings(0xFFFF, 0xFFFF),
            (V{"paper low on the journal roll", "paper low on the receipt roll", "battery low",
               "fiscal memory almost full"}));
  EXPECT_EQ(plat::StatusWarnings(0xC400, 0x8020), V{});
  // A refused opening names the roll that keeps it closed; any other refusal only tells it.
  EXPECT_EQ(plat::RefusalReasons(0x8020, 0x8620, true),
            (V{"no document can be opened while the receipt roll's paper is low",
               "command not valid in the current state"}));
  EXPECT_EQ(plat::RefusalReasons(0x8010, 0x8620, false),
            (V{"paper low on the journal roll", "command not valid in the current state"}));
}

// The state every reader takes from the words: the open document, each roll's paper and the
// fiscalisation, with the maker's examples "0600" (idle) and "3600" (ticket open).
TEST(LinkFrame, ReadsThePrintersStateFromTheWords) {
  using D = plat::OpenDocument;
  using P = plat::PaperState;
  using F = plat::Fiscalisation;
  struct Case {
    uint16_t printer, fiscal;
    D document;
    P journal, receipt;
    F fiscalisation;
  };
  const Case cases[] = {
      {0x0000, 0x0600, D::None, P::Ok, P::Ok, F::Fiscalised},
      {0x0080, 0x3600, D::Fiscal, P::Ok, P::Ok, F::Fiscalised},
      {0x0000, 0x2600, D::NonFiscal, P::Ok, P::Ok, F::Fiscalised},
      {0x0000, 0x7600, D::Fiscal, P::Ok, P::Ok, F::Fiscalised},  // fiscal on slip
      {0x0000, 0x4000, D::None, P::Ok, P::Ok, F::NotCertified},  // slip alone: no document
      {0x0400, 0x0200, D::None, P::Ok, P::Ok, F::Training},      // bit 10: validation
      {0x8010, 0x0400, D::None, P::Low, P::Ok, F::Defiscalised},
      {0x8020, 0x0000, D::None, P::Ok, P::Low, F::NotCertified},
      {0xC030, 0x0600, D::None, P::Out, P::Out, F::Fiscalised},
  };
  for (const Case& c : cases) {
    const plat::PrinterState s = plat::ReadState(c.printer, c.fiscal);
    const std::string at = HexWord(c.printer) + "/" + HexWord(c.fiscal);
    EXPECT_EQ(s.Document, c.document) << at;
    EXPECT_EQ(s.DocumentOpen(), c.document != D::None) << at;
    EXPECT_EQ(s.Journal, c.journal) << at;
    EXPECT_EQ(s.Receipt, c.receipt) << at;
    EXPECT_EQ(s.Fiscal, c.fiscalisation) << at;
    EXPECT_EQ(s.OpeningBlocked(), c.journal == P::Low || c.receipt == P::Low) << at;
  }
  // Each summary bit stands for its own set: printer 0-6 and 14, fiscal 0-8 and 11.
  for (int bit = 0; bit < 15; ++bit) {
    const auto w = static_cast<uint16_t>(1u << bit);
    EXPECT_EQ(plat::status::WithPrinterSummary(w) >> 15, bit <= 6 || bit == 14) << bit;
    EXPECT_EQ(plat::status::WithFiscalSummary(w) >> 15, bit <= 8 || bit == 11) << bit;
  }
  EXPECT_EQ(plat::status::WithFiscalSummary(0x8600), 0x0600) << "a summary with nothing under it";
}

std::vector<FrameScanner::Event> ScanAll(const std::string& bytes,
                                         std::vector<std::string>* frames = nullptr) {
  FrameScanner s;
  std::vector<FrameScanner::Event> out;
  for (char c : bytes) {
    const auto e = s.Feed(static_cast<uint8_t>(c));
    if (e == FrameScanner::Event::None) continue;
    out.push_back(e);
    if (e == FrameScanner::Event::Frame && frames) frames->push_back(s.Frame());
  }
  return out;
}

TEST(LinkFrame, ScannerSortsAByteStream) {
  using E = FrameScanner::Event;
  const std::string good = std::string("\x02 *\x1cN\x03") + "00B9";
  const std::string bad = std::string("\x02 *\x1cN\x03") + "00B8";
  std::vector<std::string> frames;
  const auto events = ScanAll("xx\x12" + good + "\x14\x15" + bad + "\x02 *\x1c" + good +
                                  std::string("\x02 *\x03"
                                              "0G") +
                                  good,
                              &frames);
  EXPECT_EQ(events, (std::vector<E>{E::KeepAlive, E::Frame, E::KeepAlive, E::Nak, E::BadFrame,
                                    E::BadFrame, E::Frame, E::BadFrame, E::Frame}));
  EXPECT_EQ(frames, (std::vector<std::string>{good, good, good}));
  // A frame that never ends is dropped once it is too long, and the next one is found.
  EXPECT_EQ(ScanAll("\x02" + std::string(kMaxFrameBytes + 10, 'a') + good),
            (std::vector<E>{E::BadFrame, E::Frame}));
  // A new frame starting inside the checksum ends the damaged one.
  EXPECT_EQ(ScanAll(std::string("\x02 *\x03"
                                "00") +
                    good),
            (std::vector<E>{E::BadFrame, E::Frame}));
}

TEST(LinkFrame, ReplyParserFindsRepliesAfterRandomGarbage) {
  std::mt19937 rng(7);
  ReplyFrame r{0x33, 0x45, 0, 0x0000, {"00000042"}};
  const std::string reply = EncodeReply(r);
  for (int round = 0; round < 200; ++round) {
    ReplyParser p;
    std::string noise(rng() % 64, '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    for (char c : noise) p.Feed(static_cast<uint8_t>(c));
    // Whatever the noise left behind, one bad frame at most, then the reply is read.
    int replies = 0;
    for (char c : std::string(1, '\x02') + reply.substr(0) + reply)
      if (p.Feed(static_cast<uint8_t>(c)) == ReplyParser::Event::Reply) ++replies;
    EXPECT_GE(replies, 1) << round;
    EXPECT_EQ(p.Reply().Fields, r.Fields);
  }
}

}  // namespace
