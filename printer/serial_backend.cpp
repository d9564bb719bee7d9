// The printer on a serial line. One command is one exchange: the frame goes out, the reply
// comes back within the timeout (DC2 / DC4 restart it), a damaged reply is answered with NAK
// and the printer sends it again, and no reply or a NAK from the printer sends the identical
// frame again with the same sequence number. The printer runs a command only once per
// sequence number, so a resend never prints twice.
#include "printer/serial_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "printer/link_frame.h"

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

speed_t SpeedFor(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// A whole decimal number within [low, high], or nothing.
bool ReadInt(const std::string& text, long low, long high, int& out) {
  const std::string t = Trim(text);
  if (t.empty() || t.size() > 9) return false;
  for (char c : t)
    if (c < '0' || c > '9') return false;
  const long v = std::strtol(t.c_str(), nullptr, 10);
  if (v < low || v > high) return false;
  out = static_cast<int>(v);
  return true;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string ErrnoText(int err) {
  return std::strerror(err);
}

[[noreturn]] void Fail(const std::string& device, const std::string& method,
                       const std::string& what) {
  throw ELinkError("printer link " + device + ": " + method + ": " + what);
}

int MsUntil(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  // Round up so that poll never wakes just before the deadline and spins.
  return static_cast<int>(left) + 1;
}

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

bool SupportedBaud(int baud) {
  return SpeedFor(baud) != B0;
}

bool MakeRawSerialLine(int fd, int baud) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (baud != 0) {
    const speed_t speed = SpeedFor(baud);
    if (speed == B0) {
      errno = EINVAL;
      return false;
    }
    if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
  }
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

std::string SerialDeviceForPort(const SerialConfig& config, int portNumber) {
  auto it = config.Ports.find(portNumber);
  if (it != config.Ports.end()) return it->second;
  if (portNumber < 1)
    throw ELinkError("printer link: port " + std::to_string(portNumber) +
                     " is no serial port (the port name was not COM1 to COM12)");
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

SerialConfig SerialConfigFromEnvironment() {
  SerialConfig c;
  const std::string ports = Env("FISCAL_PRINTER_PORTS");
  size_t start = 0;
  while (start <= ports.size()) {
    const size_t comma = ports.find(',', start);
    const std::string entry =
        Trim(ports.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!entry.empty()) {
      const size_t eq = entry.find('=');
      int port = 0;
      const std::string device = eq == std::string::npos ? "" : Trim(entry.substr(eq + 1));
      if (eq == std::string::npos || !ReadInt(entry.substr(0, eq), 1, 255, port) || device.empty())
        throw ELinkError("FISCAL_PRINTER_PORTS: '" + entry +
                         "' is not PORT=DEVICE (as 1=/dev/ttyUSB0)");
      c.Ports[port] = device;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  const std::string baud = Env("FISCAL_PRINTER_BAUD");
  if (!baud.empty() && (!ReadInt(baud, 1, 1000000, c.Baud) || !SupportedBaud(c.Baud)))
    throw ELinkError("FISCAL_PRINTER_BAUD: '" + baud +
                     "' is not one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200");
  const std::string timeout = Env("FISCAL_PRINTER_TIMEOUT_MS");
  if (!timeout.empty() && !ReadInt(timeout, 1, 600000, c.TimeoutMs))
    throw ELinkError("FISCAL_PRINTER_TIMEOUT_MS: '" + timeout +
                     "' is not a number of milliseconds from 1 to 600000");
  return c;
}

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
  std::vector<AnsiString> fields;
  fields.reserve(args.size());
  for (const WideString* a : args) fields.push_back(a ? WideToAnsi(*a) : AnsiString());
  if (fields.size() != info->Fields)
    throw ELinkError("the printer link sends " + std::to_string(info->Fields) + " fields with " +
                     name + ", not " + std::to_string(fields.size()));
  const std::string device = SerialDeviceForPort(config_, portNumber);

  if (name == "SendNoFiscalText") {
    // Every line is checked before the first one goes out, so a refused text prints nothing.
    const std::vector<AnsiString> lines = TextLines(fields[0]);
    for (const auto& line : lines) link::CheckField(name, 1, line);
    PrinterAnswer answer;
    for (const auto& line : lines) {
      answer = Transact(device, name, {line});
      if (answer.Result == 0) break;
    }
    return answer;
  }
  for (size_t i = 0; i < fields.size(); ++i) link::CheckField(name, i + 1, fields[i]);
  return Transact(device, name, fields);
}

void SerialBackend::Open(const std::string& device) {
  if (fd_ >= 0 && device_ == device) return;
  Close();
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw ELinkError("cannot open the device (" + ErrnoText(errno) + ")");
  if (!SupportedBaud(config_.Baud) || !MakeRawSerialLine(fd, config_.Baud)) {
    const int err = errno;
    ::close(fd);
    throw ELinkError(
        "cannot set " + std::to_string(config_.Baud) + " baud 8N1 (" +
        (SupportedBaud(config_.Baud) ? ErrnoText(err) : std::string("unsupported rate")) + ")");
  }
  fd_ = fd;
  device_ = device;
}

void SerialBackend::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  device_.clear();
}

PrinterAnswer SerialBackend::Transact(const std::string& device, const std::string& method,
                                      const std::vector<AnsiString>& fields) {
  uint8_t seq = seq_;
  seq_ = link::NextSequence(seq_);
  std::string frame = link::EncodeCommand(seq, method, fields);
  const uint8_t cmd = static_cast<uint8_t>(frame[2]);
  ++stats_.Frames;
  if (record_) sent_.push_back({method, fields});

  try {
    Open(device);
  } catch (const ELinkError& e) {
    Fail(device, method, e.Message());
  }

  // Any failure leaves the device closed, so the next command starts on a fresh line.
  struct CloseOnFailure {
    SerialBackend* self;
    bool armed = true;
    ~CloseOnFailure() {
      if (armed) self->Close();
    }
  } guard{this};

  auto gone = [&](const std::string& why) { Fail(device, method, "device gone (" + why + ")"); };
  auto writeAll = [&](const std::string& bytes) {
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(config_.TimeoutMs);
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        stats_.BytesSent += n;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) gone("write: " + ErrnoText(errno));
      pollfd p{fd_, POLLOUT, 0};
      const int wait = MsUntil(deadline);
      if (wait == 0) Fail(device, method, "the line does not take the frame");
      const int r = ::poll(&p, 1, wait);
      if (r < 0 && errno != EINTR) gone("poll: " + ErrnoText(errno));
      if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) gone("hang-up while writing");
    }
  };

  tcflush(fd_, TCIFLUSH);  // bytes of earlier exchanges are of no use now
  writeAll(frame);

  enum class Trouble { NoAnswer, BadReply, Refused };
  const int maxTries = config_.Retries + 1;
  int tries = 1;  // exchanges started for this command
  int badReplies = 0;
  int naks = 0;
  bool renumbered = false;
  link::ReplyParser parser;
  auto deadline = Clock::now() + std::chrono::milliseconds(config_.TimeoutMs);

  // Another try, or the end: the frame again after no answer or the printer's NAK; a NAK of
  // ours after a damaged reply, which the printer answers by sending it again.
  auto retry = [&](Trouble t) {
    if (tries >= maxTries) {
      switch (t) {
        case Trouble::NoAnswer:
          Fail(device, method,
               "no answer (" + std::to_string(tries) + " tries, " +
                   std::to_string(config_.TimeoutMs) + " ms each)");
        case Trouble::BadReply:
          Fail(device, method,
               "repeated bad checksums (" + std::to_string(badReplies) + " damaged replies)");
        case Trouble::Refused:
          Fail(device, method,
               "repeated bad checksums (the printer refused the frame " + std::to_string(naks) +
                   " times)");
      }
    }
    ++tries;
    parser.Reset();
    if (t == Trouble::BadReply) {
      ++stats_.NaksSent;
      writeAll(std::string(1, static_cast<char>(link::kNak)));
    } else {
      ++stats_.Resends;
      writeAll(frame);
    }
    deadline = Clock::now() + std::chrono::milliseconds(config_.TimeoutMs);
  };

  char buf[256];
  while (true) {
    const int wait = MsUntil(deadline);
    if (wait == 0) {
      retry(Trouble::NoAnswer);
      continue;
    }
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, wait);
    if (r < 0) {
      if (errno == EINTR) continue;
      gone("poll: " + ErrnoText(errno));
    }
    if (r == 0) continue;  // the deadline is checked above
    if (p.revents & (POLLERR | POLLNVAL)) gone("line error");
    if (!(p.revents & POLLIN)) gone("hang-up");
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      gone("read: " + ErrnoText(errno));
    }
    if (n == 0) gone("end of file");
    stats_.BytesReceived += n;
    for (ssize_t i = 0; i < n; ++i) {
      switch (parser.Feed(static_cast<uint8_t>(buf[i]))) {
        case link::ReplyParser::Event::None:
          break;
        case link::ReplyParser::Event::KeepAlive:
          ++stats_.KeepAlives;
          deadline = Clock::now() + std::chrono::milliseconds(config_.TimeoutMs);
          break;
        case link::ReplyParser::Event::Nak:
          ++stats_.NaksReceived;
          ++naks;
          retry(Trouble::Refused);
          break;
        case link::ReplyParser::Event::BadReply:
          ++badReplies;
          retry(Trouble::BadReply);
          break;
        case link::ReplyParser::Event::Reply: {
          const link::ReplyFrame& reply = parser.Reply();
          if (reply.Seq != seq) {
            ++stats_.StaleReplies;  // a late copy of an earlier reply
            break;
          }
          if (reply.Cmd != cmd) {
            // The printer answered with the reply it kept for another command of the same
            // number (a host that started again): it has not run this one. Once, under the
            // next number.
            ++stats_.StaleReplies;
            if (renumbered) break;
            renumbered = true;
            seq = seq_;
            seq_ = link::NextSequence(seq_);
            frame = link::EncodeCommand(seq, method, fields);
            parser.Reset();
            writeAll(frame);
            deadline = Clock::now() + std::chrono::milliseconds(config_.TimeoutMs);
            // The rest of this read belongs to the old exchange.
            i = n;
            break;
          }
          guard.armed = false;
          return link::ToAnswer(reply);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------

void ConfigureSerialPrinter(SerialConfig config) {
  SetPrinterBackend(std::make_shared<SerialBackend>(std::move(config)));
}

void UseSerialPrinterFromEnvironment() {
  ConfigureSerialPrinter(SerialConfigFromEnvironment());
}

std::shared_ptr<PrinterBackend> EnvironmentPrinterBackend() {
  const std::string kind = Env("FISCAL_PRINTER");
  if (kind.empty() || kind == "emulator") return nullptr;
  if (kind != "serial")
    throw ELinkError("FISCAL_PRINTER: '" + kind + "' is neither 'emulator' nor 'serial'");
  static std::mutex mu;
  static std::string key;
  static std::shared_ptr<PrinterBackend> backend;
  const std::string now = Env("FISCAL_PRINTER_PORTS") + '\n' + Env("FISCAL_PRINTER_BAUD") + '\n' +
                          Env("FISCAL_PRINTER_TIMEOUT_MS");
  std::lock_guard<std::mutex> lock(mu);
  if (!backend || key != now) {
    backend = std::make_shared<SerialBackend>(SerialConfigFromEnvironment());
    key = now;
  }
  return backend;
}

}  // namespace plat
