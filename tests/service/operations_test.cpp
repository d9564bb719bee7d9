// SPDX-License-Identifier: Apache-2.0
// What the service tells those who run it: its log lines, the deletion of old driver logs, the
// metrics (checked with promtool after a day of sales), and the health and readiness answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "printer/status.h"
#include "service/journal.h"
#include "service/log.h"
#include "service/log_retention.h"
#include "service/metrics.h"
#include "service/operations.h"
#include "service/routes.h"
#include "tests/service/service_process.h"

namespace {

using namespace servicetest;
using namespace std::chrono_literals;

std::string Output(const TempDir& state) {
  std::string all;
  for (const auto& line : FileLines(state.Path() + "/service-output.txt")) all += line + "\n";
  return all;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ServiceLog, LinesCarryTheJournalsPriorityOrTheTimeAndLevel) {
  EXPECT_EQ(fpd::FormatLogLine(fpd::LogLevel::Error, "a\nb", true), "<3>a b\n");
  EXPECT_EQ(fpd::FormatLogLine(fpd::LogLevel::Warn, "w", true), "<4>w\n");
  EXPECT_EQ(fpd::FormatLogLine(fpd::LogLevel::Info, "i", true), "<6>i\n");
  EXPECT_EQ(fpd::FormatLogLine(fpd::LogLevel::Debug, "d", true), "<7>d\n");
  const std::string plain = fpd::FormatLogLine(fpd::LogLevel::Warn, "w", false);
  EXPECT_EQ(plain.substr(19), " warn: w\n") << plain;  // after YYYY-MM-DDTHH:MM:SS
  EXPECT_FALSE(fpd::ParseLogLevel("verbose"));
  EXPECT_EQ(fpd::ParseLogLevel("debug"), fpd::LogLevel::Debug);
  EXPECT_EQ(fpd::LogValue("sale-1"), "sale-1");
  EXPECT_EQ(fpd::LogValue(""), "\"\"");
  EXPECT_EQ(fpd::LogValue("a \"b\""), "\"a \\\"b\\\"\"");

  // Standard error is the journal's stream only when JOURNAL_STREAM names its device and inode.
  struct stat st {};
  ASSERT_EQ(::fstat(STDERR_FILENO, &st), 0);
  const std::string mine = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  ::setenv("JOURNAL_STREAM", mine.c_str(), 1);
  EXPECT_TRUE(fpd::StderrIsJournal());
  ::setenv("JOURNAL_STREAM", (mine + "1").c_str(), 1);
  EXPECT_FALSE(fpd::StderrIsJournal());
  ::unsetenv("JOURNAL_STREAM");
  EXPECT_FALSE(fpd::StderrIsJournal());
}

TEST(DriverLogRetention, DeletesTheMonthsBeyondTheLimitOnly) {
  TempDir dir;
  const struct {
    const char* name;
    bool kept;
  } files[] = {
      {"impdebug1226.txt", true},   // this month
      {"impdebug1125.txt", true},   // 13 months before
      {"impdebug1025.txt", false},  // 14 months before
      {"impdebug0199.txt", false},  // last century
      {"impdebug0127.txt", true},   // next year: a clock set back keeps it
      {"impdebug1326.txt", true},   // no such month: not a driver log
      {"impdebug1025.txt.bak", true}, {"journal.jsonl", true},
  };
  for (const auto& f : files) std::ofstream(dir.Path() + "/" + f.name) << "x";
  const auto deleted = fpd::DeleteOldDriverLogs(dir.Path(), 13, 2026, 12);
  EXPECT_EQ(deleted.size(), 2u);
  for (const auto& f : files) {
    EXPECT_EQ(std::filesystem::exists(dir.Path() + "/" + f.name), f.kept) << f.name;
  }
}

TEST(ServiceMetrics, EndpointsAreRoutesNotRawPaths) {
  EXPECT_EQ(fpd::EndpointLabel("/v1/sales"), "/v1/sales");
  EXPECT_EQ(fpd::EndpointLabel("/v1/call/AbreCupom"), "/v1/call/AbreCupom");
  EXPECT_EQ(fpd::EndpointLabel("/v1/call/abrecupom"), "/v1/call/{unknown}");
  EXPECT_EQ(fpd::EndpointLabel("/v1/journal/till3-1"), "/v1/journal/{key}");
  EXPECT_EQ(fpd::EndpointLabel("/v1/journal/till3-1/resolve"), "/v1/journal/{key}/resolve");
  EXPECT_EQ(fpd::EndpointLabel("/v1/journal/a/b"), "other");
  EXPECT_EQ(fpd::EndpointLabel("/etc/passwd"), "other");
}

// Each warning of the printer is a series of its own: paper low from a roll's paper, the others
// from their status bits; each roll's paper and the fiscalisation have a series per state.
TEST(ServiceMetrics, EachPrinterWarningHasItsOwnSeries) {
  const struct {
    const char* series;
    plat::PaperState receipt;
    uint16_t fiscalWord;
  } warnings[] = {
      {"paper_low", plat::PaperState::Low, 0},
      {"battery_low", plat::PaperState::Ok, plat::status::kBatteryLow},
      {"fiscal_memory_almost_full", plat::PaperState::Ok, plat::status::kFiscalMemoryAlmostFull},
  };
  for (const auto& w : warnings) {
    fpd::Gauges g;
    g.Printer.Reachable = true;
    g.Printer.Journal = plat::PaperState::Ok;
    g.Printer.Receipt = w.receipt;
    g.Printer.PrinterStatus = 0;
    g.Printer.FiscalStatus = w.fiscalWord;
    g.Printer.Fiscal = plat::Fiscalisation::Training;
    const std::string text = fpd::Metrics().Render(g);
    for (const auto& other : warnings) {
      const std::string line = "fiscal_printd_printer_" + std::string(other.series) +
                               (other.series == w.series ? " 1\n" : " 0\n");
      EXPECT_NE(text.find(line), std::string::npos) << w.series << ": " << line;
    }
    const bool low = std::string(w.series) == "paper_low";
    for (const std::string& line :
         {std::string("fiscal_printd_printer_paper{roll=\"receipt\",state=\"low\"} ") +
              (low ? "1" : "0"),
          std::string("fiscal_printd_printer_paper{roll=\"journal\",state=\"ok\"} 1"),
          std::string("fiscal_printd_printer_fiscalisation{state=\"training\"} 1"),
          std::string("fiscal_printd_printer_fiscalisation{state=\"fiscalised\"} 0")})
      EXPECT_NE(text.find(line + "\n"), std::string::npos) << w.series << ": " << line;
  }
  // A printer that never answered shows no paper or fiscalisation series at all.
  const std::string unknown = fpd::Metrics().Render(fpd::Gauges{});
  EXPECT_EQ(unknown.find("fiscal_printd_printer_paper{"), std::string::npos) << unknown;
  EXPECT_EQ(unknown.find("fiscal_printd_printer_fiscalisation{"), std::string::npos) << unknown;
}

// What left a key in doubt is said as it is, at start and when the key is asked again.
TEST(ServiceOperations, AKeyInDoubtSaysWhatLeftItSo) {
  TempDir state;
  {
    fpd::Journal j(fpd::JournalOptions{state.Path(), 30, false, 0});
    for (const char* key : {"link-doubt", "cut"}) {
      j.Claim(fpd::kLocalTill, key, fpd::RequestHash("/v1/x", Json::object()), "/v1/x",
              Json::object(), nullptr);
      j.Started(fpd::kLocalTill, key);
    }
    j.FinishedInDoubt(fpd::kLocalTill, "link-doubt", 409, Json{{"ok", false}});
  }
  const struct {
    const char* key;
    const char* why;
  } cases[] = {{"link-doubt", "the printer link could not tell"},
               {"cut",
                "the service stopped while this request was being printed, or could not "
                "record its outcome"}};
  ServiceProcess s(state.Path());
  for (const auto& c : cases) {
    const Answer again = s.Post("/v1/x", Json::object(), c.key);
    EXPECT_EQ(again.status, 409);
    EXPECT_NE(again.body["error"]["message"].get<std::string>().find(c.why), std::string::npos)
        << again.body.dump();
    EXPECT_NE(Output(state).find("key in doubt key=" + std::string(c.key) + ": " + c.why),
              std::string::npos)
        << Output(state);
  }
}

Json CashSupply(double amount) {
  return Json{{"amount", amount}};
}

// A day of sales: a supply, a ticket, an invoice A for a named buyer, a refused body, an X and
// a Z; then the metrics, the health answers and the log.
TEST(ServiceOperations, ADayShowsInTheMetricsAndTheLogWithoutBuyerData) {
  TempDir state;
  std::ofstream(state.Path() + "/impdebug0120.txt") << "an old month\n";
  Answer metrics;
  {
    ServiceProcess s(state.Path());
    ASSERT_EQ(s.Post("/v1/cash/supply", CashSupply(100), "day-supply").status, 200);
    ASSERT_EQ(s.Post("/v1/sales", TicketSale("Cafe"), "day-ticket").status, 200);
    ASSERT_EQ(s.Post("/v1/sales", TicketSale("Cafe"), "day-ticket").status, 200);  // a replay
    Json invoice = TicketSale("Vino", 121);
    invoice["kind"] = "A";
    invoice["buyer"] = {{"name", "Peña y Cía S.A."},
                        {"vatCondition", "Responsable Inscripto"},
                        {"documentType", "C"},
                        {"documentNumber", "30712345679"}};
    const Answer a = s.Post("/v1/sales", invoice, "day-invoice");
    ASSERT_EQ(a.status, 200) << a.body.dump();
    ASSERT_TRUE(a.body["ok"].get<bool>()) << a.body.dump();
    EXPECT_EQ(s.Post("/v1/sales", Json{{"kind", "X"}}, "day-bad").status, 400);
    ASSERT_EQ(s.Post("/v1/x", Json::object(), "day-x").status, 200);
    ASSERT_EQ(s.Post("/v1/z", Json::object(), "day-z").status, 200);

    // A ticket left open shows in the log once the printer is asked again.
    ASSERT_EQ(s.Post("/v1/call/AbreCupom", Json{{"Params", {{"TIPOTICKET", "T"}}}}, "day-open")
                  .body["result"],
              true);
    for (int i = 0; i < 100 && s.Get("/v1/status").body["printer"]["document"] != "ticket"; ++i)
      std::this_thread::sleep_for(100ms);

    EXPECT_EQ(s.Get("/healthz").status, 200);
    Answer ready;
    for (int i = 0; i < 100 && ready.status != 200; ++i) {
      ready = s.Get("/readyz");
      if (ready.status != 200) std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(ready.status, 200) << ready.body.dump();
    metrics = s.Get("/metrics");
    // A sale the printer refuses while the till holds its ticket: the log says why.
    EXPECT_EQ(s.Post("/v1/sales", TicketSale("Otra"), "day-refused").body["ok"], false);
    EXPECT_EQ(s.Get("/v1/openapi.json").body["openapi"], "3.1.0");
    const Answer js = s.Get("/v1/client.js");
    EXPECT_NE(js.headers.find("Content-Type")->second.find("javascript"), std::string::npos);
  }
  ASSERT_EQ(metrics.status, 200);
  const std::string text = metrics.body.get<std::string>();
  for (const char* line : {
           "fiscal_printd_documents_printed_total{kind=\"ticket\"} 1\n",
           "fiscal_printd_documents_printed_total{kind=\"invoice_a\"} 1\n",
           "fiscal_printd_documents_printed_total{kind=\"invoice_c\"} 0\n",
           "fiscal_printd_documents_printed_total{kind=\"non_fiscal\"} 1\n",
           "fiscal_printd_documents_printed_total{kind=\"x\"} 1\n",
           "fiscal_printd_documents_printed_total{kind=\"z\"} 1\n",
           "fiscal_printd_http_requests_total{endpoint=\"/v1/sales\",code=\"200\"} 3\n",
           "fiscal_printd_http_requests_total{endpoint=\"/v1/sales\",code=\"400\"} 1\n",
           "fiscal_printd_printer_reachable 1\n",
           "fiscal_printd_keys_in_doubt 0\n",
           "fiscal_printd_journal_entries 6\n",
           "fiscal_printd_printer_document_open 1\n",
           "fiscal_printd_http_request_duration_seconds_count{endpoint=\"/v1/z\"} 1\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  if (::access("/usr/bin/promtool", X_OK) == 0) {
    const std::string file = state.Path() + "/metrics.txt";
    std::ofstream(file) << text;
    const ShellRun check = Shell("/usr/bin/promtool check metrics < '" + file + "'");
    EXPECT_EQ(check.exitCode, 0) << check.output;
  } else {
    std::printf(
        "promtool is not installed (Debian package prometheus): the format is not "
        "checked\n");
  }

  const std::string log = Output(state);
  EXPECT_NE(log.find("info: started fiscal-printd "), std::string::npos) << log;
  EXPECT_NE(log.find(" backend=emulator"), std::string::npos) << log;
  EXPECT_NE(log.find("info: stopped fiscal-printd"), std::string::npos) << log;
  EXPECT_NE(log.find("request key=day-invoice op=sales status=200 outcome=ok duration="),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("request key=day-ticket op=sales status=200 outcome=ok"), std::string::npos);
  EXPECT_NE(log.find("replayed=true"), std::string::npos) << log;
  EXPECT_NE(log.find("warn: request key=day-bad op=sales status=400 outcome=bad_field duration="),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("request key=day-refused op=sales status=200 outcome=not_printed"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("retryable=true reason=\"the printer refused OpenTicket"), std::string::npos)
      << log;
  EXPECT_EQ(Count(log, "printer reachable"), 1u) << log;  // once per change, not per query
  EXPECT_NE(log.find("printer document open: ticket"), std::string::npos) << log;
  EXPECT_NE(log.find("deleted the driver log impdebug0120.txt"), std::string::npos) << log;
  EXPECT_FALSE(std::filesystem::exists(state.Path() + "/impdebug0120.txt"));
  EXPECT_EQ(log.find("Peña"), std::string::npos) << log;  // buyers are personal data
  EXPECT_EQ(log.find("30712345679"), std::string::npos) << log;
}

TEST(ServiceOperations, APrinterThatDoesNotAnswerIsNotReady) {
  TempDir state;
  ServiceProcess s(state.Path(), {"--log-level", "debug", "--status-interval", "1"},
                   {{"FISCAL_PRINTER", "serial"},
                    {"FISCAL_PRINTER_PORTS", "1=" + state.Path() + "/no-such-device"},
                    {"FISCAL_PRINTER_TIMEOUT_MS", "100"}});
  Answer ready;
  for (int i = 0; i < 100; ++i) {
    ready = s.Get("/readyz");
    if (ready.status == 503 && s.Get("/v1/status").body["printer"]["checkedAt"].is_string()) break;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(ready.status, 503);
  EXPECT_FALSE(ready.body["reason"].get<std::string>().empty());
  EXPECT_EQ(s.Get("/healthz").status, 200);  // the process itself answers
  EXPECT_NE(s.Get("/metrics").body.get<std::string>().find("fiscal_printd_printer_reachable 0\n"),
            std::string::npos);
  s.Post("/v1/x", Json{{"scheme", "azul"}}, "offline-x");
  s.Stop();
  const std::string log = Output(state);
  EXPECT_EQ(Count(log, "error: printer offline"), 1u) << log;
  EXPECT_NE(log.find("debug: request key=offline-x body={\"scheme\":\"azul\"}"), std::string::npos)
      << log;
}

TEST(ServiceOperations, TellsTheServiceManagerWhenItServesAndWhenItStops) {
  TempDir state;
  const std::string path = state.Path() + "/notify.sock";
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
  timeval wait{60, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  const auto next = [fd] {
    char buf[256];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("<nothing>");
  };
  ServiceProcess s(state.Path(), {}, {{"NOTIFY_SOCKET", path}});
  EXPECT_EQ(next().rfind("READY=1\nSTATUS=serving on http://127.0.0.1:", 0), 0u);
  s.Stop();
  EXPECT_EQ(next(), "STOPPING=1");
  ::close(fd);
}

}  // namespace
