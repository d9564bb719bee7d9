// SPDX-License-Identifier: Apache-2.0
// The printer side of the serial link, as the printer-emulator program runs it: the printer
// model (printer/model.h) answering the control's framed commands on a serial line or
// pseudo-terminal, once per sequence number (or, to try the host against a printer that does
// not keep that rule, every frame), with scripted line faults. Not installed: it is
// the program's inside. One server serves one line on one thread; Executed may be read from any.
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace plat {

struct LinkServerOptions {
  unsigned seed = 1;  // of the fault draws, made for every reply sent
  // Probabilities from 0 to 1 per reply: damage one byte, send none, send it late (after
  // delayMs), send DC2/DC4 every keepAliveMs for busyMs before it.
  double corrupt = 0, drop = 0, delay = 0, busy = 0;
  // Probability per frame received that it is lost on its way to the printer (not run, not
  // answered); drawn from its own sequence, so that it leaves the reply faults as they were.
  double lose = 0;
  int delayMs = 3000;
  int busyMs = 500;
  int keepAliveMs = 100;
  // Probability per frame received that the printer's buffer is full: the command does not
  // run, and the reply carries the buffer-full bit; drawn from a sequence of its own.
  double full = 0;
  // The paper runs out with the command after this many have run: that command runs and its
  // reply says out of paper; every later command that prints or changes the printer does not
  // run and is answered out of paper with the fiscal summary bit.
  long paperOutAfter = -1;
  long silentAfter = -1;  // answer nothing once this many commands have run
  long vanishAfter = -1;  // close and stop when a command comes after this many have run
  std::string journal;    // appended: every executed command, method and fields tab-separated
  std::string paper;      // appended: every printed line
  std::string clock;      // 'YYYY-MM-DD HH:MM:SS': the printer's clock stands at this time
  // Runs every frame it receives, also one whose number is that of the command it ran last
  // (a printer that does not keep the repeated-number rule).
  bool rerunRepeats = false;
  // Kept after every command and read at the start: documents, counters, the last command's
  // number and reply, so that a restarted printer goes on where it stopped.
  std::string state;
  // The variant of the family the printer answers as (printer/variants.h); "" for ours.
  std::string model;
};

class LinkServer {
 public:
  // Serves the line fd until stopFd becomes readable. Problems go to errors.
  LinkServer(const LinkServerOptions& options, int fd, int stopFd, std::ostream& errors);
  ~LinkServer();
  LinkServer(const LinkServer&) = delete;
  LinkServer& operator=(const LinkServer&) = delete;

  // Opens the journal and paper files and sets the clock; false (said on errors) when one fails.
  bool Open();
  // Serves until stopped, a vanish or a line failure. Answers the program's exit code.
  int Serve();
  // Commands executed so far.
  long Executed() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
