// SPDX-License-Identifier: Apache-2.0
// The service over loopback: every endpoint with good and bad bodies, exactly once across a
// crash, the queue limit, the token, browser origins, the body limit and the Python client.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service/http_door.h"
#include "tests/service/service_process.h"
#include "tests/support/entry_points.h"

namespace {

using servicetest::Answer;
using servicetest::Json;
using servicetest::ServiceProcess;
using servicetest::TempDir;
using namespace std::chrono_literals;

Answer Send(const ServiceProcess& s, const std::string& method, const std::string& path,
            const std::string& body, const httplib::Headers& headers) {
  return servicetest::SendTo(s.Port(), method, path, body, headers);
}

std::string ErrorCode(const Answer& a) {
  return a.body.is_object() && a.body.contains("error") ? a.body["error"].value("code", "") : "";
}

size_t PaperLines(const ServiceProcess& s) {
  return s.Get("/v1/paper").body["next"].get<size_t>();
}

class ServiceTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::unique_ptr<ServiceProcess> s_ = std::make_unique<ServiceProcess>(dir_.Path());
};

TEST_F(ServiceTest, TheIssuesBodyPrintsAOneItemTicketAndARepeatPrintsNothing) {
  const Json sale = Json::parse(
      R"({"kind":"T","items":[{"description":"Cafe","quantity":1,"price":10,"vat":21}],)"
      R"("payments":[{"description":"Efectivo","amount":10}]})");
  const Answer a = s_->Post("/v1/sales", sale, "sale-1");
  ASSERT_EQ(a.status, 200) << a.body.dump();
  EXPECT_TRUE(a.body["ok"].get<bool>());
  EXPECT_EQ(a.body["number"], "00000001");
  EXPECT_EQ(a.body["documentOpen"], false);
  EXPECT_EQ(a.body["printer"]["lastDocumentNumber"], "00000001");
  EXPECT_NE(a.body["log"].dump().find("CloseTicket"), std::string::npos);
  const size_t printed = PaperLines(*s_);

  const Answer again = s_->Post("/v1/sales", sale, "sale-1");
  EXPECT_EQ(again.status, 200);
  EXPECT_EQ(again.body, a.body);
  EXPECT_EQ(again.headers.find("Idempotent-Replay")->second, "true");
  EXPECT_EQ(PaperLines(*s_), printed);

  Json other = sale;
  other["items"][0]["description"] = "Te";
  EXPECT_EQ(ErrorCode(s_->Post("/v1/sales", other, "sale-1")), "idempotency_conflict");
  EXPECT_EQ(PaperLines(*s_), printed);
  EXPECT_EQ(s_->Get("/v1/journal/sale-1").body["state"], "done");
  EXPECT_EQ(s_->Get("/v1/journal").body["entries"][0]["key"], "sale-1");
}

TEST(HttpDoor, APreferHeaderAsksForAnAnswerAtOnceOnlyWithRespondAsync) {
  const struct {
    const char* prefer;
    bool async;
  } cases[] = {{"respond-async", true},       {"wait=10, Respond-Async", true},
               {" respond-async ;x=1", true}, {"", false},
               {"respond-asyncx", false},     {"return=minimal", false}};
  for (const auto& c : cases) EXPECT_EQ(fpd::PrefersAsync(c.prefer), c.async) << c.prefer;
}

// A request that prefers to be answered at once is accepted with where its outcome will be;
// following it shows the entry queued or running, then finished with the answer.
TEST_F(ServiceTest, ARequestPreferringAsyncIsAcceptedAndFollowed) {
  const httplib::Headers h = {{"Idempotency-Key", "async-1"}, {"Prefer", "respond-async"}};
  const Answer accepted = Send(*s_, "POST", "/v1/x", "{}", h);
  ASSERT_EQ(accepted.status, 202) << accepted.body.dump();
  ASSERT_EQ(accepted.headers.count("Location"), 1u);
  const std::string where = accepted.headers.find("Location")->second;
  EXPECT_EQ(where, "/v1/journal/async-1");
  EXPECT_EQ(accepted.body["key"], "async-1");
  EXPECT_EQ(accepted.body["progress"], "queued");
  Answer e = s_->Get(where);
  for (int i = 0; i < 3000 && e.body["progress"] != "finished"; ++i) {
    std::this_thread::sleep_for(10ms);
    e = s_->Get(where);
  }
  EXPECT_EQ(e.body["state"], "done") << e.body.dump();
  EXPECT_EQ(e.body["ok"], true);
  // Once known, the key answers as without the header.
  const Answer again = Send(*s_, "POST", "/v1/x", "{}", h);
  EXPECT_EQ(again.status, 200);
  EXPECT_EQ(again.headers.count("Idempotent-Replay"), 1u);
}

TEST_F(ServiceTest, TaskEndpointsPrintWhatATillNeeds) {
  struct Case {
    const char* path;
    const char* body;
  };
  const Case cases[] = {
      {"/v1/cash/supply", R"({"amount":200,"opening":true})"},
      {"/v1/cash/supply", R"({"amount":150})"},
      {"/v1/sales",
       R"({"kind":"A","buyer":{"name":"Peña y Cía","vatCondition":"Responsable Inscripto",)"
       R"("documentType":"C","documentNumber":"30712345679","address":"Av. 1"},)"
       R"("items":[{"description":"Vino","quantity":2,"price":121,"vat":21}],)"
       R"("payments":[{"description":"Efectivo","amount":242}]})"},
      {"/v1/sales",
       R"({"kind":"T","discount":5,"items":[{"description":"Agua","quantity":2,"price":9.9,"vat":10.5},)"
       R"({"description":"Agua","quantity":1,"price":9.9,"vat":10.5,"cancel":true}],)"
       R"("payments":[{"description":"Tarjeta","amount":4.9,"card":"VISA"}]})"},
      {"/v1/x", "{}"},
      {"/v1/closing", R"({"printReceipt":false,"answers":[false,true,true]})"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Answer a = s_->Post(c.path, Json::parse(c.body), "task-" + std::to_string(++n));
    ASSERT_EQ(a.status, 200) << a.body.dump();
    EXPECT_TRUE(a.body["ok"].get<bool>() || std::string(c.path) == "/v1/closing") << a.body.dump();
    EXPECT_TRUE(a.body["printer"]["reachable"].get<bool>());
  }
  // The closing asked its three questions and, confirmed, took the Z with its figures.
  const Json closing = s_->Get("/v1/journal/task-6").body["answer"];
  EXPECT_EQ(closing["dialogs"].size(), 3u);
  EXPECT_TRUE(closing["zConfirmed"].get<bool>());
  EXPECT_EQ(closing["z"]["figures"]["NRREDREDZ"], "0000000001");
  EXPECT_DOUBLE_EQ(closing["z"]["figures"]["VRVENBRUREDZ"].get<double>(), 242 + 9.9 * 2 - 9.9 - 5);

  const Answer z = s_->Post("/v1/z", Json::object(), "z-2");
  EXPECT_EQ(z.body["figures"]["NRREDREDZ"], "0000000002");
  EXPECT_EQ(z.body["figures"].size(), 27u);
}

// The fiscal-memory report prints once per key, and never while a document is open, on each
// variant of the printer family: the built-in emulator and the emulator program on the line.
TEST(ServiceReports, TheFiscalMemoryReportPrintsOnceAndOnlyBetweenDocuments) {
  for (const char* model : {"ours", "sibling"}) {
    for (const bool serial : {false, true}) {
      SCOPED_TRACE(std::string(model) + (serial ? " on the line" : " built in"));
      const TempDir dir;
      std::unique_ptr<servicetest::PrinterProgram> printer;
      // On the line the link tells the variant from the printer's answers.
      std::map<std::string, std::string> env = {{"FISCAL_PRINTER_MODEL", model}};
      if (serial) {
        printer = std::make_unique<servicetest::PrinterProgram>(
            dir.Path(), std::vector<std::string>{"--model", model});
        env = printer->Env();
      }
      const ServiceProcess s(dir.Path(), {}, env);
      // The paper: the service keeps the built-in emulator's, the program writes its own.
      const auto paper = [&] {
        if (!serial) return s.Get("/v1/paper").body["lines"].get<std::vector<std::string>>();
        return servicetest::FileLines(dir.Path() + "/printer-paper.txt");
      };
      const auto joined = [&] {
        std::string text;
        for (const std::string& line : paper()) text += line + "\n";
        return text;
      };

      ASSERT_EQ(s.Post("/v1/z", Json::object(), "fm-z").status, 200);
      const Json report = {{"by", "z"}, {"from", 1}, {"to", 1}, {"detail", true}};
      const Answer a = s.Post("/v1/reports/fiscal-memory", report, "fm-1");
      ASSERT_EQ(a.status, 200) << a.body.dump();
      EXPECT_EQ(a.body["ok"], true) << a.body.dump();
      EXPECT_EQ(a.body["calls"],
                Json::parse(R"([{"method":"FiscalMemoryReportByZ","result":true}])"));
      const std::string printed = joined();
      EXPECT_NE(printed.find("INFORME DE MEMORIA FISCAL"), std::string::npos) << printed;
      EXPECT_NE(printed.find("Z 0001"), std::string::npos) << printed;
      const Answer again = s.Post("/v1/reports/fiscal-memory", report, "fm-1");
      EXPECT_EQ(again.body, a.body);
      EXPECT_EQ(again.headers.find("Idempotent-Replay")->second, "true");
      EXPECT_EQ(joined(), printed);

      // An invoice left open: the report is refused unsent, and its key does not bind.
      Json invoice = servicetest::TicketSale("Pan");
      invoice["kind"] = "C";
      invoice["buyer"] = Json::object();
      invoice["items"].push_back(
          {{"description", "Vino"}, {"quantity", 1}, {"price", 3}, {"vat", 21}, {"cancel", true}});
      ASSERT_EQ(s.Post("/v1/sales", invoice, "fm-open").body["documentOpen"], true);
      const std::string before = joined();
      const Json byDate = {{"by", "date"}, {"from", "2026-01-01"}, {"to", "2099-12-31"}};
      const Answer refused = s.Post("/v1/reports/fiscal-memory", byDate, "fm-2");
      EXPECT_EQ(refused.status, 409) << refused.body.dump();
      EXPECT_EQ(ErrorCode(refused), "document_open");
      EXPECT_EQ(refused.body["retryable"], true);
      // On the line the status words tell only that a fiscal document is open.
      EXPECT_EQ(refused.body["printer"]["document"], serial ? "fiscal" : "invoice C");
      EXPECT_EQ(joined(), before);
      EXPECT_EQ(s.Get("/v1/journal/fm-2").body["state"], "retryable");
    }
  }
}

TEST_F(ServiceTest, AFailedTicketIsCancelledAndAFailedInvoiceReportedOpen) {
  // Taking back an item that was never sold is refused by the printer.
  Json ticket = servicetest::TicketSale("Pan");
  ticket["items"].push_back(
      {{"description", "Vino"}, {"quantity", 1}, {"price", 3}, {"vat", 21}, {"cancel", true}});
  const Answer t = s_->Post("/v1/sales", ticket, "bad-ticket");
  ASSERT_EQ(t.status, 200);
  EXPECT_FALSE(t.body["ok"].get<bool>());
  EXPECT_EQ(t.body["failedStep"], Json({{"entryPoint", "Cancela_ItGenerico"}, {"item", 1}}));
  EXPECT_TRUE(t.body["cancelled"].get<bool>());
  EXPECT_FALSE(t.body["documentOpen"].get<bool>());

  Json invoice = ticket;
  invoice["kind"] = "C";
  invoice["buyer"] = Json::object();
  const Answer i = s_->Post("/v1/sales", invoice, "bad-invoice");
  EXPECT_FALSE(i.body["ok"].get<bool>());
  EXPECT_FALSE(i.body["cancelled"].get<bool>());
  EXPECT_TRUE(i.body["documentOpen"].get<bool>());
  EXPECT_EQ(i.body["printer"]["document"], "invoice C");
}

// A withdrawal's False is the entry point's answer: done, through either endpoint.
TEST_F(ServiceTest, AWithdrawalIsDone) {
  const Json staff = servicetest::Staff();
  const Answer closing =
      s_->Post("/v1/closing", {{"withdrawal", true}, {"staff", staff}}, "withdrawal-task");
  ASSERT_EQ(closing.status, 200) << closing.body.dump();
  EXPECT_EQ(closing.body["ok"], true) << closing.body.dump();
  EXPECT_EQ(closing.body["reopen"], false);
  EXPECT_FALSE(closing.body.contains("reason")) << closing.body.dump();
  // Without the staff the driver shows its error: a failure, not an answer.
  const Answer failed = s_->Post("/v1/call/GeraReciboSangria",
                                 {{"boSangria", true}, {"boImpRelSan", true}}, "withdrawal-failed");
  const Answer call = s_->Post("/v1/call/GeraReciboSangria",
                               {{"boSangria", true}, {"boImpRelSan", true}, {"cdsOperSup", staff}},
                               "withdrawal-call");
  ASSERT_EQ(call.body["result"], false) << call.body.dump();
  const Json entries = s_->Get("/v1/journal").body["entries"];
  ASSERT_EQ(entries.size(), 3u) << entries.dump();
  EXPECT_EQ(entries[0]["answered"], "False") << entries[0].dump();
  EXPECT_FALSE(entries[1].contains("answered")) << entries[1].dump();
  EXPECT_EQ(entries[2]["ok"], true) << entries[2].dump();
}

// The last documents are the two series the printer numbers, a C invoice continuing the tickets.
TEST_F(ServiceTest, TheLastDocumentsAreThePrintersTwoSeries) {
  Json invoice = servicetest::TicketSale("Vino");
  invoice["kind"] = "C";
  invoice["buyer"] = Json::object();
  ASSERT_EQ(s_->Post("/v1/sales", servicetest::TicketSale("Pan"), "series-t").body["ok"], true);
  ASSERT_EQ(s_->Post("/v1/sales", invoice, "series-c").body["ok"], true);
  const Json printer = s_->Get("/v1/status").body["printer"];
  const Json last = printer["lastDocuments"];
  EXPECT_EQ(last, Json({{"ticket", "00000002"}, {"invoiceA", "00000000"}})) << last.dump();
  // The emulator answers as a fiscalised printer with paper on both rolls.
  EXPECT_EQ(printer["fiscalStatus"], "0600");
  EXPECT_EQ(printer["fiscalisation"], "fiscalised");
  EXPECT_EQ(printer["paper"], Json({{"journal", "ok"}, {"receipt", "ok"}}));
}

TEST_F(ServiceTest, EveryEntryPointAnswersWithItsArgumentsAndCapture) {
  const Answer open = s_->Post("/v1/call/AbreCupom",
                               Json::parse(R"({"Params":{"TIPOTICKET":"T","CUPNR":"7"}})"), "c-1");
  ASSERT_EQ(open.status, 200);
  EXPECT_EQ(open.body["result"], true);
  EXPECT_EQ(open.body["out"]["Params"]["CUPNR"], "7");
  EXPECT_EQ(open.body["log"][0].get<std::string>().substr(19), " - AbreCupom(OpenTicket) :T - G");

  // Raised before the guard: a 500 with the driver's message, nothing printed.
  const Answer raised =
      s_->Post("/v1/call/VendaItem", Json::parse(R"({"Params":{"QTDE":"two"}})"), "c-2");
  EXPECT_EQ(raised.status, 500);
  EXPECT_EQ(ErrorCode(raised), "driver_raised");
  EXPECT_NE(raised.body["error"]["message"].get<std::string>().find("two"), std::string::npos);

  // A question without an answer left is answered no and reported.
  const Answer q = s_->Post("/v1/call/GeraReciboSangria", Json::object(), "c-3");
  ASSERT_EQ(q.body["dialogs"].size(), 1u);
  EXPECT_EQ(q.body["dialogs"][0]["text"], "Deseja abrir o caixa?");
  EXPECT_EQ(q.body["dialogs"][0]["unanswered"], true);

  // The host's sale file travels in the body; the cancel reads it.
  const Answer cancel = s_->Post(
      "/v1/call/Cancela_Cupom_Imp",
      Json::parse(
          R"({"hostFiles":{"cdsVenda.cds":{"fields":[{"name":"VRPRECCOMVEN","type":"float"}],"rows":[[30.5]]}}})"),
      "c-4");
  EXPECT_EQ(cancel.body["result"], true) << cancel.body.dump();

  // Every other entry point, those that end the sale and the day last.
  const std::set<std::string> called = {"AbreCupom", "VendaItem", "Cancela_Cupom_Imp",
                                        "GeraReciboSangria"};
  const std::vector<std::string> last = {"FechaCupom", "Cancela_ItGenerico", "Reducao_Z_Imp"};
  std::vector<std::string> names;
  for (const char* name : testhost::kEntryPoints) {
    if (!called.count(name) && std::find(last.begin(), last.end(), name) == last.end())
      names.emplace_back(name);
  }
  names.insert(names.end(), last.begin(), last.end());
  int n = 10;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const Answer a = s_->Post("/v1/call/" + name, Json::object(), "each-" + std::to_string(++n));
    EXPECT_TRUE(a.status == 200 || ErrorCode(a) == "driver_raised") << a.body.dump();
    EXPECT_EQ(a.body["entryPoint"], name);
    EXPECT_TRUE(a.body["out"].is_object());
  }
  EXPECT_EQ(s_->Post("/v1/call/Codigo_Nacional_ECF", Json::object(), "ecf").body["result"],
            "000000");
}

TEST_F(ServiceTest, RefusesBadRequestsWithTheirCodes) {
  struct Case {
    const char* method;
    const char* path;
    const char* key;  // nullptr: no Idempotency-Key
    const char* body;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"POST", "/v1/sales", nullptr, "{}", 400, "missing_idempotency_key"},
      {"POST", "/v1/x", "with blank", "{}", 400, "bad_idempotency_key"},
      {"POST", "/v1/x", "k1", "{not json", 400, "bad_json"},
      {"POST", "/v1/x", "k2", "[]", 400, "bad_json"},
      {"POST", "/v1/x", "k3", R"({"scheme":1})", 400, "bad_field"},
      {"POST", "/v1/cash/supply", "k4", "{}", 400, "bad_field"},
      {"POST", "/v1/sales", "k5", R"({"kind":"T","items":[{"description":"✓"}]})", 400,
       "unencodable_text"},
      {"POST", "/v1/call/Initialize", "k6", "{}", 404, "unknown_entry_point"},
      {"POST", "/v1/call/abrecupom", "k7", "{}", 404, "unknown_entry_point"},
      {"GET", "/v1/call/AbreCupom", nullptr, "", 405, "method_not_allowed"},
      {"GET", "/v1/sales", nullptr, "", 405, "method_not_allowed"},
      {"POST", "/v1/status", "k8", "{}", 405, "method_not_allowed"},
      {"GET", "/v1/nothing", nullptr, "", 404, "not_found"},
      {"GET", "/v1/journal/unknown", nullptr, "", 404, "not_found"},
      {"POST", "/v1/journal/unknown/resolve", nullptr, R"({"printed":true})", 404, "not_found"},
      {"POST", "/v1/journal/unknown/resolve", nullptr, R"({"printed":1})", 400, "bad_field"},
      {"POST", "/v1/reports/fiscal-memory", "k9", R"({"from":1,"to":2})", 400, "bad_field"},
      {"POST", "/v1/reports/fiscal-memory", "k10", R"({"by":"z","from":3,"to":2})", 400,
       "bad_field"},
      {"POST", "/v1/reports/fiscal-memory", "k11", R"({"by":"z","from":1,"to":10000})", 400,
       "bad_field"},
      {"POST", "/v1/reports/fiscal-memory", "k12",
       R"({"by":"date","from":"2026-02-30","to":"2026-03-01"})", 400, "bad_field"},
      {"POST", "/v1/reports/fiscal-memory", "k13", R"({"by":"date","from":1,"to":2})", 400,
       "bad_field"},
      {"POST", "/v1/reports/fiscal-memory", "k14",
       R"({"by":"date","from":"2026-+1-01","to":"2026-12-01"})", 400, "bad_field"},
      {"GET", "/v1/reports/fiscal-memory", nullptr, "", 405, "method_not_allowed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + c.body);
    httplib::Headers h;
    if (c.key) h.emplace("Idempotency-Key", c.key);
    const Answer a = Send(*s_, c.method, c.path, c.body, h);
    EXPECT_EQ(a.status, c.status) << a.body.dump();
    EXPECT_EQ(ErrorCode(a), c.code) << a.body.dump();
  }
  // Nothing refused was journaled or printed.
  EXPECT_TRUE(s_->Get("/v1/journal").body["entries"].empty());
  EXPECT_EQ(PaperLines(*s_), 0u);
  // A refused key may be used again once the body is right.
  EXPECT_EQ(s_->Post("/v1/cash/supply", Json{{"amount", 1}}, "k4").status, 200);
}

// A printer on a serial line that never answers: every command takes 4 x 150 ms and fails.
class SilentPrinter {
 public:
  SilentPrinter() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master_);
    ::unlockpt(master_);
    pty_ = ::ptsname(master_);
  }
  ~SilentPrinter() { ::close(master_); }
  std::map<std::string, std::string> Env() const {
    return {{"FISCAL_PRINTER", "serial"},
            {"FISCAL_PRINTER_PORTS", "1=" + pty_},
            {"FISCAL_PRINTER_TIMEOUT_MS", "150"}};
  }

 private:
  int master_ = -1;
  std::string pty_;
};

TEST(ServiceQueue, AFullQueueAnswers503AndTheStatusNeverWaits) {
  TempDir dir;
  SilentPrinter printer;
  ServiceProcess s(dir.Path(), {"--queue", "1"}, printer.Env());
  std::vector<std::thread> clients;
  std::vector<int> statuses(6);
  for (int i = 0; i < 6; ++i) {
    clients.emplace_back([&, i] {
      statuses[static_cast<size_t>(i)] =
          s.Post("/v1/call/Estado_Imp", Json::object(), "q-" + std::to_string(i)).status;
    });
  }
  std::this_thread::sleep_for(200ms);
  const Answer status = s.Get("/v1/status");  // answered while the worker is stuck
  for (auto& c : clients) c.join();
  EXPECT_EQ(status.status, 200);
  EXPECT_TRUE(status.body["service"]["busy"].get<bool>());
  EXPECT_EQ(status.body["printer"]["backend"], "serial");
  int full = 0, raised = 0;
  for (int st : statuses) (st == 503 ? full : raised) += 1;
  EXPECT_GE(full, 1);
  EXPECT_GE(raised, 1);
  for (int i = 0; i < 6; ++i) {  // a refused request was not journaled: its key is free
    if (statuses[static_cast<size_t>(i)] == 503) {
      EXPECT_EQ(s.Get("/v1/journal/q-" + std::to_string(i)).status, 404);
    }
  }
  EXPECT_FALSE(s.Get("/v1/status").body["printer"]["reachable"].get<bool>());
}

TEST(ServiceCrash, ARequestCutByACrashIsInDoubtUntilTheTillResolvesIt) {
  TempDir dir;
  const Json sale = servicetest::TicketSale("Medialuna", 2.5);
  {
    // A printer busy for 300 ms before each reply: the sale is long under way when it is cut.
    TempDir printerDir;
    servicetest::PrinterProgram printer(printerDir.Path(), {"--busy", "1", "--busy-ms", "300"});
    ServiceProcess s(dir.Path(), {}, printer.Env());
    std::thread client([&] { s.Post("/v1/sales", sale, "cut"); });
    // Killed once the journal holds the sale as started: the printer is then being asked.
    for (int i = 0; i < 500; ++i) {
      if (s.Get("/v1/journal/cut").body.value("state", "") == "started") break;
      std::this_thread::sleep_for(10ms);
    }
    s.Kill();
    client.join();
  }
  // The earlier run's output names its port: gone before the next run writes its own.
  std::remove((dir.Path() + "/service-output.txt").c_str());
  ServiceProcess s(dir.Path());  // back, on the emulator
  const Answer doubt = s.Post("/v1/sales", sale, "cut");
  EXPECT_EQ(doubt.status, 409);
  EXPECT_EQ(ErrorCode(doubt), "in_doubt");
  EXPECT_EQ(doubt.body["printer"]["documentOpen"], false);
  EXPECT_EQ(doubt.body["journal"]["request"], sale);
  EXPECT_EQ(s.Get("/v1/status").body["inDoubt"], Json::array({"cut"}));
  EXPECT_EQ(PaperLines(s), 0u);  // never printed again by itself

  EXPECT_EQ(ErrorCode(s.Post("/v1/sales", servicetest::TicketSale("Otra"), "cut")),
            "idempotency_conflict");
  httplib::Client c("127.0.0.1", s.Port());
  auto r = c.Post("/v1/journal/cut/resolve", R"({"printed":false})", "application/json");
  servicetest::RecordAnswer("POST", "/v1/journal/cut/resolve", r);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200) << r->body;
  EXPECT_EQ(ErrorCode(s.Post("/v1/sales", sale, "cut")), "resolved");
  EXPECT_TRUE(s.Get("/v1/status").body["inDoubt"].empty());
  EXPECT_TRUE(s.Post("/v1/sales", sale, "next").body["ok"].get<bool>());
}

// A state folder on a nearly full disk: the deletion of old journal entries does not fit, the
// requests' entries do.
TEST(ServiceJournal, ANearlyFullDiskStartsOnTheJournalAsItIs) {
  servicetest::SmallDisk disk("512k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
  const std::string state = disk.Path() + "/state";
  std::filesystem::create_directory(state);
  {
    // Entries of long ago, kept by the first start and due for deletion at the next ones.
    std::ofstream out(state + "/journal.jsonl");
    const std::string pad(2000, 'x');
    for (int i = 0; i < 40; ++i) {
      const std::string key = "old-" + std::to_string(i);
      out << Json{{"key", key},         {"hash", "h"},
                  {"path", "/v1/x"},    {"request", {{"pad", pad}}},
                  {"state", "started"}, {"ts", 1}}
                 .dump()
          << "\n"
          << Json{{"key", key},
                  {"hash", "h"},
                  {"state", "done"},
                  {"status", 200},
                  {"answer", Json::object()},
                  {"ts", 1}}
                 .dump()
          << "\n";
    }
  }
  ServiceProcess(state, {"--journal-days", "36500"}).Stop();
  std::filesystem::remove(state + "/journal.jsonl.imported");
  {
    // The disk filled up to the last 48 KiB.
    std::ofstream filler(disk.Path() + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
  }
  std::filesystem::resize_file(disk.Path() + "/filler",
                               std::filesystem::file_size(disk.Path() + "/filler") - 48 * 1024);
  {
    ServiceProcess s(state);
    EXPECT_EQ(s.Get("/v1/journal/old-0").status, 200);
    const Answer x = s.Post("/v1/x", Json::object(), "full-disk-x");
    EXPECT_EQ(x.status, 200) << x.body.dump();
  }
  bool warned = false;  // the deletion did not fit, and the service said so
  for (const auto& l : servicetest::FileLines(state + "/service-output.txt")) {
    warned = warned || l.find("old journal entries are not deleted") != std::string::npos;
  }
  EXPECT_TRUE(warned);
  ServiceProcess again(state);
  EXPECT_EQ(again.Get("/v1/journal/full-disk-x").body["state"], "done");
  EXPECT_EQ(again.Get("/v1/journal/old-0").status, 200);
  again.Stop();
}

TEST(ServiceSecurity, TokenOriginsAndBodyLimit) {
  TempDir dir;
  const std::string tokenFile = dir.Path() + "/token";
  std::ofstream(tokenFile) << "s3cret\n";
  ServiceProcess s(dir.Path(), {"--token-file", tokenFile, "--allow-origin",
                                "http://localhost:8080", "--max-body", "300"});
  const httplib::Headers token = {{"Authorization", "Bearer s3cret"}};
  EXPECT_EQ(Send(s, "GET", "/v1/status", "", {}).status, 401);
  EXPECT_EQ(Send(s, "GET", "/v1/status", "", {{"Authorization", "Bearer s3cre"}}).status, 401);
  EXPECT_EQ(Send(s, "GET", "/v1/status", "", token).status, 200);
  EXPECT_EQ(Send(s, "GET", "/", "", {}).status, 200);  // the page holds no data

  httplib::Headers allowed = token;
  allowed.emplace("Origin", "http://localhost:8080");
  const Answer ok = Send(s, "GET", "/v1/status", "", allowed);
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.headers.find("Access-Control-Allow-Origin")->second, "http://localhost:8080");
  const Answer pre = Send(s, "OPTIONS", "/v1/sales", "", {{"Origin", "http://localhost:8080"}});
  EXPECT_EQ(pre.status, 204);
  EXPECT_NE(pre.headers.find("Access-Control-Allow-Headers")->second.find("Idempotency-Key"),
            std::string::npos);
  httplib::Headers foreign = token;
  foreign.emplace("Origin", "http://localhost:8081");
  foreign.emplace("Idempotency-Key", "from-elsewhere");
  EXPECT_EQ(ErrorCode(Send(s, "POST", "/v1/x", "{}", foreign)), "origin_not_allowed");

  httplib::Headers big = token;
  big.emplace("Idempotency-Key", "big");
  const Answer tooLarge =
      Send(s, "POST", "/v1/x", "{\"scheme\":\"" + std::string(400, 'a') + "\"}", big);
  EXPECT_EQ(tooLarge.status, 413);
  EXPECT_EQ(ErrorCode(tooLarge), "too_large");
}

TEST(ServiceSecurity, AnyOtherAddressNeedsAToken) {
  TempDir dir;
  const auto run = servicetest::Shell(std::string(FISCAL_PRINTD_PATH) +
                                      " --listen 0.0.0.0:0 --state " + dir.Path());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("--token-file"), std::string::npos);
}

TEST_F(ServiceTest, ThePythonClientSellsRepeatsAndReadsTheStatus) {
  const std::string client = std::string("PYTHONPATH=") + FISCAL_PRINTD_CLIENT +
                             " python3 -B -m fiscal_printd --url " + s_->Url();
  const std::string sale = "'" + servicetest::TicketSale("Café").dump() + "'";
  const auto first = servicetest::Shell(client + " --key py-1 sale " + sale);
  ASSERT_EQ(first.exitCode, 0) << first.output;
  EXPECT_NE(first.output.find("\"ok\": true"), std::string::npos) << first.output;
  const auto again = servicetest::Shell(client + " --key py-1 sale " + sale);
  EXPECT_NE(again.output.find("replayed"), std::string::npos) << again.output;
  const auto bad = servicetest::Shell(client + " --key py-2 sale '{\"kind\":\"X\"}'");
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.output.find("bad_field"), std::string::npos);
  const auto status = servicetest::Shell(client + " status");
  EXPECT_NE(status.output.find("\"lastDocumentNumber\": \"00000001\""), std::string::npos)
      << status.output;
}

}  // namespace
