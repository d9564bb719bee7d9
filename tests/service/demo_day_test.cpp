// SPDX-License-Identifier: Apache-2.0
// The demo's default day sent through the service as JSON prints the same paper and writes the
// same log as the demo host that calls the package in its own process; and the day with curl
// that the service's guide shows runs as it stands.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/service/service_process.h"

namespace {

using namespace servicetest;

// The paper lines and the log lines of a run's output, in order, with dates and times masked
// (the two runs happen at different moments).
struct Printed {
  std::vector<std::string> paper, log;
};

Printed Extract(const std::string& output) {
  static const std::regex moment(R"(\d\d/\d\d/\d\d(\d\d)?|\d\d:\d\d(:\d\d)?)");
  Printed p;
  bool inLog = false;
  size_t start = 0;
  for (size_t nl; (nl = output.find('\n', start)) != std::string::npos; start = nl + 1) {
    const std::string line = std::regex_replace(output.substr(start, nl - start), moment, "#");
    if (line == "  log:") {
      inLog = true;
    } else if (line.empty() || line.rfind("    ", 0) != 0) {
      inLog = false;
    } else if (inLog) {
      p.log.push_back(line);
    } else if (line.rfind("    |", 0) == 0) {
      p.paper.push_back(line);
    }
  }
  return p;
}

// The first block opened by fence (```sh, ```java) after the text after in a document of the
// source tree, with the service's address in place of the one the document names.
std::string DocumentBlock(const std::string& document, const std::string& after,
                          const std::string& fence, const std::string& url) {
  std::ifstream in(std::string(FISCAL_SOURCE_DIR) + "/" + document);
  std::stringstream doc;
  doc << in.rdbuf();
  const std::string text = doc.str();
  const size_t section = text.find(after);
  const size_t at = section == std::string::npos ? section : text.find(fence, section);
  if (at == std::string::npos) return "";
  const size_t start = text.find('\n', at) + 1;
  return std::regex_replace(text.substr(start, text.find("```", start) - start),
                            std::regex("http://127\\.0\\.0\\.1:8520"), url);
}

TEST(ServiceDemoDay, DefaultDayThroughTheServicePrintsWhatTheDemoPrints) {
  // The demo's host folder is its program's folder: a copy of its own, so that another test
  // running the demo at the same time writes to another log.
  TempDir demoDir, state;
  const std::filesystem::path bin = std::filesystem::path(DEMO_PATH).parent_path();
  for (const char* file : {"demo", "cdsdump", "libarfis770.so"})
    std::filesystem::copy_file(bin / file, std::filesystem::path(demoDir.Path()) / file);
  const ShellRun demo = Shell("'" + demoDir.Path() + "/demo'");
  ASSERT_EQ(demo.exitCode, 0) << demo.output;

  ServiceProcess service(state.Path(), {"--port", "COM3", "--scheme", "azul"});
  const std::string requests = state.Path() + "/day.json";
  const ShellRun day =
      Shell("python3 '" + std::string(SCENARIO_DAY_PATH) + "' --url " + service.Url() +
            " --state '" + state.Path() + "' --json '" + requests + "'");
  ASSERT_EQ(day.exitCode, 0) << day.output;
  EXPECT_NE(day.output.find("Scenario done: 29 calls, 0 raised to the host."), std::string::npos)
      << day.output;

  const Printed expected = Extract(demo.output), got = Extract(day.output);
  ASSERT_GT(expected.paper.size(), 100u);
  EXPECT_EQ(got.paper, expected.paper);
  EXPECT_EQ(got.log, expected.log);
  const auto sent = FileLines(requests);
  EXPECT_FALSE(sent.empty()) << "the day's requests were not written";
}

TEST(ServiceDemoDay, CurlDayOfTheGuideRuns) {
  TempDir state;
  ServiceProcess service(state.Path());
  const std::string script = DocumentBlock(
      "docs/print-service.md", "## 12. A day at the till with curl", "```sh", service.Url());
  ASSERT_FALSE(script.empty());
  std::ofstream(state.Path() + "/day.sh") << script;
  const ShellRun run = Shell("bash -e '" + state.Path() + "/day.sh'");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.find("\"error\":{"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Idempotent-Replay: true"), std::string::npos) << run.output;

  // Two documents, one replay printed nothing, and the day ended with its Z reduction.
  const Json printer = service.Get("/v1/status").body["printer"];
  EXPECT_EQ(printer["lastDocuments"]["ticket"], "00000001");
  EXPECT_EQ(printer["lastDocuments"]["invoiceA"], "00000001");
  const Json paper = service.Get("/v1/paper").body["lines"];
  EXPECT_NE(paper.dump().find("INFORME Z"), std::string::npos);
}

// Without a terminal the demo through the service ends with the status as text, and gives no
// address of a page that is gone once it ends.
TEST(ServiceDemoDay, WithoutATerminalTheDemoShowsTheStatusAsText) {
  const std::string bin = std::filesystem::path(FISCAL_PRINTD_PATH).parent_path().string();
  const ShellRun run = Shell("FISCAL_DEMO_BIN='" + bin + "' '" + FISCAL_SOURCE_DIR +
                             "/scripts/demo' --service </dev/null");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  for (const char* shown : {"Scenario done: 29 calls, 0 raised to the host.",
                            "Printer: emulator, reachable, no document open\n",
                            "Keys in doubt: none\n", "none failed\n", "in a terminal"}) {
    EXPECT_NE(run.output.find(shown), std::string::npos) << shown << "\n" << run.output;
  }
  EXPECT_EQ(run.output.find("Status page:"), std::string::npos) << run.output;
}

// The README's Java program, as it stands, sells its ticket through the service.
TEST(ServiceDemoDay, JavaProgramOfTheReadmeRuns) {
  if (Shell("command -v java").exitCode != 0) GTEST_SKIP() << "no Java runtime on this machine";
  TempDir state;
  ServiceProcess service(state.Path());
  const std::string program = DocumentBlock("README.md", "", "```java", service.Url());
  ASSERT_FALSE(program.empty());
  std::ofstream(state.Path() + "/Till.java") << program;
  const ShellRun run = Shell("cd '" + state.Path() + "' && java Till.java");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.rfind("200 {", 0), 0u) << run.output;
  EXPECT_NE(run.output.find("\"ok\":true"), std::string::npos) << run.output;
}

}  // namespace
