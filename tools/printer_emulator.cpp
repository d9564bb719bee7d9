// The printer emulator program: the same printer model as the built-in emulator, answering
// framed commands on a serial line. It opens a pseudo-terminal (or a given serial device),
// prints "PTY <path>" so that a host can be pointed at it, and serves until SIGTERM / SIGINT.
// It runs each command once per sequence number, and can be told to misbehave as a real line
// does: damaged, lost, late or slow replies, a printer that goes silent or disappears.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "printer/emulator.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "printer/link_frame.h"
#include "printer/serial_backend.h"

namespace {

namespace link = plat::link;

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 's';
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

struct Options {
  std::string device;
  int baud = 9600;
  unsigned seed = 1;
  double corrupt = 0, drop = 0, delay = 0, busy = 0;
  int delayMs = 3000;
  int busyMs = 500;
  int keepAliveMs = 100;
  long silentAfter = -1;
  long vanishAfter = -1;
  std::string journal;
  std::string paper;
  std::string clock;
};

void Usage(std::ostream& out) {
  out << "usage: printer-emulator [options]\n\n"
         "Answers the printer control's framed commands on a serial line with the fiscal\n"
         "printer model. Without --device it opens a pseudo-terminal and prints its path as\n"
         "\"PTY /dev/pts/N\"; point the host at it with FISCAL_PRINTER=serial and\n"
         "FISCAL_PRINTER_PORTS=1=/dev/pts/N. Stops on SIGTERM or SIGINT.\n\n"
         "  --device PATH      serve on this serial device instead of a pseudo-terminal\n"
         "  --baud N           line speed for --device (default 9600)\n"
         "  --journal FILE     append every executed command: method and fields, tab-separated\n"
         "  --paper FILE       append every printed line\n"
         "  --clock 'YYYY-MM-DD HH:MM:SS'  the printer's clock stands at this time\n"
         "Line faults (P is a probability from 0 to 1, drawn per reply sent):\n"
         "  --seed N           seed of the fault draws (default 1)\n"
         "  --corrupt P        damage one byte of a reply\n"
         "  --drop P           send no reply\n"
         "  --delay P          send a reply late, after --delay-ms (default 3000)\n"
         "  --busy P           send DC2/DC4 every --keepalive-ms (default 100) for --busy-ms\n"
         "                     (default 500) before a reply\n"
         "  --silent-after N   answer nothing once N commands have run\n"
         "  --vanish-after N   close the line and exit when a command comes after N have run\n"
         "  --help             this text\n";
}

bool ParseNumber(const char* text, double low, double high, double& out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  out = v;
  return true;
}

class Printer {
 public:
  Printer(const Options& o, int fd) : o_(o), fd_(fd), rng_(o.seed) {}

  bool Open() {
    if (!o_.journal.empty()) {
      journal_.open(o_.journal, std::ios::app | std::ios::binary);
      if (!journal_) return Complain("cannot write the journal " + o_.journal);
    }
    if (!o_.paper.empty()) {
      paper_.open(o_.paper, std::ios::app | std::ios::binary);
      if (!paper_) return Complain("cannot write the paper " + o_.paper);
    }
    if (!o_.clock.empty()) {
      int y, mo, d, h, mi, s;
      char sep;
      if (std::sscanf(o_.clock.c_str(), "%d-%d-%d%c%d:%d:%d", &y, &mo, &d, &sep, &h, &mi, &s) !=
              7 ||
          (sep != ' ' && sep != 'T'))
        return Complain("--clock takes 'YYYY-MM-DD HH:MM:SS'");
      try {
        const plat::TDateTime at = plat::EncodeDate(y, mo, d) + plat::EncodeTime(h, mi, s);
        model_.SetClock([at] { return at; });
      } catch (const plat::Exception& e) {
        return Complain("--clock: " + e.Message());
      }
    }
    return true;
  }

  // Serves until a signal, a vanish or a line failure. Answers the exit code.
  int Serve() {
    char buf[512];
    while (!stop_) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
      const int r = ::poll(p, 2, -1);
      if (r < 0) {
        if (errno == EINTR) continue;
        Complain(std::string("poll: ") + std::strerror(errno));
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
        Complain(std::string("read: ") + std::strerror(errno));
        return 1;
      }
      for (ssize_t i = 0; i < n && !stop_; ++i) Byte(static_cast<uint8_t>(buf[i]));
      if (vanished_) return 0;
    }
    return 0;
  }

 private:
  bool Complain(const std::string& what) {
    std::cerr << "printer-emulator: " << what << "\n";
    return false;
  }

  // Waits, also while a reply is held back; true when a signal asks to stop.
  bool WaitMs(int ms) {
    pollfd p{g_signalPipe[0], POLLIN, 0};
    if (::poll(&p, 1, ms) > 0) stop_ = true;
    return stop_;
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
    auto frame = link::DecodeCommand(scanner_.Frame());
    if (!frame) {
      if (!Silent()) Write(std::string(1, static_cast<char>(link::kNak)));
      return;
    }
    if (haveLast_ && frame->Seq == lastSeq_) {
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
    stored_ = link::EncodeReply(Execute(*frame));
    lastSeq_ = frame->Seq;
    haveLast_ = true;
    ++executed_;
    Send(stored_);
  }

  link::ReplyFrame Execute(const link::CommandFrame& frame) {
    link::ReplyFrame reply;
    reply.Seq = frame.Seq;
    reply.Cmd = frame.Cmd;
    const link::CommandInfo* info = link::FindCommand(frame.Cmd);
    if (info == nullptr) {
      reply.FiscalStatus = plat::status::kUnknownCommand | plat::status::kFiscalAny;
      return reply;
    }
    std::vector<plat::WideString> args;
    for (const auto& f : frame.Fields) args.push_back(plat::AnsiToWide(f));
    std::vector<plat::WideString*> ptrs;
    for (auto& a : args) ptrs.push_back(&a);
    if (journal_.is_open()) {
      std::string line = info->Method;
      for (const auto& f : frame.Fields) {
        line += '\t';
        line += plat::AnsiToUtf8(f);
      }
      journal_ << line << "\n" << std::flush;
    }
    plat::PrinterAnswer answer;
    try {
      answer = model_.Execute(info->Method, ptrs);
    } catch (const std::exception&) {
      answer = {};
      answer.FiscalStatus = plat::status::kWorkingMemoryError | plat::status::kFiscalAny;
    }
    if (paper_.is_open()) {
      for (const auto& line : model_.Paper()) paper_ << plat::AnsiToUtf8(line) << "\n";
      paper_ << std::flush;
    }
    model_.ClearPaper();
    reply.PrinterStatus = answer.PrinterStatus;
    reply.FiscalStatus = answer.FiscalStatus;
    for (const auto& f : answer.Fields) reply.Fields.push_back(plat::WideToAnsi(f));
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

  const Options& o_;
  int fd_;
  std::mt19937 rng_;
  plat::FiscalPrinterModel model_;
  link::FrameScanner scanner_;
  std::ofstream journal_;
  std::ofstream paper_;
  std::string stored_;
  uint8_t lastSeq_ = 0;
  bool haveLast_ = false;
  long executed_ = 0;
  bool stop_ = false;
  bool vanished_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      Usage(std::cout);
      return 0;
    }
    if (i + 1 >= argc) {
      std::cerr << "printer-emulator: " << a << " needs a value (see --help)\n";
      return 2;
    }
    const char* v = argv[++i];
    double d = 0;
    auto number = [&](double low, double high) {
      if (!ParseNumber(v, low, high, d)) {
        std::cerr << "printer-emulator: " << a << " takes a number from " << low << " to " << high
                  << ", not '" << v << "'\n";
        std::exit(2);
      }
      return d;
    };
    if (a == "--device")
      o.device = v;
    else if (a == "--baud")
      o.baud = static_cast<int>(number(1, 1e6));
    else if (a == "--seed")
      o.seed = static_cast<unsigned>(number(0, 4294967295.0));
    else if (a == "--corrupt")
      o.corrupt = number(0, 1);
    else if (a == "--drop")
      o.drop = number(0, 1);
    else if (a == "--delay")
      o.delay = number(0, 1);
    else if (a == "--busy")
      o.busy = number(0, 1);
    else if (a == "--delay-ms")
      o.delayMs = static_cast<int>(number(0, 600000));
    else if (a == "--busy-ms")
      o.busyMs = static_cast<int>(number(0, 600000));
    else if (a == "--keepalive-ms")
      o.keepAliveMs = static_cast<int>(number(1, 600000));
    else if (a == "--silent-after")
      o.silentAfter = static_cast<long>(number(0, 1e9));
    else if (a == "--vanish-after")
      o.vanishAfter = static_cast<long>(number(0, 1e9));
    else if (a == "--journal")
      o.journal = v;
    else if (a == "--paper")
      o.paper = v;
    else if (a == "--clock")
      o.clock = v;
    else {
      std::cerr << "printer-emulator: unknown option " << a << " (see --help)\n";
      return 2;
    }
  }

  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("printer-emulator: pipe");
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  int fd = -1;
  int slave = -1;  // kept open so that the line stays up between host sessions
  std::string path;
  if (!o.device.empty()) {
    if (!plat::SupportedBaud(o.baud)) {
      std::cerr << "printer-emulator: unsupported baud rate " << o.baud << "\n";
      return 2;
    }
    fd = ::open(o.device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 || !plat::MakeRawSerialLine(fd, o.baud)) {
      std::cerr << "printer-emulator: cannot open " << o.device << ": " << std::strerror(errno)
                << "\n";
      return 1;
    }
    path = o.device;
  } else {
    fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
      std::perror("printer-emulator: pseudo-terminal");
      return 1;
    }
    const char* name = ::ptsname(fd);
    if (name == nullptr) {
      std::perror("printer-emulator: ptsname");
      return 1;
    }
    path = name;
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !plat::MakeRawSerialLine(slave, 9600)) {
      std::perror("printer-emulator: slave side");
      return 1;
    }
    plat::MakeRawSerialLine(fd, 0);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::cout << "PTY " << path << std::endl;
  }

  Printer printer(o, fd);
  if (!printer.Open()) return 2;
  if (!o.device.empty()) std::cout << "DEVICE " << path << std::endl;
  const int rc = printer.Serve();
  if (slave >= 0) ::close(slave);
  ::close(fd);
  return rc;
}
