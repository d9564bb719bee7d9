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
#include <utility>

#include "codec.h"

namespace fpd {

// The kinds of printed documents counted, as their label values.
inline constexpr std::array<const char*, 8> kDocumentKinds = {
    "ticket", "invoice_a", "invoice_b", "invoice_c", "non_fiscal", "x", "z", "other"};

// What is looked at when scraped.
struct Gauges {
  Json Printer;  // the printer's part of /v1/status
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
  // One document printed; a kind outside kDocumentKinds counts as "other".
  void Printed(const std::string& kind);
  uint64_t PrintedCount(const std::string& kind) const;

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
  std::map<std::string, uint64_t> printed_;
};

// A label value written for the exposition format (backslash, quote and line end escaped).
std::string LabelValue(const std::string& v);

}  // namespace fpd
