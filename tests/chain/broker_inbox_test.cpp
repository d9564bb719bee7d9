// SPDX-License-Identifier: Apache-2.0
// The broker door's inbox: jobs kept across a stop come back whole and in order.
#include "broker_inbox.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/service/service_process.h"

namespace {

TEST(BrokerInbox, JobsLeftAtAStopComeBackWholeAndInOrder) {
  servicetest::TempDir state;
  const std::string dir = state.Path() + "/inbox";
  std::string first, dropped;
  {
    fpd::BrokerInbox inbox(dir);
    chain::BrokerMessage m;
    m.topic = "fiscal/v1/s/p/jobs";
    m.payload = R"({"key": "k-1"})";
    m.responseTopic = "fiscal/v1/s/p/results/c";
    m.correlation = std::string("\0\xff\x10 c", 5);  // bytes, not text
    first = inbox.Keep(m);
    m.correlation.reset();
    m.responseTopic.clear();
    dropped = inbox.Keep(m);
    m.payload = R"({"key": "k-3"})";
    inbox.Keep(m);
    inbox.Drop(dropped);
  }
  std::ofstream(dir + "/00000000000000000099.json") << "{broken";
  std::ofstream(dir + "/00000000000000000100.json.part") << "{}";  // a write the stop cut
  fpd::BrokerInbox again(dir);
  const auto left = again.Left();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].first, first);
  EXPECT_EQ(left[0].second.correlation, std::string("\0\xff\x10 c", 5));
  EXPECT_EQ(left[0].second.responseTopic, "fiscal/v1/s/p/results/c");
  EXPECT_EQ(left[1].second.payload, R"({"key": "k-3"})");
  EXPECT_FALSE(left[1].second.correlation.has_value());
  EXPECT_GT(again.Keep(left[1].second), left[1].first);  // new names after the old ones
  EXPECT_EQ(again.Left().size(), 3u);                    // the unreadable and the cut ones are gone
}

}  // namespace
