// SPDX-License-Identifier: Apache-2.0
// The serial backend against a scripted printer on the far side of a pseudo-terminal.
#include "printer/serial_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/exceptions.h"
#include "printer/emulator.h"
#include "printer/internal/link_server.h"
#include "printer/link_frame.h"
#include "printer/link_trace.h"
#include "printer/printer.h"
#include "printer/status.h"

namespace {

using namespace std::chrono_literals;
using plat::AnsiString;
using plat::WideString;
namespace link = plat::link;

// A printer whose every answer the test writes. Each frame (or NAK, or damaged frame) the host
// sends is recorded and handed to the script, on the printer's own thread.
class FakePrinter {
 public:
  using Script = std::function<void(FakePrinter&, const std::string& received)>;

  explicit FakePrinter(Script script) : script_(std::move(script)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) std::abort();
    path_ = ptsname(master_);
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    thread_ = std::thread([this] { Loop(); });
  }
  ~FakePrinter() {
    stop_ = true;
    thread_.join();
    Hangup();
    if (slave_ >= 0) ::close(slave_);
  }

  const std::string& Path() const { return path_; }
  void Write(const std::string& bytes) {
    if (master_ >= 0) [[maybe_unused]]
      auto n = ::write(master_, bytes.data(), bytes.size());
  }
  // The printer disappears: its side of the line closes.
  void Hangup() {
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  std::vector<std::string> Received() {
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
  }

  // A reply to a host frame with the given status and fields.
  static std::string Reply(const std::string& frame, uint16_t fiscal = 0,
                           std::vector<AnsiString> fields = {}, int seqOffset = 0, int cmd = -1) {
    link::ReplyFrame r;
    r.Seq = static_cast<uint8_t>(frame[1] + seqOffset);
    r.Cmd = static_cast<uint8_t>(cmd >= 0 ? cmd : frame[2]);
    r.FiscalStatus = fiscal;
    r.Fields = std::move(fields);
    return link::EncodeReply(r);
  }

 private:
  void Loop() {
    link::FrameScanner scanner;
    char buf[256];
    while (!stop_ && master_ >= 0) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN)) continue;
      const ssize_t n = ::read(master_, buf, sizeof buf);
      for (ssize_t i = 0; i < n; ++i) {
        std::string got;
        switch (scanner.Feed(static_cast<uint8_t>(buf[i]))) {
          case link::FrameScanner::Event::Frame:
            got = scanner.Frame();
            break;
          case link::FrameScanner::Event::Nak:
            got = "NAK";
            break;
          case link::FrameScanner::Event::BadFrame:
            got = "BAD";
            break;
          default:
            continue;
        }
        {
          std::lock_guard<std::mutex> lock(mu_);
          received_.push_back(got);
        }
        script_(*this, got);
        if (master_ < 0) return;
      }
    }
  }

  Script script_;
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::vector<std::string> received_;
  std::thread thread_;
};

plat::SerialConfig ConfigFor(const FakePrinter& p, int timeoutMs = 1000) {
  plat::SerialConfig c;
  c.Ports[1] = p.Path();
  c.TimeoutMs = timeoutMs;
  c.FirstSequence = 0x20;
  c.AskPrinterFirst = false;
  c.ReadStateFirst = false;
  c.Model = "ours";   // the frames are the command's own
  c.ReplyWaitMs = 0;  // the short timeouts here are the whole wait
  return c;
}

// The steady clock, moved on by the test: waits run on real time, and a test adds the time a
// busy printer would take without having to spend it.
class SteppedClock : public plat::LinkClock {
 public:
  TimePoint Now() const override {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(offsetMs_.load());
  }
  void Advance(std::chrono::milliseconds d) { offsetMs_ += d.count(); }

 private:
  std::atomic<long long> offsetMs_{0};
};

plat::PrinterAnswer Exec(plat::SerialBackend& b, const char* method, std::vector<WideString> args) {
  std::vector<WideString*> ptrs;
  for (auto& a : args) ptrs.push_back(&a);
  return b.Execute(1, method, ptrs);
}

std::string Frame(uint8_t seq, const char* method, std::vector<AnsiString> fields) {
  return link::EncodeCommand(seq, method, fields);
}

// Fails with the ELinkError's message, for matching.
std::string LinkFailure(const std::function<void()>& f) {
  try {
    f();
  } catch (const plat::ELinkError& e) {
    return e.Message();
  }
  return "(no link error)";
}

// The kind of the ELinkError raised.
plat::LinkFault FaultOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const plat::ELinkError& e) {
    return e.Kind();
  }
  return plat::LinkFault::Other;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(SerialLink, SendsTheFrameAndReadsTheReply) {
  FakePrinter printer([](FakePrinter& p, const std::string& got) {
    p.Write(FakePrinter::Reply(got, 0x3000, {"00000007"}));
  });
  auto c = ConfigFor(printer);
  std::string out, in;  // the byte trace
  c.Trace = [&](plat::LinkDirection d, std::string_view bytes) {
    (d == plat::LinkDirection::Out ? out : in) += bytes;
  };
  plat::SerialBackend b(c);
  std::vector<WideString> args = {u"G"};
  std::vector<WideString*> ptrs = {&args[0]};
  const auto a = b.Execute(1, "OpenTicket", ptrs);
  EXPECT_EQ(a.Result, 1);
  EXPECT_EQ(a.FiscalStatus, 0x3000);
  EXPECT_EQ(a.Fields, std::vector<WideString>{u"00000007"});
  EXPECT_EQ(args[0], u"G");  // nothing is written back over the line
  EXPECT_EQ(printer.Received(), std::vector<std::string>{Frame(0x20, "OpenTicket", {"C"})});
  EXPECT_EQ(out, Frame(0x20, "OpenTicket", {"C"}));
  EXPECT_EQ(in, FakePrinter::Reply(Frame(0x20, "OpenTicket", {"C"}), 0x3000, {"00000007"}));
}

TEST(SerialLink, RefusalAnswersZeroAndNumbersAdvanceAndWrap) {
  FakePrinter printer([](FakePrinter& p, const std::string& got) {
    p.Write(FakePrinter::Reply(got, got[2] == 0x45 ? 0x8020 : 0));
  });
  auto c = ConfigFor(printer);
  c.FirstSequence = 0x7E;
  plat::SerialBackend b(c);
  EXPECT_EQ(Exec(b, "Status", {u"N"}).Result, 1);
  const auto refused = Exec(b, "CloseTicket", {});
  EXPECT_EQ(refused.Result, 0);
  EXPECT_EQ(refused.FiscalStatus, 0x8020);
  EXPECT_EQ(Exec(b, "Status", {u"N"}).Result, 1);
  EXPECT_EQ(printer.Received(), (std::vector<std::string>{Frame(0x7E, "Status", {"N"}),
                                                          Frame(0x7F, "CloseTicket", {"T"}),
                                                          Frame(0x20, "Status", {"N"})}));
}

TEST(SerialLink, ResendsTheSameFrameAfterSilenceOrANak) {
  struct Case {
    const char* what;
    std::function<void(FakePrinter&, const std::string&, int)> script;
  };
  const std::vector<Case> cases = {
      {"lost reply",
       [](FakePrinter& p, const std::string& got, int n) {
         if (n >= 3) p.Write(FakePrinter::Reply(got));
       }},
      {"printer NAK",
       [](FakePrinter& p, const std::string& got, int n) {
         p.Write(n < 3 ? std::string(1, '\x15') : FakePrinter::Reply(got));
       }},
  };
  for (const auto& c : cases) {
    int n = 0;
    FakePrinter printer([&](FakePrinter& p, const std::string& got) { c.script(p, got, ++n); });
    plat::SerialBackend b(ConfigFor(printer, 200));
    // A query runs again harmlessly; a command that changes the printer never goes blindly.
    EXPECT_EQ(Exec(b, "GetTicketSubtotal", {u"N", u""}).Result, 1) << c.what;
    const std::string frame = Frame(0x20, "GetTicketSubtotal", {"N", ""});
    EXPECT_EQ(printer.Received(), (std::vector<std::string>(3, frame))) << c.what;
    EXPECT_EQ(b.GetStats().Resends, 2) << c.what;
  }
}

TEST(SerialLink, DamagedReplyIsAnsweredWithNakAndReadAgain) {
  FakePrinter printer([](FakePrinter& p, const std::string& got) {
    static std::string last;
    if (got != "NAK") {
      last = FakePrinter::Reply(got, 0, {"00000001"});
      std::string damaged = last;
      damaged[5] ^= 0x01;
      p.Write(damaged);
    } else {
      p.Write(last);
    }
  });
  plat::SerialBackend b(ConfigFor(printer));
  const auto a = Exec(b, "CloseTicket", {});
  EXPECT_EQ(a.Fields, std::vector<WideString>{u"00000001"});
  EXPECT_EQ(printer.Received(),
            (std::vector<std::string>{Frame(0x20, "CloseTicket", {"T"}), "NAK"}));
  EXPECT_EQ(b.GetStats().NaksSent, 1);
  EXPECT_EQ(b.GetStats().Resends, 0);
}

TEST(SerialLink, KeepAlivesRestartTheReplyTimerUpToTheOverallLimit) {
  // Each busy signal comes 150 ms after the last (by the link's clock), well within the 250 ms
  // timeout; the overall limit of 2000 ms ends a printer that stays busy.
  struct Case {
    int keepAlives;
    bool answers;
  };
  for (const Case& c : {Case{10, true}, Case{40, false}}) {
    auto clock = std::make_shared<SteppedClock>();
    FakePrinter printer([&](FakePrinter& p, const std::string& got) {
      if (got == "NAK") return;
      for (int i = 0; i < c.keepAlives; ++i) {
        clock->Advance(150ms);
        p.Write(std::string(1, i % 2 ? '\x14' : '\x12'));
        std::this_thread::sleep_for(2ms);
      }
      if (c.answers) p.Write(FakePrinter::Reply(got));
    });
    auto config = ConfigFor(printer, 250);
    config.Clock = clock;
    config.TotalTimeoutMs = 2000;
    plat::SerialBackend b(config);
    if (c.answers) {
      EXPECT_EQ(Exec(b, "CloseJournal", {u"Z", u"P"}).Result, 1);
      EXPECT_EQ(b.GetStats().KeepAlives, c.keepAlives);
    } else {
      const std::string msg = LinkFailure([&] { Exec(b, "CloseJournal", {u"Z", u"P"}); });
      // The Z may have run on the printer: the link never sends it again.
      EXPECT_TRUE(Has(msg, printer.Path() +
                               ": CloseJournal: in doubt, not sent again: busy without an "
                               "answer for 2000 ms ("))
          << msg;
      // It gave up on the signal that passed the limit (or one read with it), not at the end.
      EXPECT_GE(b.GetStats().KeepAlives, 13);
      EXPECT_LT(b.GetStats().KeepAlives, c.keepAlives);
    }
    EXPECT_EQ(printer.Received().size(), 1u);
    EXPECT_EQ(b.GetStats().Resends, 0);
  }
}

TEST(SerialLink, TheOverallLimitBoundsEveryTryOfTheCommandTogether) {
  // Every try of a status query keeps the printer busy for 900 ms and then gets no answer: the
  // tries alone would take 4 x 1150 ms, the limit of 1000 ms ends the command in the first.
  auto clock = std::make_shared<SteppedClock>();
  FakePrinter printer([&](FakePrinter& p, const std::string& got) {
    if (got == "NAK") return;
    for (int i = 0; i < 6; ++i) {
      clock->Advance(150ms);
      p.Write("\x12");
      std::this_thread::sleep_for(2ms);
    }
  });
  auto config = ConfigFor(printer, 250);
  config.Clock = clock;
  config.TotalTimeoutMs = 1000;
  plat::SerialBackend b(config);
  const auto run = [&] { Exec(b, "Status", {u"N"}); };
  EXPECT_EQ(LinkFailure(run), "printer link " + printer.Path() +
                                  ": Status: busy without an answer for 1000 ms (6 busy signals)");
  EXPECT_EQ(printer.Received().size(), 1u);
  EXPECT_EQ(FaultOf(run), plat::LinkFault::Timeout);
}

// A printer whose reply to the command under test is lost the first times it comes, and whose
// non-printing queries answer from a script: the status words and the fields of each mode.
struct Scripted {
  uint16_t words = 0;                  // the fiscal status word the queries answer
  AnsiString lastTicket;               // mode A field 2
  int lose = 1;                        // replies of the command lost
  bool queriesAnswer = true;           // after the first lost reply
  std::function<void(Scripted&)> ran;  // the command ran: the state it leaves
};

void Serve(Scripted& s, const char* method, FakePrinter& p, const std::string& got) {
  const auto frame = link::DecodeCommand(got);
  if (!frame) return;
  const plat::CommandInfo* info = plat::FindCommand(frame->Cmd);
  if (info->Method == std::string(method)) {
    if (s.ran) s.ran(s);
    if (s.lose-- > 0) return;
    p.Write(FakePrinter::Reply(got, s.words, {"00000013"}));
    return;
  }
  if (s.lose < 1 && !s.queriesAnswer) return;
  const AnsiString mode = frame->Fields.empty() ? "" : frame->Fields[0];
  if (info->Id == plat::Command::Status && mode == "A")
    p.Write(FakePrinter::Reply(got, s.words,
                               {"00041", s.lastTicket, s.lastTicket, "00000003", "00000003",
                                "00007", "00000", "00000009", "00000000", "00000000", "00000000"}));
  else
    p.Write(FakePrinter::Reply(got, s.words, {"00000012", "261208", "100000", "00041"}));
}

TEST(SerialLink, ALostReplyIsDecidedFromThePrintersQueriesAlone) {
  constexpr uint16_t kFiscalOpen = plat::status::kFiscalDocumentOpen | plat::status::kDocumentOpen;
  constexpr uint16_t kTextOpen = plat::status::kDocumentOpen;
  struct Case {
    const char* what;
    const char* method;
    std::vector<WideString> args;
    Scripted printer;
    const char* failure;  // "" when it answers
    size_t frames;        // of the command
  };
  const auto closes = [](Scripted& s) {
    s.words = 0;
    s.lastTicket = "00000013";
  };
  const std::vector<Case> cases = {
      {"closed: the new number is the answer",
       "CloseTicket",
       {},
       {kFiscalOpen, "00000012", 1, true, closes},
       "",
       1},
      {"not closed: sent again",
       "CloseTicket",
       {},
       {kFiscalOpen, "00000012", 1, true, nullptr},
       "",
       2},
      {"never told",
       "CloseTicket",
       {},
       {kFiscalOpen, "00000012", 4, true, nullptr},
       "CloseTicket: no answer (4 tries, 200 ms each; the printer's queries show it did not run)",
       4},
      {"a text line",
       "SendNoFiscalText",
       {u"----"},
       {kTextOpen, "00000012", 1, true, nullptr},
       "SendNoFiscalText: in doubt, not sent again: the printer does not report whether a "
       "non-fiscal text line printed",
       1},
      {"no query answers",
       "CloseTicket",
       {},
       {kFiscalOpen, "00000012", 1, false, closes},
       "CloseTicket: in doubt, not sent again: the status query after a lost reply: no answer "
       "(4 tries, 200 ms each)",
       1},
  };
  for (Case c : cases) {
    FakePrinter printer(
        [&](FakePrinter& p, const std::string& got) { Serve(c.printer, c.method, p, got); });
    auto config = ConfigFor(printer, 200);
    config.ReadStateFirst = true;
    plat::SerialBackend b(config);
    std::vector<WideString> args = c.args;
    plat::PrinterAnswer answer;
    const std::string msg = LinkFailure([&] { answer = Exec(b, c.method, args); });
    if (*c.failure == 0) {
      EXPECT_EQ(msg, "(no link error)") << c.what;
      EXPECT_EQ(answer.Fields, std::vector<WideString>{u"00000013"}) << c.what;
    } else {
      const std::string expected = "printer link " + printer.Path() + ": " + c.failure;
      EXPECT_EQ(msg.substr(0, expected.size()), expected) << c.what;
    }
    size_t frames = 0;
    for (const auto& r : printer.Received()) {
      const auto f = link::DecodeCommand(r);
      frames += f && plat::FindCommand(f->Cmd)->Method == std::string(c.method);
    }
    EXPECT_EQ(frames, c.frames) << c.what;
  }
}

TEST(SerialLink, SkipsRepliesToEarlierCommands) {
  FakePrinter printer([](FakePrinter& p, const std::string& got) {
    p.Write(FakePrinter::Reply(got, 0, {"old"}, -1) + FakePrinter::Reply(got, 0, {"new"}));
  });
  auto c = ConfigFor(printer);
  c.FirstSequence = 0x30;
  plat::SerialBackend b(c);
  EXPECT_EQ(Exec(b, "Status", {u"N"}).Fields, std::vector<WideString>{u"new"});
  EXPECT_EQ(b.GetStats().StaleReplies, 1);
}

TEST(SerialLink, AReplyKeptForAnotherCommandIsDecidedOnTheQueries) {
  // A printer answers the opening with the reply it kept for another command: the opening is
  // sent again only once the printer's queries show that it did not run.
  int openings = 0;
  FakePrinter printer([&](FakePrinter& p, const std::string& got) {
    const auto f = link::DecodeCommand(got);
    if (!f) return;
    const std::string method = plat::FindCommand(f->Cmd)->Method;
    if (method == "OpenTicket")
      p.Write(++openings == 1 ? FakePrinter::Reply(got, 0, {"stale"}, 0, 0x45)
                              : FakePrinter::Reply(got, 0, {"fresh"}));
    else if (method == "GetTicketSubtotal")  // refused: nothing is open
      p.Write(FakePrinter::Reply(got, plat::status::kInvalidState | plat::status::kFiscalAny));
    else
      p.Write(FakePrinter::Reply(got));
  });
  auto config = ConfigFor(printer);
  config.ReadStateFirst = true;
  plat::SerialBackend b(config);
  EXPECT_EQ(Exec(b, "OpenTicket", {u"G"}).Fields, std::vector<WideString>{u"fresh"});
  EXPECT_EQ(openings, 2);
  EXPECT_EQ(b.GetStats().SentAgain, 1);
}

// A printer that stops answering: after a command's tries the next commands fail at once, a
// status query tries it once and lets them through when it answers; an unanswered quick
// (idle) query alone stops nothing.
TEST(SerialLink, FailsFastOnlyAfterAllTriesWentUnanswered) {
  struct Step {
    const char* method;
    bool answering;  // the printer, from this step on
    bool quick;      // sent as a host's idle check
    size_t frames;   // that reach the line
    const char* failure;
  };
  const char* const kStopped = "not sent, the printer stopped answering (Status: no answer";
  struct Case {
    const char* what;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"silent, then back",
       {{"Status", false, false, 4, "Status: no answer (4 tries, 100 ms each)"},
        {"OpenCashDrawer", false, false, 0, kStopped},
        {"Status", false, false, 1, "Status: no answer (1 try, 100 ms)"},
        {"OpenCashDrawer", false, false, 0, kStopped},
        {"Status", true, false, 1, ""},
        {"OpenCashDrawer", true, false, 1, ""}}},
      {"an idle check unanswered",
       {{"Status", false, true, 1, "Status: no answer (1 try, 100 ms)"},
        {"OpenCashDrawer", true, false, 1, ""}}},
      {"an idle check after the printer stopped",
       {{"Status", false, false, 4, "Status: no answer (4 tries, 100 ms each)"},
        {"Status", false, true, 1, "Status: no answer (1 try, 100 ms)"},
        {"OpenCashDrawer", true, false, 0, kStopped}}},
  };
  for (const Case& c : cases) {
    std::atomic<bool> answering{false};
    FakePrinter printer([&](FakePrinter& p, const std::string& got) {
      if (answering) p.Write(FakePrinter::Reply(got));
    });
    plat::SerialBackend b(ConfigFor(printer, 100));
    for (const Step& s : c.steps) {
      SCOPED_TRACE(std::string(c.what) + ": " + s.method);
      answering = s.answering;
      const size_t before = printer.Received().size();
      const WideString arg = std::string(s.method) == "Status" ? u"N" : u"1";
      std::optional<plat::QuickStatusQueries> quick;
      if (s.quick) quick.emplace();
      const std::string msg = LinkFailure([&] { Exec(b, s.method, {arg}); });
      if (*s.failure == 0)
        EXPECT_EQ(msg, "(no link error)");
      else
        EXPECT_TRUE(Has(msg, s.failure)) << msg;
      EXPECT_EQ(printer.Received().size() - before, s.frames);
    }
  }
}

// What the printer's reply tells about the command, as its maker gives the rules: a NAK sends
// the same frame again, a full buffer the command under a new number, paper that ran out
// before the command means it did not run (after it: it ran), and a reply that is not the
// command's sends a query again but never a command that changes the printer blindly.
TEST(SerialLink, EachReplyConditionSendsAgainOnlyWhatDidNotRun) {
  // What the printer answers to each frame in turn (the last one again for any later frame).
  enum Answer { kOk, kNak, kFull, kNoPaper, kNoPaperBefore, kForeign };
  struct Case {
    const char* method;
    std::vector<Answer> answers;
    std::vector<uint8_t> numbers;  // of the frames the printer got
    int result;                    // -1: a link error
    const char* failure;
  };
  const std::vector<Case> cases = {
      {"OpenCashDrawer", {kNak, kNak, kOk}, {0x20, 0x20, 0x20}, 1, ""},
      {"OpenCashDrawer",
       {kNak},
       {0x20, 0x20, 0x20, 0x20},
       -1,
       "repeated bad checksums (the printer refused the frame 4 times)"},
      {"OpenCashDrawer", {kFull, kOk}, {0x20, 0x21}, 1, ""},
      {"OpenCashDrawer",
       {kFull},
       {0x20, 0x21, 0x22, 0x23},
       -1,
       "the printer's buffer stays full (4 tries)"},
      {"OpenCashDrawer", {kNoPaper}, {0x20}, 1, ""},
      {"OpenCashDrawer", {kNoPaperBefore}, {0x20}, 0, ""},
      {"Status", {kForeign, kOk}, {0x20, 0x21}, 1, ""},
      {"OpenCashDrawer", {kForeign}, {0x20}, -1, "in doubt, not sent again"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + std::to_string(c.answers.front()));
    size_t n = 0;
    FakePrinter printer([&](FakePrinter& p, const std::string& got) {
      const Answer a = c.answers[std::min(n++, c.answers.size() - 1)];
      if (a == kNak) return p.Write("\x15");
      link::ReplyFrame r;
      r.Seq = static_cast<uint8_t>(got[1] + (a == kForeign ? 20 : 0));
      r.Cmd = static_cast<uint8_t>(got[2]);
      if (a == kFull) r.PrinterStatus = plat::status::kBufferFull | plat::status::kPrinterAny;
      if (a == kNoPaper || a == kNoPaperBefore)
        r.PrinterStatus = plat::status::kOutOfPaper | plat::status::kPrinterAny;
      if (a == kNoPaperBefore) r.FiscalStatus = plat::status::kFiscalAny;
      p.Write(link::EncodeReply(r));
    });
    plat::SerialBackend b(ConfigFor(printer, 100));
    plat::PrinterAnswer a;
    const WideString arg = std::string(c.method) == "Status" ? u"N" : u"1";
    const std::string msg = LinkFailure([&] { a = Exec(b, c.method, {arg}); });
    if (c.result >= 0) {
      EXPECT_EQ(msg, "(no link error)");
      EXPECT_EQ(a.Result, c.result);
    } else {
      EXPECT_TRUE(Has(msg, std::string(c.method) + ": " + c.failure)) << msg;
    }
    std::vector<uint8_t> numbers;
    for (const auto& got : printer.Received()) numbers.push_back(static_cast<uint8_t>(got[1]));
    EXPECT_EQ(numbers, c.numbers);
  }
}

// The wait for a reply starts at 800 ms and each busy byte adds 800 ms, the configured timeout
// being the shortest wait (here far shorter).
TEST(SerialLink, TheReplyWaitStartsAtTheMakersTimeAndBusyBytesAddToIt) {
  struct Case {
    int busyAtMs;   // a busy byte this long after the frame; 0: none
    int replyAtMs;  // the reply; 0: none
    int endsAfterMs;
  };
  for (const Case& c :
       {Case{0, 300, 300}, Case{600, 1300, 1300}, Case{600, 0, 1600}, Case{0, 0, 800}}) {
    FakePrinter printer([&](FakePrinter& p, const std::string& got) {
      if (c.busyAtMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(c.busyAtMs));
        p.Write("\x12");
      }
      if (c.replyAtMs == 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(c.replyAtMs - c.busyAtMs));
      p.Write(FakePrinter::Reply(got));
    });
    auto config = ConfigFor(printer, 50);
    config.Retries = 0;
    config.ReplyWaitMs = link::kReplyWaitMs;
    plat::SerialBackend b(config);
    const auto start = std::chrono::steady_clock::now();
    const std::string msg = LinkFailure([&] { Exec(b, "Status", {u"N"}); });
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(msg, c.replyAtMs > 0
                       ? "(no link error)"
                       : "printer link " + printer.Path() + ": Status: no answer (1 try, 800 ms)")
        << "busy at " << c.busyAtMs << ", reply at " << c.replyAtMs;
    EXPECT_GE(took, std::chrono::milliseconds(c.endsAfterMs - 20));
    EXPECT_LT(took, std::chrono::milliseconds(c.endsAfterMs + 400));
  }
}

// A line that hung up and came back (a printer switched off and on) is read again before the
// next command, which the printer's restart may have found another state for.
TEST(SerialLink, ALineThatCameBackIsReadBeforeTheNextCommand) {
  const std::string link = "/tmp/fiscal-link-" + std::to_string(::getpid());
  FakePrinter before([](FakePrinter& p, const std::string&) { p.Hangup(); });
  FakePrinter after(
      [](FakePrinter& p, const std::string& got) { p.Write(FakePrinter::Reply(got)); });
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink(before.Path().c_str(), link.c_str()), 0);
  auto config = ConfigFor(before, 200);
  config.Ports[1] = link;
  config.ReadStateFirst = true;
  plat::SerialBackend b(config);
  EXPECT_TRUE(Has(LinkFailure([&] { Exec(b, "OpenCashDrawer", {u"1"}); }), "device gone"));
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink(after.Path().c_str(), link.c_str()), 0);
  EXPECT_EQ(Exec(b, "OpenCashDrawer", {u"1"}).Result, 1);
  ::unlink(link.c_str());
  std::vector<std::string> methods;
  for (const auto& got : after.Received()) {
    const auto f = link::DecodeCommand(got);
    methods.push_back(f ? plat::FindCommand(f->Cmd)->Method : got);
  }
  EXPECT_EQ(methods, (std::vector<std::string>{"Status", "OpenCashDrawer"}));
}

TEST(SerialLink, AVanishedDeviceFailsAtOnceAndTheNextCommandOpensAgain) {
  FakePrinter printer([](FakePrinter& p, const std::string&) { p.Hangup(); });
  plat::SerialBackend b(ConfigFor(printer, 2000));
  const std::string msg = LinkFailure([&] { Exec(b, "Status", {u"N"}); });
  EXPECT_TRUE(Has(msg, "printer link " + printer.Path() + ": Status: device gone")) << msg;
  EXPECT_EQ(b.GetStats().Resends, 0);  // at once, without waiting for a reply

  // A device that does not open names itself and the command; a later good port works.
  plat::SerialConfig c = ConfigFor(printer);
  c.Ports[1] = "/nonexistent/ttyX";
  FakePrinter good(
      [](FakePrinter& p, const std::string& got) { p.Write(FakePrinter::Reply(got)); });
  c.Ports[2] = good.Path();
  plat::SerialBackend b2(c);
  const std::string open = LinkFailure([&] { Exec(b2, "OpenTicket", {u"G"}); });
  EXPECT_TRUE(Has(open, "printer link /nonexistent/ttyX: OpenTicket: cannot open the device"))
      << open;
  std::vector<WideString> args = {u"N"};
  std::vector<WideString*> ptrs = {&args[0]};
  EXPECT_EQ(b2.Execute(2, "Status", ptrs).Result, 1);
}

TEST(SerialLink, RefusedFieldsSendNothing) {
  FakePrinter printer(
      [](FakePrinter& p, const std::string& got) { p.Write(FakePrinter::Reply(got)); });
  plat::SerialBackend b(ConfigFor(printer));
  for (const WideString& bad :
       {WideString(u"a\u001cb"), WideString(u"a\u0003"), WideString(u"\u007f")}) {
    const std::string msg = LinkFailure([&] {
      Exec(b, "SendTicketItem",
           {u"Cafe", u"000001.00", u"000010.00", u"021.00", u"M", u"0", u"0", bad});
    });
    EXPECT_TRUE(Has(msg, "SendTicketItem: field 8")) << msg;
  }
  // A non-fiscal text goes out one line per frame; a control byte in any line stops all.
  EXPECT_TRUE(
      Has(LinkFailure([&] { Exec(b, "SendNoFiscalText", {u"ok\nbad\tline"}); }), "field 1"));
  EXPECT_TRUE(printer.Received().empty());
  EXPECT_EQ(Exec(b, "SendNoFiscalText", {u"----\r\n\nTOTAL"}).Result, 1);
  EXPECT_EQ(printer.Received(),
            (std::vector<std::string>{Frame(0x20, "SendNoFiscalText", {"----"}),
                                      Frame(0x21, "SendNoFiscalText", {""}),
                                      Frame(0x22, "SendNoFiscalText", {"TOTAL"})}));
}

// Each drawer is a command with no field, and another drawer goes nowhere; a text longer than
// the paper goes out as lines of at most 40 characters.
TEST(SerialLink, DrawersAndLongTextsGoOutAsThePrinterTakesThem) {
  FakePrinter printer(
      [](FakePrinter& p, const std::string& got) { p.Write(FakePrinter::Reply(got)); });
  plat::SerialBackend b(ConfigFor(printer));
  EXPECT_EQ(Exec(b, "OpenCashDrawer", {u"3"}).Result, 0);
  EXPECT_TRUE(printer.Received().empty());
  EXPECT_EQ(Exec(b, "OpenCashDrawer", {u"1"}).Result, 1);
  EXPECT_EQ(Exec(b, "OpenCashDrawer", {u"2"}).Result, 1);
  EXPECT_EQ(Exec(b, "SendNoFiscalText", {WideString(45, u'x')}).Result, 1);
  EXPECT_EQ(printer.Received(),
            (std::vector<std::string>{std::string("\x02 {\x03") + "00A0",
                                      std::string("\x02!|\x03") + "00A2",
                                      Frame(0x22, "SendNoFiscalText", {std::string(40, 'x')}),
                                      Frame(0x23, "SendNoFiscalText", {"xxxxx"})}));
}

TEST(SerialLink, ATextStopsAtTheFirstRefusedLine) {
  FakePrinter printer([](FakePrinter& p, const std::string& got) {
    p.Write(FakePrinter::Reply(got, got[1] == 0x21 ? 0xA020 : 0x2000));
  });
  plat::SerialBackend b(ConfigFor(printer));
  EXPECT_EQ(Exec(b, "SendNoFiscalText", {u"a\nb\nc"}).Result, 0);
  EXPECT_EQ(printer.Received().size(), 2u);
}

// The printer-side link server (the printer-emulator program's inside) on a pseudo-terminal,
// served on a thread of its own; it stays on while hosts come and go.
class ServedPrinter {
 public:
  ServedPrinter() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || pipe(stop_) != 0)
      std::abort();
    path_ = ptsname(master_);
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    plat::MakeRawSerialLine(slave_, 9600);
    plat::MakeRawSerialLine(master_, 0);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    server_ =
        std::make_unique<plat::LinkServer>(plat::LinkServerOptions{}, master_, stop_[0], errors_);
    if (!server_->Open()) std::abort();
    thread_ = std::thread([this] { server_->Serve(); });
  }
  ~ServedPrinter() {
    [[maybe_unused]] auto n = ::write(stop_[1], "s", 1);
    thread_.join();
    for (int fd : {slave_, master_, stop_[0], stop_[1]}) ::close(fd);
  }
  const std::string& Path() const { return path_; }
  long Executed() const { return server_->Executed(); }

 private:
  int master_ = -1, slave_ = -1;
  int stop_[2] = {-1, -1};
  std::string path_;
  std::ostringstream errors_;
  std::unique_ptr<plat::LinkServer> server_;
  std::thread thread_;
};

TEST(SerialLink, ARestartedHostNeverRepeatsTheNumberThePrinterRanLast) {
  ServedPrinter printer;
  plat::SerialConfig config;
  config.Ports[1] = printer.Path();
  config.TimeoutMs = 1000;
  // The worst case: the new host would start on the very number the last one ended with.
  config.FirstSequence = 0x20;
  config.ReadStateFirst = false;  // one command per host: the number is what is tried here
  config.Model = "ours";
  for (int host = 0; host < 2; ++host) {
    plat::SerialBackend b(config);
    EXPECT_EQ(Exec(b, "OpenCashDrawer", {u"1"}).Result, 1);
    EXPECT_EQ(printer.Executed(), host + 1) << "host " << host << ": the command did not run";
    config.FirstSequence = 0x20 + host;  // the number this host used
  }
  // Many restarts, each starting wherever chance puts it: every command runs, once.
  config.FirstSequence = -1;
  for (int host = 0; host < 300; ++host) {
    plat::SerialBackend b(config);
    const long before = printer.Executed();
    EXPECT_EQ(Exec(b, "OpenCashDrawer", {u"1"}).Result, 1);
    ASSERT_EQ(printer.Executed(), before + 1) << "restart " << host << ": the command did not run";
  }
}

// ---- configuration -------------------------------------------------------------------------

class EnvGuard {
 public:
  EnvGuard() {
    for (const char* n : kNames) {
      const char* v = std::getenv(n);
      saved_.emplace_back(n, v ? std::optional<std::string>(v) : std::nullopt);
      unsetenv(n);
    }
  }
  ~EnvGuard() {
    for (const auto& [n, v] : saved_) {
      if (v)
        setenv(n, v->c_str(), 1);
      else
        unsetenv(n);
    }
    plat::SetPrinterBackend(nullptr);
  }

 private:
  static constexpr const char* kNames[] = {"FISCAL_PRINTER",         "FISCAL_PRINTER_PORTS",
                                           "FISCAL_PRINTER_BAUD",    "FISCAL_PRINTER_FLOW",
                                           "FISCAL_PRINTER_RETRIES", "FISCAL_PRINTER_TIMEOUT_MS",
                                           "FISCAL_PRINTER_TRACE"};
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(SerialLinkConfig, ReadsTheEnvironment) {
  EnvGuard env;
  plat::SerialConfig d = plat::SerialConfigFromEnvironment();
  EXPECT_TRUE(d.Ports.empty());
  EXPECT_EQ(d.Baud, 9600);
  EXPECT_EQ(d.TimeoutMs, 2000);
  EXPECT_EQ(plat::SerialDeviceForPort(d, 1), "/dev/ttyS0");
  EXPECT_EQ(plat::SerialDeviceForPort(d, 12), "/dev/ttyS11");
  EXPECT_THROW(plat::SerialDeviceForPort(d, 0), plat::ELinkError);

  setenv("FISCAL_PRINTER_PORTS", " 1=/dev/ttyUSB0, 3 = /dev/pts/4 ,", 1);
  setenv("FISCAL_PRINTER_BAUD", "19200", 1);
  setenv("FISCAL_PRINTER_TIMEOUT_MS", "250", 1);
  setenv("FISCAL_PRINTER_FLOW", "dtrdsr", 1);
  setenv("FISCAL_PRINTER_RETRIES", "0", 1);
  plat::SerialConfig c = plat::SerialConfigFromEnvironment();
  EXPECT_EQ(c.Flow, plat::FlowControl::DtrDsr);
  EXPECT_EQ(c.Retries, 0);
  EXPECT_EQ(d.Flow, plat::FlowControl::None);
  EXPECT_EQ(d.Retries, 3);
  EXPECT_EQ(c.Ports, (std::map<int, std::string>{{1, "/dev/ttyUSB0"}, {3, "/dev/pts/4"}}));
  EXPECT_EQ(plat::SerialDeviceForPort(c, 2), "/dev/ttyS1");
  EXPECT_EQ(c.Baud, 19200);
  EXPECT_EQ(c.TimeoutMs, 250);
  setenv("FISCAL_PRINTER_FLOW", "xonxoff", 1);
  EXPECT_EQ(plat::SerialConfigFromEnvironment().Flow, plat::FlowControl::XonXoff);

  const std::vector<std::pair<const char*, const char*>> bad = {
      {"FISCAL_PRINTER_PORTS", "/dev/ttyUSB0"}, {"FISCAL_PRINTER_PORTS", "x=/dev/ttyS0"},
      {"FISCAL_PRINTER_PORTS", "1="},           {"FISCAL_PRINTER_BAUD", "9601"},
      {"FISCAL_PRINTER_BAUD", "fast"},          {"FISCAL_PRINTER_TIMEOUT_MS", "0"},
      {"FISCAL_PRINTER_TIMEOUT_MS", "-5"},      {"FISCAL_PRINTER_BAUD", "230400"},
      {"FISCAL_PRINTER_BAUD", "600"},           {"FISCAL_PRINTER_FLOW", "xon"},
      {"FISCAL_PRINTER_FLOW", "DTRDSR"},        {"FISCAL_PRINTER_RETRIES", "11"},
      {"FISCAL_PRINTER_RETRIES", "two"},        {"FISCAL_PRINTER_TRACE", "/nonexistent/dir/t"}};
  for (const auto& [name, value] : bad) {
    EnvGuard inner;
    setenv(name, value, 1);
    const std::string msg = LinkFailure([] { plat::SerialConfigFromEnvironment(); });
    EXPECT_EQ(msg.rfind(std::string(name) + ": '" + value + "'", 0), 0u) << msg;
  }
}

TEST(SerialLinkConfig, FiscalPrinterSelectsTheBackendWhenTheHostSetNone) {
  EnvGuard env;
  plat::SetPrinterBackend(nullptr);
  EXPECT_EQ(plat::CurrentPrinterBackend(), plat::DefaultEmulator());
  setenv("FISCAL_PRINTER", "emulator", 1);
  EXPECT_EQ(plat::CurrentPrinterBackend(), plat::DefaultEmulator());
  setenv("FISCAL_PRINTER", "serial", 1);
  setenv("FISCAL_PRINTER_PORTS", "1=/nonexistent/ttyQ", 1);
  auto serial = std::dynamic_pointer_cast<plat::SerialBackend>(plat::CurrentPrinterBackend());
  ASSERT_NE(serial, nullptr);
  EXPECT_EQ(plat::SerialDeviceForPort(serial->Config(), 1), "/nonexistent/ttyQ");
  EXPECT_EQ(plat::CurrentPrinterBackend(), serial);  // kept while the environment stays
  // The control reaches it: the command fails naming the device.
  plat::TPrinterFiscal control;
  control.SetPortNumber(plat::Variant(1));
  WideString n = u"N";
  EXPECT_TRUE(Has(LinkFailure([&] { control.Status(n); }), "/nonexistent/ttyQ: Status"));
  // A backend set by the host wins.
  auto own = std::make_shared<plat::SerialBackend>(plat::SerialConfig{});
  plat::SetPrinterBackend(own);
  EXPECT_EQ(plat::CurrentPrinterBackend(), own);
  plat::SetPrinterBackend(nullptr);
  // A host may register its own backend under a name of its choosing.
  auto named = std::make_shared<plat::SerialBackend>(plat::SerialConfig{});
  plat::RegisterPrinterBackend("bench-line", [named] { return named; });
  setenv("FISCAL_PRINTER", "bench-line", 1);
  EXPECT_EQ(plat::CurrentPrinterBackend(), named);
  // Names are exact; an unknown one fails listing the known ones.
  setenv("FISCAL_PRINTER", "Serial", 1);
  EXPECT_EQ(
      LinkFailure([] { plat::CurrentPrinterBackend(); }),
      "FISCAL_PRINTER: 'Serial' names no printer backend (known: bench-line, emulator, serial)");
}

// ---- the line: exclusive use, baud and flow control, the frame trace ---------------------

TEST(SerialLine, ASecondProgramOnTheDeviceIsToldWhoHoldsIt) {
  FakePrinter printer(
      [](FakePrinter& p, const std::string& got) { p.Write(FakePrinter::Reply(got)); });
  auto first = std::make_unique<plat::SerialBackend>(ConfigFor(printer));
  EXPECT_EQ(Exec(*first, "Status", {u"N"}).Result, 1);
  // Another backend stands for another program: it gets its own open file, which the lock
  // keeps out.
  plat::SerialBackend second(ConfigFor(printer));
  EXPECT_EQ(LinkFailure([&] { Exec(second, "Status", {u"N"}); }),
            "printer link " + printer.Path() + ": Status: the device is in use by process " +
                std::to_string(getpid()));
  // The holder's end releases the device; so does any failure of the holder.
  first.reset();
  EXPECT_EQ(Exec(second, "Status", {u"N"}).Result, 1);
  printer.Hangup();
  // Whether the hang-up is seen on the open line or when the line is opened again depends on
  // when the line notices it; either way the device is named as gone.
  const std::string gone = LinkFailure([&] { Exec(second, "Status", {u"N"}); });
  EXPECT_TRUE(Has(gone, "device gone") || Has(gone, "cannot open the device")) << gone;
  plat::SerialBackend third(ConfigFor(printer));
  EXPECT_TRUE(Has(LinkFailure([&] { Exec(third, "Status", {u"N"}); }), "cannot open the device"));
}

TEST(SerialLine, BaudAndFlowControlAreSetOnTheLine) {
  FakePrinter printer(
      [](FakePrinter& p, const std::string& got) { p.Write(FakePrinter::Reply(got)); });
  struct Case {
    int baud;
    plat::FlowControl flow;
    speed_t speed;
    bool rtscts;
    bool xonxoff;
  };
  for (const Case& c : {Case{1200, plat::FlowControl::None, B1200, false, false},
                        Case{115200, plat::FlowControl::RtsCts, B115200, true, false},
                        Case{4800, plat::FlowControl::XonXoff, B4800, false, true}}) {
    auto config = ConfigFor(printer);
    config.Baud = c.baud;
    config.Flow = c.flow;
    plat::SerialBackend b(config);
    EXPECT_EQ(Exec(b, "Status", {u"N"}).Result, 1);
    // The printer's side of a pseudo-terminal sees the settings the host made.
    const int fd = ::open(printer.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    ::close(fd);
    EXPECT_EQ(cfgetospeed(&t), c.speed) << c.baud;
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.rtscts) << c.baud;
    EXPECT_EQ((t.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF), c.xonxoff) << c.baud;
    EXPECT_EQ(t.c_iflag & IXANY, 0u) << c.baud;
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  }
  // DTR/DSR needs modem control lines, which a pseudo-terminal has not: said plainly.
  auto config = ConfigFor(printer);
  config.Flow = plat::FlowControl::DtrDsr;
  plat::SerialBackend b(config);
  EXPECT_TRUE(Has(LinkFailure([&] { Exec(b, "Status", {u"N"}); }),
                  ": Status: cannot use DTR/DSR flow control (the device has no modem control "
                  "lines"));
}

TEST(SerialLine, TheTraceHasEveryFrameInHexAndReadable) {
  FakePrinter printer([](FakePrinter& p, const std::string& got) {
    const std::string reply = FakePrinter::Reply(got, 0x3000, {"00000042"});
    p.Write(std::string(1, '\x12'));
    p.Write(reply.substr(0, 5));  // a reply in two pieces is one line
    std::this_thread::sleep_for(5ms);
    p.Write(reply.substr(5));
  });
  const std::string path = "/tmp/fiscal-trace-" + std::to_string(getpid()) + ".txt";
  std::remove(path.c_str());
  {
    auto config = ConfigFor(printer);
    config.Trace = plat::link::FileTrace(path);
    plat::SerialBackend b(config);
    EXPECT_EQ(Exec(b, "CloseTicket", {}).Fields, std::vector<WideString>{u"00000042"});
  }
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l.substr(24));  // after the time
  std::remove(path.c_str());
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "out 02 20 45 1C 54 03 30 30 44 41 | <STX> E<FS>T<ETX>00DA", "in  12 | <DC2>",
                "in  02 20 45 1C 30 30 30 30 1C 33 30 30 30 1C 30 30 30 30 30 30 34 32 03 "
                "30 33 43 37 | <STX> E<FS>0000<FS>3000<FS>00000042<ETX>03C7"}));
}

}  // namespace
