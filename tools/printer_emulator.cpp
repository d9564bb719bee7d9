// The printer emulator program: the printer-side link server (printer/internal/link_server.h)
// with the same printer model as the built-in emulator, answering framed commands on a serial
// line. It opens a pseudo-terminal (or a given serial device), prints "PTY <path>" so that a
// host can be pointed at it, and serves until SIGTERM / SIGINT.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "printer/internal/link_server.h"
#include "printer/internal/system.h"
#include "printer/serial_backend.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 's';
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

struct Options : plat::LinkServerOptions {
  std::string device;
  int baud = 9600;
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
      std::cerr << "printer-emulator: cannot open " << o.device << ": " << plat::ErrnoText(errno)
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

  plat::LinkServer printer(o, fd, g_signalPipe[0], std::cerr);
  if (!printer.Open()) return 2;
  if (!o.device.empty()) std::cout << "DEVICE " << path << std::endl;
  const int rc = printer.Serve();
  if (slave >= 0) ::close(slave);
  ::close(fd);
  return rc;
}
