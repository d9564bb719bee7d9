// SPDX-License-Identifier: Apache-2.0
// What the print pipeline tells those who watch it: a job started, done, failed, left in doubt
// or resolved, the printer's state changed, old journal entries deleted. Each event is a value
// with what its readers need; the sinks (the log, the metrics, the status page's feed, the
// chain link's status) take them and never read an answer body again.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "printer_view.h"

namespace fpd {

// The way a job came in.
enum class Door { Http, Broker };

struct JobEvent {
  enum class Kind { Started, Done, Failed, InDoubt, Resolved, Refused, Expired };
  Kind What = Kind::Started;
  Door From = Door::Http;
  std::string Till, Key, Path;
  int Status = 0;       // the answer's status, as the HTTP door gives it
  double Seconds = 0;   // from the claim to the outcome
  std::string Code;     // the error code of a failure, refusal or doubt
  std::string Message;  // its message, or what a resolution decided
  // Documents the job completed, by kind: "ticket", "invoice_a", ..., "x", "z", "non_fiscal".
  std::vector<std::string> Printed;
  bool Replayed = false;  // a stored answer given again; nothing was printed
  // It failed and nothing of it reached the printer: the same key may be sent again.
  bool Retryable = false;

  // The operation as the log and the metrics name it: "sales", "cash/supply", an entry point's
  // name.
  std::string Operation() const {
    if (Path.rfind("/v1/call/", 0) == 0) return Path.substr(9);
    return Path.rfind("/v1/", 0) == 0 ? Path.substr(4) : Path;
  }
  // How it ended: "ok", "refused" (the printer or the driver said no), "not_printed" (refused
  // before anything reached the printer), "in_doubt", or the error code.
  std::string OutcomeLabel() const {
    if (What == Kind::Done) return "ok";
    if (What == Kind::InDoubt) return "in_doubt";
    if (Code.empty() || Code == "refused") return Retryable ? "not_printed" : "refused";
    return Code;
  }
};

struct PrinterChanged {
  PrinterView Before, After;
};

struct JournalPruned {
  size_t Deleted = 0;
};

using Event = std::variant<JobEvent, PrinterChanged, JournalPruned>;

class EventSink {
 public:
  virtual ~EventSink() = default;
  // Called on the thread that emits (the worker, or a request's thread for a refusal); quick,
  // and never throws.
  virtual void On(const Event& e) = 0;
};

// The sinks of one pipeline. Add them before the first event.
class Events {
 public:
  void Add(std::shared_ptr<EventSink> sink) {
    std::lock_guard lock(mu_);
    sinks_.push_back(std::move(sink));
  }
  void Emit(const Event& e) const {
    std::vector<std::shared_ptr<EventSink>> sinks;
    {
      std::lock_guard lock(mu_);
      sinks = sinks_;
    }
    for (const auto& s : sinks) {
      try {
        s->On(e);
      } catch (...) {
        // A sink that fails loses its own event, never the job's.
      }
    }
  }

 private:
  mutable std::mutex mu_;
  std::vector<std::shared_ptr<EventSink>> sinks_;
};

}  // namespace fpd
