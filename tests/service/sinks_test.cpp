// SPDX-License-Identifier: Apache-2.0
// The sinks of the pipeline's events: the log lines and the metrics each event makes, and which
// changes of the printer's state make an event at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/log_sink.h"
#include "service/metrics_sink.h"
#include "service/printer_view.h"

namespace {

using fpd::JobEvent;
using K = JobEvent::Kind;

// The lines the sink writes for the events, without their time stamps.
std::string Logged(fpd::EventSink& sink, const std::vector<fpd::Event>& events) {
  testing::internal::CaptureStderr();
  for (const auto& e : events) sink.On(e);
  return testing::internal::GetCapturedStderr();
}

JobEvent Job(K what, std::string key, std::string path, int status, std::string code = "",
             std::string message = "") {
  JobEvent e;
  e.What = what;
  e.Key = std::move(key);
  e.Path = std::move(path);
  e.Status = status;
  e.Seconds = 0.25;
  e.Code = std::move(code);
  e.Message = std::move(message);
  return e;
}

TEST(LogSink, EachJobsEndIsOneLineWithItsOutcomeAndTill) {
  JobEvent replay = Job(K::Done, "k2", "/v1/sales", 200);
  replay.Till = "till 2";
  replay.Replayed = true;
  JobEvent notPrinted =
      Job(K::Failed, "k3", "/v1/sales", 200, "", "the printer refused OpenTicket: paper low");
  notPrinted.Retryable = true;
  const struct {
    JobEvent event;
    std::vector<std::string> lines;  // each must show; "!" first: must not
  } cases[] = {
      {Job(K::Done, "k1", "/v1/sales", 200),
       {"info: request key=k1 op=sales status=200 outcome=ok duration=0.250s\n", "!till="}},
      {replay,
       {"request key=k2 till=\"till 2\" op=sales status=200 outcome=ok duration=0.250s "
        "replayed=true\n"}},
      {notPrinted,
       {"warn: request key=k3 op=sales status=200 outcome=not_printed duration=0.250s "
        "retryable=true reason=\"the printer refused OpenTicket: paper low\"\n"}},
      {Job(K::Failed, "k4", "/v1/call/AbreCupom", 200, "refused", "no paper"),
       {"warn: request key=k4 op=AbreCupom status=200 outcome=refused", "reason=\"no paper\""}},
      {Job(K::Refused, "k5", "/v1/sales", 400, "bad_field", "kind: expected T, A, B or C"),
       {"warn: request key=k5 op=sales status=400 outcome=bad_field"}},
      {Job(K::Failed, "k6", "/v1/z", 500, "journal_failed",
           "disk full; its outcome is not recorded"),
       {"error: request key=k6 op=z status=500 outcome=journal_failed",
        "error: key in doubt key=k6: it ran, but its outcome could not be recorded in the "
        "journal\n"}},
      {Job(K::Failed, "k7", "/v1/z", 500, "journal_failed", "disk full; nothing was printed"),
       {"error: request key=k7", "!key in doubt"}},
      {Job(K::InDoubt, "k8", "/v1/x", 409, "in_doubt", "the link could not tell"),
       {"warn: request key=k8 op=x status=409 outcome=in_doubt",
        "warn: key in doubt key=k8: the link could not tell; the till resolves it\n"}},
      {Job(K::Refused, "k9", "/v1/x", 409, "in_doubt", "still in doubt"),
       {"warn: key in doubt key=k9 asked again; the till resolves it\n"}},
      {Job(K::Resolved, "k10", "/v1/x", 200, "", "printed"), {"!resolved"}},  // HTTP logs it
  };
  for (const auto& c : cases) {
    fpd::LogSink sink;
    const std::string out = Logged(sink, {c.event});
    for (const auto& line : c.lines) {
      if (line[0] == '!') {
        EXPECT_EQ(out.find(line.substr(1)), std::string::npos) << c.event.Key << ": " << out;
      } else {
        EXPECT_NE(out.find(line), std::string::npos) << c.event.Key << ": " << line << "\n" << out;
      }
    }
  }
}

fpd::PrinterView Answered(plat::PaperState journal, plat::PaperState receipt,
                          plat::Fiscalisation fiscal, std::optional<std::string> document = {}) {
  fpd::PrinterView v;
  v.Reachable = true;
  v.CheckedAt = "2026-12-09T10:00:00";
  v.Journal = journal;
  v.Receipt = receipt;
  v.Fiscal = fiscal;
  v.DocumentOpen = document.has_value();
  v.Document = std::move(document);
  return v;
}

// The printer's state changes in a row, and the lines each makes: none that a printer which
// does not answer cannot know (its paper, fiscalisation or document).
TEST(LogSink, APrinterStateChangeIsLoggedOnceAndOnlyWhenKnown) {
  using P = plat::PaperState;
  using F = plat::Fiscalisation;
  fpd::PrinterView offline;
  offline.Reachable = false;
  offline.Error = "no answer";
  const struct {
    fpd::PrinterView after;
    std::string lines;
  } steps[] = {
      {Answered(P::Ok, P::Ok, F::Fiscalised), "info: printer reachable\n"},
      {Answered(P::Ok, P::Low, F::Fiscalised), "warn: printer receipt roll paper low\n"},
      {offline, "error: printer offline: \"no answer\"\n"},
      {Answered(P::Ok, P::Ok, F::Training, "ticket"),
       "info: printer reachable\ninfo: printer receipt roll paper no longer low\n"
       "warn: printer fiscalisation: training\ninfo: printer document open: ticket\n"},
      {Answered(P::Out, P::Out, F::Training, "ticket"), "error: printer out of paper\n"},
      {Answered(P::Ok, P::Ok, F::Fiscalised),
       "info: printer has paper again\ninfo: printer fiscalisation: fiscalised\n"
       "info: printer document closed\n"},
  };
  fpd::LogSink sink;
  fpd::PrinterView before;
  int n = 0;
  for (const auto& s : steps) {
    std::string out = Logged(sink, {fpd::PrinterChanged{before, s.after}});
    // Lines start with the time: keep "level: text".
    std::string plain;
    for (size_t at = 0; at < out.size();) {
      const size_t end = out.find('\n', at);
      plain += out.substr(at + 20, end - at - 20 + 1);
      at = end + 1;
    }
    EXPECT_EQ(plain, s.lines) << "step " << n++;
    before = s.after;
  }
}

TEST(MetricsSink, CountsJobsAndTheirDocumentsByTillButNoReplay) {
  fpd::Metrics metrics;
  fpd::MetricsSink sink(metrics);
  JobEvent ticket = Job(K::Done, "a", "/v1/sales", 200);
  ticket.Printed = {"ticket"};
  JobEvent invoice = Job(K::Done, "a", "/v1/sales", 200);
  invoice.Till = "till-2";
  invoice.Printed = {"invoice_a", "no-such-kind"};
  JobEvent replay = ticket;
  replay.Replayed = true;
  JobEvent notPrinted = Job(K::Failed, "b", "/v1/sales", 200);
  notPrinted.Retryable = true;
  for (const auto& e : {ticket, invoice, replay, notPrinted, Job(K::Started, "c", "/v1/x", 0)})
    sink.On(e);
  EXPECT_EQ(metrics.PrintedCount("ticket"), 1u);
  EXPECT_EQ(metrics.PrintedCount("invoice_a"), 0u);
  EXPECT_EQ(metrics.PrintedCount("invoice_a", "till-2"), 1u);
  EXPECT_EQ(metrics.PrintedCount("other", "till-2"), 1u);
  const std::string text = metrics.Render(fpd::Gauges{});
  for (const char* line : {
           "fiscal_printd_documents_printed_total{kind=\"ticket\"} 1\n",
           "fiscal_printd_documents_printed_total{kind=\"invoice_a\",till=\"till-2\"} 1\n",
           "fiscal_printd_jobs_total{operation=\"sales\",outcome=\"ok\"} 2\n",
           "fiscal_printd_jobs_total{operation=\"sales\",outcome=\"ok\",till=\"till-2\"} 1\n",
           "fiscal_printd_jobs_total{operation=\"sales\",outcome=\"not_printed\"} 1\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  EXPECT_EQ(text.find("operation=\"x\""), std::string::npos) << text;  // a start ends nothing
}

// Only what the view shows of the printer's state makes an event, never a new query time or
// document number.
TEST(PrinterView, OnlyAStateThatShowsDifferentlyIsAChange) {
  fpd::PrinterView base =
      Answered(plat::PaperState::Ok, plat::PaperState::Ok, plat::Fiscalisation::Fiscalised);
  const struct {
    const char* what;
    void (*change)(fpd::PrinterView&);
    bool changed;
  } cases[] = {
      {"query time", [](fpd::PrinterView& v) { v.CheckedAt = "2026-12-09T10:00:05"; }, false},
      {"document number", [](fpd::PrinterView& v) { v.LastDocumentNumber = "00000002"; }, false},
      {"reachable", [](fpd::PrinterView& v) { v.Reachable = false; }, true},
      {"document", [](fpd::PrinterView& v) { v.Document = "invoice A"; }, true},
      {"receipt paper", [](fpd::PrinterView& v) { v.Receipt = plat::PaperState::Low; }, true},
      {"fiscalisation", [](fpd::PrinterView& v) { v.Fiscal.reset(); }, true},
      {"error", [](fpd::PrinterView& v) { v.Error = "timeout"; }, true},
  };
  for (const auto& c : cases) {
    fpd::PrinterView after = base;
    c.change(after);
    EXPECT_EQ(fpd::StateChanged(base, after), c.changed) << c.what;
  }
}

}  // namespace
