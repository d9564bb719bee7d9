// SPDX-License-Identifier: Apache-2.0
#include "metrics_sink.h"

namespace fpd {

void MetricsSink::On(const Event& e) {
  const auto* job = std::get_if<JobEvent>(&e);
  if (job == nullptr) return;  // the printer's gauges are read when scraped
  using K = JobEvent::Kind;
  if (job->What == K::Started || job->What == K::Resolved) return;
  metrics_.Job(job->Operation(), job->OutcomeLabel(), job->Till);
  // A replay printed nothing again.
  if (job->Replayed) return;
  for (const auto& kind : job->Printed) metrics_.Printed(kind, job->Till);
}

}  // namespace fpd
