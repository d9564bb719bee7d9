// SPDX-License-Identifier: Apache-2.0
// The service's figures for a monitoring system, in the text exposition format that a
// Prometheus server scrapes: counters of requests and printed documents, the request duration
// histogram, and gauges of the printer, the journal and the queue taken when scraped.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>

#include "printer_view.h"

namespace fpd {

// The kinds of printed documents counted, as their label values.
inline constexpr std::array<const char*, 8> kDocumentKinds = {
    "ticket", "invoice_a", "invoice_b", "invoice_c", "non_fiscal", "x", "z", "other"};

// What is looked at when scraped.
struct Gauges {
  PrinterView Printer;
  size_t InDoubt = 0;
  size_t JournalEntries = 0;
  uint64_t JournalBytes = 0;
  size_t Queued = 0;
  size_t QueueLimit = 0;
  bool Ready = false;
  std::string Version;
};

class Metrics {
 public:
  Metrics();
  // One answered request: its endpoint (a route, never a raw path), status and duration.
  void Request(const std::string& endpoint, int status, double seconds);
  // One document printed, for a till ("" the local one); a kind outside kDocumentKinds counts
  // as "other".
  void Printed(const std::string& kind, const std::string& till = "");
  uint64_t PrintedCount(const std::string& kind, const std::string& till = "") const;
  // One job's end: its operation ("sales", "x", an entry point's name), its outcome ("ok",
  // "refused", "not_printed" or an error code) and its till ("" the local one).
  void Job(const std::string& operation, const std::string& outcome, const std::string& till);

  std::string Render(const Gauges& g) const;

  // Upper bounds of the duration histogram's buckets, in seconds.
  static constexpr std::array<double, 11> kBuckets = {0.05, 0.1, 0.25, 0.5, 1,  2.5,
                                                      5,    10,  30,   60,  120};

 private:
  struct Histogram {
    std::array<uint64_t, kBuckets.size()> Counts{};
    uint64_t Count = 0;
    double Sum = 0;
  };
  mutable std::mutex mu_;
  std::map<std::pair<std::string, int>, uint64_t> requests_;
  std::map<std::string, Histogram> durations_;
  std::map<std::pair<std::string, std::string>, uint64_t> printed_;  // by till and kind
  std::map<std::tuple<std::string, std::string, std::string>, uint64_t> jobs_;
};

// A label value written for the exposition format (backslash, quote and line end escaped).
std::string LabelValue(const std::string& v);

}  // namespace fpd
