// SPDX-License-Identifier: Apache-2.0
// The service killed outright in the middle of sales, with the printer outside it (the
// printer-emulator program on a pseudo-terminal, over the serial line) so that the printer
// outlives every crash. The till retries each request with its key after the restart: no sale
// is printed twice, a sale the service may have died in is reported in doubt and never printed
// again, the service's journal agrees with the printer's, and once the till resolved an
// in-doubt sale the next one prints normally.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/service_process.h"

namespace {

using namespace servicetest;
using Clock = std::chrono::steady_clock;

// What the printer's journal shows of the sale whose one item has this description.
struct OnPrinter {
  int items = 0;        // item lines sent with the description
  bool closed = false;  // its ticket was closed (printed and counted)
};

OnPrinter Find(const std::vector<std::vector<std::string>>& journal, const std::string& name) {
  OnPrinter p;
  for (size_t i = 0; i < journal.size(); ++i) {
    if (journal[i][0] != "SendTicketItem" || journal[i].size() < 2 || journal[i][1] != name)
      continue;
    ++p.items;
    for (size_t j = i + 1; j < journal.size(); ++j) {
      const std::string& m = journal[j][0];
      if (m == "CloseTicket") {
        p.closed = true;
        break;
      }
      if (m.rfind("Open", 0) == 0 || (m == "SendTicketPayment" && journal[j].back() == "C")) break;
    }
  }
  return p;
}

bool Contains(const Json& list, const std::string& key) {
  for (const auto& k : list)
    if (k == key) return true;
  return false;
}

TEST(ServiceCrash, KilledDuringSalesPrintsNothingTwiceAndReportsWhatIsInDoubt) {
  TempDir printerDir, state;
  // A printer that keeps the line busy for 30 ms before each reply, as a real one does while
  // it prints: a sale then takes long enough for the kills to fall inside it.
  PrinterProgram printer(printerDir.Path(),
                         {"--busy", "1", "--busy-ms", "30", "--keepalive-ms", "10"});
  auto start = [&] {
    return std::make_unique<ServiceProcess>(state.Path(), std::vector<std::string>{},
                                            printer.Env());
  };

  // A sale that nothing interrupts gives the window in which the kills fall.
  auto service = start();
  const auto before = Clock::now();
  ASSERT_EQ(service->Post("/v1/sales", TicketSale("Crash warm-up"), "warm-up").status, 200);
  const auto saleMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);

  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> killAfterMs(0, static_cast<int>(saleMs.count() * 3 / 2) + 1);
  struct Sale {
    std::string key, name;
  };
  std::vector<Sale> sales = {{"warm-up", "Crash warm-up"}};
  int inDoubt = 0;
  constexpr int kRounds = 8;
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
    const Answer retry = service->Post("/v1/sales", TicketSale(sale.name), sale.key);
    if (first.status == 200) {
      // The answer came before the kill: the retry is its replay.
      ASSERT_EQ(retry.status, 200) << retry.body.dump();
      EXPECT_EQ(retry.headers.count("Idempotent-Replay"), 1u);
      EXPECT_EQ(retry.body["number"], first.body["number"]);
      continue;
    }
    if (retry.status == 200) continue;  // finished before the kill, or never taken: printed now
    ASSERT_EQ(retry.status, 409) << retry.body.dump();
    ASSERT_EQ(retry.body["error"]["code"], "in_doubt") << retry.body.dump();
    ++inDoubt;
    EXPECT_TRUE(retry.body["printer"].contains("documentOpen")) << retry.body.dump();
    EXPECT_EQ(retry.body["journal"]["key"], sale.key);
    EXPECT_TRUE(Contains(service->Get("/v1/status").body["inDoubt"], sale.key));
    // Never printed by a retry, however often it comes.
    EXPECT_EQ(service->Post("/v1/sales", TicketSale(sale.name), sale.key).body["error"]["code"],
              "in_doubt");

    // The till looks at the paper and resolves: printed when its ticket was closed; a ticket
    // left open is cancelled.
    const bool printed = Find(printer.Journal(), sale.name).closed;
    const Answer resolved = service->Post("/v1/journal/" + sale.key + "/resolve",
                                          {{"printed", printed}, {"cancelOpenTicket", true}}, "");
    ASSERT_EQ(resolved.status, 200) << resolved.body.dump();
    EXPECT_EQ(resolved.body["printer"]["documentOpen"], false) << resolved.body.dump();
    EXPECT_FALSE(Contains(service->Get("/v1/status").body["inDoubt"], sale.key));
    EXPECT_EQ(service->Post("/v1/sales", TicketSale(sale.name), sale.key).body["error"]["code"],
              "resolved");

    // The next sale prints normally.
    const Sale next{"after-" + std::to_string(round), "After crash " + std::to_string(round)};
    sales.push_back(next);
    const Answer a = service->Post("/v1/sales", TicketSale(next.name), next.key);
    ASSERT_EQ(a.status, 200) << a.body.dump();
    EXPECT_EQ(a.body["ok"], true);
  }
  RecordProperty("in_doubt", inDoubt);
  EXPECT_GT(inDoubt, 0) << "no kill fell inside a sale";

  // The printer's journal and the service's journal tell the same story, sale by sale.
  service->Stop();
  service = start();
  const auto journal = printer.Journal();
  for (const Sale& s : sales) {
    SCOPED_TRACE(s.key);
    const OnPrinter p = Find(journal, s.name);
    EXPECT_LE(p.items, 1) << "printed twice";
    const Answer e = service->Get("/v1/journal/" + s.key);
    if (e.status == 404) {  // the service never took it: nothing may have been printed
      EXPECT_EQ(p.items, 0);
      continue;
    }
    ASSERT_EQ(e.status, 200);
    const std::string st = e.body["state"];
    if (st == "done") {
      EXPECT_EQ(p.closed, e.body["ok"] == true) << e.body.dump();
    } else {
      ASSERT_EQ(st, "resolved") << e.body.dump();
      const Json& r = e.body["resolution"];
      EXPECT_EQ(p.closed, r.is_object() ? r["printed"] == true : r == true) << e.body.dump();
    }
  }
}

}  // namespace
