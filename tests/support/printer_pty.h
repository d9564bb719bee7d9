// SPDX-License-Identifier: Apache-2.0
// The printer-emulator program on a pseudo-terminal, for tests and benchmarks that talk to it
// over the serial link: started with its arguments, the pseudo-terminal read from the "PTY
// <path>" line it prints first, stopped when this object ends. Header only, so that programs
// without the test harness can use it.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace testhost {

class PrinterPty {
 public:
  explicit PrinterPty(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    if (line.rfind("PTY ", 0) != 0) {
      Stop();
      throw std::runtime_error("printer-emulator said: " + line);
    }
    pty_ = line.substr(4);
  }
  ~PrinterPty() { Stop(); }
  PrinterPty(const PrinterPty&) = delete;
  PrinterPty& operator=(const PrinterPty&) = delete;
  const std::string& Pty() const { return pty_; }

 private:
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid_ = -1;
  std::string pty_;
};

}  // namespace testhost
