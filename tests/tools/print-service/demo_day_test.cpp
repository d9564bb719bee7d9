// The demo's default day sent through the service as JSON prints the same paper and writes the
// same log as the demo host that calls the package in its own process.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/tools/print-service/service_process.h"

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

TEST(ServiceDemoDay, DefaultDayThroughTheServicePrintsWhatTheDemoPrints) {
  const ShellRun demo = Shell(std::string("'") + DEMO_PATH + "'");
  ASSERT_EQ(demo.exitCode, 0) << demo.output;

  TempDir state;
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

}  // namespace
