// SPDX-License-Identifier: Apache-2.0
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

#include <CLI/CLI.hpp>

#include "printer/internal/link_server.h"
#include "printer/internal/system.h"
#include "printer/serial_backend.h"
#include "printer/variants.h"
#include "program/command_line.h"

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

const char kAbout[] =
    "Answers the printer control's framed commands on a serial line with the fiscal\n"
    "printer model. Without --device it opens a pseudo-terminal and prints its path as\n"
    "\"PTY /dev/pts/N\"; point the host at it with FISCAL_PRINTER=serial and\n"
    "FISCAL_PRINTER_PORTS=1=/dev/pts/N (or at the stable --link path). Stops on SIGTERM or\n"
    "SIGINT. Line faults take a probability P from 0 to 1, drawn per reply sent.";

// The stable path points at this run's pseudo-terminal: a new link made beside the path and
// renamed over it, so that a host never finds the path missing across a restart.
bool PointLink(const std::string& link, const std::string& target) {
  const std::string tmp = link + ".new";
  ::unlink(tmp.c_str());
  return ::symlink(target.c_str(), tmp.c_str()) == 0 && ::rename(tmp.c_str(), link.c_str()) == 0;
}

void DropLink(const std::string& link, const std::string& target) {
  char buf[4096];
  const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n > 0 && std::string(buf, static_cast<size_t>(n)) == target) ::unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string link;
  CLI::App app(kAbout, "printer-emulator");
  app.get_formatter()->column_width(34);
  app.add_option("--device", o.device, "serve on this serial device instead of a pseudo-terminal")
      ->type_name("PATH");
  app.add_option("--baud", o.baud, "line speed for --device")
      ->capture_default_str()
      ->check([](const std::string& v) {
        return plat::SupportedBaud(std::atoi(v.c_str())) ? std::string()
                                                         : "unsupported baud rate " + v;
      });
  app.add_option("--journal", o.journal,
                 "append every executed command: method and fields, tab-separated")
      ->type_name("FILE");
  app.add_option("--paper", o.paper, "append every printed line")->type_name("FILE");
  app.add_option("--clock", o.clock, "'YYYY-MM-DD HH:MM:SS': the printer's clock stands there");
  app.add_option("--state", o.state,
                 "keep the printer's state (documents, counters, the last command) in FILE "
                 "and start from it")
      ->type_name("FILE");
  app.add_option("--model", o.model,
                 "answer as this variant of the printer family: " + plat::variants::Names() +
                     " (ours unless given)")
      ->type_name("NAME")
      ->check([](const std::string& v) {
        return plat::variants::Find(v)
                   ? std::string()
                   : "no model variant '" + v + "' (" + plat::variants::Names() + ")";
      });
  app.add_option("--link", link, "a symbolic link at PATH to this run's pseudo-terminal")
      ->type_name("PATH");
  app.add_flag("--rerun-repeats", o.rerunRepeats,
               "run every frame, also one repeating the number of the command run last");
  app.add_option("--seed", o.seed, "seed of the fault draws")->capture_default_str();
  const auto p = CLI::Range(0.0, 1.0);
  app.add_option("--corrupt", o.corrupt, "P: damage one byte of a reply")->check(p);
  app.add_option("--drop", o.drop, "P: send no reply")->check(p);
  app.add_option("--lose", o.lose, "P: lose a frame from the host before it runs")->check(p);
  app.add_option("--delay", o.delay, "P: send a reply late, after --delay-ms")->check(p);
  app.add_option("--busy", o.busy, "P: send DC2/DC4 every --keepalive-ms for --busy-ms first")
      ->check(p);
  const auto ms = CLI::Range(0, 600000);
  app.add_option("--delay-ms", o.delayMs)->check(ms)->capture_default_str();
  app.add_option("--busy-ms", o.busyMs)->check(ms)->capture_default_str();
  app.add_option("--keepalive-ms", o.keepAliveMs)
      ->check(CLI::Range(1, 600000))
      ->capture_default_str();
  app.add_option("--full", o.full, "P: the buffer is full, the command does not run")->check(p);
  app.add_option("--paper-out-after", o.paperOutAfter,
                 "the paper runs out with the command after N have run")
      ->check(CLI::Range(0L, 1000000000L));
  app.add_option("--silent-after", o.silentAfter, "answer nothing once N commands have run")
      ->check(CLI::Range(0L, 1000000000L));
  app.add_option("--vanish-after", o.vanishAfter,
                 "close the line and exit when a command comes after N have run")
      ->check(CLI::Range(0L, 1000000000L));
  if (const auto end = cli::Parse(app, argc, argv)) return *end;

  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("printer-emulator: pipe");
    return cli::kFailed;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  plat::UniqueFd line;
  plat::UniqueFd slave;  // kept open so that the line stays up between host sessions
  std::string path;
  if (!o.device.empty()) {
    line.Reset(::open(o.device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!line.Valid() || !plat::MakeRawSerialLine(line.Get(), o.baud)) {
      std::cerr << "printer-emulator: cannot open " << o.device << ": " << plat::ErrnoText(errno)
                << "\n";
      return cli::kFailed;
    }
    path = o.device;
  } else {
    line.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    const int fd = line.Get();
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
      std::perror("printer-emulator: pseudo-terminal");
      return cli::kFailed;
    }
    const char* name = ::ptsname(fd);
    if (name == nullptr) {
      std::perror("printer-emulator: ptsname");
      return cli::kFailed;
    }
    path = name;
    slave.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave.Valid() || !plat::MakeRawSerialLine(slave.Get(), 9600)) {
      std::perror("printer-emulator: slave side");
      return cli::kFailed;
    }
    plat::MakeRawSerialLine(fd, 0);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (!link.empty() && !PointLink(link, path)) {
      std::cerr << "printer-emulator: cannot make the link " << link << ": "
                << plat::ErrnoText(errno) << "\n";
      return cli::kFailed;
    }
    std::cout << "PTY " << path << std::endl;
  }

  plat::LinkServer printer(o, line.Get(), g_signalPipe[0], std::cerr);
  if (!printer.Open()) return cli::kUsage;
  if (!o.device.empty()) std::cout << "DEVICE " << path << std::endl;
  const int rc = printer.Serve();
  if (!link.empty()) DropLink(link, path);
  return rc;
}
