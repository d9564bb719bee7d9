// SPDX-License-Identifier: Apache-2.0
// The demo host: the default day runs through, and a broken scenario is refused with the line
// that is wrong.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/tools/run_command.h"

namespace {

struct DemoRun {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};

DemoRun RunDemo(const std::string& args) {
  const CommandRun r = RunCommand(std::string("'") + DEMO_PATH + "' " + args + " 2>&1");
  return {r.status, r.out};
}

std::string WriteScenario(const std::string& name, const std::string& text) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::ofstream(path) << text;
  return path;
}

}  // namespace

TEST(Demo, DefaultDayRunsWithoutRaisingAndShowsPaperAndLog) {
  const DemoRun r = RunDemo("");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  for (const char* expected :
       {"StartImpFiscal - PortNumber: 3", "AbreCupom(OpenTicket) :T - G",
        "VendaItem:  - Noquis caseros - 000001.00 - 000048.00 - 000021.00 - M",
        "SendTicketPayment:  - Tarjeta de cr\xC3\xA9"
        "dito - 000040.40 - T",
        "CloseTicket",
        "AbreCupom(OpenInVoice): A - T - R - R - Pe\xC3\xB1"
        "a y C\xC3\xAD"
        "a S.A.",
        "VendaItem:  - Vino tinto - 000002.00 - 000100.00 - 000021.00 - M",
        "Suprimento: Suprimento 150.00", "OpenCashDrawer: 1",
        "question [scheme azul]: Deseja abrir o caixa? -> no", "boReduziu: True",
        "Reducao_Z_Imp - CloseJournal: Z - ", "NRREDREDZ String 10",
        "Scenario done: 29 calls, 0 raised to the host."}) {
    EXPECT_NE(r.output.find(expected), std::string::npos) << expected;
  }
}

TEST(Demo, BrokenScenarioNamesTheLineAndFails) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"echo ok\nFoo X=1\n", ":2: unknown command or entry point 'Foo'"},
      {"AbreCupom TIPOTICKET\n", ":1: expected KEY=VALUE, found 'TIPOTICKET'"},
      {"echo \"open\n", ":1: unterminated quote"},
      {"dataset d\n  fields A:S B:F\n  row x\nend\n", ":3: row has 1 values for 2 fields"},
      {"dataset d\n  fields A:Q\nend\n", ":2: unknown field type in 'A:Q'"},
      {"decimal ;\n", ":1: decimal takes '.' or ','"},
      {"Suprimento VALOR=abc\n", ":1: 'VALOR' must be a number"},
      // What the platform refuses while a line is read or run names the line too.
      {"dataset d\n  fields\nend\n", ":2: 'fields' needs at least one NAME:TYPE"},
      {"dataset d\n  fields A:I A:F\nend\n", ":2: d: Duplicate field name 'A'"},
      {"dataset d\n  fields A:I\nend\nsavefile d no/such/folder.cds\n", ":4: Cannot create file"},
      {"removefile .\n", ":1: Cannot delete file"},
      {"dataset d\n  fields A:I\n", ":1: dataset 'd' has no 'end'"},
  };
  int i = 0;
  for (const auto& c : cases) {
    const std::string path = WriteScenario("demo-broken-" + std::to_string(i++) + ".txt", c.text);
    const DemoRun r = RunDemo("'" + path + "'");
    EXPECT_EQ(r.exitCode, 1) << c.text << r.output;
    EXPECT_NE(r.output.find(path + c.message), std::string::npos) << c.text << r.output;
    std::filesystem::remove(path);
  }
}

TEST(Demo, HelpAndMissingScenario) {
  const DemoRun help = RunDemo("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("usage: demo [SCENARIO]"), std::string::npos);
  const DemoRun missing = RunDemo("/nonexistent/scenario.txt");
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.output.find("cannot read scenario"), std::string::npos);
}

TEST(Demo, DumpHandsTheFileNameOverAsItIs) {
  // A quote in the name reaches the dump tool unchanged; no shell ever reads it.
  const std::string path = WriteScenario("demo-dump.txt", "dump \"it's; echo INJECTED\"\n");
  const DemoRun r = RunDemo("'" + path + "'");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("/it's; echo INJECTED': No such file"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("\nINJECTED"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("(cdsdump failed)"), std::string::npos) << r.output;
  std::filesystem::remove(path);
}
