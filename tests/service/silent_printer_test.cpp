// SPDX-License-Identifier: Apache-2.0
// The service on a serial line to a printer that stops answering: a silent printer costs the
// first sale its tries and the next ones nothing, an unanswered idle check refuses nothing, and
// a printer that answers again shows so at once.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/service/service_process.h"

namespace {

using servicetest::Json;
using servicetest::PrinterProgram;
using servicetest::ServiceProcess;
using servicetest::TempDir;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Waits up to limit for the printer's part of /v1/status to say reachable as asked.
bool AwaitReachable(const ServiceProcess& s, bool reachable, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    const Json p = s.Get("/v1/status").body["printer"];
    if (p.is_object() && p["reachable"] == reachable) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// At the default reply timeout and tries: the first sale fails after the status query's tries,
// the next ones at once, naming the printer as silent.
TEST(SilentPrinter, TheFirstSaleWaitsForTheTriesAndTheNextOnesNotAtAll) {
  TempDir printerDir, state;
  PrinterProgram printer(printerDir.Path(), {"--silent-after", "0"});
  ServiceProcess s(state.Path(), {}, printer.Env());
  ASSERT_TRUE(AwaitReachable(s, false, std::chrono::seconds(10)));  // the first idle check

  auto start = Clock::now();
  const auto first = s.Post("/v1/sales", servicetest::TicketSale("Silent 1"), "silent-1");
  EXPECT_LT(SecondsSince(start), 9.5);  // four tries of 2 s
  EXPECT_EQ(first.body["ok"], false) << first.body.dump();
  for (const char* key : {"silent-2", "silent-3"}) {
    start = Clock::now();
    const auto next = s.Post("/v1/sales", servicetest::TicketSale(key), key);
    EXPECT_LT(SecondsSince(start), 1.0) << key;
    EXPECT_EQ(next.body["ok"], false) << next.body.dump();
    EXPECT_NE(next.body.value("reason", "").find("the printer stopped answering"),
              std::string::npos)
        << next.body.dump();
  }
  EXPECT_TRUE(printer.Journal().empty());
}

// A printer that pauses longer than the idle check waits: the check goes unanswered, and the
// next request, which does not ask the status first, still prints once the printer is back;
// the state follows it at once, whatever the idle check's back-off, and the log says so as news.
TEST(SilentPrinter, APauseRefusesNothingAndTheStateFollowsTheNextRequest) {
  TempDir printerDir, state;
  PrinterProgram printer(printerDir.Path());
  auto env = printer.Env();
  env["FISCAL_PRINTER_TIMEOUT_MS"] = "300";
  ServiceProcess s(state.Path(), {"--status-interval", "1"}, env);
  ASSERT_TRUE(AwaitReachable(s, true, std::chrono::seconds(10)));

  ::kill(printer.Pid(), SIGSTOP);
  const bool unanswered = AwaitReachable(s, false, std::chrono::seconds(10));
  // Long enough for the idle check to back off past the next second.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  ::kill(printer.Pid(), SIGCONT);
  ASSERT_TRUE(unanswered);

  const auto supply = s.Post("/v1/cash/supply", Json{{"amount", 100}}, "after-pause");
  EXPECT_EQ(supply.body["ok"], true) << supply.body.dump();
  EXPECT_EQ(s.Get("/v1/status").body["printer"]["reachable"], true);
  EXPECT_EQ(s.Get("/readyz").status, 200);
  // Coming back is news, not a warning.
  s.Stop();
  int back = 0;
  for (const auto& line : servicetest::FileLines(state.Path() + "/service-output.txt")) {
    EXPECT_EQ(line.find("warn: printer reachable"), std::string::npos) << line;
    back += line.find("info: printer reachable") != std::string::npos;
  }
  EXPECT_GE(back, 2);  // at start and once back
}

}  // namespace
