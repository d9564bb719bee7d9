// SPDX-License-Identifier: Apache-2.0
// The print service's door to the chain's MQTT broker: it takes the jobs of its shop's printer
// (fiscal/v1/SHOP/PRINTER/jobs), hands each to the print pipeline, publishes each answer as a
// result to the job's reply topic, and keeps the printer's status retained on the broker (at
// every connection, at every change, as a heartbeat; offline by the last will or at a stop).
//
// A job is acknowledged to the broker only after the pipeline journaled it: SubmitJob is called
// inside the link's message callback, and the link acknowledges after it returns. A result the
// broker did not take (the link was down) is sent again when the link is back; a job is also
// kept on disk until its result is on the broker, and a service that stopped or died before
// takes it again at its next start.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "broker_inbox.h"
#include "chain/broker_link.h"
#include "door_seam.h"
#include "events.h"

namespace fpd {

struct BrokerDoorOptions {
  // The broker and the credentials; the door sets the client id, the session and the will.
  chain::BrokerSettings Settings;
  std::string Shop, Printer;  // each one topic level
  int HeartbeatSeconds = 60;
  std::string Version;  // the service's, shown in the status
  // Where the jobs whose result the broker has not taken yet are kept across a stop or a
  // crash (broker_inbox.h); empty: in memory only.
  std::string InboxDir;
};

class BrokerDoor : public EventSink {
 public:
  BrokerDoor(BrokerDoorOptions options, SubmitJob submit, ResolveKey resolve, StatusNow status);
  ~BrokerDoor() override;  // Stop()
  BrokerDoor(const BrokerDoor&) = delete;
  BrokerDoor& operator=(const BrokerDoor&) = delete;

  // Connects (and keeps connecting) on a thread of its own. Raises std::runtime_error when the
  // settings cannot be used.
  void Start();
  // Publishes the status offline ("stopped"), waits a moment for the results still on their
  // way, and says goodbye to the broker.
  void Stop();

  // The printer's state changed, or a job ended: the status is published again if it shows
  // something new.
  void On(const Event& e) override;

  // Results and statuses the broker has not taken yet.
  size_t Unconfirmed() const { return link_.Unconfirmed(); }

 private:
  // A job from the broker, or one kept from before the start (kept: its name in the inbox).
  void Received(const chain::BrokerMessage& m, const std::string& kept = "");
  void Answer(const Json& result, const chain::BrokerMessage& job, const std::string& kept);
  void Delivered();
  Json Status(const std::string& at, const std::string& since);
  void Beat();
  bool Publish(const std::string& topic, const Json& message, bool retain,
               const std::optional<std::string>& correlation = std::nullopt);

  const BrokerDoorOptions options_;
  const SubmitJob submit_;
  const ResolveKey resolve_;
  const StatusNow statusNow_;
  const std::string jobs_, results_, status_;
  BrokerInbox inbox_;
  chain::BrokerLink link_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool connected_ = false;  // a connection came up and its status is not published yet
  bool changed_ = false;
  std::string onlineSince_;
  Json shown_;                         // the last status published, without its time
  std::vector<std::string> answered_;  // kept jobs whose result was published
  std::thread beat_;
  std::atomic<bool> started_{false};
};

// The door main() makes when --broker is given; not started.
std::shared_ptr<BrokerDoor> MakeBrokerDoor(BrokerDoorOptions options, SubmitJob submit,
                                           ResolveKey resolve, StatusNow status);

}  // namespace fpd
