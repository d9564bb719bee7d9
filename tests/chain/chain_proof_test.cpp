// SPDX-License-Identifier: Apache-2.0
// The chain link as a chain runs it, on one machine: mosquitto with the example configuration,
// three shops (fiscal-printd, each with its own state, certificate and printer program on a
// pseudo-terminal that outlives the service), shop-2 behind a relay the test cuts, and a cloud
// that sends a few hundred sales, some twice and some already or soon expired, while the broker
// restarts and shop-1's service is killed mid-job and started again. Every job ends with a
// result (an in-doubt one resolved after a look at the printer's journal), no sale is printed
// twice or lost, nothing expired is printed, and every message seen passes the link's schemas.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "chain/times.h"
#include "tests/chain/chain_support.h"

namespace {

using namespace std::chrono_literals;
using chaintest::Account;
using chaintest::ContractLog;
using chaintest::TestCloud;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kShops = 3;
constexpr int kJobsPerShop = 75;  // 225 sales, 247 deliveries with the repeats
const std::string kPrinter = "till-1";

std::string ShopName(int shop) {
  return "shop-" + std::to_string(shop + 1);
}
std::string Topic(int shop, const std::string& kind) {
  return "fiscal/v1/" + ShopName(shop) + "/" + kPrinter + "/" + kind;
}

// A shop: its printer program, its state folder and fiscal-printd on the link.
struct Shop {
  Shop(int i, std::string u) : index(i), url(std::move(u)) {}
  int index;
  std::string url;
  servicetest::TempDir printerDir, state;
  // A printer that takes its time over each command, as a real one does while it prints, so
  // that jobs queue in the service and the faults fall inside them.
  servicetest::PrinterProgram printer{printerDir.Path(),
                                      {"--busy", "1", "--busy-ms", "20", "--keepalive-ms", "10"}};
  std::unique_ptr<servicetest::ServiceProcess> service;

  void Start(const brokertest::Broker& b) {
    const Json account = b.Account(ShopName(index));
    service = std::make_unique<servicetest::ServiceProcess>(
        state.Path(),
        std::vector<std::string>{"--broker", url, "--broker-ca", b.Ca(), "--broker-cert",
                                 account["cert"], "--broker-key", account["key"], "--shop",
                                 ShopName(index), "--printer", kPrinter},
        printer.Env());
  }
};

enum class Kind { Once, Twice, Past, Short };

struct Job {
  int shop = 0;
  std::string key, description;
  Kind kind = Kind::Once;
  Json message;
  int sent = 0;
  Clock::time_point lastSent;
  Json result;  // the last result that settles it (null: none yet)
  bool resolving = false;
  std::optional<bool> resolvedPrinted;
};

// The cloud's side: one link that sends jobs and gathers every result by its correlation.
class ProofCloud {
 public:
  explicit ProofCloud(const brokertest::Broker& b)
      : cloud_(Settings(b),
               {"fiscal/v1/+/+/results/proof", "fiscal/v1/+/+/results", "fiscal/v1/+/+/status"}) {}
  void Send(int shop, const Json& job, const std::string& correlation) {
    chain::BrokerMessage m;
    m.topic = Topic(shop, "jobs");
    m.payload = job.dump();
    m.responseTopic = Topic(shop, "results/proof");
    m.correlation = correlation;
    ContractLog::Get().Add(m.topic, m.payload);
    ASSERT_TRUE(cloud_.Publish(m));
  }
  bool AwaitOnline(int shop, std::chrono::seconds timeout = 60s) {
    const std::string topic = Topic(shop, "status");
    const auto online = [&topic](const TestCloud::Messages& all) {
      for (auto m = all.rbegin(); m != all.rend(); ++m) {
        if (m->topic != topic) continue;
        const Json s = Json::parse(m->payload, nullptr, false);
        return s.is_object() && s.value("online", false);
      }
      return false;
    };
    return online(cloud_.Await(online, timeout));
  }
  // Waits for a result whose correlation passes the test.
  bool AwaitResult(const std::function<bool(const std::string&)>& test,
                   std::chrono::seconds timeout = 60s) {
    const auto found = [&test](const TestCloud::Messages& all) {
      return std::any_of(all.begin(), all.end(), [&](const chain::BrokerMessage& m) {
        return !m.topic.ends_with("/status") && test(m.correlation.value_or(""));
      });
    };
    return found(cloud_.Await(found, timeout));
  }
  // The results from the nth on, with their correlations.
  std::vector<std::pair<std::string, Json>> From(size_t n) {
    std::vector<std::pair<std::string, Json>> results;
    for (const auto& m : cloud_.Await([](const auto&) { return true; }, 0s)) {
      if (!m.topic.ends_with("/status")) {
        results.emplace_back(m.correlation.value_or(""), Json::parse(m.payload));
      }
    }
    results.erase(results.begin(),
                  results.begin() + static_cast<long>(std::min(n, results.size())));
    return results;
  }

 private:
  static chain::BrokerSettings Settings(const brokertest::Broker& b) {
    chain::BrokerSettings s = Account(b, "cloud");
    s.clientId = "cloud-proof-" + std::to_string(::getpid());
    s.sessionExpirySeconds = 600;  // results that come while the broker restarts wait for it
    return s;
  }
  TestCloud cloud_;
};

TEST(ChainLink, ThreeShopsPrintEveryJobOnceUnderFaults) {
  brokertest::Broker broker({"shop-1", "shop-2", "shop-3"});
  int relayPort = 0;
  const std::string relay = broker.Relay("cert", relayPort);
  std::vector<std::unique_ptr<Shop>> shops;
  for (int i = 0; i < kShops; ++i) {
    const std::string url =
        i == 1 ? "mqtts://localhost:" + std::to_string(relayPort) : broker.Url("cert");
    shops.push_back(std::make_unique<Shop>(i, url));
    shops.back()->Start(broker);
  }
  ProofCloud cloud(broker);
  for (int i = 0; i < kShops; ++i) ASSERT_TRUE(cloud.AwaitOnline(i)) << ShopName(i);

  std::vector<Job> jobs;
  std::map<std::string, size_t> byKey;
  for (int n = 0; n < kJobsPerShop; ++n) {
    for (int shop = 0; shop < kShops; ++shop) {
      Job j;
      j.shop = shop;
      j.key = "s" + std::to_string(shop + 1) + "-" + std::to_string(n);
      j.description = "Proof " + std::to_string(shop + 1) + "-" + std::to_string(n);
      j.kind = n % 10 == 3    ? Kind::Twice
               : n % 15 == 7  ? Kind::Past
               : n % 15 == 11 ? Kind::Short
                              : Kind::Once;
      const auto now = std::chrono::system_clock::now();
      j.message = {{"key", j.key},
                   {"till", "web-7"},
                   {"expires", chain::UtcText(j.kind == Kind::Past    ? now - 1min
                                              : j.kind == Kind::Short ? now + 300ms
                                                                      : now + 10min)},
                   {"operation", "sale"},
                   {"body", servicetest::TicketSale(j.description)}};
      byKey[j.key] = jobs.size();
      jobs.push_back(std::move(j));
    }
  }
  const auto send = [&](Job& j) {
    cloud.Send(j.shop, j.message, j.key + "#" + std::to_string(j.sent++));
    j.lastSent = Clock::now();
  };
  const auto sendBatch = [&](size_t from, size_t to) {
    for (size_t i = from; i < to && i < jobs.size(); ++i) {
      send(jobs[i]);
      if (jobs[i].kind == Kind::Twice) send(jobs[i]);  // the same job delivered again at once
    }
  };
  const size_t third = jobs.size() / 3;

  // Faults while the jobs flow: the broker restarts, shop-1 dies in a job, shop-2 is cut off.
  sendBatch(0, third);
  std::this_thread::sleep_for(1500ms);
  broker.Restart();
  sendBatch(third, 2 * third);
  // Shop-1 killed as it goes from one job of the second batch to the next.
  ASSERT_TRUE(cloud.AwaitResult([&](const std::string& correlation) {
    const std::string key = correlation.substr(0, correlation.find('#'));
    return key.starts_with("s1-") && byKey.at(key) >= third;
  }));
  shops[0]->service->Kill();
  shops[0]->Start(broker);
  sendBatch(2 * third, jobs.size());
  broker.Cut(relay);
  std::this_thread::sleep_for(4s);
  broker.Restore(relay);

  // Every job gets its result; an in-doubt one is resolved after a look at the paper, one that
  // has none after a while is sent again (the service answers what it stored).
  size_t seen = 0;
  const auto deadline = Clock::now() + 90s;
  int resolutions = 0;
  std::string resent;  // the jobs that had no result for a while
  for (;;) {
    for (const auto& [correlation, r] : cloud.From(seen)) {
      ++seen;
      const std::string key = correlation.substr(0, correlation.find('#'));
      const bool resolution = key.starts_with("r-");
      const auto at = byKey.find(resolution ? key.substr(2) : key);
      ASSERT_NE(at, byKey.end()) << correlation;
      Job& j = jobs[at->second];
      const std::string outcome = r.value("outcome", "");
      if (resolution) {
        EXPECT_EQ(outcome, "done") << r.dump();
        if (outcome == "done") j.result = r;
        continue;
      }
      if (j.resolvedPrinted) continue;
      if (outcome == "in_doubt" && !j.resolving) {
        j.resolving = true;
        j.result = nullptr;
        j.resolvedPrinted =
            servicetest::FindSale(shops[j.shop]->printer.Journal(), j.description).closed;
        Json resolve = j.message;
        resolve["key"] = "r-" + j.key;
        resolve["operation"] = "resolve";
        resolve["expires"] = chain::UtcText(std::chrono::system_clock::now() + 10min);
        resolve["body"] = {{"key", j.key}, {"printed", *j.resolvedPrinted}};
        cloud.Send(j.shop, resolve, "r-" + j.key + "#0");
        ++resolutions;
      } else if (outcome == "refused") {
        EXPECT_EQ(r["error"]["code"], "queue_full") << r.dump();
      } else if (outcome == "done" || outcome == "failed" || outcome == "expired") {
        if (!j.result.is_null() && j.result["outcome"] != r["outcome"]) {
          ADD_FAILURE() << j.key << " answered " << j.result.dump() << " then " << r.dump();
        }
        j.result = r;
      }
    }
    bool settled = true;
    for (auto& j : jobs) {
      if (!j.result.is_null()) continue;
      settled = false;
      if (!j.resolving && Clock::now() - j.lastSent > 20s) {
        send(j);
        resent += j.key + " ";
      }
    }
    if (settled || Clock::now() > deadline) break;
    std::this_thread::sleep_for(200ms);
  }
  RecordProperty("resolutions", resolutions);
  RecordProperty("resent", resent);
  // A service killed with jobs in its queue takes them again at its start: no job waits for
  // the cloud to send it again.
  EXPECT_EQ(resent, "") << "jobs without a result until the cloud sent them again";

  // What each shop's printer shows agrees with every job's result.
  std::vector<std::vector<std::vector<std::string>>> journals;
  for (const auto& s : shops) journals.push_back(s->printer.Journal());
  std::map<std::string, int> outcomes;
  for (const auto& j : jobs) {
    SCOPED_TRACE(j.key + " " + j.description);
    const servicetest::OnPrinter p = servicetest::FindSale(journals[j.shop], j.description);
    EXPECT_LE(p.items, 1) << "printed twice";
    ASSERT_FALSE(j.result.is_null()) << "lost: no result after " << j.sent << " deliveries";
    const std::string outcome = j.resolvedPrinted ? "resolved" : j.result.value("outcome", "");
    ++outcomes[outcome];
    if (j.resolvedPrinted) {
      EXPECT_EQ(p.closed, *j.resolvedPrinted);
    } else if (outcome == "done") {
      EXPECT_TRUE(p.closed) << "done but not on the paper: " << j.result.dump();
    } else if (outcome == "expired") {
      EXPECT_EQ(p.items, 0) << "expired but printed";
    } else {
      EXPECT_EQ(outcome, "failed");
      EXPECT_FALSE(p.closed) << j.result.dump();
    }
    if (j.kind == Kind::Past) {
      EXPECT_EQ(outcome, "expired");
    }
  }
  for (const auto& [outcome, n] : outcomes) RecordProperty(outcome, n);
}

// fiscal-printd given a CA that does not vouch for the broker says so and never gets online.
TEST(ChainLink, ServiceRefusesABrokerItsCaDoesNotVouchFor) {
  brokertest::Broker broker({"shop-1"});
  ProofCloud cloud(broker);
  servicetest::TempDir state;
  const Json account = broker.Account("shop-1");
  servicetest::ServiceProcess service(
      state.Path(),
      {"--broker", broker.Url("cert"), "--broker-ca", broker.OtherCa(), "--broker-cert",
       account["cert"], "--broker-key", account["key"], "--shop", "shop-1", "--printer", kPrinter});
  EXPECT_FALSE(cloud.AwaitOnline(0, 5s));
  std::string log;
  for (const auto& line : servicetest::FileLines(state.Path() + "/service-output.txt"))
    log += line + "\n";
  const size_t down = log.find("broker link down: ");
  EXPECT_NE(down, std::string::npos) << log;
  EXPECT_NE(log.find("A TLS error", down), std::string::npos) << log;
  EXPECT_EQ(log.find("broker link up"), std::string::npos) << log;
}

}  // namespace
