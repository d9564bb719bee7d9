// SPDX-License-Identifier: Apache-2.0
// Many tills at once: 8 clients send 50 sales each to one service with the emulator. Every sale
// is printed exactly once, in some order, and none is lost.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/service_process.h"

namespace {

using namespace servicetest;

TEST(ServiceConcurrency, EightClientsFiftySalesEachAllPrintedOnce) {
  constexpr int kClients = 8, kSales = 50;
  TempDir state;
  ServiceProcess service(state.Path());

  std::vector<std::vector<Answer>> answers(kClients);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int s = 0; s < kSales; ++s) {
        const std::string name = "till" + std::to_string(c) + " sale" + std::to_string(s);
        // 503 (queue full) is an answer to come back later; the same key may be sent again.
        Answer a;
        for (int attempt = 0; attempt < 50; ++attempt) {
          a = service.Post("/v1/sales", TicketSale(name),
                           "t" + std::to_string(c) + "-" + std::to_string(s));
          if (a.status != 503) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        answers[c].push_back(a);
      }
    });
  }
  for (auto& t : clients) t.join();

  std::set<std::string> numbers;
  for (int c = 0; c < kClients; ++c) {
    for (int s = 0; s < kSales; ++s) {
      const Answer& a = answers[c][s];
      ASSERT_EQ(a.status, 200) << "client " << c << " sale " << s << ": " << a.body.dump();
      EXPECT_EQ(a.body["ok"], true);
      numbers.insert(a.body["number"].get<std::string>());
    }
  }
  EXPECT_EQ(numbers.size(), size_t{kClients * kSales}) << "two sales answered the same number";

  // The paper: each sale's item line once (a description alone on its line).
  const Answer paper = service.Get("/v1/paper");
  ASSERT_EQ(paper.status, 200);
  std::map<std::string, int> printed;
  for (const auto& line : paper.body["lines"]) {
    std::string text = line.get<std::string>();
    text.erase(text.find_last_not_of(' ') + 1);
    if (text.rfind("till", 0) == 0) ++printed[text];
  }
  ASSERT_EQ(printed.size(), size_t{kClients * kSales});
  for (const auto& [name, count] : printed) EXPECT_EQ(count, 1) << name;

  const Answer status = service.Get("/v1/status");
  EXPECT_EQ(status.body["printer"]["lastDocuments"]["ticket"], "00000400");
  EXPECT_EQ(status.body["service"]["queued"], 0);
}

}  // namespace
