// SPDX-License-Identifier: Apache-2.0
// The metrics of what the pipeline did: each printing job's end by operation, outcome and till,
// and the documents it printed.
#pragma once

#include "events.h"
#include "metrics.h"

namespace fpd {

class MetricsSink final : public EventSink {
 public:
  // metrics outlives the sink.
  explicit MetricsSink(Metrics& metrics) : metrics_(metrics) {}
  void On(const Event& e) override;

 private:
  Metrics& metrics_;
};

}  // namespace fpd
