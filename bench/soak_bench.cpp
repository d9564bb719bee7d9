// SPDX-License-Identifier: Apache-2.0
// The print service over a long day: 30,000 ticket sales from 8 clients at once (another count
// with FISCAL_SOAK_SALES), then the service's memory (resident set) and how long it takes to
// start again on that history after a stop, against a start on an empty state folder, and
// after a crash (which checks the whole journal first). The journal keeps nothing in memory per
// entry, so neither the memory nor the start after a stop should grow with the history.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/process_figures.h"
#include "tests/service/service_process.h"

namespace {

using Clock = std::chrono::steady_clock;

using benchfigures::ResidentMiB;

// Milliseconds from the start of the service to its first answer.
double StartMs(const std::string& state, std::unique_ptr<servicetest::ServiceProcess>& s) {
  const auto start = Clock::now();
  s = std::make_unique<servicetest::ServiceProcess>(state);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_SoakSales(benchmark::State& state) {
  const char* wanted = std::getenv("FISCAL_SOAK_SALES");
  const int sales = wanted ? std::atoi(wanted) : 30000;
  constexpr int kClients = 8;
  for (auto _ : state) {
    servicetest::TempDir empty, dir;
    std::unique_ptr<servicetest::ServiceProcess> s;
    const double freshMs = StartMs(empty.Path(), s);
    const double freshMiB = ResidentMiB(s->Pid());
    s.reset();
    StartMs(dir.Path(), s);
    std::atomic<int> next{0}, failed{0};
    const std::string sale = servicetest::TicketSale("Soak").dump();
    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
      clients.emplace_back([&] {
        httplib::Client c("127.0.0.1", s->Port());
        c.set_keep_alive(true);
        c.set_read_timeout(60, 0);
        for (int n = next++; n < sales; n = next++) {
          auto r = c.Post("/v1/sales", {{"Idempotency-Key", "soak-" + std::to_string(n)}}, sale,
                          "application/json");
          if (!r || r->status != 200) ++failed;
        }
      });
    }
    for (auto& t : clients) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (failed > 0) state.SkipWithError("a sale was not answered 200");
    state.counters["sales"] = sales;
    state.counters["sales_per_minute"] = 60.0 * sales / seconds;
    state.counters["fresh_rss_MiB"] = freshMiB;
    state.counters["rss_MiB_after_sales"] = ResidentMiB(s->Pid());
    s->Stop();
    s.reset();
    state.counters["fresh_start_ms"] = freshMs;
    state.counters["start_ms_after_sales"] = StartMs(dir.Path(), s);
    state.counters["rss_MiB_after_restart"] = ResidentMiB(s->Pid());
    // After a crash the start checks the whole database first.
    s->Kill();
    s.reset();
    state.counters["start_ms_after_crash"] = StartMs(dir.Path(), s);
  }
}
BENCHMARK(BM_SoakSales)->Iterations(1)->Repetitions(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
