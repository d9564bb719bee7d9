// SPDX-License-Identifier: Apache-2.0
// The print service's cost: one entry point called in process (a host with the package loaded)
// against the same call sent to fiscal-printd over loopback, whose difference is the service's
// own overhead per request (HTTP, JSON both ways, the queue, the journal's two flushed lines);
// and whole ticket sales from 8 clients at once, as sales per minute. The service runs with its
// built-in emulator and its state folder in the system's temporary folder.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_host.h"
#include "tests/service/service_process.h"

namespace {

using servicetest::Json;

// One service for the whole run with its state folder on the disk (the system's temporary
// folder), and one with it in memory (/dev/shm), where flushing the journal costs nothing: the
// difference is what the journal's two flushes cost on that disk.
servicetest::ServiceProcess& Service(bool inMemory = false) {
  static servicetest::TempDir disk,
      memory(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "");
  static servicetest::ServiceProcess onDisk(disk.Path()), inRam(memory.Path());
  return inMemory ? inRam : onDisk;
}

std::atomic<long> g_keys{0};
std::string NextKey() {
  return "bench-" + std::to_string(g_keys++);
}

void BM_CallInProcess(benchmark::State& state) {
  benchhost::Host host;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BENCH_CALL(host, Estado_Imp)("", false, false));
    state.PauseTiming();
    host.Tidy();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CallInProcess)->Unit(benchmark::kMicrosecond);

// A client on loopback. keepAlive 1: one connection for every request, 0: a new one each;
// stateInMemory 1: the service whose state folder is in memory.
httplib::Client Connect(const benchmark::State& state) {
  httplib::Client c("127.0.0.1", Service(state.range(1) == 1).Port());
  c.set_keep_alive(state.range(0) == 1);
  c.set_tcp_nodelay(true);
  c.set_read_timeout(60, 0);
  return c;
}

// Sends one request per iteration; the run stops at the first answer other than 200.
template <class Send>
void Requests(benchmark::State& state, Send send) {
  httplib::Client c = Connect(state);
  for (auto _ : state) {
    auto r = send(c);
    if (!r || r->status != 200) {
      state.SkipWithError("the service did not answer 200");
      break;
    }
  }
}

void BM_CallThroughService(benchmark::State& state) {
  Requests(state, [](httplib::Client& c) {
    return c.Post("/v1/call/Estado_Imp", {{"Idempotency-Key", NextKey()}}, "{}",
                  "application/json");
  });
}
BENCHMARK(BM_CallThroughService)
    ->ArgNames({"keepAlive", "stateInMemory"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// The status endpoint: HTTP and JSON without the queue, the driver or the journal.
void BM_StatusThroughService(benchmark::State& state) {
  Requests(state, [](httplib::Client& c) { return c.Get("/v1/status"); });
}
BENCHMARK(BM_StatusThroughService)
    ->ArgNames({"keepAlive", "stateInMemory"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// 8 tills, each sending 10 one-item tickets one after the other.
void BM_SalesFromEightClients(benchmark::State& state) {
  constexpr int kClients = 8, kSales = 10;
  const int port = Service().Port();
  const std::string sale = servicetest::TicketSale("Cafe").dump();
  std::atomic<int> failed{0};
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
      clients.emplace_back([&] {
        httplib::Client c("127.0.0.1", port);
        c.set_keep_alive(true);
        c.set_tcp_nodelay(true);
        c.set_read_timeout(60, 0);
        for (int s = 0; s < kSales; ++s) {
          auto r = c.Post("/v1/sales", {{"Idempotency-Key", NextKey()}}, sale, "application/json");
          if (!r || r->status != 200) ++failed;
        }
      });
    }
    for (auto& t : clients) t.join();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  if (failed > 0) state.SkipWithError("a sale was not answered 200");
  state.counters["sales_per_minute"] =
      60.0 * kClients * kSales * static_cast<double>(state.iterations()) / seconds;
}
BENCHMARK(BM_SalesFromEightClients)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
