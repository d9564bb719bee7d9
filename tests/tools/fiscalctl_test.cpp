// SPDX-License-Identifier: Apache-2.0
// fiscalctl against the built-in emulator and, for the frame trace, the emulator program.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/printer_pty.h"
#include "tests/tools/run_command.h"

namespace {

using Ctl = CommandRun;

Ctl RunCtl(const std::string& args) {
  return RunCommand("env -u FISCAL_PRINTER '" + std::string(FISCALCTL_PATH) + "' " + args +
                    " 2>&1");
}

TEST(Fiscalctl, AnswersEachCommandWithItsExitCode) {
  struct Case {
    const char* args;
    int status;
    const char* has;
  };
  const Case cases[] = {
      {"status", 0,
       "fiscal status  0600: no condition\nfiscalisation  fiscalised\n"
       "paper          journal roll ok, receipt roll ok\ndocument       no document open"},
      {"status", 0, "warnings       none\nlast ticket    00000000, last Z 00000"},
      {"x", 0, "X reading 00001 printed"},
      {"date --set '2027-01-02 08:30:00'", 0, "2027-01-02 08:30:"},
      {"date --set tomorrow", 2, "--set takes 'YYYY-MM-DD HH:MM:SS'"},
      {"", 2, "A subcommand is required"},
      {"--port 0 status", 2, "--port"},
      {"trace Status", 2, "Status takes 1 fields, not 0"},
      {"trace Nothing", 2, "no printer command 'Nothing'"},
      {"--device /nonexistent/tty status", 3, "printer link /nonexistent/tty: Status: cannot"},
      {"--device /nonexistent/tty trace Status N", 3, "/nonexistent/tty: Status: cannot open"},
      {"probe", 0, "frame layout and checksum               not checked"},
      {"--device /nonexistent/tty probe", 3, "/nonexistent/tty: Status: cannot open"},
      {"report --z 1 5", 0, "fiscal-memory report by Z numbers 1 to 5 (totals) printed"},
      {"report --dates 2026-12-01 2026-12-31 --detail", 0,
       "by dates 2026-12-01 to 2026-12-31 (closing by closing) printed"},
      {"report --dates 2026-12-31 2026-12-01", 2, "the first not after the second"},
      {"report --dates 2026-13-01 2026-12-01", 2, "--dates takes two dates YYYY-MM-DD"},
      {"report --z 5 1", 2, "--z takes the first Z number, then the last"},
      {"report --detail", 2, "report takes --dates FROM TO or --z FIRST LAST"},
  };
  for (const Case& c : cases) {
    const Ctl r = RunCtl(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.has), std::string::npos) << c.args << "\n" << r.out;
  }
  EXPECT_EQ(RunCtl("--help").status, 0);
}

#ifdef PRINTER_EMULATOR_PATH
TEST(Fiscalctl, TracesOneCommandFrameByFrame) {
  const testhost::PrinterPty emulator({PRINTER_EMULATOR_PATH});
  const std::string& pty = emulator.Pty();
  const Ctl refused = RunCtl("--device " + pty + " trace CloseTicket");
  EXPECT_EQ(refused.status, 1) << refused.out;
  EXPECT_NE(refused.out.find(" out 02 "), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("E<FS>0000<FS>8620<ETX>"), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("refused the command: command not valid in the current state"),
            std::string::npos);
  // Standard output redirected to a file keeps the frames and the answer lines, in order.
  const std::string file = "/tmp/fiscalctl-trace-" + std::to_string(getpid());
  const Ctl toFile =
      RunCommand("env -u FISCAL_PRINTER '" + std::string(FISCALCTL_PATH) + "' --device " + pty +
                 " trace Status N > " + file + "; cat " + file + "; rm -f " + file);
  EXPECT_EQ(toFile.status, 0) << toFile.out;
  const size_t out = toFile.out.find("*<FS>N<ETX>"), in = toFile.out.find(" in  02 ", out),
               answer = toFile.out.find("\nanswer 1, printer status 0000", in);
  EXPECT_TRUE(out < in && in < answer && answer != std::string::npos) << toFile.out;
  const Ctl report = RunCtl("--device " + pty + " report --z 1 9999 --detail");
  EXPECT_EQ(report.status, 0) << report.out;
  const Ctl status = RunCtl("--device " + pty + " status");
  EXPECT_EQ(status.status, 0) << status.out;
  // The self-description names every field, and the frames it came in confirm the framing.
  const Ctl probe = RunCtl("--device " + pty + " probe");
  EXPECT_EQ(probe.status, 0) << probe.out;
  for (const char* part :
       {"status request P (printer characteristics): printer status 0000", "\n  tax number ",
        "\n  last Z closing ",
        "facts the answers check against the printer:\n  frame layout and checksum               "
        "confirmed",
        "status request command byte 0x2A        confirmed"})
    EXPECT_NE(probe.out.find(part), std::string::npos) << part << "\n" << probe.out;
}

// A fiscal-memory report prints on each variant of the family, built in and on the line; on the
// line after a Z closing, which it lists.
TEST(Fiscalctl, PrintsAFiscalMemoryReportOnEachVariant) {
  for (const std::string model : {"ours", "sibling"}) {
    SCOPED_TRACE(model);
    const std::string paper = "/tmp/fiscalctl-paper-" + std::to_string(getpid());
    std::remove(paper.c_str());
    const testhost::PrinterPty emulator(
        {PRINTER_EMULATOR_PATH, "--model", model, "--paper", paper});
    // On the line the variant is told from the printer's answers, not configured.
    const std::string builtIn =
        "env -u FISCAL_PRINTER FISCAL_PRINTER_MODEL=" + model + " '" FISCALCTL_PATH "' ";
    const std::string line = "env -u FISCAL_PRINTER -u FISCAL_PRINTER_MODEL '" FISCALCTL_PATH
                             "' --device " +
                             emulator.Pty() + " ";
    ASSERT_EQ(RunCommand(line + "trace CloseJournal Z P 2>&1").status, 0);
    for (const std::string& ctl : {builtIn, line}) {
      const Ctl byZ = RunCommand(ctl + "report --z 1 1 --detail 2>&1");
      EXPECT_EQ(byZ.status, 0) << ctl << "\n" << byZ.out;
      EXPECT_NE(byZ.out.find("by Z numbers 1 to 1 (closing by closing) printed"), std::string::npos)
          << ctl << "\n"
          << byZ.out;
      const Ctl byDates = RunCommand(ctl + "report --dates 2026-01-01 2099-12-31 2>&1");
      EXPECT_EQ(byDates.status, 0) << ctl << "\n" << byDates.out;
    }
    const Ctl printed = RunCommand("cat " + paper + "; rm -f " + paper);
    EXPECT_NE(printed.out.find("INFORME DE MEMORIA FISCAL"), std::string::npos) << printed.out;
    EXPECT_NE(printed.out.find("Z 0001"), std::string::npos) << printed.out;
  }
}

// The probe names the variant of the family the printer is and the layouts it was told by, on
// the line and in the built-in emulator.
TEST(Fiscalctl, ProbeNamesTheModelVariant) {
  const testhost::PrinterPty emulator({PRINTER_EMULATOR_PATH, "--model", "sibling"});
  const Ctl line = RunCtl("--device " + emulator.Pty() + " probe");
  const Ctl inProcess = RunCommand("env -u FISCAL_PRINTER FISCAL_PRINTER_MODEL=sibling '" +
                                   std::string(FISCALCTL_PATH) + "' probe 2>&1");
  for (const Ctl& probe : {line, inProcess}) {
    EXPECT_EQ(probe.status, 0) << probe.out;
    for (const char* part :
         {"model variant: sibling, the sibling model", "told: status mode P names it",
          "seen: status mode A: 8 fields", "seen: status mode C: 7 fields, sixth '000001000.'",
          "agree: every mode answered the documented number of fields",
          "payments per document                 6 (documented; not checked here",
          "status mode A reply                   8 fields (documented; checked: as answered)"})
      EXPECT_NE(probe.out.find(part), std::string::npos) << part << "\n" << probe.out;
  }
}

// A program that holds the printer's line as a running service does, under a process name.
class LineHolder {
 public:
  LineHolder(const std::string& device, const char* name) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_NAME, name);
      const int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
      const char ok = fd >= 0 && flock(fd, LOCK_EX) == 0 ? '1' : '0';
      (void)!write(ready[1], &ok, 1);
      pause();
      _exit(0);
    }
    char ok = '0';
    (void)!read(ready[0], &ok, 1);
    close(ready[0]);
    close(ready[1]);
    held_ = ok == '1';
  }
  ~LineHolder() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool Held() const { return held_; }
  std::string Pid() const { return std::to_string(pid_); }

 private:
  pid_t pid_ = -1;
  bool held_ = false;
};

TEST(Fiscalctl, NamesTheServiceThatHoldsThePrinter) {
  const testhost::PrinterPty emulator({PRINTER_EMULATOR_PATH});
  struct Case {
    const char* holder;
    const char* says;
  };
  const Case cases[] = {
      {"fiscal-printd",
       ") holds the printer; ask the service instead:\n"
       "  curl -s http://127.0.0.1:8520/v1/status\n"},
      {"other-program", "the device is in use by process "},
  };
  for (const Case& c : cases) {
    const LineHolder holder(emulator.Pty(), c.holder);
    ASSERT_TRUE(holder.Held()) << c.holder;
    const Ctl r = RunCtl("--device " + emulator.Pty() + " status");
    EXPECT_EQ(r.status, 1) << c.holder << "\n" << r.out;  // not 3: the printer was never asked
    EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(holder.Pid()), std::string::npos) << r.out;
  }
}
#endif

}  // namespace
