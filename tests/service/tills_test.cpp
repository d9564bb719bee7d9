// SPDX-License-Identifier: Apache-2.0
// The tills file: its lines, the token hashes and the rights; and fiscal-printd --hash-token
// and --tills.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "service/tills.h"
#include "tests/service/service_process.h"

namespace {

using fpd::Right;

const std::string kTokenA = "token-of-till-a-0123456789";
const std::string kTokenB = "token-of-till-b-0123456789";

std::string FileText() {
  return "# the shop's tills\n"
         "\n"
         "till-a  " +
         fpd::HashToken(kTokenA) +
         "\tsell,cash,read   # the counter\n"
         "office " +
         fpd::HashToken(kTokenB) + " all\r\n";
}

TEST(Tills, ATokenFindsItsTillAndItsRights) {
  const fpd::Tills tills = fpd::Tills::Parse(FileText(), "tills");
  ASSERT_EQ(tills.All().size(), 2u);
  const fpd::Till* a = tills.Find(kTokenA);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Name, "till-a");
  EXPECT_TRUE(a->Granted.Has(Right::Sell) && a->Granted.Has(Right::Cash) &&
              a->Granted.Has(Right::Read));
  EXPECT_FALSE(a->Granted.Has(Right::Z) || a->Granted.Has(Right::ReadAll));
  ASSERT_NE(tills.Find(kTokenB), nullptr);
  EXPECT_EQ(tills.Find(kTokenB)->Granted, fpd::Rights::All());
  for (const std::string& wrong :
       {std::string(), kTokenA + "x", kTokenA.substr(1), kTokenB + " "}) {
    EXPECT_EQ(tills.Find(wrong), nullptr) << wrong;
  }
  // A new salt each time: one token hashes differently twice, and both verify.
  EXPECT_NE(fpd::HashToken(kTokenA), fpd::HashToken(kTokenA));
  EXPECT_THROW(fpd::HashToken("short"), std::invalid_argument);
  EXPECT_THROW(fpd::HashToken("a token with blanks"), std::invalid_argument);
}

TEST(Tills, AMalformedLineIsNamedWithItsNumber) {
  const std::string hash = fpd::HashToken(kTokenA);
  const struct {
    std::string line, error;
  } cases[] = {
      {"till-a " + hash, "line 2: expected NAME HASH RIGHTS, found 2 fields"},
      {"till-a " + hash + " sell extra", "found 4 fields"},
      {"till/a " + hash + " sell", "the name 'till/a'"},
      {"till-a sha256:00:11 sell", "the hash of 'till-a'"},
      {"till-a " + hash.substr(0, hash.size() - 1) + "g sell", "the hash of 'till-a'"},
      {"till-a " + hash + " sell,,x", "'' is not a right"},
      {"till-a " + hash + " sell,refund", "'refund' is not a right"},
      {"office " + hash + " all", "line 2: the till 'office' is named twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    try {
      fpd::Tills::Parse("office " + hash + " read-all\n" + c.line + "\n", "/etc/tills");
      ADD_FAILURE() << "parsed";
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("the tills file '/etc/tills', line 2"), std::string::npos) << what;
      EXPECT_NE(what.find(c.error), std::string::npos) << what;
    }
  }
}

TEST(Tills, TheProgramHashesATokenAndRefusesABadTillsFile) {
  servicetest::TempDir dir;
  const std::string program = FISCAL_PRINTD_PATH;
  const auto hashed = servicetest::Shell("echo '" + kTokenA + "' | " + program + " --hash-token");
  ASSERT_EQ(hashed.exitCode, 0) << hashed.output;
  const std::string line = hashed.output.substr(0, hashed.output.find('\n'));
  std::ofstream(dir.Path() + "/tills") << "till-a " << line << " sell\n";
  EXPECT_EQ(fpd::Tills::Load(dir.Path() + "/tills").Find(kTokenA)->Name, "till-a");
  EXPECT_EQ(servicetest::Shell("echo short | " + program + " --hash-token").exitCode, 2);

  std::ofstream(dir.Path() + "/bad") << "till-a " << line << " sell\n# fine\ntill-b nohash x\n";
  for (const std::string& file : {dir.Path() + "/bad", dir.Path() + "/missing"}) {
    const auto run = servicetest::Shell(program + " --listen 127.0.0.1:0 --state " + dir.Path() +
                                        "/state --tills " + file);
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find("the tills file '" + file + "'"), std::string::npos) << run.output;
  }
  EXPECT_NE(servicetest::Shell(program + " --tills " + dir.Path() + "/bad --state " + dir.Path() +
                               "/state --listen 127.0.0.1:0")
                .output.find("line 3"),
            std::string::npos);
}

// With a tills file the token names the till: its rights decide what it may do, its keys are
// its own, and the journal shows it its own entries (every till's to read-all).
TEST(Tills, EachTillHasItsRightsItsKeysAndItsJournal) {
  servicetest::TempDir dir;
  const std::string kTokenC = "token-of-the-office-0123456789";
  std::ofstream(dir.Path() + "/tills") << "till-a " << fpd::HashToken(kTokenA) << " sell,read\n"
                                       << "till-b " << fpd::HashToken(kTokenB) << " sell,x\n"
                                       << "office " << fpd::HashToken(kTokenC) << " all\n";
  servicetest::ServiceProcess s(dir.Path(), {"--tills", dir.Path() + "/tills"});
  const auto send = [&](const std::string& token, const std::string& method,
                        const std::string& path, const servicetest::Json& body = {},
                        const std::string& key = "") {
    httplib::Headers h = {{"Authorization", "Bearer " + token}};
    if (!key.empty()) h.emplace("Idempotency-Key", key);
    return servicetest::SendTo(s.Port(), method, path, body.is_null() ? "{}" : body.dump(), h);
  };
  const struct {
    std::string token, method, path;
    int status;
  } refused[] = {
      {kTokenA, "POST", "/v1/z", 403},
      {kTokenA, "POST", "/v1/x", 403},
      {kTokenA, "POST", "/v1/cash/supply", 403},
      {kTokenA, "POST", "/v1/closing", 403},
      {kTokenA, "POST", "/v1/call/Estado_Imp", 403},
      {kTokenA, "POST", "/v1/reports/fiscal-memory", 403},
      {kTokenB, "GET", "/v1/journal", 403},
      {kTokenB, "GET", "/v1/journal/sale-1", 403},
      {"token-of-nobody-0123456789", "GET", "/v1/status", 401},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.method + " " + c.path);
    const auto a = send(c.token, c.method, c.path, {}, "refused-1");
    EXPECT_EQ(a.status, c.status) << a.body.dump();
    if (c.status != 403) continue;
    EXPECT_EQ(a.body["error"]["code"], "forbidden");
    const std::string message = a.body["error"]["message"];
    EXPECT_NE(message.find(c.method == "POST" ? c.path : "read the journal"), std::string::npos)
        << message;
  }
  // The same key from two tills is two sales; from the same till a replay.
  const auto a = send(kTokenA, "POST", "/v1/sales", servicetest::TicketSale("From A"), "sale-1");
  const auto b = send(kTokenB, "POST", "/v1/sales", servicetest::TicketSale("From B"), "sale-1");
  EXPECT_EQ(a.body["ok"], true) << a.body.dump();
  EXPECT_EQ(b.body["ok"], true) << b.body.dump();
  EXPECT_EQ(b.headers.count("Idempotent-Replay"), 0u);
  EXPECT_EQ(send(kTokenA, "POST", "/v1/sales", servicetest::TicketSale("From A"), "sale-1")
                .headers.count("Idempotent-Replay"),
            1u);

  const auto own = send(kTokenA, "GET", "/v1/journal").body["entries"];
  ASSERT_EQ(own.size(), 1u) << own.dump();
  EXPECT_EQ(own[0]["request"], servicetest::TicketSale("From A"));
  EXPECT_FALSE(own[0].contains("till"));
  EXPECT_EQ(send(kTokenA, "GET", "/v1/journal/sale-1").body["request"],
            servicetest::TicketSale("From A"));
  std::multiset<std::string> tills;
  const auto all = send(kTokenC, "GET", "/v1/journal").body["entries"];
  for (const auto& e : all) {
    if (e["key"] == "sale-1") tills.insert(e["till"].get<std::string>());
  }
  EXPECT_EQ(tills, (std::multiset<std::string>{"till-a", "till-b"}));
}

}  // namespace
