// SPDX-License-Identifier: Apache-2.0
// The command line that every program shares: --version, --help and the exit code of a wrong
// command line.
#include <gtest/gtest.h>

#include <string>

#include "platform/version.h"
#include "tests/tools/run_command.h"

namespace {

// Runs a program of the build with `args` (which may redirect its standard error).
CommandRun RunProgram(const std::string& program, const std::string& args) {
  return RunCommand("'" FISCAL_BIN_DIR "/" + program + "' " + args + " </dev/null");
}

const char* const kPrograms[] = {"fiscal-printd",    "fiscalctl",    "cdsdump",
                                 "printer-emulator", "fiscal-fleet", "demo"};

TEST(CommandLine, EveryProgramAnswersVersionHelpAndAWrongOptionAlike) {
  for (const char* program : kPrograms) {
    SCOPED_TRACE(program);
    const CommandRun version = RunProgram(program, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string(program) + " " + FISCAL_VERSION + "\n");

    const CommandRun help = RunProgram(program, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find(program), std::string::npos) << help.out;

    // A wrong option is bad usage (2), said on standard error only: nothing is run.
    const CommandRun wrong = RunProgram(program, "--no-such-option 2>&1");
    EXPECT_EQ(wrong.status, 2) << wrong.out;
    EXPECT_NE(wrong.out.find(std::string(program) + ": "), std::string::npos) << wrong.out;
    EXPECT_EQ(RunProgram(program, "--no-such-option 2>/dev/null").out, "");
  }
}

TEST(CommandLine, ABadValueIsBadUsageToo) {
  struct Case {
    const char* program;
    const char* args;
  };
  const Case cases[] = {
      {"fiscal-printd", "--queue 0"},
      {"fiscal-printd", "--status-interval x"},
      {"printer-emulator", "--baud 1234"},
      {"fiscalctl", "--port 300 status"},
      {"cdsdump", "one two"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunProgram(c.program, std::string(c.args) + " 2>/dev/null").status, 2)
        << c.program << " " << c.args;
  }
}

}  // namespace
