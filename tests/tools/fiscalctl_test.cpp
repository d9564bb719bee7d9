// SPDX-License-Identifier: Apache-2.0
// fiscalctl against the built-in emulator and, for the frame trace, the emulator program.

#include <gtest/gtest.h>

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
  const Ctl status = RunCtl("--device " + pty + " status");
  EXPECT_EQ(status.status, 0) << status.out;
  // The self-description names every field, and the frames it came in confirm the framing.
  const Ctl probe = RunCtl("--device " + pty + " probe");
  EXPECT_EQ(probe.status, 0) << probe.out;
  for (const char* part :
       {"status request P (printer characteristics): printer status 0000", "\n  tax number ",
        "\n  last Z closing ", "frame layout and checksum               confirmed",
        "status request command byte 0x2A        confirmed"})
    EXPECT_NE(probe.out.find(part), std::string::npos) << part << "\n" << probe.out;
}
#endif

}  // namespace
