// SPDX-License-Identifier: Apache-2.0
// What feeds the broker door's jobs into the print pipeline: a job is prepared as the HTTP door
// prepares the same request, claimed durably (on disk before the door acknowledges the
// message) and answered when it ran; a job delivered again while it is printing gets its answer
// once the printing ends; a till's resolution runs on the pipeline's worker. Nothing here waits
// on the door's own thread for a job to print.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "door_seam.h"
#include "journal.h"
#include "pipeline.h"
#include "session.h"

namespace fpd {

class BrokerFeed {
 public:
  BrokerFeed(Pipeline& pipeline, const Journal& journal, DriverSession& session,
             plat::AnsiString scheme);
  ~BrokerFeed();  // finishes what it still waits for
  BrokerFeed(const BrokerFeed&) = delete;
  BrokerFeed& operator=(const BrokerFeed&) = delete;

  void Submit(DoorJob job, DoorDone done);
  void Resolve(DoorResolution resolution, DoorDone done);
  // The status the door publishes: the printer as last seen and the keys in doubt.
  Json StatusNow() const;

 private:
  // Runs f on the feed's own thread (resolutions, waits for a job being printed).
  void Later(std::function<void()> f);
  void Run();

  Pipeline& pipeline_;
  const Journal& journal_;
  DriverSession& session_;
  plat::AnsiString scheme_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> later_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace fpd
