// SPDX-License-Identifier: Apache-2.0
// A chain on one machine: the chain's broker (mosquitto with its TLS listeners, certificates
// and access rules, from tests/support/broker), 50 shops (fiscal-printd with the built-in
// emulator, each with its own state folder and client certificate) and a cloud publisher on
// libmosquitto (MQTT 5, a response topic and correlation data per job) sending ticket sales
// round the shops.
//
// Figures, as counters:
//   - one job at a time round the shops: submit-to-result latency p50 and p99, beside the same
//     sale printed alone through HTTP on one shop (the printing itself: the emulator, the
//     journal's flushes); p99_above_printing_ms is the link's p99 less the HTTP p50;
//   - one job in flight per shop (every shop busy at once): jobs per second, p50 and p99;
//   - then every shop idle on the link: each service's CPU (% of one core, from utime and
//     stime in /proc/PID/stat) and resident memory, mean and largest.
// Budgets: p99 above the printing under 200 ms, an idle service under 1 % of a core; a run
// over a budget says so on standard error.
//
// --quick (or FISCAL_CHAIN_SHOPS, FISCAL_CHAIN_JOBS per shop, FISCAL_CHAIN_IDLE_SECONDS) makes
// the run smaller; FISCAL_CHAIN_HEARTBEAT sets the services' --broker-heartbeat.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/process_figures.h"
#include "chain/broker_link.h"
#include "chain/times.h"
#include "chain/topics.h"
#include "tests/service/service_process.h"
#include "tests/support/broker/broker.h"

namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;
using namespace std::chrono_literals;

constexpr double kP99AbovePrintingBudgetMs = 200;
constexpr double kIdleCpuBudgetPercent = 1;
constexpr const char* kPrinter = "till-1";
constexpr const char* kReply = "bench";  // the cloud client's reply level

struct Size {
  int shops = 50;
  int jobsPerShop = 10;  // with every shop busy; as many again one at a time, at most 200
  int idleSeconds = 10;
  int heartbeatSeconds = 0;  // 0: the service's own default
};
Size g_size;

int EnvOr(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

// utime + stime of a process, in clock ticks.
long long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));  // from the state, the third field
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;
  long long utime = 0, stime = 0;
  fields >> utime >> stime;
  return utime + stime;
}

using benchfigures::ResidentMiB;

Json Sale() {
  return {{"kind", "T"},
          {"items", {{{"description", "Cafe"}, {"quantity", 1}, {"price", 10}, {"vat", 21}}}},
          {"payments", {{{"description", "Efectivo"}, {"amount", 10}}}}};
}

std::string ShopName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "shop-%02d", i);
  return name;
}

// The chain's cloud: publishes jobs with its reply topic and a correlation per job, and reads
// the results and every shop's status.
class Cloud {
 public:
  explicit Cloud(const brokertest::Broker& b)
      : link_(
            Settings(b), {"fiscal/v1/+/+/results/" + std::string(kReply), "fiscal/v1/+/+/status"},
            [this](const chain::BrokerMessage& m) { Received(m); }, nullptr) {
    link_.Start();
  }

  // Waits until this many shops are online on the link.
  bool AwaitOnline(size_t shops, std::chrono::seconds timeout) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, timeout, [&] { return online_.size() >= shops; });
  }

  // Sends a sale to a shop; gives the job's number.
  size_t Send(const std::string& shop) {
    size_t n;
    {
      std::lock_guard lock(mu_);
      n = jobs_.size();
      jobs_.push_back({shop, Clock::now(), -1, ""});
    }
    const Json job = {{"key", "chain-bench-" + std::to_string(n)},
                      {"till", "web-bench"},
                      {"expires", chain::UtcText(std::chrono::system_clock::now() + 5min)},
                      {"operation", "sale"},
                      {"body", Sale()}};
    chain::BrokerMessage m;
    m.topic = chain::Topic(shop, kPrinter, "jobs");
    m.payload = job.dump();
    m.responseTopic = chain::Topic(shop, kPrinter, "results") + "/" + kReply;
    m.correlation = std::to_string(n);
    m.contentType = "application/json";
    m.utf8 = true;
    std::string why;
    if (!link_.Publish(m, &why)) throw std::runtime_error("the cloud cannot publish: " + why);
    return n;
  }

  // The next job answered (its number), nothing after the timeout.
  std::optional<size_t> NextAnswered(std::chrono::seconds timeout) {
    std::unique_lock lock(mu_);
    if (!cv_.wait_for(lock, timeout, [&] { return !answered_.empty(); })) return std::nullopt;
    const size_t n = answered_.front();
    answered_.pop_front();
    return n;
  }

  // Latencies of the jobs [from, to) answered done, in ms; the others counted in notDone.
  std::vector<double> Latencies(size_t from, size_t to, int& notDone) {
    std::lock_guard lock(mu_);
    std::vector<double> ms;
    for (size_t i = from; i < to && i < jobs_.size(); ++i) {
      if (jobs_[i].outcome == "done") {
        ms.push_back(jobs_[i].ms);
      } else {
        ++notDone;
        if (notDone <= 3) {
          std::cerr << "job " << i << " at " << jobs_[i].shop << ": "
                    << (jobs_[i].outcome.empty() ? "no result" : jobs_[i].outcome) << "\n";
        }
      }
    }
    return ms;
  }
  std::string ShopOf(size_t n) {
    std::lock_guard lock(mu_);
    return jobs_.at(n).shop;
  }

 private:
  struct Job {
    std::string shop;
    Clock::time_point sent;
    double ms;
    std::string outcome;
  };

  static chain::BrokerSettings Settings(const brokertest::Broker& b) {
    chain::BrokerSettings s;
    s.host = "localhost";
    s.port = b.Port("cert");
    s.ca = b.Ca();
    s.cert = b.Account("cloud")["cert"];
    s.key = b.Account("cloud")["key"];
    s.clientId = "chain-bench-" + std::to_string(::getpid());
    return s;
  }

  void Received(const chain::BrokerMessage& m) {
    const auto at = Clock::now();
    const Json body = Json::parse(m.payload, nullptr, false);
    std::lock_guard lock(mu_);
    if (m.topic.size() > 7 && m.topic.compare(m.topic.size() - 7, 7, "/status") == 0) {
      if (!body.is_object()) return;
      const std::string shop = body.value("shop", "");
      body.value("online", false) ? (void)online_.insert(shop) : (void)online_.erase(shop);
    } else {
      size_t n = 0;
      try {
        n = std::stoul(m.correlation.value_or(""));
      } catch (...) {
        return;  // not one of this run's
      }
      if (n >= jobs_.size() || !jobs_[n].outcome.empty()) return;
      jobs_[n].outcome = body.is_object() ? body.value("outcome", "?") : "?";
      jobs_[n].ms = std::chrono::duration<double, std::milli>(at - jobs_[n].sent).count();
      answered_.push_back(n);
    }
    cv_.notify_all();
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::set<std::string> online_;
  std::vector<Job> jobs_;
  std::deque<size_t> answered_;
  chain::BrokerLink link_;  // last: its thread stops before the rest goes
};

// The shops' services on the broker's certificate listener, each with its own state folder.
struct Shops {
  std::vector<std::unique_ptr<servicetest::TempDir>> states;
  std::vector<std::unique_ptr<servicetest::ServiceProcess>> services;

  Shops(const brokertest::Broker& b, const Size& size) {
    for (int i = 0; i < size.shops; ++i) {
      const std::string shop = ShopName(i);
      const Json account = b.Account(shop);
      std::vector<std::string> args = {
          "--broker",     b.Url("cert"),  "--broker-ca", b.Ca(), "--broker-cert", account["cert"],
          "--broker-key", account["key"], "--shop",      shop,   "--printer",     kPrinter};
      if (size.heartbeatSeconds > 0) {
        args.insert(args.end(), {"--broker-heartbeat", std::to_string(size.heartbeatSeconds)});
      }
      states.push_back(std::make_unique<servicetest::TempDir>());
      services.push_back(
          std::make_unique<servicetest::ServiceProcess>(states.back()->Path(), std::move(args)));
    }
  }
  // Stopped all at once: each says goodbye to the broker at its own pace.
  ~Shops() {
    for (auto& s : services) ::kill(s->Pid(), SIGTERM);
    services.clear();
  }
};

void BM_ChainShops(benchmark::State& state) {
  const Size size = g_size;
  for (auto _ : state) {
    std::vector<std::string> names;
    for (int i = 0; i < size.shops; ++i) names.push_back(ShopName(i));
    brokertest::Broker broker(names);
    Shops shops(broker, size);
    Cloud cloud(broker);
    if (!cloud.AwaitOnline(names.size(), 60s)) {
      state.SkipWithError("the shops did not all come online on the link");
      return;
    }

    // The printing alone: the same sale through HTTP on one shop, one at a time.
    const int serial = std::min(size.shops * size.jobsPerShop, 200);
    std::vector<double> httpMs;
    {
      httplib::Client c("127.0.0.1", shops.services[0]->Port());
      c.set_keep_alive(true);
      c.set_tcp_nodelay(true);  // else the body waits for the header's delayed acknowledgement
      c.set_read_timeout(60, 0);
      const std::string sale = Sale().dump();
      for (int i = 0; i < std::min(serial, 50); ++i) {
        const auto start = Clock::now();
        auto r = c.Post("/v1/sales", {{"Idempotency-Key", "http-" + std::to_string(i)}}, sale,
                        "application/json");
        if (!r || r->status != 200) {
          state.SkipWithError("a sale through HTTP was not answered 200");
          return;
        }
        httpMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      }
    }

    // One job at a time round the shops.
    for (int i = 0; i < serial; ++i) {
      cloud.Send(names[static_cast<size_t>(i) % names.size()]);
      if (!cloud.NextAnswered(60s)) {
        state.SkipWithError("a job got no result within a minute");
        return;
      }
    }
    int notDone = 0;
    const std::vector<double> oneMs = cloud.Latencies(0, static_cast<size_t>(serial), notDone);

    // Every shop busy: one job in flight per shop, the next sent when its result comes.
    const size_t first = static_cast<size_t>(serial);
    const int total = size.shops * size.jobsPerShop;
    std::vector<int> left(names.size(), size.jobsPerShop - 1);
    const auto start = Clock::now();
    for (const auto& shop : names) cloud.Send(shop);
    for (int answered = 0; answered < total; ++answered) {
      const auto n = cloud.NextAnswered(60s);
      if (!n) {
        state.SkipWithError("a job got no result within a minute");
        return;
      }
      const std::string shop = cloud.ShopOf(*n);
      const size_t i = static_cast<size_t>(std::stoi(shop.substr(5)));
      if (left[i]-- > 0) cloud.Send(shop);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::vector<double> busyMs =
        cloud.Latencies(first, first + static_cast<size_t>(total), notDone);
    if (notDone > 0) {
      state.SkipWithError((std::to_string(notDone) + " jobs were not answered done").c_str());
      return;
    }

    // Every shop idle on the link: a moment to settle, then the window.
    std::this_thread::sleep_for(2s);
    std::vector<long long> before;
    for (auto& s : shops.services) before.push_back(CpuTicks(s->Pid()));
    const auto idleStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(size.idleSeconds));
    const double idleSeconds = std::chrono::duration<double>(Clock::now() - idleStart).count();
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    double cpuSum = 0, cpuMax = 0, rssSum = 0, rssMax = 0;
    for (size_t i = 0; i < shops.services.size(); ++i) {
      const pid_t pid = shops.services[i]->Pid();
      const double cpu =
          100.0 * static_cast<double>(CpuTicks(pid) - before[i]) / tick / idleSeconds;
      const double rss = ResidentMiB(pid);
      cpuSum += cpu;
      rssSum += rss;
      cpuMax = std::max(cpuMax, cpu);
      rssMax = std::max(rssMax, rss);
    }
    const double count = static_cast<double>(shops.services.size());

    const double p99Above = Percentile(oneMs, 0.99) - Percentile(httpMs, 0.5);
    state.counters["shops"] = size.shops;
    state.counters["jobs"] = serial + total;
    state.counters["http_sale_p50_ms"] = Percentile(httpMs, 0.5);
    state.counters["http_sale_p99_ms"] = Percentile(httpMs, 0.99);
    state.counters["one_at_a_time_p50_ms"] = Percentile(oneMs, 0.5);
    state.counters["one_at_a_time_p99_ms"] = Percentile(oneMs, 0.99);
    state.counters["p99_above_printing_ms"] = p99Above;
    state.counters["busy_jobs_per_second"] = total / seconds;
    state.counters["busy_p50_ms"] = Percentile(busyMs, 0.5);
    state.counters["busy_p99_ms"] = Percentile(busyMs, 0.99);
    state.counters["idle_cpu_pct_mean"] = cpuSum / count;
    state.counters["idle_cpu_pct_max"] = cpuMax;
    state.counters["idle_rss_MiB_mean"] = rssSum / count;
    state.counters["idle_rss_MiB_max"] = rssMax;
    if (p99Above > kP99AbovePrintingBudgetMs) {
      std::cerr << "over budget: p99 above the printing " << p99Above << " ms (budget "
                << kP99AbovePrintingBudgetMs << " ms)\n";
    }
    if (cpuMax > kIdleCpuBudgetPercent) {
      std::cerr << "over budget: an idle shop's service used " << cpuMax << " % of a core (budget "
                << kIdleCpuBudgetPercent << " %)\n";
    }
  }
}
BENCHMARK(BM_ChainShops)->Iterations(1)->Repetitions(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  g_size.shops = EnvOr("FISCAL_CHAIN_SHOPS", g_size.shops);
  g_size.jobsPerShop = EnvOr("FISCAL_CHAIN_JOBS", g_size.jobsPerShop);
  g_size.idleSeconds = EnvOr("FISCAL_CHAIN_IDLE_SECONDS", g_size.idleSeconds);
  g_size.heartbeatSeconds = EnvOr("FISCAL_CHAIN_HEARTBEAT", 0);
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      g_size = {5, 4, 2, g_size.heartbeatSeconds};
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
