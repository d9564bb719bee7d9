// The printer on a serial line. One command is one exchange: the frame goes out (Write), the
// reply comes back within the timeout (Wait; DC2 / DC4 restart it), a damaged reply is answered
// with NAK and the printer sends it again, and no reply or a NAK from the printer sends the
// identical frame again with the same sequence number (Resend). The printer runs a command only
// once per sequence number, so a resend never prints twice. However busy the printer says it is,
// one command ends within the overall limit.
#include "printer/serial_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "printer/internal/device_lock.h"
#include "printer/internal/system.h"

namespace plat {

namespace {

// How long the host waits, before its first command, for the reply the printer keeps. A
// printer that executed nothing since it was switched on keeps none and stays silent.
constexpr int kAskPrinterMs = 250;

// The lines of a non-fiscal text: cut at each "\n", a "\r" before it dropped.
std::vector<AnsiString> TextLines(const AnsiString& text) {
  std::vector<AnsiString> lines;
  size_t start = 0;
  while (true) {
    const size_t nl = text.find('\n', start);
    AnsiString line = text.substr(start, nl == AnsiString::npos ? AnsiString::npos : nl - start);
    if (nl != AnsiString::npos && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (nl == AnsiString::npos) return lines;
    start = nl + 1;
  }
}

}  // namespace

// One command on the line, from its first frame to its answer.
struct SerialBackend::Exchange {
  Exchange(const std::string& d, const std::string& m, const std::vector<AnsiString>& f)
      : device(d), method(m), fields(f) {}
  std::string device;
  std::string method;  // named in failure messages
  const std::vector<AnsiString>& fields;
  bool changes = false;     // the command changes what the printer holds
  std::string context;      // put before the fault in failure messages
  size_t record = 0;        // its entry in the record of commands sent, 1-based
  bool fromStatus = false;  // answered from the status read after it: the state is that one
  uint8_t seq = 0;
  uint8_t cmd = 0;
  std::string frame;
  int tries = 1;  // exchanges started for this command
  int badReplies = 0;
  int naks = 0;
  bool renumbered = false;
  bool partial = false;  // bytes of a reply came that made no whole frame yet
  int keepAlives = 0;    // DC2 / DC4 seen for this command
  link::ReplyParser parser;
  std::string pending;  // read from the line, not yet fed to the parser
  size_t next = 0;
  LinkClock::TimePoint deadline;  // of the reply to this try
  LinkClock::TimePoint giveUp;    // of the whole command
};

SerialBackend::SerialBackend(SerialConfig config) : config_(std::move(config)) {
  if (config_.FirstSequence >= link::kFirstSequence &&
      config_.FirstSequence <= link::kLastSequence) {
    seq_ = static_cast<uint8_t>(config_.FirstSequence);
  } else {
    std::random_device rd;
    seq_ = static_cast<uint8_t>(link::kFirstSequence +
                                rd() % (link::kLastSequence - link::kFirstSequence + 1));
  }
  if (config_.TimeoutMs < 1) config_.TimeoutMs = 1;
  if (config_.Retries < 0) config_.Retries = 0;
  // The overall limit never cuts the ordinary tries short.
  config_.TotalTimeoutMs = std::max<long long>(
      config_.TotalTimeoutMs, static_cast<long long>(config_.TimeoutMs) * (config_.Retries + 1));
}

SerialBackend::~SerialBackend() {
  Close();
}

SerialBackend::Stats SerialBackend::GetStats() const {
  std::lock_guard<std::mutex> lock(mu_);
  return stats_;
}

void SerialBackend::RecordSent(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  record_ = on;
}

std::vector<SerialBackend::Sent> SerialBackend::SentCommands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sent_;
}

PrinterAnswer SerialBackend::Execute(int portNumber, const char* method,
                                     const std::vector<WideString*>& args) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string name = method ? method : "";
  const link::CommandInfo* info = link::FindCommand(name);
  if (info == nullptr) throw ELinkError("the printer link has no command for the method " + name);
  if (args.size() != info->Args)
    throw ELinkError("the printer link sends " + std::to_string(info->Args) + " fields with " +
                     name + ", not " + std::to_string(args.size()));
  const std::string device = SerialDeviceForPort(config_, portNumber);

  // The driver's arguments in the printer's forms; one that has none is refused unsent.
  const auto requests = translators_[device].ToPrinter(*info, args);
  if (!requests) return wire::Refusal(0, 0);
  PrinterAnswer answer;
  for (const wire::Request& r : *requests) {
    const std::string command = Info(r.Id).Method;
    if (r.Id == Command::SendNoFiscalText) {
      // Every line is checked before the first one goes out, so a refused text prints nothing.
      const std::vector<AnsiString> lines = TextLines(r.Fields[0]);
      for (const auto& line : lines) link::CheckField(command, 1, line);
      for (const auto& line : lines) {
        answer = Transact(device, command, {line});
        if (answer.Result == 0) break;
      }
    } else {
      for (size_t i = 0; i < r.Fields.size(); ++i) link::CheckField(command, i + 1, r.Fields[i]);
      answer = Transact(device, command, r.Fields);
    }
    if (answer.Result == 0) break;
  }
  return wire::Translator::ToAnswer(*info, std::move(answer));
}

void SerialBackend::Open(const std::string& device) {
  if (fd_ >= 0 && device_ == device) {
    // A line hung up since the last command (a printer switched off and on, a restarted
    // printer program behind a stable path) is opened afresh, and its state read again.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLHUP | POLLERR | POLLNVAL))) return;
    states_.erase(device);
  }
  Close();
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 && errno == EBUSY) throw ELinkError("the device is in use by " + DeviceHolder(device));
  if (fd < 0) throw ELinkError("cannot open the device (" + ErrnoText(errno) + ")");
  const std::string held = HoldDevice(fd, device);
  if (!held.empty()) {
    ::close(fd);
    throw ELinkError(held);
  }
  auto fail = [&](const std::string& what) {
    ReleaseDevice(fd);
    ::close(fd);
    throw ELinkError(what);
  };
  if (!SupportedBaud(config_.Baud) || !MakeRawSerialLine(fd, config_.Baud, config_.Flow)) {
    const int err = errno;
    fail("cannot set " + std::to_string(config_.Baud) + " baud 8N1 (" +
         (SupportedBaud(config_.Baud) ? ErrnoText(err) : std::string("unsupported rate")) + ")");
  }
  if (config_.Flow == FlowControl::DtrDsr) {
    const int dtr = TIOCM_DTR;
    if (::ioctl(fd, TIOCMBIS, &dtr) != 0)
      fail("cannot use DTR/DSR flow control (the device has no modem control lines: " +
           ErrnoText(errno) + ")");
  }
  fd_ = fd;
  device_ = device;
}

void SerialBackend::WaitReady(Exchange& x) {
  if (config_.Flow != FlowControl::DtrDsr) return;
  // The printer holds DSR up while it can take a frame.
  const auto deadline = Now() + std::chrono::milliseconds(config_.TimeoutMs);
  while (true) {
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0)
      Fail(x, "device gone (modem lines: " + ErrnoText(errno) + ")");
    if (lines & TIOCM_DSR) return;
    if (Now() >= deadline)
      Fail(x, "the printer does not signal ready (DSR low for " +
                  std::to_string(config_.TimeoutMs) + " ms)");
    ::poll(nullptr, 0, 5);
  }
}

void SerialBackend::Close() {
  if (fd_ >= 0) {
    ReleaseDevice(fd_);
    ::close(fd_);
  }
  fd_ = -1;
  device_.clear();
}

LinkClock::TimePoint SerialBackend::Now() const {
  return config_.Clock ? config_.Clock->Now() : std::chrono::steady_clock::now();
}

void SerialBackend::Fail(const Exchange& x, const std::string& what) const {
  throw ELinkError("printer link " + x.device + ": " +
                   (x.context.empty() ? x.method + ": " : x.context) + what);
}

size_t SerialBackend::Record(const std::string& method, const std::vector<AnsiString>& fields,
                             bool query) {
  if (!record_) return 0;
  sent_.push_back({method, fields, query, Outcome::Pending});
  return sent_.size();
}

void SerialBackend::Ended(size_t record, Outcome end) {
  if (record > 0 && record <= sent_.size()) sent_[record - 1].End = end;
}

PrinterAnswer SerialBackend::Transact(const std::string& device, const std::string& method,
                                      const std::vector<AnsiString>& fields) {
  Exchange x(device, method, fields);
  const CommandInfo* info = FindCommand(method);
  x.changes = info->Kind == Effect::ChangesState;
  // A printer that stopped answering is not waited for again on every command: only a status
  // query goes out, until one answers or the probe time has passed.
  if (!stopped_.empty() && method != "Status" &&
      Now() - stoppedAt_ < std::chrono::milliseconds(config_.ProbeAfterMs)) {
    ++stats_.FailedFast;
    Fail(x, "not sent, the printer stopped answering (" + stopped_ + ")");
  }
  try {
    Open(device);
  } catch (const ELinkError& e) {
    Fail(x, e.Message());
  }

  // Any failure leaves the device closed, so the next command starts on a fresh line, and
  // the state of the printer is read again before the next command that changes it.
  struct CloseOnFailure {
    SerialBackend* self;
    std::string device;
    bool armed = true;
    ~CloseOnFailure() {
      if (!armed) return;
      self->states_.erase(device);
      self->Close();
    }
  } guard{this, device};

  tcflush(fd_, TCIFLUSH);  // bytes of earlier exchanges are of no use now
  if (asked_.insert(device).second && config_.AskPrinterFirst) AskPrinter(x);

  link::PrinterState& state = states_[device];
  if (x.changes && !state.Known && config_.ReadStateFirst && !untold_.count(device))
    state = QueryState(x, "before it");
  ++stats_.Frames;
  x.record = Record(method, fields, false);
  PrinterAnswer answer = Run(x);
  if (!x.fromStatus) state = link::Follow(state, *info, fields, answer);
  if (info->Id == Command::Status && !state.Known) untold_.insert(device);
  stopped_.clear();
  guard.armed = false;
  return answer;
}

PrinterAnswer SerialBackend::Run(Exchange& x) {
  if (!x.changes) {
    PrinterAnswer a = RunOnce(x);
    Ended(x.record, Outcome::Answered);
    return a;
  }
  // A command that changes what the printer holds is never sent again blindly: after a lost
  // or broken reply the printer's status tells whether it ran.
  const CommandInfo& info = *FindCommand(x.method);
  for (int sent = 1;; ++sent) {
    try {
      PrinterAnswer a = RunOnce(x);
      Ended(x.record, Outcome::Answered);
      return a;
    } catch (const ReplyLost&) {
      link::PrinterState& state = states_[x.device];
      const link::PrinterState before = state;
      state = QueryState(x, "after a lost reply");
      const link::Decision d = link::Decide(before, state, info, x.fields);
      switch (d.What) {
        case link::Decision::Outcome::TookEffect:
          ++stats_.FromStatus;
          Ended(x.record, Outcome::FromStatus);
          x.fromStatus = true;
          return d.Answer;
        case link::Decision::Outcome::DidNot:
          if (sent >= config_.Retries + 1) {
            Ended(x.record, Outcome::Failed);
            const std::string what = "no answer (" + std::to_string(sent) + " tries, " +
                                     std::to_string(config_.TimeoutMs) +
                                     " ms each; the printer's status shows it did not run)";
            stopped_ = x.method + ": " + what;
            stoppedAt_ = Now();
            Fail(x, what);
          }
          ++stats_.SentAgain;
          ++stats_.Resends;
          continue;
        case link::Decision::Outcome::AnswerLost:
        case link::Decision::Outcome::CannotTell:
          ++stats_.InDoubt;
          Ended(x.record, Outcome::InDoubt);
          Fail(x, "in doubt, not sent again: " + d.Reason + "; the printer reports " +
                      link::Describe(state));
      }
    }
  }
}

link::PrinterState SerialBackend::QueryState(Exchange& x, const std::string& why) {
  static const std::vector<AnsiString> kStatusFields = {"N"};
  Exchange q(x.device, "Status", kStatusFields);
  q.context = x.method + (why == "before it" ? ": " : ": in doubt, not sent again: ") +
              "the status query " + why + ": ";
  ++stats_.StatusQueries;
  q.record = Record(q.method, q.fields, true);
  tcflush(fd_, TCIFLUSH);
  PrinterAnswer a;
  try {
    a = RunOnce(q);
  } catch (const ELinkError&) {
    Ended(q.record, Outcome::Failed);
    if (x.record > 0) Ended(x.record, why == "before it" ? Outcome::Failed : Outcome::InDoubt);
    if (why != "before it") ++stats_.InDoubt;
    throw;
  }
  Ended(q.record, Outcome::Answered);
  stopped_.clear();
  link::PrinterState s = link::Follow({}, Info(Command::Status), q.fields, a);
  if (!s.Known) untold_.insert(x.device);
  return s;
}

PrinterAnswer SerialBackend::RunOnce(Exchange& x) {
  x.seq = seq_;
  seq_ = link::NextSequence(seq_);
  x.frame = link::EncodeCommand(x.seq, x.method, x.fields);
  x.cmd = static_cast<uint8_t>(x.frame[2]);
  x.tries = 1;
  x.badReplies = 0;
  x.naks = 0;
  x.renumbered = false;
  x.partial = false;
  x.keepAlives = 0;
  x.parser.Reset();
  x.pending.clear();
  x.next = 0;

  x.giveUp = Now() + std::chrono::milliseconds(config_.TotalTimeoutMs);
  WaitReady(x);
  Write(x, x.frame);
  x.deadline = Now() + std::chrono::milliseconds(config_.TimeoutMs);
  while (true) {
    switch (Wait(x)) {
      case link::ReplyParser::Event::None:
      case link::ReplyParser::Event::KeepAlive:
        // No whole reply in time. Bytes that made no frame were a reply damaged beyond
        // recognition (its STX or ETX lost): it counts as one.
        if (x.partial) ++x.badReplies;
        Resend(x, x.partial ? Trouble::BadReply : Trouble::NoAnswer, false);
        break;
      case link::ReplyParser::Event::Nak:
        ++stats_.NaksReceived;
        ++x.naks;
        Resend(x, Trouble::Refused, false);
        break;
      case link::ReplyParser::Event::BadReply:
        ++x.badReplies;
        Resend(x, Trouble::BadReply, true);
        break;
      case link::ReplyParser::Event::Reply: {
        const link::ReplyFrame& reply = x.parser.Reply();
        if (reply.Seq != x.seq) {
          ++stats_.StaleReplies;  // a late copy of an earlier reply
          break;
        }
        if (reply.Cmd != x.cmd) {
          // The printer answered with the reply it kept for another command of the same
          // number (a host that started again): it has not run this one. Once, under the
          // next number.
          ++stats_.StaleReplies;
          if (x.renumbered) break;
          x.renumbered = true;
          x.seq = seq_;
          seq_ = link::NextSequence(seq_);
          x.frame = link::EncodeCommand(x.seq, x.method, x.fields);
          x.parser.Reset();
          x.pending.clear();  // the rest of this read belongs to the old exchange
          Write(x, x.frame);
          x.deadline = Now() + std::chrono::milliseconds(config_.TimeoutMs);
          break;
        }
        return link::ToAnswer(reply);
      }
    }
  }
}

void SerialBackend::AskPrinter(Exchange& x) {
  // A printer answers a NAK with the reply it keeps for the command it executed last; the next
  // number after that reply's is one it has not executed. Nothing runs on the printer.
  x.giveUp = Now() + std::chrono::milliseconds(config_.TotalTimeoutMs);
  for (int ask = 0; ask <= config_.Retries; ++ask) {
    Write(x, std::string(1, static_cast<char>(link::kNak)));
    x.deadline = Now() + std::chrono::milliseconds(std::min(config_.TimeoutMs, kAskPrinterMs));
    link::ReplyParser::Event e;
    do {
      e = Wait(x);
    } while (e == link::ReplyParser::Event::KeepAlive);
    x.parser.Reset();
    x.pending.clear();
    x.partial = false;
    if (e == link::ReplyParser::Event::Reply) {
      seq_ = link::NextSequence(x.parser.Reply().Seq);
      return;
    }
    if (e != link::ReplyParser::Event::BadReply) return;  // nothing kept, or nothing to tell
  }
}

void SerialBackend::Write(Exchange& x, const std::string& bytes) {
  size_t done = 0;
  const auto deadline = Now() + std::chrono::milliseconds(config_.TimeoutMs);
  auto gone = [&](const std::string& why) { Fail(x, "device gone (" + why + ")"); };
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      if (config_.Trace)
        config_.Trace(LinkDirection::Out,
                      std::string_view(bytes).substr(done, static_cast<size_t>(n)));
      done += static_cast<size_t>(n);
      stats_.BytesSent += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) gone("write: " + ErrnoText(errno));
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Now()).count();
    if (left <= 0) Fail(x, "the line does not take the frame");
    pollfd p{fd_, POLLOUT, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno != EINTR) gone("poll: " + ErrnoText(errno));
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) gone("hang-up while writing");
  }
}

link::ReplyParser::Event SerialBackend::Wait(Exchange& x) {
  auto gone = [&](const std::string& why) { Fail(x, "device gone (" + why + ")"); };
  while (true) {
    // What was read already comes first.
    while (x.next < x.pending.size()) {
      const auto e = x.parser.Feed(static_cast<uint8_t>(x.pending[x.next++]));
      if (e == link::ReplyParser::Event::None) {
        x.partial = true;
        continue;
      }
      if (e == link::ReplyParser::Event::KeepAlive) {
        ++stats_.KeepAlives;
        ++x.keepAlives;
        x.deadline = Now() + std::chrono::milliseconds(config_.TimeoutMs);
        continue;
      }
      x.partial = false;
      return e;
    }
    x.pending.clear();
    x.next = 0;

    const auto now = Now();
    if (now >= x.deadline) return link::ReplyParser::Event::None;
    // Without busy signals the tries end the command; with them, the overall limit does.
    if (now >= x.giveUp && x.keepAlives > 0)
      Fail(x, "busy without an answer for " + std::to_string(config_.TotalTimeoutMs) + " ms (" +
                  std::to_string(x.keepAlives) + " busy signals)");
    const auto until = x.keepAlives > 0 ? std::min(x.deadline, x.giveUp) : x.deadline;
    // Rounded up, so that poll never wakes just before the deadline and spins.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::max<long long>(wait, 1)));
    if (r < 0) {
      if (errno == EINTR) continue;
      gone("poll: " + ErrnoText(errno));
    }
    if (r == 0) continue;  // the deadlines are checked above
    if (p.revents & (POLLERR | POLLNVAL)) gone("line error");
    if (!(p.revents & POLLIN)) gone("hang-up");
    char buf[256];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      gone("read: " + ErrnoText(errno));
    }
    if (n == 0) gone("end of file");
    stats_.BytesReceived += n;
    if (config_.Trace)
      config_.Trace(LinkDirection::In, std::string_view(buf, static_cast<size_t>(n)));
    x.pending.assign(buf, static_cast<size_t>(n));
  }
}

void SerialBackend::Resend(Exchange& x, Trouble trouble, bool nak) {
  // A command that changes what the printer holds goes again only once its status says so.
  if (x.changes && (!nak || x.tries >= config_.Retries + 1)) throw ReplyLost{trouble};
  if (x.tries >= config_.Retries + 1) {
    switch (trouble) {
      case Trouble::NoAnswer: {
        const std::string what = "no answer (" + std::to_string(x.tries) + " tries, " +
                                 std::to_string(config_.TimeoutMs) + " ms each)";
        stopped_ = (x.context.empty() ? x.method + ": " : x.context) + what;
        stoppedAt_ = Now();
        Fail(x, what);
      }
      case Trouble::BadReply:
        Fail(x, "repeated bad checksums (" + std::to_string(x.badReplies) + " damaged replies)");
      case Trouble::Refused:
        Fail(x, "repeated bad checksums (the printer refused the frame " + std::to_string(x.naks) +
                    " times)");
    }
  }
  ++x.tries;
  x.parser.Reset();
  x.partial = false;
  if (nak) {
    // A NAK of ours after a damaged reply: the printer sends it again.
    ++stats_.NaksSent;
    Write(x, std::string(1, static_cast<char>(link::kNak)));
  } else {
    // The frame again after no answer or the printer's NAK.
    ++stats_.Resends;
    Write(x, x.frame);
  }
  x.deadline = Now() + std::chrono::milliseconds(config_.TimeoutMs);
}

}  // namespace plat
