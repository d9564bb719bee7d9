// SPDX-License-Identifier: Apache-2.0
// The service in this process in front of a scripted printer: an emulator behind a backend that
// can leave a command in doubt, pause, hold a command or answer the document counters, so that
// the faults of a real line come on cue. The service then owns the printer: a request in doubt
// stays in doubt, a document no request holds is dealt with, a refusal says why, and the
// counters come from the printer.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/os.h"
#include "printer/backend.h"
#include "printer/emulator.h"
#include "service/broker_feed.h"
#include "service/server.h"
#include "tests/service/service_process.h"

namespace {

using servicetest::Json;
using servicetest::TempDir;

// The emulator behind knobs; the service takes it for a serial printer (it is not the default
// emulator), so the status comes from the status words and the counters from mode A.
class ScriptedPrinter final : public plat::PrinterBackend {
 public:
  std::shared_ptr<plat::FiscalEmulator> emu = std::make_shared<plat::FiscalEmulator>();
  std::string inDoubtAfterRun;    // this method runs, then its reply is lost in doubt
  std::string inDoubtWithoutRun;  // this method is lost in doubt and runs at Resume()
  bool answersCounters = true;    // status mode A answers the counters
  std::string holdMethod;         // this method waits until Release()
  std::atomic<bool> holding{false};
  std::atomic<bool> silent{false};  // every command fails as a printer that does not answer
  // This method gets no answer once; as the serial link does, the commands after it then fail
  // at once until a status query answers.
  std::string silentOnce;
  bool stopped = false;
  std::atomic<int> statusQueries{0};
  std::atomic<int> quickQueries{0};  // status queries sent as quick ones

  plat::PrinterAnswer Execute(int port, const char* method,
                              const std::vector<plat::WideString*>& args) override {
    const std::string m = method;
    if (m == "Status") ++statusQueries;
    if (m == "Status" && plat::QuickStatusQueries::Active()) ++quickQueries;
    if (silent)
      throw plat::ELinkError("printer link: " + m + ": no answer", plat::LinkFault::Timeout);
    if (m == silentOnce) {
      silentOnce.clear();
      stopped = true;
      throw plat::ELinkError("printer link: " + m + ": no answer", plat::LinkFault::Timeout);
    }
    if (stopped && m != "Status")
      throw plat::ELinkError("printer link: " + m + ": not sent, the printer stopped answering",
                             plat::LinkFault::Refused);
    if (m == "Status") stopped = false;
    if (m == holdMethod) {
      std::unique_lock lock(mu_);
      holding = true;
      cv_.wait(lock, [this] { return released_; });
    }
    if (m == "Status" && !args.empty() && *args[0] == u"A") {
      if (!answersCounters) return plat::PrinterAnswer{0, 0, 0, {}};
      std::lock_guard lock(emuMu_);
      const auto& c = emu->Model().GetCounters();
      auto n8 = [](int n) {
        char b[16];
        std::snprintf(b, sizeof b, "%08d", n);
        return plat::AnsiToWide(b);
      };
      return plat::PrinterAnswer{
          1,
          0,
          0,
          {u"00001", n8(c.LastTicket), n8(c.LastTicket), n8(c.LastInvoiceA), n8(c.LastInvoiceA)}};
    }
    if (m == inDoubtWithoutRun) {
      inDoubtWithoutRun.clear();
      std::lock_guard lock(emuMu_);
      pending_ = m;
      pendingPort_ = port;
      pendingStore_.clear();
      for (auto* a : args) pendingStore_.push_back(*a);
      pendingArgs_.clear();
      for (auto& a : pendingStore_) pendingArgs_.push_back(&a);
      throw plat::ELinkError("printer link: " + m + ": in doubt, not sent again",
                             plat::LinkFault::InDoubt);
    }
    std::unique_lock lock(emuMu_);
    plat::PrinterAnswer a = emu->Execute(port, method, args);
    lock.unlock();
    if (m == inDoubtAfterRun) {
      inDoubtAfterRun.clear();
      throw plat::ELinkError("printer link: " + m + ": in doubt, not sent again",
                             plat::LinkFault::InDoubt);
    }
    return a;
  }
  // The printer resumes after its pause and runs the command it held.
  void Resume() {
    std::lock_guard lock(emuMu_);
    if (!pending_.empty())
      emu->Execute(pendingPort_, std::exchange(pending_, "").c_str(), pendingArgs_);
  }
  bool Open() {
    std::lock_guard lock(emuMu_);
    return emu->Model().State() != plat::FiscalPrinterModel::DocState::Idle;
  }
  void Release() {
    std::lock_guard lock(mu_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex emuMu_;
  std::string pending_;
  int pendingPort_ = 0;
  std::vector<plat::WideString> pendingStore_;
  std::vector<plat::WideString*> pendingArgs_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool released_ = false;
};

class InProcessService {
 public:
  InProcessService(std::shared_ptr<plat::PrinterBackend> printer, const std::string& state,
                   int statusIntervalMs = 5000)
      : printer_(std::move(printer)) {
    plat::SetPrinterBackend(printer_);
    fpd::ServiceOptions o;
    o.Port = 0;
    o.Driver.StateDir = state;
    o.Driver.PackagePath = ARFIS_PACKAGE_PATH;
    o.StatusIntervalMs = statusIntervalMs;
    service_ = std::make_unique<fpd::Service>(o);
    if (!service_->Bind()) throw std::runtime_error("cannot bind");
    thread_ = std::thread([this] { service_->Run(); });
    // A stop before the server runs would not reach it.
    while (!service_->Http().is_running())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~InProcessService() {
    service_->Stop();
    thread_.join();
    service_.reset();
    plat::SetPrinterBackend(nullptr);
  }
  servicetest::Answer Post(const std::string& path, const Json& body,
                           const std::string& key) const {
    return servicetest::PostTo(service_->BoundPort(), path, body, key);
  }
  servicetest::Answer Get(const std::string& path) const {
    return servicetest::GetFrom(service_->BoundPort(), path);
  }
  fpd::Pipeline& Core() { return service_->Core(); }
  fpd::Events& Watchers() { return service_->Watchers(); }
  fpd::Service& Whole() { return *service_; }

 private:
  std::shared_ptr<plat::PrinterBackend> printer_;
  std::unique_ptr<fpd::Service> service_;
  std::thread thread_;
};

class Ownership : public ::testing::Test {
 protected:
  TempDir state_;
  std::shared_ptr<ScriptedPrinter> printer_ = std::make_shared<ScriptedPrinter>();
  std::unique_ptr<InProcessService> s_ = Start();
  std::unique_ptr<InProcessService> Start() {
    return std::make_unique<InProcessService>(printer_, state_.Path());
  }
  bool TicketOpen() const { return printer_->Open(); }
  // The printer's part of the status once the worker has asked the printer since start.
  Json Printer() const {
    Json p;
    for (int i = 0; i < 2000 && (p.is_null() || p["checkedAt"].is_null()); ++i) {
      if (i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      p = s_->Get("/v1/status").body["printer"];
    }
    return p;
  }
};

TEST_F(Ownership, ACommandInDoubtLeavesTheRequestInDoubtAndItsTicketIsCancelled) {
  printer_->inDoubtAfterRun = "OpenTicket";  // the ticket opens, its reply is lost
  auto a = s_->Post("/v1/sales", servicetest::TicketSale("Doubt"), "doubt-1");
  ASSERT_EQ(a.status, 409) << a.body.dump();
  EXPECT_EQ(a.body["error"]["code"], "in_doubt");
  // The ticket no request holds was cancelled, journaled and reported.
  EXPECT_EQ(a.body["strayDocument"]["cancelled"], true) << a.body.dump();
  EXPECT_FALSE(TicketOpen());
  Json status = s_->Get("/v1/status").body;
  EXPECT_EQ(status["inDoubt"], Json::array({"doubt-1"}));
  EXPECT_EQ(status["printer"]["strayDocument"]["cancelled"], true);
  auto stray = s_->Get("/v1/journal/" + a.body["strayDocument"]["key"].get<std::string>());
  EXPECT_EQ(stray.body["path"], "/printer/open-document");
  EXPECT_EQ(s_->Get("/v1/journal/doubt-1").body["state"], "in_doubt");

  // A retry prints nothing and is in doubt, also after a restart, until the till resolves it.
  EXPECT_EQ(
      s_->Post("/v1/sales", servicetest::TicketSale("Doubt"), "doubt-1").body["error"]["code"],
      "in_doubt");
  s_.reset();
  s_ = Start();
  EXPECT_EQ(s_->Post("/v1/sales", servicetest::TicketSale("Doubt"), "doubt-1").status, 409);
  const auto r = s_->Post("/v1/journal/doubt-1/resolve", {{"printed", false}}, "");
  EXPECT_EQ(r.status, 200) << r.body.dump();
}

TEST_F(Ownership, ATicketOpenedLateByThePrinterIsCancelledBeforeTheNextSale) {
  // The open is lost in doubt while the printer pauses; it runs when the printer resumes.
  printer_->inDoubtWithoutRun = "OpenTicket";
  const auto first = s_->Post("/v1/sales", servicetest::TicketSale("Late"), "late-1");
  EXPECT_EQ(first.status, 409) << first.body.dump();
  printer_->Resume();
  ASSERT_TRUE(TicketOpen());
  auto next = s_->Post("/v1/sales", servicetest::TicketSale("Next"), "late-2");
  ASSERT_EQ(next.status, 200) << next.body.dump();
  EXPECT_EQ(next.body["ok"], true) << next.body.dump();
  EXPECT_EQ(next.body["strayDocument"]["cancelled"], true) << next.body.dump();
  EXPECT_EQ(next.body["documentOpen"], false);
}

// Also across a restart of the service: which request holds the document is kept.
TEST_F(Ownership, ADocumentATillHoldsOpenIsLeftAlone) {
  auto open = s_->Post("/v1/call/AbreCupom", {{"Params", {{"TIPOTICKET", "T"}}}}, "call-1");
  ASSERT_EQ(open.body["result"], true) << open.body.dump();
  for (int restart = 0; restart < 2; ++restart) {
    if (restart) {
      s_.reset();
      s_ = Start();
    }
    auto sale = s_->Post("/v1/sales", servicetest::TicketSale("Other"),
                         "call-other-" + std::to_string(restart));
    EXPECT_EQ(sale.body["ok"], false);
    EXPECT_FALSE(sale.body.contains("strayDocument")) << sale.body.dump();
    EXPECT_FALSE(sale.body.value("reason", "").empty()) << sale.body.dump();
    EXPECT_TRUE(TicketOpen());
  }
  // A sale refused meanwhile does not take the document over.
  EXPECT_EQ(s_->Get("/v1/status").body["heldDocument"]["key"], "call-1");
  // Once the till closes it, the next sale prints.
  const Json sale = Json::parse(
      R"({"hostFiles":{"cdsVenda.cds":{"fields":[{"name":"VRPRECCOMVEN","type":"float"}],)"
      R"("rows":[]}}})");
  auto cancel = s_->Post("/v1/call/Cancela_Cupom_Imp", sale, "call-cancel");
  ASSERT_EQ(cancel.body["result"], true) << cancel.body.dump();
  EXPECT_FALSE(TicketOpen());
  EXPECT_EQ(s_->Post("/v1/sales", servicetest::TicketSale("After"), "call-after").body["ok"], true);
}

// The service's cancel after a step that got no answer is tried, not refused as the link
// refuses commands after a silent one: a status query that answers comes first.
TEST_F(Ownership, TheCancelAfterASilentStepReachesThePrinter) {
  printer_->silentOnce = "SendTicketItem";
  auto a = s_->Post("/v1/sales", servicetest::TicketSale("Silent"), "silent-step-1");
  EXPECT_EQ(a.body["ok"], false) << a.body.dump();
  EXPECT_EQ(a.body["cancelled"], true) << a.body.dump();
  EXPECT_FALSE(TicketOpen());
}

// A sale that failed before anything reached the printer does not bind its key: sent again
// once the printer is back, it prints. One that printed something keeps its answer.
TEST_F(Ownership, OnlyAFailureBeforeThePrinterFreesTheKey) {
  struct Case {
    const char* key;
    std::function<void(ScriptedPrinter&)> fault;
    bool retryable;
  };
  const Case cases[] = {
      {"not-answering", [](ScriptedPrinter& p) { p.silent = true; }, true},
      {"no-device",
       [](ScriptedPrinter& p) { p.emu->RaiseOn("OpenTicket", "cannot open the device", 1); }, true},
      {"open-refused", [](ScriptedPrinter& p) { p.emu->Refuse("OpenTicket", 1); }, true},
      {"item-refused", [](ScriptedPrinter& p) { p.emu->Refuse("SendTicketItem", 1); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    c.fault(*printer_);
    const auto failed = s_->Post("/v1/sales", servicetest::TicketSale(c.key), c.key);
    printer_->silent = false;
    ASSERT_EQ(failed.body["ok"], false) << failed.body.dump();
    EXPECT_EQ(failed.body.value("retryable", false), c.retryable) << failed.body.dump();
    EXPECT_EQ(s_->Get(std::string("/v1/journal/") + c.key).body["state"],
              c.retryable ? "retryable" : "done");
    const auto again = s_->Post("/v1/sales", servicetest::TicketSale(c.key), c.key);
    EXPECT_EQ(again.body["ok"], c.retryable) << again.body.dump();
    EXPECT_EQ(again.headers.count("Idempotent-Replay"), c.retryable ? 0u : 1u);
  }
}

// An operator lets a held document go: the ticket is then cancelled as a stray one.
TEST_F(Ownership, AHeldDocumentIsReleasedThroughItsKey) {
  ASSERT_EQ(
      s_->Post("/v1/call/AbreCupom", {{"Params", {{"TIPOTICKET", "T"}}}}, "open-1").body["result"],
      true);
  EXPECT_EQ(s_->Post("/v1/journal/other/resolve", Json::object(), "").status, 404);
  const auto released = s_->Post("/v1/journal/open-1/resolve", Json::object(), "");
  ASSERT_EQ(released.status, 200) << released.body.dump();
  EXPECT_EQ(released.body["released"], true);
  EXPECT_EQ(released.body["cancelled"], true) << released.body.dump();
  EXPECT_FALSE(TicketOpen());
  EXPECT_TRUE(s_->Get("/v1/status").body["heldDocument"].is_null());
  // Held no more, the key is an ordinary done one.
  EXPECT_EQ(s_->Post("/v1/journal/open-1/resolve", Json::object(), "").body["error"]["code"],
            "not_in_doubt");
  EXPECT_EQ(s_->Post("/v1/sales", servicetest::TicketSale("After"), "open-after").body["ok"], true);
}

// The disk fills while a sale is half printed, so that neither the item nor the cancel can be
// written down; once it frees, the next sale cancels the ticket left open and prints.
TEST(OwnershipFullDisk, ATicketLeftOpenByAFullDiskIsCancelledOnceItFrees) {
  servicetest::SmallDisk disk("512k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
  const std::string state = disk.Path() + "/state", filler = disk.Path() + "/filler";
  ASSERT_TRUE(std::filesystem::create_directory(state));
  auto printer = std::make_shared<ScriptedPrinter>();
  printer->holdMethod = "SendTicketItem";
  InProcessService s(printer, state);
  servicetest::Answer first;
  std::thread sale(
      [&] { first = s.Post("/v1/sales", servicetest::TicketSale("Lleno"), "full-1"); });
  while (!printer->holding) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // The driver's log ends where its last page does, so that its next line needs one more.
  for (const auto& f : std::filesystem::directory_iterator(state)) {
    if (f.path().filename().string().rfind("impdebug", 0) != 0) continue;
    std::ofstream(f.path(), std::ios::app) << std::string(4096 - f.file_size() % 4096, ' ');
  }
  {
    std::ofstream out(filler, std::ios::binary);
    const std::string block(4096, 'x');
    while (out.write(block.data(), block.size()) && out.flush()) {
    }
  }
  printer->Release();
  sale.join();
  EXPECT_EQ(first.body["ok"], false) << first.body.dump();
  std::filesystem::remove(filler);
  // Where even the journal could not record the outcome, the key says why it is in doubt.
  if (first.body.contains("error") && first.body["error"].value("code", "") == "journal_failed") {
    EXPECT_NE(s.Post("/v1/sales", servicetest::TicketSale("Lleno"), "full-1")
                  .body["error"]["message"]
                  .get<std::string>()
                  .find("its outcome could not be recorded in the journal"),
              std::string::npos);
  }
  const auto next = s.Post("/v1/sales", servicetest::TicketSale("Libre"), "free-1");
  EXPECT_EQ(next.body["ok"], true) << next.body.dump();
  // The ticket the failed sale left open was cancelled, right after it or before the next sale.
  const Json& stray = first.body.value("strayDocument", Json()).is_object()
                          ? first.body["strayDocument"]
                          : next.body["strayDocument"];
  EXPECT_EQ(stray.value("cancelled", false), true) << first.body.dump() << next.body.dump();
}

TEST_F(Ownership, AStepThePrinterRefusesSaysWhy) {
  printer_->emu->Refuse("SendTicketItem");
  auto a = s_->Post("/v1/sales", servicetest::TicketSale("Refused"), "refused-1");
  ASSERT_EQ(a.status, 200) << a.body.dump();
  EXPECT_EQ(a.body["ok"], false);
  EXPECT_NE(a.body.value("reason", "").find("SendTicketItem"), std::string::npos) << a.body.dump();
}

TEST_F(Ownership, TheLastDocumentNumberComesFromThePrinterAtStartAndAfterEachDocument) {
  ASSERT_EQ(s_->Post("/v1/sales", servicetest::TicketSale("One"), "num-1").body["ok"], true);
  s_.reset();
  s_ = Start();
  EXPECT_EQ(Printer()["lastDocumentNumber"], "00000001");
  ASSERT_EQ(s_->Post("/v1/sales", servicetest::TicketSale("Two"), "num-2").body["ok"], true);
  EXPECT_EQ(s_->Get("/v1/status").body["printer"]["lastDocumentNumber"], "00000002");
}

TEST_F(Ownership, AQueuedKeyAnswersItsEntry) {
  printer_->holdMethod = "OpenTicket";
  std::thread first([&] { s_->Post("/v1/sales", servicetest::TicketSale("Held"), "held-1"); });
  while (!printer_->holding) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::thread second([&] { s_->Post("/v1/sales", servicetest::TicketSale("Queued"), "queued-1"); });
  servicetest::Answer e;
  for (int i = 0; i < 2000 && e.status != 200; ++i) {
    e = s_->Get("/v1/journal/queued-1");
    if (e.status != 200) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(e.status, 200);
  EXPECT_EQ(e.body["state"], "queued") << e.body.dump();
  printer_->Release();
  first.join();
  second.join();
}

// A printer that does not answer is asked less and less often while idle, and a sale still
// gets its answer.
TEST_F(Ownership, ASilentPrinterIsAskedLessOftenWhileIdle) {
  s_.reset();
  s_ = std::make_unique<InProcessService>(printer_, state_.Path(), 100);
  printer_->silent = true;
  const int before = printer_->statusQueries, quickBefore = printer_->quickQueries;
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  // Every 100 ms would be some 30 queries; doubling waits give at most 5 (0.1+0.2+0.4+0.8+1.6).
  EXPECT_LE(printer_->statusQueries - before, 6);
  // Each of them a quick one: one try, so that a sale waits for one reply timeout at most.
  EXPECT_EQ(printer_->quickQueries - quickBefore, printer_->statusQueries - before);
  printer_->silent = false;
  auto sale = s_->Post("/v1/sales", servicetest::TicketSale("Back"), "silent-1");
  EXPECT_EQ(sale.body["ok"], true) << sale.body.dump();
}

// Each job tells its watchers what happened and what it printed, without an answer body to read.
TEST_F(Ownership, AJobTellsItsEventsAndWhatItPrinted) {
  struct Recorder : fpd::EventSink {
    std::mutex mu;
    std::vector<fpd::JobEvent> jobs;
    void On(const fpd::Event& e) override {
      std::lock_guard lock(mu);
      if (const auto* j = std::get_if<fpd::JobEvent>(&e)) jobs.push_back(*j);
    }
  };
  auto recorder = std::make_shared<Recorder>();
  s_->Watchers().Add(recorder);
  for (int i = 0; i < 2; ++i) s_->Post("/v1/sales", servicetest::TicketSale("Told"), "told-1");
  using Kind = fpd::JobEvent::Kind;
  std::lock_guard lock(recorder->mu);
  ASSERT_EQ(recorder->jobs.size(), 3u);
  EXPECT_EQ(recorder->jobs[0].What, Kind::Started);
  EXPECT_EQ(recorder->jobs[1].What, Kind::Done);
  EXPECT_EQ(recorder->jobs[1].Printed, std::vector<std::string>{"ticket"});
  EXPECT_EQ(recorder->jobs[1].Key, "told-1");
  EXPECT_TRUE(recorder->jobs[2].Replayed);
  EXPECT_TRUE(recorder->jobs[2].Printed.empty());
}

// The worker takes waiting jobs in turn by till: a burst from one till does not hold the others
// back. A job whose expiry passed while it waited is answered "expired" and prints nothing.
TEST_F(Ownership, TillsTakeTurnsAndAnExpiredJobPrintsNothing) {
  fpd::Pipeline& core = s_->Core();
  std::mutex mu;
  std::condition_variable cv;
  bool open = false, blocking = false;
  std::vector<std::string> ran;
  std::map<std::string, fpd::JobResult> answers;
  const auto job = [&](const std::string& till, const std::string& key, bool block = false) {
    fpd::Job j;
    j.Till = till;
    j.Key = key;
    j.Path = "/v1/x";
    j.Input = Json{{"n", key}};
    j.Prepared = [&, till, block](fpd::DriverSession&) {
      std::unique_lock lock(mu);
      ran.push_back(till);
      blocking = blocking || block;
      cv.notify_all();
      cv.wait(lock, [&] { return open || !block; });
      return fpd::TaskResult{200, Json{{"ok", true}}};
    };
    return j;
  };
  const auto done = [&](const std::string& key) {
    return [&, key](const fpd::JobResult& r) {
      std::lock_guard lock(mu);
      answers[key] = r;
      cv.notify_all();
    };
  };
  ASSERT_EQ(core.Submit(job("Z", "block", true), done("block")).What,
            fpd::JobResult::Verdict::Accepted);
  {
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return blocking; });
  }
  for (int i = 0; i < 10; ++i) {
    const std::string key = "a-" + std::to_string(i);
    ASSERT_EQ(core.Submit(job("A", key), done(key)).What, fpd::JobResult::Verdict::Accepted);
  }
  core.Submit(job("B", "b-0"), done("b-0"));
  core.Submit(job("C", "c-0"), done("c-0"));
  fpd::Job expiring = job("D", "d-0");
  expiring.Expiry = std::time(nullptr);
  core.Submit(std::move(expiring), done("d-0"));
  const Json queue = s_->Get("/v1/status").body["service"]["queue"];
  EXPECT_EQ(queue, Json::parse(R"([{"till": "A", "waiting": 10}, {"till": "B", "waiting": 1},
                                   {"till": "C", "waiting": 1}, {"till": "D", "waiting": 1}])"));
  {
    std::unique_lock lock(mu);
    open = true;
    cv.notify_all();
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return answers.size() == 14; }));
  }
  const auto at = [&](const std::string& till, int nth) {
    for (size_t i = 0; i < ran.size(); ++i) {
      if (ran[i] == till && nth-- == 0) return i;
    }
    return ran.size();
  };
  EXPECT_LT(at("B", 0), at("A", 2));
  EXPECT_LT(at("C", 0), at("A", 2));
  EXPECT_EQ(at("D", 0), ran.size()) << "the expired job ran";
  EXPECT_EQ(answers["d-0"].Status, 410);
  EXPECT_EQ(answers["d-0"].Body["error"]["code"], "expired");
  EXPECT_EQ(answers["a-9"].Body["ok"], true);
  // Journaled as finished with that answer: the key answers it again.
  const fpd::JobResult again = core.Submit(job("D", "d-0"));
  EXPECT_EQ(again.What, fpd::JobResult::Verdict::Replay);
  EXPECT_EQ(again.Body["error"]["code"], "expired");
}

}  // namespace

// A job of the broker goes through the pipeline as the same request through HTTP would, but a
// delivery again of a job that failed before reaching the printer answers its first result: the
// cloud, told it failed, sends the sale again under a new key.
TEST_F(Ownership, ABrokerJobDeliveredAgainAnswersItsFirstResult) {
  fpd::Service& s = s_->Whole();
  fpd::BrokerFeed feed(s.Core(), s.Records(), s.Driver(), s.DefaultScheme());
  const auto submit = [&feed](const std::string& key, const Json& body) {
    std::promise<fpd::DoorAnswer> answer;
    feed.Submit({"web-till", key, "sale", "/v1/sales", body, std::nullopt},
                [&answer](fpd::DoorAnswer a) { answer.set_value(std::move(a)); });
    return answer.get_future().get();
  };
  printer_->emu->Refuse("OpenTicket", 1);
  const auto first = submit("cloud-1", servicetest::TicketSale("Cloud"));
  EXPECT_EQ(first.Body["ok"], false) << first.Body.dump();
  EXPECT_EQ(first.Body.value("retryable", false), true) << first.Body.dump();
  const auto again = submit("cloud-1", servicetest::TicketSale("Cloud"));
  EXPECT_TRUE(again.Replayed);
  EXPECT_EQ(again.Body["ok"], false) << again.Body.dump();
  const auto fresh = submit("cloud-2", servicetest::TicketSale("Cloud"));
  EXPECT_EQ(fresh.Body["ok"], true) << fresh.Body.dump();
  EXPECT_FALSE(fresh.Replayed);
  EXPECT_EQ(submit("cloud-3", Json{{"kind", "Q"}}).Status, 400);
  // The same key through HTTP is another till's: the local till's key is free.
  EXPECT_EQ(s_->Post("/v1/sales", servicetest::TicketSale("Local"), "cloud-2").body["ok"], true);
  // The status the door publishes names the last Z once there is one.
  EXPECT_EQ(feed.StatusNow()["lastZ"], nullptr);
  const auto zAnswer = s_->Post("/v1/z", Json::object(), "z-1");
  ASSERT_EQ(zAnswer.body["ok"], true) << zAnswer.body.dump();
  const Json z = feed.StatusNow()["lastZ"];
  ASSERT_TRUE(z.is_object()) << feed.StatusNow().dump();
  EXPECT_GE(z.value("number", 0), 1) << z.dump();
  EXPECT_TRUE(z["at"].is_string()) << z.dump();
}
