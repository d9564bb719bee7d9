// SPDX-License-Identifier: Apache-2.0
// The print service's door to the chain's broker against a live mosquitto (tests/support/broker)
// with a fake print pipeline behind it, the link's acknowledgement after the callback, and
// fiscal-printd on the link as a program. Every message the cloud sees, and every result made,
// is checked against the link's schemas when the suite ends.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "broker_door.h"
#include "chain/times.h"
#include "door_result.h"
#include "tests/chain/chain_support.h"
#include "tests/service/service_process.h"
#include "tests/support/broker/broker.h"

namespace {

using chaintest::Account;
using chaintest::ContractLog;
using chaintest::TestCloud;
using fpd::DoorAnswer;
using fpd::Json;
using namespace std::chrono_literals;

const std::string kShop = "shop-a";

// The printer as the HTTP API shows it.
constexpr const char* kPrinter = R"({"backend": "emulator", "reachable": true,
  "checkedAt": "2026-12-08T10:00:00", "printerStatus": "0080", "fiscalStatus": "0600",
  "reasons": [], "documentOpen": false, "document": null, "lastDocumentNumber": "00000125",
  "error": null, "paper": {"journal": "ok", "receipt": "ok"},
  "lastDocuments": {"ticket": "00000125", "invoiceA": "00000003"}})";

bool Online(const Json& status) {
  return status["online"] == true;
}

std::string Topic(const std::string& printer, const std::string& kind) {
  return "fiscal/v1/" + kShop + "/" + printer + "/" + kind;
}

// The chain's cloud: publishes jobs and reads a printer's results and status.
class Cloud {
 public:
  Cloud(const brokertest::Broker& b, const std::string& printer)
      // "results/#" takes ".../results" too; a second subscription to it would bring each
      // result there twice.
      : cloud_(Account(b, "cloud"), {Topic(printer, "results/#"), Topic(printer, "status")}) {
    EXPECT_TRUE(cloud_.AwaitUp());
  }
  void Send(const std::string& topic, const std::string& payload, const std::string& correlation,
            const std::string& reply = "", bool retain = false) {
    chain::BrokerMessage m;
    m.topic = topic;
    m.payload = payload;
    m.retain = retain;
    m.responseTopic = reply;
    if (!correlation.empty()) m.correlation = correlation;
    ASSERT_TRUE(cloud_.Publish(m));
    ASSERT_TRUE(cloud_.Flush(10s));
  }
  // The messages on a topic once there are at least n (fewer after the timeout).
  std::vector<chain::BrokerMessage> Await(const std::string& topic, size_t n,
                                          std::chrono::seconds timeout = 20s) {
    const auto on = [&topic](const TestCloud::Messages& all) {
      TestCloud::Messages found;
      for (const auto& m : all) {
        if (m.topic == topic) found.push_back(m);
      }
      return found;
    };
    return on(cloud_.Await([&](const auto& all) { return on(all).size() >= n; }, timeout));
  }
  // The first status after the first `after` ones whose payload passes the test, within the
  // timeout.
  Json AwaitStatus(const std::string& printer, const std::function<bool(const Json&)>& test,
                   size_t after = 0) {
    for (size_t n = after + 1;; ++n) {
      const auto all = Await(Topic(printer, "status"), n);
      if (all.size() < n) return nullptr;
      const Json s = Json::parse(all[n - 1].payload, nullptr, false);
      if (s.is_object() && test(s)) return s;
    }
  }

 private:
  TestCloud cloud_;
};

// The print pipeline behind the door: it records what it is given and answers each job as told
// (by default a sale done, replayed from its second delivery on), from a thread of its own.
struct FakePipeline {
  std::mutex mu;
  std::vector<fpd::DoorJob> jobs;
  std::vector<fpd::DoorResolution> resolutions;
  Json status = {
      {"state", Json::parse(kPrinter)},
      {"lastZ", {{"number", 17}, {"at", "2026-12-07T23:01:40"}}},
      {"inDoubt", {{{"till", "web-7"}, {"key", "k-1"}, {"since", "2026-12-08T09:00:00"}}}}};
  std::vector<std::thread> answering;
  bool hold = false;  // answers wait for Release()
  std::vector<std::function<void()>> held;

  ~FakePipeline() {
    Release();
    for (auto& t : answering) t.join();
  }
  void Release() {
    std::lock_guard lock(mu);
    for (auto& answer : held) answering.emplace_back(answer);
    held.clear();
  }
  fpd::SubmitJob Submit() {
    return [this](fpd::DoorJob job, fpd::DoorDone done) {
      std::lock_guard lock(mu);
      const bool again = std::any_of(jobs.begin(), jobs.end(), [&](const fpd::DoorJob& j) {
        return j.Till == job.Till && j.Key == job.Key;
      });
      jobs.push_back(job);
      DoorAnswer a{200, Json::parse(R"({"ok": true, "kind": "T", "number": "00000125",
        "documentOpen": false, "calls": [], "dialogs": [], "log": []})"),
                   again};
      a.Body["printer"] = status["state"];
      if (job.Operation == "call") {
        a.Body = Json::parse(R"({"result": true, "out": {}, "dialogs": [], "log": []})");
        a.Body["entryPoint"] = job.Path.substr(9);
      }
      if (hold) {
        held.push_back([done, a] { done(a); });
      } else {
        answering.emplace_back([done, a] { done(a); });
      }
    };
  }
  fpd::ResolveKey Resolve() {
    return [this](fpd::DoorResolution r, fpd::DoorDone done) {
      std::lock_guard lock(mu);
      resolutions.push_back(r);
      done(
          {200,
           {{"key", r.Target}, {"state", "resolved"}, {"printed", r.Printed}, {"cancelled", false}},
           false});
    };
  }
  fpd::StatusNow Status() {
    return [this] {
      std::lock_guard lock(mu);
      return status;
    };
  }
  size_t Jobs() {
    std::lock_guard lock(mu);
    return jobs.size();
  }
};

class BrokerDoorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    broker_ = new brokertest::Broker({kShop, "shop-b"}, /*plain=*/true);
  }
  static void TearDownTestSuite() { delete broker_; }
  // A door for this printer of the shop on the fake pipeline, started and seen online.
  std::shared_ptr<fpd::BrokerDoor> Started(Cloud& cloud, const std::string& printer, int port = 0) {
    fpd::BrokerDoorOptions o;
    o.Settings = Account(*broker_, kShop, port);
    o.Shop = kShop;
    o.Printer = printer;
    o.Version = "1.1.0";
    auto door = fpd::MakeBrokerDoor(o, pipeline_.Submit(), pipeline_.Resolve(), pipeline_.Status());
    door->Start();
    EXPECT_FALSE(cloud.AwaitStatus(printer, Online).is_null());
    return door;
  }
  static Json Job(const std::string& key, const std::string& operation = "sale") {
    Json body = {
        {"kind", "T"},
        {"items", {{{"description", "Cafe"}, {"quantity", 1}, {"price", 10}, {"vat", 21}}}},
        {"payments", {{{"description", "Efectivo"}, {"amount", 10}}}}};
    return {{"key", key},
            {"till", "web-7"},
            {"expires", chain::UtcText(std::chrono::system_clock::now() + 5min)},
            {"operation", operation},
            {"body", body}};
  }
  static Json Result(const chain::BrokerMessage& m) { return Json::parse(m.payload); }

  static inline brokertest::Broker* broker_ = nullptr;
  FakePipeline pipeline_;
};

TEST_F(BrokerDoorTest, EachDeliveryOfAJobGetsOneResultOnItsReplyTopic) {
  Cloud cloud(*broker_, "till-1");
  auto door = Started(cloud, "till-1");

  const std::string reply = Topic("till-1", "results/cloud-1");
  const std::string job = Job("web7-000125").dump();
  cloud.Send(Topic("till-1", "jobs"), job, "c-1", reply);
  cloud.Send(Topic("till-1", "jobs"), job, "c-2", reply);
  const auto results = cloud.Await(reply, 2);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(pipeline_.Jobs(), 2u);  // the pipeline, not the door, replays the second delivery
  // Each delivery's result carries its own correlation; they may come in either order.
  for (const auto& m : results) {
    const Json r = Result(m);
    const bool second = m.correlation.value_or("") == "c-2";
    EXPECT_TRUE(second || m.correlation.value_or("") == "c-1");
    EXPECT_EQ(r["outcome"], "done");
    EXPECT_EQ(r["replayed"], second);
    EXPECT_EQ(r["key"], "web7-000125");
    EXPECT_EQ(r["answer"]["number"], "00000125");
  }
  EXPECT_EQ(pipeline_.jobs[0].Path, "/v1/sales");

  // A reply topic the shop could not publish to: the result goes to the printer's own topic.
  cloud.Send(Topic("till-1", "jobs"), Job("web7-000126").dump(), "c-3",
             "fiscal/v1/shop-b/till-1/results/x");
  const auto shared = cloud.Await(Topic("till-1", "results"), 1);
  ASSERT_EQ(shared.size(), 1u);
  EXPECT_EQ(shared[0].correlation.value_or(""), "c-3");
  door->Stop();
}

TEST_F(BrokerDoorTest, JobsThatBreakTheContractAreRefusedAndNeverSubmitted) {
  Cloud cloud(*broker_, "till-2");
  auto door = Started(cloud, "till-2");
  auto with = [](std::function<void(Json&)> change) {
    Json j = Job("k-1");
    change(j);
    return j.dump();
  };
  const struct {
    std::string payload, code;
    Json field;
  } cases[] = {
      // clang-format off
      {"not json", "bad_json", nullptr},
      {"[1]", "bad_json", nullptr},
      {with([](Json& j) { j["colour"] = "red"; }), "bad_field", "colour"},
      {with([](Json& j) { j["key"] = "a key"; }), "bad_field", "key"},
      {with([](Json& j) { j.erase("till"); }), "bad_field", "till"},
      {with([](Json& j) { j["expires"] = "tomorrow"; }), "bad_field", "expires"},
      {with([](Json& j) { j["operation"] = "refund"; }), "bad_field", "operation"},
      {with([](Json& j) { j["entryPoint"] = "AbreCupom"; }), "bad_field", "entryPoint"},
      {with([](Json& j) { j["operation"] = "call"; }), "bad_field", "entryPoint"},
      {with([](Json& j) { j["operation"] = "call", j["entryPoint"] = "NoSuchCall"; }), "unknown_entry_point", "entryPoint"},
      {with([](Json& j) { j["body"] = "T"; }), "bad_field", "body"},
      {with([](Json& j) { j["operation"] = "resolve", j["body"] = {{"key", "k-0"}}; }), "bad_field", "body.printed"},
      // clang-format on
  };
  const std::string reply = Topic("till-2", "results/cloud-2");
  for (const auto& c : cases) cloud.Send(Topic("till-2", "jobs"), c.payload, c.payload, reply);
  const auto results = cloud.Await(reply, std::size(cases));
  ASSERT_EQ(results.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Json r = Result(results[i]);
    EXPECT_EQ(results[i].correlation.value_or(""), cases[i].payload);
    EXPECT_EQ(r["outcome"], "refused") << cases[i].payload;
    EXPECT_EQ(r["error"]["code"], cases[i].code) << cases[i].payload;
    EXPECT_EQ(r["error"]["field"], cases[i].field) << cases[i].payload;
  }
  EXPECT_TRUE(Result(results[0])["key"].is_null());
  EXPECT_EQ(Result(results[3])["key"], nullptr);  // a key that is no key is not repeated
  EXPECT_EQ(Result(results[4])["key"], "k-1");
  EXPECT_EQ(pipeline_.Jobs(), 0u);

  // Good calls and resolutions go through, to the entry point's route and to the resolution.
  cloud.Send(Topic("till-2", "jobs"), with([](Json& j) {
               j["operation"] = "call", j["entryPoint"] = "AbreCupom", j["body"] = Json::object();
             }),
             "call", reply);
  cloud.Send(Topic("till-2", "jobs"), with([](Json& j) {
               j["key"] = "k-2", j["operation"] = "resolve",
               j["body"] = {{"key", "k-0"}, {"printed", true}};
             }),
             "resolve", reply);
  ASSERT_EQ(cloud.Await(reply, std::size(cases) + 2).size(), std::size(cases) + 2);
  ASSERT_EQ(pipeline_.Jobs(), 1u);
  EXPECT_EQ(pipeline_.jobs[0].Path, "/v1/call/AbreCupom");
  ASSERT_EQ(pipeline_.resolutions.size(), 1u);
  EXPECT_EQ(pipeline_.resolutions[0].Target, "k-0");
  EXPECT_EQ(pipeline_.resolutions[0].Key, "k-2");
  EXPECT_TRUE(pipeline_.resolutions[0].Printed);
  door->Stop();
}

TEST_F(BrokerDoorTest, StatusIsRetainedAtConnectionAndChangeAndSaysStoppedAtTheEnd) {
  Cloud cloud(*broker_, "till-3");
  // A job left retained on the topic by mistake is given to the door when it subscribes.
  cloud.Send(Topic("till-3", "jobs"), Job("stale").dump(), "", "", /*retain=*/true);
  auto door = Started(cloud, "till-3");
  const Json online = cloud.AwaitStatus("till-3", Online);
  EXPECT_EQ(online["state"]["checkedAt"].get<std::string>().back(), 'Z');
  EXPECT_EQ(online["lastZ"]["number"], 17);
  EXPECT_EQ(online["inDoubtCount"], 1);
  EXPECT_FALSE(online["state"].contains("lastDocuments"));

  {
    std::lock_guard lock(pipeline_.mu);
    pipeline_.status["state"]["paper"]["receipt"] = "low";
  }
  door->On(fpd::PrinterChanged{});
  EXPECT_FALSE(cloud
                   .AwaitStatus("till-3",
                                [](const Json& s) {
                                  return s.value("state", Json::object())["paper"]["receipt"] ==
                                         "low";
                                })
                   .is_null());
  EXPECT_EQ(pipeline_.Jobs(), 0u);  // the retained job was not taken
  door->Stop();
  const Json stopped =
      cloud.AwaitStatus("till-3", [](const Json& s) { return s["online"] == false; });
  EXPECT_EQ(stopped.value("reason", ""), "stopped");
  cloud.Send(Topic("till-3", "jobs"), "", "", "", /*retain=*/true);
}

// A job is acknowledged only after the callback that stores it returned: a link lost while the
// callback runs gets the job again from the broker.
TEST_F(BrokerDoorTest, LinkAcknowledgesAJobOnlyAfterItsCallbackReturned) {
  int port = 0;
  const std::string relay = broker_->Relay("cert", port);
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::string> got;
  bool release = false;
  chain::BrokerSettings s = Account(*broker_, kShop, port);
  s.clientId = "fiscal-printd/shop-a/till-ack";
  s.sessionExpirySeconds = 600;
  chain::BrokerLink shop(
      s, {Topic("till-ack", "jobs")},
      [&](const chain::BrokerMessage& m) {
        std::unique_lock lock(mu);
        got.push_back(m.payload);
        cv.notify_all();
        cv.wait_for(lock, 20s, [&] { return release; });
      },
      nullptr);
  shop.Start();
  for (int i = 0; i < 200 && !shop.Up(); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(shop.Up());
  std::this_thread::sleep_for(200ms);  // its subscription made
  Cloud cloud(*broker_, "till-ack");
  cloud.Send(Topic("till-ack", "jobs"), Job("ack-1").dump(), "");
  std::unique_lock lock(mu);
  ASSERT_TRUE(cv.wait_for(lock, 20s, [&] { return got.size() == 1; }));
  broker_->Cut(relay);  // while the job is being stored
  release = true;
  lock.unlock();
  cv.notify_all();
  std::this_thread::sleep_for(300ms);
  broker_->Restore(relay);
  lock.lock();
  EXPECT_TRUE(cv.wait_for(lock, 30s, [&] { return got.size() == 2; }));
  EXPECT_EQ(got.back(), got.front());
  lock.unlock();
  shop.Stop();
}

// A result made while the link is down reaches the cloud when the link is back.
TEST_F(BrokerDoorTest, ResultMadeWhileTheLinkIsDownIsPublishedWhenItIsBack) {
  int port = 0;
  const std::string relay = broker_->Relay("cert", port);
  Cloud cloud(*broker_, "till-5");
  pipeline_.hold = true;
  auto door = Started(cloud, "till-5", port);
  const std::string reply = Topic("till-5", "results/cloud-5");
  cloud.Send(Topic("till-5", "jobs"), Job("late-1").dump(), "c-5", reply);
  for (int i = 0; i < 400 && pipeline_.Jobs() == 0; ++i) std::this_thread::sleep_for(25ms);
  ASSERT_EQ(pipeline_.Jobs(), 1u);
  broker_->Cut(relay);
  pipeline_.Release();
  for (int i = 0; i < 200 && door->Unconfirmed() == 0; ++i) std::this_thread::sleep_for(25ms);
  EXPECT_GE(door->Unconfirmed(), 1u);  // the result waits for the link
  broker_->Restore(relay);
  const auto results = cloud.Await(reply, 1, 40s);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].correlation.value_or(""), "c-5");
  EXPECT_EQ(Result(results[0])["outcome"], "done");
  EXPECT_EQ(pipeline_.Jobs(), 1u);  // the job was acknowledged before the cut: not sent again
  door->Stop();
}

// What each answer of the pipeline becomes on the link.
TEST(BrokerDoorResult, AnswersBecomeOutcomes) {
  const std::string printer =
      R"("printer": {"backend": "serial", "checkedAt": "2026-12-08T10:00:00", "document": "ticket",
      "documentOpen": true, "strayDocument": null})";
  const struct {
    const char* name;
    int status;
    std::string body;
    bool replayed;
    std::string outcome, code;
    bool hasAnswer;
  } cases[] = {
      // clang-format off
      {"printed", 200, R"({"ok": true, "kind": "T", "number": "1", "documentOpen": false})", false, "done", "", true},
      {"a replay", 200, R"({"ok": true})", true, "done", "", true},
      {"a closing that keeps the till closed", 200, R"({"ok": false})", false, "done", "", true},
      {"a step refused", 200, R"({"ok": false, "reason": "paper out"})", false, "failed", "printer_refused", true},
      {"a driver's error", 200, R"({"result": false, "dialogs": [{"text": "Erro"}]})", false, "failed", "driver_error", true},
      {"the driver raised", 500, R"({"error": {"code": "driver_raised"}, "calls": ["AbreCupom"]})", false, "failed", "driver_raised", true},
      {"in doubt", 409, R"({"error": {"code": "in_doubt"}, "calls": [], )" + printer + "}", false, "in_doubt", "in_doubt", true},
      {"expired", 410, R"({"error": {"code": "expired", "message": "at 10:00"}})", false, "expired", "expired", false},
      {"a key of another job", 409, R"({"error": {"code": "idempotency_conflict"}})", false, "refused", "idempotency_conflict", false},
      {"a full queue", 503, R"({"error": {"code": "queue_full"}})", true, "refused", "queue_full", false},
      {"resolved as printed", 409, R"({"error": {"code": "resolved"}, "resolution": {"printed": true, "at": "2026-12-08T11:00:00"}})", true, "done", "", false},
      {"resolved as not printed", 409, R"({"error": {"code": "resolved"}, "resolution": {"printed": false}})", true, "failed", "resolved", false},
      {"an error without a code", 500, "{}", false, "failed", "failed", false},
      // clang-format on
  };
  const fpd::ResultHeader head{kShop, "till-9", "k-9", "web-7", "sale"};
  for (const auto& c : cases) {
    DoorAnswer answer{c.status, Json::parse(c.body), c.replayed};
    if (c.outcome == "done") {  // what every task's answer holds beside
      Json whole = {{"ok", true},
                    {"kind", "T"},
                    {"documentOpen", false},
                    {"calls", Json::array()},
                    {"dialogs", Json::array()},
                    {"log", Json::array()},
                    {"printer", Json::parse(kPrinter)}};
      whole.update(answer.Body);
      answer.Body = whole;
    }
    const Json r = fpd::DoorResult(head, answer, "2026-12-08T10:00:01Z", nullptr);
    ContractLog::Get().Add(Topic("till-9", "results"), r.dump());
    EXPECT_EQ(r["outcome"], c.outcome) << c.name;
    EXPECT_EQ(r.value("error", Json::object()).value("code", ""), c.code) << c.name;
    EXPECT_EQ(r.contains("answer"), c.hasAnswer) << c.name;
    EXPECT_EQ(r["replayed"], c.replayed) << c.name;
    if (c.outcome == "in_doubt") {  // the printer as the link shows it
      EXPECT_EQ(r["state"]["document"], "ticket");
      EXPECT_EQ(r["state"]["checkedAt"].get<std::string>().back(), 'Z');
      EXPECT_FALSE(r["state"].contains("strayDocument"));
    }
  }
}

// fiscal-printd itself on the link: its status, its last will when it is killed, and the
// command lines it refuses.
TEST_F(BrokerDoorTest, ServiceProgramLeavesItsLastWillAndRefusesUnsafeCommandLines) {
  const Json shop = broker_->Account(kShop);
  const std::string creds = " --broker-ca " + broker_->Ca() + " --broker-cert " +
                            shop["cert"].get<std::string>() + " --broker-key " +
                            shop["key"].get<std::string>();
  const struct {
    std::string args, says;
  } refused[] = {
      {"--broker " + broker_->Url("plain") + " --shop shop-a --printer p", "plain TCP"},
      {"--broker " + broker_->Url("cert") + creds + " --printer p", "--shop"},
      {"--broker " + broker_->Url("cert") + creds + " --shop shop-a --printer 'a/b'", "--printer"},
      {"--broker " + broker_->Url("cert") + creds + " --shop .shop --printer p", "--shop"},
      {"--shop shop-a --printer p", "--broker"},
  };
  for (const auto& c : refused) {
    const auto run = servicetest::Shell(std::string(FISCAL_PRINTD_PATH) + " " + c.args);
    EXPECT_EQ(run.exitCode, 2) << c.args << "\n" << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << c.args << "\n" << run.output;
  }

  Cloud cloud(*broker_, "till-4");
  servicetest::TempDir state;
  const std::vector<std::string> args = {"--broker",     broker_->Url("cert"), "--broker-ca",
                                         broker_->Ca(),  "--broker-cert",      shop["cert"],
                                         "--broker-key", shop["key"],          "--shop",
                                         kShop,          "--printer",          "till-4"};
  // Killed, it leaves its last will; stopped, it says so itself.
  for (const std::string end : {"lost", "stopped"}) {
    const size_t before = cloud.Await(Topic("till-4", "status"), 0).size();
    servicetest::ServiceProcess service(state.Path(), args);
    EXPECT_FALSE(cloud.AwaitStatus("till-4", Online, before).is_null());
    end == "lost" ? service.Kill() : service.Stop();
    const Json last = cloud.AwaitStatus("till-4", [&](const Json& s) {
      return s["online"] == false && s.value("reason", "") == end;
    });
    EXPECT_FALSE(last.is_null()) << end;
  }
}

}  // namespace
