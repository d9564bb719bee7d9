// SPDX-License-Identifier: Apache-2.0
// fiscal-fleet: statuses that break the contract are refused, its metrics pass promtool, its
// command line refuses what is not secure; and the program itself against a live broker with
// three fake shops, its page in headless Chromium, a shop's last will, a broker restart and a
// CA that does not vouch for the broker.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/support/broker/broker.h"
#include "tools/fleet/fleet_state.h"

namespace {

using fleet::Clock;
using fleet::FleetState;
using fleet::Json;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct ShellRun {
  int exitCode = -1;
  std::string output;
};

ShellRun Shell(const std::string& command) {
  ShellRun run;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  char buf[4096];
  for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) run.output.append(buf, n);
  const int status = p ? ::pclose(p) : -1;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Write(const fs::path& path, const std::string& text, fs::perms mode) {
  std::ofstream(path) << text;
  fs::permissions(path, mode);
  return path.string();
}

Json Status(const std::string& shop, const std::string& printer) {
  return {{"shop", shop},
          {"printer", printer},
          {"online", true},
          {"at", "2026-12-08T10:00:00Z"},
          {"onlineSince", "2026-12-08T07:00:00Z"},
          {"heartbeatSeconds", 60},
          {"service", {{"version", "1.1.0"}}},
          {"state",
           {{"backend", "emulator"},
            {"reachable", true},
            {"checkedAt", "2026-12-08T10:00:00Z"},
            {"printerStatus", "0080"},
            {"fiscalStatus", "0600"},
            {"reasons", Json::array()},
            {"documentOpen", false},
            {"document", nullptr},
            {"lastDocumentNumber", "00000042"},
            {"paper", {{"journal", "ok"}, {"receipt", "ok"}}},
            {"fiscalisation", "fiscalised"},
            {"error", nullptr}}},
          {"lastZ", {{"number", 17}, {"at", "2026-12-07T23:00:00Z"}}},
          {"inDoubtCount", 0},
          {"inDoubt", Json::array()}};
}

const std::string kTopic = "fiscal/v1/shop-a/till-1/status";

TEST(FleetState, RefusesStatusesThatBreakTheContract) {
  struct Case {
    const char* name;
    std::string topic;
    std::string payload;
  };
  Json otherShop = Status("shop-b", "till-1"), noOnline = Status("shop-a", "till-1");
  noOnline["online"] = "yes";
  const Case cases[] = {
      {"not a status topic", "fiscal/v1/shop-a/till-1/jobs", Status("shop-a", "till-1").dump()},
      {"a topic level no name may hold", "fiscal/v1/shop a/till-1/status", "{}"},
      {"not JSON", kTopic, "{\"shop\":"},
      {"not an object", kTopic, "[1]"},
      {"another shop's name", kTopic, otherShop.dump()},
      {"online not a Boolean", kTopic, noOnline.dump()},
  };
  FleetState state;
  for (const Case& c : cases) {
    std::string why;
    EXPECT_FALSE(state.Apply(c.topic, c.payload, Clock::now(), why)) << c.name;
    EXPECT_FALSE(why.empty()) << c.name;
  }
  EXPECT_TRUE(state.View(Clock::now())["printers"].empty());
  EXPECT_NE(state.Metrics(Clock::now()).find("fiscal_fleet_status_rejected_total 6"),
            std::string::npos);
}

TEST(FleetState, ShowsStaleOfflineAndForgottenPrinters) {
  FleetState state;
  std::string why;
  const auto t0 = Clock::now();
  ASSERT_TRUE(state.Apply(kTopic, Status("shop-a", "till-1").dump(), t0, why)) << why;
  auto printer = [&](Clock::time_point at) { return state.View(at)["printers"].at(0); };
  EXPECT_FALSE(printer(t0 + 179s)["stale"]);
  EXPECT_TRUE(printer(t0 + 181s)["stale"]) << "three heartbeats of 60 s missed";
  EXPECT_EQ(printer(t0)["paper"]["receipt"], "ok");

  // The last will: offline since it came; the printer's state is no longer known, its keys in
  // doubt and last Z are the last it told.
  const Json will = {{"shop", "shop-a"},
                     {"printer", "till-1"},
                     {"online", false},
                     {"reason", "lost"},
                     {"service", {{"version", "1.1.0"}}}};
  ASSERT_TRUE(state.Apply(kTopic, will.dump(), t0 + 10s, why)) << why;
  const Json offline = printer(t0 + 1000s);
  EXPECT_FALSE(offline["online"]);
  EXPECT_FALSE(offline["stale"]);
  EXPECT_EQ(offline["since"], fleet::UtcText(t0 + 10s));
  EXPECT_TRUE(offline["paper"]["receipt"].is_null());
  EXPECT_EQ(offline["lastZ"]["number"], 17);

  ASSERT_TRUE(state.Apply(kTopic, "", t0, why)) << "a cleared retained status";
  EXPECT_TRUE(state.View(t0)["printers"].empty());
}

TEST(FleetState, MetricsPassPromtoolWhateverTheServicesVersionHolds) {
  FleetState state;
  std::string why;
  Json status = Status("shop-a", "till-1");
  status["service"]["version"] = "1.1\"\n\\x";
  status["state"]["paper"]["journal"] = "low";
  ASSERT_TRUE(state.Apply(kTopic, status.dump(), Clock::now(), why)) << why;
  state.BrokerUp(true, "");
  const std::string metrics = state.Metrics(Clock::now());
  const fs::path file = fs::temp_directory_path() / ("fleet-metrics-" + std::to_string(::getpid()));
  std::ofstream(file) << metrics;
  const ShellRun check = Shell("promtool check metrics < " + file.string());
  fs::remove(file);
  EXPECT_EQ(check.exitCode, 0) << check.output << metrics;
  for (
      const char* sample :
      {R"(fiscal_fleet_printer_paper{shop="shop-a",printer="till-1",roll="journal",state="low"} 1)",
       R"(fiscal_fleet_printer_fiscalisation{shop="shop-a",printer="till-1",state="fiscalised"} 1)",
       R"(fiscal_fleet_printer_last_z_number{shop="shop-a",printer="till-1"} 17)",
       R"(fiscal_fleet_printer_online_since_timestamp_seconds{shop="shop-a",printer="till-1"} 1796713200)",
       R"(version="1.1\"\n\\x")", "fiscal_fleet_broker_connected 1"}) {
    EXPECT_NE(metrics.find(sample), std::string::npos) << sample << "\n" << metrics;
  }
}

TEST(FleetState, AlertRulesPassPromtoolAndNameOnlyTheFleetsMetrics) {
  const std::string rules = FISCAL_SOURCE_DIR "/docs/chain-link/fleet-alerts.yml";
  const ShellRun check = Shell("promtool check rules " + rules);
  EXPECT_EQ(check.exitCode, 0) << check.output;
  FleetState state;
  std::string why;
  ASSERT_TRUE(state.Apply(kTopic, Status("shop-a", "till-1").dump(), Clock::now(), why)) << why;
  const std::string metrics = state.Metrics(Clock::now());
  std::ifstream in(rules);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  const std::regex name("fiscal_fleet_[a-z_]+");
  int named = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), name); it != std::sregex_iterator();
       ++it, ++named) {
    const bool sampled = metrics.find("\n" + it->str() + "{") != std::string::npos ||
                         metrics.find("\n" + it->str() + " ") != std::string::npos;
    EXPECT_TRUE(sampled) << it->str() << " is not one of the fleet's metrics";
  }
  EXPECT_GE(named, 7);
}

// fiscal-fleet as a separate program, stopped when the test ends.
class FleetProcess {
 public:
  // Its output goes to a file of its own in dir.
  FleetProcess(const fs::path& dir, std::vector<std::string> args)
      : out_(dir / ("fleet-" + std::to_string(++count_) + ".out")) {
    args.insert(args.begin(), {FISCAL_FLEET_PATH, "--listen", "127.0.0.1:0"});
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    for (int i = 0; i < 200 && port_ == 0; ++i, std::this_thread::sleep_for(50ms)) {
      const std::string out = Output();
      const size_t at = out.find("listening on http://127.0.0.1:");
      if (at != std::string::npos) std::sscanf(out.c_str() + at + 30, "%d", &port_);
    }
  }
  ~FleetProcess() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  std::string Output() const {
    std::ifstream in(out_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  int Port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string Get(const std::string& path) const {
    httplib::Client c("127.0.0.1", port_);
    const auto res = c.Get(path);
    return res && res->status == 200 ? res->body : "";
  }
  Json Fleet() const { return Json::parse(Get("/v1/fleet"), nullptr, false); }
  // Waits until the fleet's data passes the test; false after 30 s.
  bool Await(const std::function<bool(const Json&)>& test) const {
    for (int i = 0; i < 600; ++i, std::this_thread::sleep_for(50ms)) {
      const Json fleet = Fleet();
      if (fleet.is_object() && test(fleet)) return true;
    }
    return false;
  }

 private:
  static inline int count_ = 0;
  fs::path out_;
  pid_t pid_ = -1;
  int port_ = 0;
};

class FleetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("fleet-test-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(FleetTest, CommandLineRefusesWhatIsNotSecure) {
  const std::string open = Write(dir_ / "open.password", "secret\n", fs::perms(0644));
  const std::string closed = Write(dir_ / "closed.password", "secret\n", fs::perms(0600));
  const struct {
    std::string args;
    std::string says;
  } cases[] = {
      {"--broker mqtt://localhost:1883", "plain TCP"},
      {"--broker mqtts://localhost --broker-insecure", "does not turn off"},
      {"--broker http://localhost", "expected mqtts://"},
      {"--broker mqtts://localhost --broker-cert c.pem", "go together"},
      {"--broker mqtts://localhost --broker-user fleet", "go together"},
      {"--broker mqtts://localhost --broker-user fleet --broker-password-file " + open,
       "may be read by others"},
      {"--broker mqtts://localhost --broker-user fleet --broker-password-file " + closed +
           " --listen 0.0.0.0:0",
       "--token-file"},
      {"--broker mqtts://localhost --token-file " + dir_.string() + "/none", "token file"},
      {"--listen 127.0.0.1:0", "--broker is required"},
  };
  for (const auto& c : cases) {
    const ShellRun run = Shell(std::string(FISCAL_FLEET_PATH) + " " + c.args);
    EXPECT_EQ(run.exitCode, 2) << c.args << "\n" << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << c.args << "\n" << run.output;
  }
}

// The page's cell with this id, as the browser left it.
std::string Cell(const std::string& dom, const std::string& id) {
  const size_t at = dom.find("id=\"" + id + "\"");
  if (at == std::string::npos) return "<missing " + id + ">";
  const size_t open = dom.find('>', at) + 1;
  return dom.substr(open, dom.find("</td>", open) - open);
}

TEST_F(FleetTest, ShowsEveryShopFromALiveBrokerInABrowser) {
  brokertest::Broker broker({"shop-a", "shop-b", "shop-c"}, /*plain=*/true);
  Json a = Status("shop-a", "till-1"), b = Status("shop-b", "till-1"), c = Status("shop-c", "bar");
  b["state"]["paper"]["receipt"] = "low";
  b["state"]["fiscalisation"] = "training";
  c["state"]["documentOpen"] = true;
  c["state"]["document"] = "ticket";
  c["inDoubtCount"] = 1;
  c["inDoubt"] = Json::array({{{"till", "web-7"}, {"key", "web7-000125"}}});
  for (const Json& s : {a, b, c}) broker.ShopUp(s);

  const Json cert = broker.Account("fleet");
  FleetProcess fleetByCert(dir_, {"--broker", broker.Url("cert"), "--broker-ca", broker.Ca(),
                                  "--broker-cert", cert["cert"], "--broker-key", cert["key"]});
  ASSERT_GT(fleetByCert.Port(), 0) << fleetByCert.Output();
  ASSERT_TRUE(fleetByCert.Await([](const Json& f) { return f["printers"].size() == 3; }))
      << fleetByCert.Fleet().dump() << fleetByCert.Output();

  if (::access("/usr/bin/chromium", X_OK) != 0) {
    ADD_FAILURE() << "Chromium is not installed (/usr/bin/chromium); scripts/deps installs it";
  } else {
    const fs::path profile = dir_ / "profile";
    const ShellRun browser = Shell(
        "timeout 120 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic "
        "--no-first-run --disable-background-networking --disable-component-update "
        "--disable-sync --disable-extensions '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE "
        "127.0.0.1' --user-data-dir=" +
        profile.string() + " --virtual-time-budget=10000 --dump-dom " + fleetByCert.Url() +
        "/ 2>/dev/null");
    const std::string& dom = browser.output;
    EXPECT_NE(dom.find("3 printers in 3 shops; offline: 0; needing attention: 2."),
              std::string::npos)
        << dom;
    EXPECT_EQ(Cell(dom, "shop-b/till-1/paper"), "journal ok, receipt low");
    EXPECT_EQ(Cell(dom, "shop-b/till-1/fiscalisation"), "training");
    EXPECT_EQ(Cell(dom, "shop-c/bar/document"), "yes (ticket)");
    EXPECT_EQ(Cell(dom, "shop-c/bar/doubt"), "1: web-7/web7-000125");
    EXPECT_EQ(Cell(dom, "shop-a/till-1/version"), "1.1.0");
    EXPECT_NE(Cell(dom, "shop-a/till-1/lastz").find("#17"), std::string::npos) << dom;
    EXPECT_EQ(Cell(dom, "shop-a/till-1/link").find("online since"), 0u) << dom;
  }

  // One /metrics for the chain, one series per shop and printer, that promtool accepts.
  const std::string metrics = fleetByCert.Get("/metrics");
  std::ofstream(dir_ / "metrics") << metrics;
  const ShellRun check = Shell("promtool check metrics < " + (dir_ / "metrics").string());
  EXPECT_EQ(check.exitCode, 0) << check.output;
  for (const char* shop : {"shop-a", "shop-b", "shop-c"}) {
    EXPECT_NE(metrics.find("fiscal_fleet_printer_online{shop=\"" + std::string(shop)),
              std::string::npos)
        << metrics;
  }

  // A shop whose link drops: its last will shows it offline.
  broker.ShopDown("shop-c", "bar");
  EXPECT_TRUE(fleetByCert.Await([](const Json& f) {
    for (const Json& p : f["printers"]) {
      if (p["shop"] == "shop-c") return p["online"] == false && p["reason"] == "lost";
    }
    return false;
  })) << fleetByCert.Fleet().dump();

  // A second fleet with a login; a third that does not trust the broker's certificate.
  const std::string passwordFile = cert["password_file"];
  FleetProcess fleetByLogin(
      dir_, {"--broker", broker.Url("password"), "--broker-ca", broker.Ca(), "--broker-user",
             "fleet", "--broker-password-file", passwordFile});
  EXPECT_TRUE(fleetByLogin.Await([](const Json& f) { return f["printers"].size() == 3; }))
      << fleetByLogin.Output();
  FleetProcess distrustful(dir_, {"--broker", broker.Url("cert"), "--broker-ca", broker.OtherCa(),
                                  "--broker-cert", cert["cert"], "--broker-key", cert["key"]});
  EXPECT_TRUE(distrustful.Await([](const Json& f) {
    return f["broker"]["connected"] == false &&
           f["broker"]["error"].get<std::string>().find("TLS") != std::string::npos;
  })) << distrustful.Fleet().dump();
  EXPECT_TRUE(distrustful.Fleet()["printers"].empty());

  // Plain TCP only when told, and said so.
  FleetProcess plain(dir_, {"--broker", broker.Url("plain"), "--broker-insecure", "--broker-user",
                            "fleet", "--broker-password-file", passwordFile});
  EXPECT_TRUE(plain.Await([](const Json& f) { return f["printers"].size() == 3; }));
  EXPECT_NE(plain.Output().find("warn: the broker link is plain TCP"), std::string::npos)
      << plain.Output();

  // Its connection cut: the page says the broker is away, and the fleet comes back by itself.
  int relayPort = 0;
  const std::string relay = broker.Relay("cert", relayPort);
  const std::string viaRelay = "mqtts://localhost:" + std::to_string(relayPort);
  FleetProcess cutOff(dir_, {"--broker", viaRelay, "--broker-ca", broker.Ca(), "--broker-cert",
                             cert["cert"], "--broker-key", cert["key"]});
  ASSERT_TRUE(cutOff.Await([](const Json& f) { return f["printers"].size() == 3; }));
  broker.Cut(relay);
  EXPECT_TRUE(cutOff.Await([](const Json& f) { return f["broker"]["connected"] == false; }));
  broker.Restore(relay);
  EXPECT_TRUE(cutOff.Await([](const Json& f) { return f["broker"]["connected"] == true; }))
      << cutOff.Output();

  // The broker restarts: the fleet comes back to the retained statuses.
  broker.Restart();
  EXPECT_TRUE(fleetByCert.Await([](const Json& f) {
    return f["broker"]["connected"] == true && f["printers"].size() == 3;
  })) << fleetByCert.Fleet().dump()
      << fleetByCert.Output();
}

}  // namespace
