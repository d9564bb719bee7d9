// SPDX-License-Identifier: Apache-2.0
// The printer side of the serial link: the printer model answering framed commands on a line.
// It runs each command once per sequence number (a frame again under the number it executed
// last gets the reply it kept), and can misbehave as a real line does: damaged, lost, late or
// slow replies, a printer that goes silent or disappears.
#include "printer/internal/link_server.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "printer/internal/system.h"
#include "printer/link_decision.h"
#include "printer/link_frame.h"
#include "printer/model.h"

namespace plat {

class LinkServer::Impl {
 public:
  Impl(const LinkServerOptions& o, int fd, int stopFd, std::ostream& errors)
      : o_(o),
        fd_(fd),
        stopFd_(stopFd),
        errors_(errors),
        rng_(o.seed),
        loseRng_(o.seed + 1),
        fullRng_(o.seed + 2) {}

  bool Open() {
    if (!o_.model.empty()) {
      const auto* v = variants::Find(o_.model);
      if (v == nullptr) return Complain("--model takes one of " + variants::Names());
      model_.SetVariant(*v);
    }
    if (!o_.journal.empty()) {
      journal_.open(o_.journal, std::ios::app | std::ios::binary);
      if (!journal_) return Complain("cannot write the journal " + o_.journal);
    }
    if (!o_.paper.empty()) {
      paper_.open(o_.paper, std::ios::app | std::ios::binary);
      if (!paper_) return Complain("cannot write the paper " + o_.paper);
    }
    if (!o_.state.empty() && !LoadState()) return false;
    if (!o_.clock.empty()) {
      int y, mo, d, h, mi, s;
      char sep;
      if (std::sscanf(o_.clock.c_str(), "%d-%d-%d%c%d:%d:%d", &y, &mo, &d, &sep, &h, &mi, &s) !=
              7 ||
          (sep != ' ' && sep != 'T'))
        return Complain("--clock takes 'YYYY-MM-DD HH:MM:SS'");
      try {
        const TDateTime at = EncodeDate(y, mo, d) + EncodeTime(h, mi, s);
        model_.SetClock([at] { return at; });
      } catch (const Exception& e) {
        return Complain("--clock: " + e.Message());
      }
    }
    return true;
  }

  // Serves until a signal, a vanish or a line failure. Answers the exit code.
  int Serve() {
    char buf[512];
    while (!stop_) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
      const int r = ::poll(p, 2, -1);
      if (r < 0) {
        if (errno == EINTR) continue;
        Complain(std::string("poll: ") + ErrnoText(errno));
        return 1;
      }
      if (p[1].revents) break;
      if (p[0].revents & (POLLERR | POLLNVAL)) {
        Complain("the line failed");
        return 1;
      }
      if (!(p[0].revents & POLLIN)) {
        // A pseudo-terminal reports a hang-up while no host has it open; wait for one.
        if (WaitMs(20)) break;
        continue;
      }
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EIO) {
          if (errno == EIO && WaitMs(20)) break;  // no host on the slave side
          continue;
        }
        Complain(std::string("read: ") + ErrnoText(errno));
        return 1;
      }
      for (ssize_t i = 0; i < n && !stop_; ++i) Byte(static_cast<uint8_t>(buf[i]));
      if (vanished_) return 0;
    }
    return 0;
  }

  long Executed() const { return executed_; }

 private:
  bool Complain(const std::string& what) {
    errors_ << "printer-emulator: " << what << "\n";
    return false;
  }

  // Waits, also while a reply is held back; true when a signal asks to stop.
  bool WaitMs(int ms) {
    pollfd p{stopFd_, POLLIN, 0};
    if (::poll(&p, 1, ms) > 0) stop_ = true;
    return stop_;
  }

  // The state file: the model's state, then "link SEQ REPLY" (the reply in hexadecimal).
  bool LoadState() {
    std::ifstream in(o_.state, std::ios::binary);
    if (!in) return true;  // a printer that never ran
    std::string text, line, link;
    while (std::getline(in, line)) {
      if (line.rfind("link ", 0) == 0)
        link = line;
      else
        text += line + "\n";
    }
    try {
      model_.LoadState(text);
    } catch (const Exception& e) {
      return Complain(o_.state + ": " + e.Message());
    }
    unsigned seq = 0;
    char hex[2 * link::kMaxFrameBytes + 1] = {};
    if (!link.empty()) {
      if (std::sscanf(link.c_str(), "link %u %8192s", &seq, hex) != 2 || std::strlen(hex) % 2)
        return Complain(o_.state + ": the last command's line does not read");
      stored_.clear();
      for (size_t i = 0; hex[i]; i += 2) {
        const char pair[3] = {hex[i], hex[i + 1], 0};
        stored_ += static_cast<char>(std::strtoul(pair, nullptr, 16));
      }
      lastSeq_ = static_cast<uint8_t>(seq);
      haveLast_ = true;
    }
    return true;
  }

  // Written beside and renamed over the old file, so that a crash never leaves half of it.
  void SaveState() {
    std::string text = model_.SaveState();
    char buf[3];
    text += "link " + std::to_string(lastSeq_) + " ";
    for (unsigned char c : stored_) {
      std::snprintf(buf, sizeof buf, "%02X", c);
      text += buf;
    }
    text += "\n";
    const std::string tmp = o_.state + ".new";
    {
      std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
      out << text;
      if (!out.flush()) {
        Complain("cannot write the state " + tmp);
        return;
      }
    }
    if (std::rename(tmp.c_str(), o_.state.c_str()) != 0)
      Complain("cannot replace the state " + o_.state);
  }

  bool Silent() const { return o_.silentAfter >= 0 && executed_ >= o_.silentAfter; }

  void Byte(uint8_t b) {
    switch (scanner_.Feed(b)) {
      case link::FrameScanner::Event::None:
      case link::FrameScanner::Event::KeepAlive:
        return;
      case link::FrameScanner::Event::Nak:
        // The host could not read the reply: send it again.
        if (!Silent() && !stored_.empty()) Send(stored_);
        return;
      case link::FrameScanner::Event::BadFrame:
        if (!Silent()) Write(std::string(1, static_cast<char>(link::kNak)));
        return;
      case link::FrameScanner::Event::Frame:
        break;
    }
    if (o_.lose > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(loseRng_) < o_.lose)
      return;  // lost on the line: the printer never saw it
    auto frame = link::DecodeCommand(scanner_.Frame());
    if (!frame) {
      if (!Silent()) Write(std::string(1, static_cast<char>(link::kNak)));
      return;
    }
    if (haveLast_ && frame->Seq == lastSeq_ && !o_.rerunRepeats) {
      // The same command again: its reply was lost. Never run it twice.
      if (!Silent()) Send(stored_);
      return;
    }
    if (o_.vanishAfter >= 0 && executed_ >= o_.vanishAfter) {
      vanished_ = true;
      stop_ = true;
      return;
    }
    if (Silent()) return;
    if (o_.full > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(fullRng_) < o_.full) {
      link::ReplyFrame full;
      full.Seq = frame->Seq;
      full.Cmd = frame->Cmd;
      full.PrinterStatus = status::kBufferFull | status::kPrinterAny;
      Send(link::EncodeReply(full));
      return;
    }
    const bool paperOut = o_.paperOutAfter >= 0 && executed_ >= o_.paperOutAfter;
    if (paperOut && executed_ > o_.paperOutAfter && Prints(*frame)) {
      // No paper before the command came: it does not run.
      link::ReplyFrame refused;
      refused.Seq = frame->Seq;
      refused.Cmd = frame->Cmd;
      refused.PrinterStatus = status::kOutOfPaper | status::kPrinterAny;
      refused.FiscalStatus = status::kFiscalAny;
      Send(link::EncodeReply(refused));
      return;
    }
    link::ReplyFrame reply = Execute(*frame);
    if (paperOut) reply.PrinterStatus |= status::kOutOfPaper | status::kPrinterAny;
    stored_ = link::EncodeReply(reply);
    lastSeq_ = frame->Seq;
    haveLast_ = true;
    ++executed_;
    if (!o_.state.empty()) SaveState();
    Send(stored_);
  }

  // Whether the command prints or changes what the printer holds.
  static bool Prints(const link::CommandFrame& frame) {
    const CommandInfo* info = FindCommand(frame.Cmd);
    return info == nullptr || link::Changes(*info, frame.Fields);
  }

  link::ReplyFrame Execute(const link::CommandFrame& frame) {
    link::ReplyFrame reply;
    reply.Seq = frame.Seq;
    reply.Cmd = frame.Cmd;
    const CommandInfo* info = FindCommand(frame.Cmd);
    if (info == nullptr) {
      reply.FiscalStatus = status::kUnknownCommand | status::kFiscalAny;
      return reply;
    }
    std::vector<WideString> args;
    for (const auto& f : frame.Fields) args.push_back(AnsiToWide(f));
    std::vector<WideString*> ptrs;
    for (auto& a : args) ptrs.push_back(&a);
    PrinterAnswer answer;
    try {
      answer = model_.Execute(info->Method, ptrs);
    } catch (const std::exception&) {
      answer = {};
      answer.FiscalStatus = status::kWorkingMemoryError | status::kFiscalAny;
    }
    // The journal holds what the printer ran: a command it refused did nothing.
    if (journal_.is_open() && answer.Result != 0) {
      std::string line = info->Method;
      for (const auto& f : frame.Fields) {
        line += '\t';
        line += AnsiToUtf8(f);
      }
      journal_ << line << "\n" << std::flush;
    }
    if (paper_.is_open()) {
      for (const auto& line : model_.Paper()) paper_ << AnsiToUtf8(line) << "\n";
      paper_ << std::flush;
    }
    model_.ClearPaper();
    reply.PrinterStatus = answer.PrinterStatus;
    reply.FiscalStatus = answer.FiscalStatus;
    for (const auto& f : answer.Fields) reply.Fields.push_back(WideToAnsi(f));
    return reply;
  }

  // Sends a reply through the scripted line faults; every draw is made for every reply, so a
  // seed gives the same faults for the same traffic.
  void Send(const std::string& reply) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const bool busy = u(rng_) < o_.busy;
    const bool drop = u(rng_) < o_.drop;
    const bool late = u(rng_) < o_.delay;
    const bool damage = u(rng_) < o_.corrupt;
    const size_t at = rng_() % reply.size();
    const auto flip = static_cast<char>(1 + rng_() % 255);
    if (busy) {
      for (int waited = 0; waited < o_.busyMs; waited += o_.keepAliveMs) {
        Write(std::string(
            1, static_cast<char>(waited / o_.keepAliveMs % 2 ? link::kDc4 : link::kDc2)));
        if (WaitMs(o_.keepAliveMs)) return;
      }
    }
    if (drop) return;
    if (late && WaitMs(o_.delayMs)) return;
    std::string out = reply;
    if (damage) out[at] = static_cast<char>(out[at] ^ flip);
    Write(out);
  }

  void Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 100);
      } else {
        return;  // the host is gone; the next read tells
      }
    }
  }

  const LinkServerOptions o_;
  int fd_;
  int stopFd_;
  std::ostream& errors_;
  std::mt19937 rng_;
  std::mt19937 loseRng_;
  std::mt19937 fullRng_;
  FiscalPrinterModel model_;
  link::FrameScanner scanner_;
  std::ofstream journal_;
  std::ofstream paper_;
  std::string stored_;
  uint8_t lastSeq_ = 0;
  bool haveLast_ = false;
  std::atomic<long> executed_{0};
  bool stop_ = false;
  bool vanished_ = false;
};

LinkServer::LinkServer(const LinkServerOptions& options, int fd, int stopFd, std::ostream& errors)
    : impl_(std::make_unique<Impl>(options, fd, stopFd, errors)) {}

LinkServer::~LinkServer() = default;

bool LinkServer::Open() {
  return impl_->Open();
}

int LinkServer::Serve() {
  return impl_->Serve();
}

long LinkServer::Executed() const {
  return impl_->Executed();
}

}  // namespace plat
