// SPDX-License-Identifier: Apache-2.0
// The printer on a serial line: the exactly-once policy over the frame exchange. A command that
// only reads goes out and is sent again as the exchange sees fit. A command that changes what
// the printer holds is sent once; when its reply is lost the link reads the printer's
// non-printing queries and decides (printer/link_decision.h): it ran (its answer is rebuilt), it
// did not (it goes again, under a new number, up to the configured retries), or the queries
// cannot tell (in doubt: never sent again). One command, its queries included, ends within the
// overall limit.
#include "printer/serial_backend.h"

#include <algorithm>
#include <random>

#include "platform/codepage.h"
#include "printer/internal/frame_exchange.h"
#include "printer/internal/serial_port.h"

namespace plat {

namespace {

// How long the host waits, before its first command, for the reply the printer keeps. A
// printer that executed nothing since it was switched on keeps none and stays silent.
constexpr int kAskPrinterMs = 250;

}  // namespace

// One command of the host, from its first frame to its answer.
struct SerialBackend::Command {
  std::string device;
  std::string method;
  const std::vector<AnsiString>& fields;
  const CommandInfo& info;
  size_t record = 0;  // its entry in the record of commands sent, 1-based
  link::LinkTime::TimePoint giveUp{};
  bool quick = false;  // a quick status query: one try
};

link::ExchangeTiming SerialBackend::Timing(const Command& c) const {
  // A quick query waits one reply timeout for a silent printer; a busy one (DC2 / DC4) may
  // hold it up to twice that.
  if (c.quick) return {config_.TimeoutMs, 0, 2 * config_.TimeoutMs, config_.Flow};
  return {config_.TimeoutMs, config_.Retries, config_.TotalTimeoutMs, config_.Flow};
}

SerialBackend::SerialBackend(SerialConfig config)
    : config_(std::move(config)),
      time_(std::make_unique<link::LinkTime>(config_.Clock)),
      port_(std::make_unique<link::SerialPort>(*time_, config_.Trace)),
      line_(std::make_unique<link::ExchangeCounters>()) {
  if (config_.FirstSequence >= link::kFirstSequence &&
      config_.FirstSequence <= link::kLastSequence) {
    seq_ = static_cast<uint8_t>(config_.FirstSequence);
  } else {
    std::random_device rd;
    seq_ = static_cast<uint8_t>(link::kFirstSequence +
                                rd() % (link::kLastSequence - link::kFirstSequence + 1));
  }
  if (config_.TimeoutMs < 1) config_.TimeoutMs = 1;
  if (config_.Retries < 0) config_.Retries = 0;
  // The overall limit never cuts the ordinary tries short.
  config_.TotalTimeoutMs = static_cast<int>(std::clamp<long long>(
      std::max<long long>(config_.TotalTimeoutMs,
                          static_cast<long long>(config_.TimeoutMs) * (config_.Retries + 1)),
      1, 1 << 30));
}

SerialBackend::~SerialBackend() = default;

SerialBackend::Stats SerialBackend::GetStats() const {
  std::lock_guard<std::mutex> lock(mu_);
  Stats s = stats_;
  s.Resends += line_->Resends;
  s.NaksSent = line_->NaksSent;
  s.NaksReceived = line_->NaksReceived;
  s.KeepAlives = line_->KeepAlives;
  s.StaleReplies = line_->StaleReplies;
  s.BytesSent = port_->BytesSent();
  s.BytesReceived = port_->BytesReceived();
  return s;
}

void SerialBackend::RecordSent(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  record_ = on;
}

std::vector<SerialBackend::Sent> SerialBackend::SentCommands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sent_;
}

PrinterAnswer SerialBackend::Execute(int portNumber, const char* method,
                                     const std::vector<WideString*>& args) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string name = method ? method : "";
  const CommandInfo* info = link::FindCommand(name);
  if (info == nullptr)
    throw ELinkError("the printer link has no command for the method " + name, LinkFault::Refused);
  if (args.size() != info->Args)
    throw ELinkError("the printer link sends " + std::to_string(info->Args) + " fields with " +
                         name + ", not " + std::to_string(args.size()),
                     LinkFault::Refused);
  const std::string device = SerialDeviceForPort(config_, portNumber);

  // The driver's arguments in the printer's forms; one that has none is refused unsent.
  const auto requests = translators_[device].ToPrinter(*info, args);
  if (!requests) return wire::Refusal(0, 0);
  // Every field is checked before the first command goes out, so that a text refused in one
  // of its lines prints nothing.
  for (const wire::Request& r : *requests)
    for (size_t i = 0; i < r.Fields.size(); ++i)
      link::CheckField(Info(r.Id).Method, i + 1, r.Fields[i]);
  PrinterAnswer answer;
  for (const wire::Request& r : *requests) {
    answer = Transact(device, Info(r.Id).Method, r.Fields);
    if (answer.Result == 0) break;
  }
  return wire::Translator::ToAnswer(*info, std::move(answer));
}

void SerialBackend::Fail(const Command& c, const std::string& what, LinkFault fault) const {
  throw ELinkError("printer link " + c.device + ": " + c.method + ": " + what, fault);
}

size_t SerialBackend::Record(const std::string& method, const std::vector<AnsiString>& fields,
                             bool query) {
  if (!record_) return 0;
  sent_.push_back({method, fields, query, Outcome::Pending});
  return sent_.size();
}

void SerialBackend::Ended(size_t record, Outcome end) {
  if (record > 0 && record <= sent_.size()) sent_[record - 1].End = end;
}

PrinterAnswer SerialBackend::Transact(const std::string& device, const std::string& method,
                                      const std::vector<AnsiString>& fields) {
  Command c{device, method, fields, *link::FindCommand(method)};
  c.quick = c.info.Id == plat::Command::Status && QuickStatusQueries::Active();
  // A printer that stopped answering is not waited for again on every command: only a status
  // query goes out, until one answers or the probe time has passed.
  if (!stopped_.empty() && c.info.Id != plat::Command::Status &&
      time_->Now() - stoppedAt_ < std::chrono::milliseconds(config_.ProbeAfterMs)) {
    ++stats_.FailedFast;
    Fail(c, "not sent, the printer stopped answering (" + stopped_ + ")", LinkFault::Refused);
  }
  if (!port_->OpenOn(device)) {
    // A new line, or one hung up since the last command: what the link knew is read again.
    known_.erase(device);
    try {
      port_->Open(device, config_.Baud, config_.Flow);
    } catch (const ELinkError& e) {
      Fail(c, e.Message(), e.Kind());
    }
  }

  // Any failure leaves the device closed, so the next command starts on a fresh line, and
  // what the link knows of the printer is read again before the next command that needs it.
  struct CloseOnFailure {
    SerialBackend* self;
    std::string device;
    bool armed = true;
    ~CloseOnFailure() {
      if (!armed) return;
      self->known_.erase(device);
      self->port_->Close();
    }
  } guard{this, device};

  port_->DropInput();  // bytes of earlier exchanges are of no use now
  c.giveUp = time_->After(Timing(c).TotalTimeoutMs);
  if (asked_.insert(device).second && config_.AskPrinterFirst) {
    const link::ExchangeTiming timing = Timing(c);
    link::FrameExchange ask(*port_, *time_, timing, *line_);
    if (auto kept = ask.AskPrinter(kAskPrinterMs, c.giveUp)) seq_ = link::NextSequence(*kept);
    // A quick query keeps its whole reply timeout after the ask.
    if (c.quick) c.giveUp = time_->After(timing.TotalTimeoutMs);
  }
  PrinterAnswer answer = Once(c);
  stopped_.clear();
  guard.armed = false;
  return answer;
}

void SerialBackend::Read(Command& c, unsigned reads, const link::Snapshot* known,
                         link::Snapshot& into, const std::string& why) {
  const bool after = why != "before it";
  const link::ExchangeTiming timing = Timing(c);
  for (const link::Query& q : link::QueriesFor(reads, known, c.info)) {
    ++stats_.StatusQueries;
    const size_t record = Record(q.Method, q.Fields, true);
    port_->DropInput();
    link::FrameExchange ex(*port_, *time_, timing, *line_);
    const link::ExchangeResult r = ex.Run(seq_, q.Method, q.Fields, false, c.giveUp);
    if (r.What != link::ExchangeResult::End::Reply) {
      Ended(record, Outcome::Failed);
      Ended(c.record, after ? Outcome::InDoubt : Outcome::Failed);
      if (after) ++stats_.InDoubt;
      const std::string what = std::string(after ? "in doubt, not sent again: " : "") + "the " +
                               (q.Method == "Status" ? "status" : "subtotal") + " query " + why +
                               ": " + r.Why;
      if (r.Silent) {
        stopped_ = c.method + ": " + what;
        stoppedAt_ = time_->Now();
      }
      Fail(c, what, after ? LinkFault::InDoubt : r.Fault);
    }
    Ended(record, Outcome::Answered);
    into = link::Learn(into, q, link::ToAnswer(r.Reply));
  }
}

PrinterAnswer SerialBackend::Once(Command& c) {
  const bool changes = link::Changes(c.info, c.fields);
  link::Snapshot& known = known_[c.device];
  if (changes && config_.ReadStateFirst) {
    // Only what this command's row reads and the link does not know, and once per printer what
    // its queries do not tell.
    const unsigned need = link::ReadsBefore(c.info, c.fields) & ~untold_[c.device];
    link::Snapshot fresh = known;
    Read(c, need, &known, fresh, "before it");
    untold_[c.device] |= link::Missing(fresh, need);
    known = fresh;
  }
  ++stats_.Frames;
  c.record = Record(c.method, c.fields, false);
  const link::ExchangeTiming timing = Timing(c);
  link::FrameExchange ex(*port_, *time_, timing, *line_);
  for (int sent = 1;; ++sent) {
    const link::ExchangeResult r = ex.Run(seq_, c.method, c.fields, changes, c.giveUp);
    if (r.What == link::ExchangeResult::End::Reply) {
      PrinterAnswer a = link::ToAnswer(r.Reply);
      Ended(c.record, Outcome::Answered);
      known = link::Follow(known, c.info, c.fields, a);
      return a;
    }
    if (r.What == link::ExchangeResult::End::Failed) {
      if (changes && r.Written) {
        // The frame reached the line: the printer may have run it.
        ++stats_.InDoubt;
        Ended(c.record, Outcome::InDoubt);
        Fail(c, "in doubt, not sent again: " + r.Why, LinkFault::InDoubt);
      }
      Ended(c.record, Outcome::Failed);
      if (r.Silent) {
        stopped_ = c.method + ": " + r.Why;
        stoppedAt_ = time_->Now();
      }
      Fail(c, r.Why, r.Fault);
    }

    // The reply was lost: the printer's queries tell whether the command ran.
    link::Snapshot after;
    Read(c, link::ReadsAfter(c.info, c.fields), nullptr, after, "after a lost reply");
    const link::Decision d = link::Decide(known, after, c.info, c.fields);
    switch (d.What) {
      case link::Decision::Outcome::TookEffect:
        ++stats_.FromStatus;
        Ended(c.record, Outcome::FromStatus);
        known = link::Overlay(link::Follow(known, c.info, c.fields, d.Answer), after);
        return d.Answer;
      case link::Decision::Outcome::DidNot:
        known = link::Overlay(known, after);
        if (sent >= config_.Retries + 1) {
          Ended(c.record, Outcome::Failed);
          const std::string what = r.Why + " (" + std::to_string(sent) + " tries, " +
                                   std::to_string(config_.TimeoutMs) +
                                   " ms each; the printer's queries show it did not run)";
          stopped_ = c.method + ": " + what;
          stoppedAt_ = time_->Now();
          Fail(c, what, LinkFault::Timeout);
        }
        ++stats_.SentAgain;
        ++stats_.Resends;
        continue;  // under a new number: the printer did not run the old one
      case link::Decision::Outcome::AnswerLost:
      case link::Decision::Outcome::CannotTell:
        ++stats_.InDoubt;
        Ended(c.record, Outcome::InDoubt);
        Fail(c,
             "in doubt, not sent again: " + d.Reason + "; the printer reports " +
                 link::Describe(after),
             LinkFault::InDoubt);
    }
  }
}

}  // namespace plat
