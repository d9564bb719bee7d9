// SPDX-License-Identifier: Apache-2.0
#include "metrics.h"

#include <cstdio>
#include <sstream>

#include "printer/status.h"

namespace fpd {

namespace {

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

void Family(std::ostringstream& out, const char* name, const char* type, const char* help) {
  out << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
}

void Gauge(std::ostringstream& out, const char* name, const char* help, double v) {
  Family(out, name, "gauge", help);
  out << name << " " << Number(v) << "\n";
}

// The till's label after others, none for the local till.
std::string TillLabel(const std::string& till) {
  return till.empty() ? std::string() : ",till=\"" + LabelValue(till) + "\"";
}

}  // namespace

std::string LabelValue(const std::string& v) {
  std::string out;
  for (const char c : v) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

Metrics::Metrics() {
  for (const char* k : kDocumentKinds) printed_[{"", k}] = 0;
}

void Metrics::Request(const std::string& endpoint, int status, double seconds) {
  std::lock_guard lock(mu_);
  ++requests_[{endpoint, status}];
  Histogram& h = durations_[endpoint];
  for (size_t i = 0; i < kBuckets.size(); ++i) {
    if (seconds <= kBuckets[i]) ++h.Counts[i];
  }
  ++h.Count;
  h.Sum += seconds;
}

void Metrics::Printed(const std::string& kind, const std::string& till) {
  bool known = false;
  for (const char* k : kDocumentKinds) known = known || kind == k;
  std::lock_guard lock(mu_);
  ++printed_[{till, known ? kind : "other"}];
}

uint64_t Metrics::PrintedCount(const std::string& kind, const std::string& till) const {
  std::lock_guard lock(mu_);
  const auto it = printed_.find({till, kind});
  return it == printed_.end() ? 0 : it->second;
}

void Metrics::Job(const std::string& operation, const std::string& outcome,
                  const std::string& till) {
  std::lock_guard lock(mu_);
  ++jobs_[{operation, outcome, till}];
}

std::string Metrics::Render(const Gauges& g) const {
  std::ostringstream out;
  const PrinterView& p = g.Printer;
  Family(out, "fiscal_printd_build_info", "gauge", "The service's version (always 1).");
  out << "fiscal_printd_build_info{version=\"" << LabelValue(g.Version) << "\"} 1\n";
  Gauge(out, "fiscal_printd_ready", "1 when the driver is started and the printer answers.",
        g.Ready ? 1 : 0);
  Gauge(out, "fiscal_printd_printer_reachable",
        "1 when the printer answered the last status query.", p.Reachable == true ? 1 : 0);
  Gauge(out, "fiscal_printd_printer_paper_out", "1 when the printer reports its roll out of paper.",
        p.PaperOut() ? 1 : 0);
  // The printer's warnings, one series each: the printer runs, but needs attention soon.
  Gauge(out, "fiscal_printd_printer_paper_low",
        "1 when the printer reports the paper of a roll low (no document can be opened).",
        p.PaperLow() ? 1 : 0);
  Family(out, "fiscal_printd_printer_paper", "gauge",
         "1 for the state of each roll's paper: ok, low or out.");
  for (const auto& [roll, state] : {std::pair{"journal", p.Journal}, {"receipt", p.Receipt}}) {
    if (!state) continue;
    for (const auto v : {plat::PaperState::Ok, plat::PaperState::Low, plat::PaperState::Out})
      out << "fiscal_printd_printer_paper{roll=\"" << roll << "\",state=\"" << plat::Name(v)
          << "\"} " << (*state == v ? 1 : 0) << "\n";
  }
  Family(out, "fiscal_printd_printer_fiscalisation", "gauge",
         "1 for the printer's fiscalisation: not-certified, training, de-fiscalised, fiscalised.");
  if (p.Fiscal) {
    for (const auto v : {plat::Fiscalisation::NotCertified, plat::Fiscalisation::Training,
                         plat::Fiscalisation::Defiscalised, plat::Fiscalisation::Fiscalised})
      out << "fiscal_printd_printer_fiscalisation{state=\"" << plat::Name(v) << "\"} "
          << (*p.Fiscal == v ? 1 : 0) << "\n";
  }
  Gauge(out, "fiscal_printd_printer_battery_low", "1 when the printer reports its battery low.",
        p.BatteryLow() ? 1 : 0);
  Gauge(out, "fiscal_printd_printer_fiscal_memory_almost_full",
        "1 when the printer reports its fiscal memory almost full.",
        p.FiscalMemoryAlmostFull() ? 1 : 0);
  Gauge(out, "fiscal_printd_printer_document_open", "1 when the printer reports a document open.",
        p.DocumentOpen == true ? 1 : 0);
  Family(out, "fiscal_printd_printer_status_word", "gauge",
         "The status words of the last answered status query.");
  if (p.PrinterStatus)
    out << "fiscal_printd_printer_status_word{word=\"printer\"} " << *p.PrinterStatus << "\n";
  if (p.FiscalStatus)
    out << "fiscal_printd_printer_status_word{word=\"fiscal\"} " << *p.FiscalStatus << "\n";
  Gauge(out, "fiscal_printd_keys_in_doubt",
        "Idempotency keys whose request may or may not have been printed.",
        static_cast<double>(g.InDoubt));
  Gauge(out, "fiscal_printd_journal_entries", "Keys held in the idempotency journal.",
        static_cast<double>(g.JournalEntries));
  Gauge(out, "fiscal_printd_journal_bytes", "Size of the idempotency journal file.",
        static_cast<double>(g.JournalBytes));
  Gauge(out, "fiscal_printd_queue_depth", "Requests waiting for the printer.",
        static_cast<double>(g.Queued));
  Gauge(out, "fiscal_printd_queue_limit", "Requests that may wait for the printer.",
        static_cast<double>(g.QueueLimit));

  std::lock_guard lock(mu_);
  Family(out, "fiscal_printd_documents_printed_total", "counter",
         "Documents printed since the service started, by kind.");
  for (const auto& [k, n] : printed_)
    out << "fiscal_printd_documents_printed_total{kind=\"" << k.second << "\"" << TillLabel(k.first)
        << "} " << n << "\n";
  Family(out, "fiscal_printd_jobs_total", "counter",
         "Printing requests ended, by operation and outcome (ok, refused, not_printed or the "
         "error code).");
  for (const auto& [k, n] : jobs_) {
    const auto& [operation, outcome, till] = k;
    out << "fiscal_printd_jobs_total{operation=\"" << LabelValue(operation) << "\",outcome=\""
        << LabelValue(outcome) << "\"" << TillLabel(till) << "} " << n << "\n";
  }
  Family(out, "fiscal_printd_http_requests_total", "counter",
         "Requests answered, by endpoint and status code.");
  for (const auto& [k, n] : requests_) {
    out << "fiscal_printd_http_requests_total{endpoint=\"" << LabelValue(k.first) << "\",code=\""
        << k.second << "\"} " << n << "\n";
  }
  Family(out, "fiscal_printd_http_request_duration_seconds", "histogram",
         "Time from a request's arrival to its answer, by endpoint.");
  for (const auto& [endpoint, h] : durations_) {
    const std::string e = "endpoint=\"" + LabelValue(endpoint) + "\"";
    for (size_t i = 0; i < kBuckets.size(); ++i) {
      out << "fiscal_printd_http_request_duration_seconds_bucket{" << e << ",le=\""
          << Number(kBuckets[i]) << "\"} " << h.Counts[i] << "\n";
    }
    out << "fiscal_printd_http_request_duration_seconds_bucket{" << e << ",le=\"+Inf\"} " << h.Count
        << "\n";
    out << "fiscal_printd_http_request_duration_seconds_sum{" << e << "} " << Number(h.Sum) << "\n";
    out << "fiscal_printd_http_request_duration_seconds_count{" << e << "} " << h.Count << "\n";
  }
  return out.str();
}

}  // namespace fpd
