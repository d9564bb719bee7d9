// SPDX-License-Identifier: Apache-2.0
// The service killed outright in the middle of sales, with the printer outside it (the
// printer-emulator program on a pseudo-terminal, over the serial line) so that the printer
// outlives every crash. The till retries each request with its key after the restart: no sale
// is printed twice, a sale the service may have died in is reported in doubt and never printed
// again, the service's journal agrees with the printer's, and once the till resolved an
// in-doubt sale the next one prints normally. The line loses replies and commands too, as a bad
// cable would: a command the link cannot tell about leaves its request in doubt as a crash does.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "service/tills.h"
#include "tests/service/service_process.h"

namespace {

using namespace servicetest;
using Clock = std::chrono::steady_clock;

bool Contains(const Json& list, const std::string& key) {
  for (const auto& k : list)
    if (k == key) return true;
  return false;
}

// A till's way to the service: with its token when the service has a tills file.
struct Till {
  const ServiceProcess& service;
  std::string token;
  Answer Send(const std::string& method, const std::string& path, const Json& body,
              const std::string& key) const {
    httplib::Headers h;
    if (!token.empty()) h.emplace("Authorization", "Bearer " + token);
    if (!key.empty()) h.emplace("Idempotency-Key", key);
    return SendTo(service.Port(), method, path, body.dump(), h);
  }
  Answer Post(const std::string& path, const Json& body, const std::string& key) const {
    return Send("POST", path, body, key);
  }
  Answer Get(const std::string& path) const { return Send("GET", path, nullptr, ""); }
};

// What the till does with a sale until it has an outcome: a done answer (printed or not) is
// kept; an in-doubt one is looked up on the paper and resolved through the journal endpoint.
// Answers the number of resolutions it made.
int Settle(const Till& service, const PrinterProgram& printer, const std::string& key,
           const std::string& name) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const Answer a = service.Post("/v1/sales", TicketSale(name), key);
    const std::string code = a.body.is_object() && a.body.contains("error")
                                 ? a.body["error"].value("code", "")
                                 : std::string();
    if (a.status == 200 || code == "resolved") return 0;
    if (code == "in_progress" || a.status == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      continue;
    }
    EXPECT_EQ(code, "in_doubt") << a.status << " " << a.body.dump();
    if (code != "in_doubt") return 0;
    // In doubt: never printed by a retry, and reported with the printer's state.
    EXPECT_TRUE(a.body.value("printer", Json::object()).contains("documentOpen")) << a.body.dump();
    EXPECT_TRUE(Contains(service.Get("/v1/status").body["inDoubt"], key));
    const bool printed = FindSale(printer.Journal(), name).closed;
    const Answer resolved = service.Post("/v1/journal/" + key + "/resolve",
                                         {{"printed", printed}, {"cancelOpenTicket", true}}, "");
    EXPECT_EQ(resolved.status, 200) << resolved.body.dump();
    EXPECT_FALSE(Contains(service.Get("/v1/status").body["inDoubt"], key));
    EXPECT_EQ(service.Post("/v1/sales", TicketSale(name), key).body["error"]["code"], "resolved");
    return 1;
  }
  ADD_FAILURE() << key << " never settled";
  return 0;
}

// The service's journal entry of a sale tells what the printer's journal shows of it.
void ExpectSameStory(const Till& till, const std::vector<std::vector<std::string>>& journal,
                     const std::string& key, const std::string& name) {
  SCOPED_TRACE(key + " " + name);
  const OnPrinter p = FindSale(journal, name);
  EXPECT_LE(p.items, 1) << "printed twice";
  const Answer e = till.Get("/v1/journal/" + key);
  ASSERT_EQ(e.status, 200) << "every sale has an outcome";
  const std::string st = e.body.value("state", "");
  if (st == "done") {
    EXPECT_EQ(p.closed, e.body.value("ok", Json()) == true) << e.body.dump();
  } else {
    ASSERT_EQ(st, "resolved") << e.body.dump();
    const Json r = e.body.value("resolution", Json());
    EXPECT_EQ(p.closed, r.is_object() ? r.value("printed", false) : r == true) << e.body.dump();
  }
}

TEST(ServiceCrash, KilledDuringSalesOnALossyLinePrintsNothingTwiceAndReportsWhatIsInDoubt) {
  TempDir printerDir, state;
  // A printer that keeps the line busy for 30 ms before each reply, as a real one does while
  // it prints (a sale then takes long enough for the kills to fall inside it), and that loses
  // one reply in twenty and one command in twenty, drawn from a fixed seed.
  PrinterProgram printer(printerDir.Path(),
                         {"--busy", "1", "--busy-ms", "30", "--keepalive-ms", "10", "--drop",
                          "0.05", "--lose", "0.05", "--seed", "20261208"});
  auto env = printer.Env();
  env["FISCAL_PRINTER_TIMEOUT_MS"] = "400";  // a lost reply costs little time
  auto start = [&] {
    return std::make_unique<ServiceProcess>(state.Path(), std::vector<std::string>{}, env);
  };

  // A sale that nothing interrupts gives the window in which the kills fall.
  auto service = start();
  const auto before = Clock::now();
  Settle(Till{*service, ""}, printer, "warm-up", "Crash warm-up");
  const auto saleMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);

  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> killAfterMs(0, static_cast<int>(saleMs.count() * 3 / 2) + 1);
  struct Sale {
    std::string key, name;
  };
  std::vector<Sale> sales = {{"warm-up", "Crash warm-up"}};
  int resolutions = 0;
  constexpr int kRounds = 30;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const Sale sale{"crash-" + std::to_string(round), "Crash sale " + std::to_string(round)};
    sales.push_back(sale);
    Answer first;
    std::thread till([&] { first = service->Post("/v1/sales", TicketSale(sale.name), sale.key); });
    std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(rng)));
    service->Kill();
    till.join();

    service = start();
    if (first.status == 200) {
      // The answer came before the kill: the retry is its replay.
      const Answer retry = service->Post("/v1/sales", TicketSale(sale.name), sale.key);
      ASSERT_EQ(retry.status, 200) << retry.body.dump();
      EXPECT_EQ(retry.headers.count("Idempotent-Replay"), 1u);
      EXPECT_EQ(retry.body.value("number", Json()), first.body.value("number", Json()));
      continue;
    }
    resolutions += Settle(Till{*service, ""}, printer, sale.key, sale.name);

    // The next sale prints, or has an outcome of its own.
    const Sale next{"after-" + std::to_string(round), "After crash " + std::to_string(round)};
    sales.push_back(next);
    resolutions += Settle(Till{*service, ""}, printer, next.key, next.name);
  }
  RecordProperty("resolutions", resolutions);
  EXPECT_GT(resolutions, 0) << "no kill fell inside a sale";

  // The printer's journal and the service's journal tell the same story, sale by sale.
  service->Stop();
  service = start();
  const auto journal = printer.Journal();
  for (const Sale& s : sales) ExpectSameStory(Till{*service, ""}, journal, s.key, s.name);
}

// Three tills sell at once with the same keys while the service is killed: each till's sale is
// its own, none is printed twice or lost, and each till sees only its own entries.
TEST(ServiceCrash, ThreeTillsWithCollidingKeysSellOnceEachUnderKills) {
  TempDir printerDir, state, conf;
  PrinterProgram printer(printerDir.Path(), {"--busy", "1", "--busy-ms", "30", "--keepalive-ms",
                                             "10", "--drop", "0.03", "--seed", "20261209"});
  auto env = printer.Env();
  env["FISCAL_PRINTER_TIMEOUT_MS"] = "400";
  const std::vector<std::string> names = {"till-1", "till-2", "till-3"};
  std::vector<std::string> tokens;
  {
    std::ofstream file(conf.Path() + "/tills");
    for (const auto& n : names) {
      tokens.push_back("token-of-" + n + "-0123456789");
      file << n << " " << fpd::HashToken(tokens.back()) << " sell,read\n";
    }
  }
  const std::vector<std::string> args = {"--tills", conf.Path() + "/tills"};
  auto service = std::make_unique<ServiceProcess>(state.Path(), args, env);
  const auto name = [&](size_t till, int round) {
    return names[till] + " sale " + std::to_string(round);
  };
  std::mt19937 rng(20261209);
  std::uniform_int_distribution<int> killAfterMs(0, 900);
  constexpr int kRounds = 8;
  int resolutions = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string key = "sale-" + std::to_string(round);
    std::vector<std::thread> tills;
    for (size_t t = 0; t < names.size(); ++t) {
      tills.emplace_back([&, t] {
        Till{*service, tokens[t]}.Post("/v1/sales", TicketSale(name(t, round)), key);
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(rng)));
    service->Kill();
    for (auto& t : tills) t.join();
    service = std::make_unique<ServiceProcess>(state.Path(), args, env);
    for (size_t t = 0; t < names.size(); ++t) {
      resolutions += Settle(Till{*service, tokens[t]}, printer, key, name(t, round));
    }
  }
  RecordProperty("resolutions", resolutions);
  service->Stop();
  service = std::make_unique<ServiceProcess>(state.Path(), args, env);
  const auto journal = printer.Journal();
  for (size_t t = 0; t < names.size(); ++t) {
    const Till till{*service, tokens[t]};
    for (int round = 0; round < kRounds; ++round) {
      ExpectSameStory(till, journal, "sale-" + std::to_string(round), name(t, round));
    }
    const Answer own = till.Get("/v1/journal?limit=500");
    for (const auto& e : own.body["entries"]) {
      const Json items = e["request"].value("items", Json::array());
      ASSERT_FALSE(items.empty()) << e.dump();
      EXPECT_EQ(items[0]["description"].get<std::string>().rfind(names[t] + " ", 0), 0u)
          << e.dump();
    }
  }
}

}  // namespace
