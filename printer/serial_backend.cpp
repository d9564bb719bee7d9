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
#include "printer/internal/sent_record.h"
#include "printer/internal/serial_port.h"
#include "printer/notices.h"

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
  bool once = false;   // a status query to a printer that stopped answering: one try
};

link::ExchangeTiming SerialBackend::Timing(const Command& c) const {
  // A quick query waits one reply timeout for a silent printer; a busy one (DC2 / DC4) may
  // hold it up to twice that.
  link::ExchangeTiming t{config_.TimeoutMs, config_.Retries,     config_.TotalTimeoutMs,
                         config_.Flow,      config_.ReplyWaitMs, config_.BusyAddsMs};
  if (c.quick || c.once) {
    t.Retries = 0;
    t.TotalTimeoutMs = 2 * t.WaitMs();
  }
  return t;
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
  if (config_.ReplyWaitMs < 0) config_.ReplyWaitMs = 0;
  if (config_.BusyAddsMs < 0) config_.BusyAddsMs = 0;
  if (config_.Retries < 0) config_.Retries = 0;
  // The overall limit never cuts the ordinary tries short.
  config_.TotalTimeoutMs = static_cast<int>(std::clamp<long long>(
      std::max<long long>(config_.TotalTimeoutMs,
                          static_cast<long long>(std::max(config_.TimeoutMs, config_.ReplyWaitMs)) *
                              (config_.Retries + 1)),
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
  translators_[device].SetVariant(VariantOf(device));
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

void SerialBackend::Silenced(const Command& c, const std::string& why) {
  // A host's idle check that went unanswered (a printer pausing, one lost reply) does not stop
  // the next command from trying the printer: only a command that got no answer in all its
  // tries does. Once stopped, every unanswered status query starts the probe time again.
  if (c.quick && stopped_.empty()) return;
  stopped_ = why;
  stoppedAt_ = time_->Now();
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
  // query goes out, once, until one answers or the probe time has passed.
  if (!stopped_.empty()) {
    if (c.info.Id == plat::Command::Status) {
      c.once = true;
    } else if (time_->Now() - stoppedAt_ < std::chrono::milliseconds(config_.ProbeAfterMs)) {
      ++stats_.FailedFast;
      Fail(c, "not sent, the printer stopped answering (" + stopped_ + ")", LinkFault::Refused);
    }
  }
  bool back = false;
  if (!port_->OpenOn(device)) {
    // A new line, or one hung up or failed since the last command: what the link knew is read
    // again. A printer switched off and on meanwhile has cancelled its open document.
    known_.erase(device);
    retell_.insert(device);
    back = !opened_.insert(device).second;
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

  // What the line holds is kept: a late reply to an earlier command is told by its number.
  c.giveUp = time_->After(Timing(c).TotalTimeoutMs);
  if (asked_.insert(device).second && config_.AskPrinterFirst) {
    const link::ExchangeTiming timing = Timing(c);
    link::FrameExchange ask(*port_, *time_, timing, *line_);
    if (auto kept = ask.AskPrinter(kAskPrinterMs, c.giveUp)) seq_ = link::NextSequence(*kept);
    // A quick query keeps its whole reply timeout after the ask.
    if (c.quick || c.once) c.giveUp = time_->After(timing.TotalTimeoutMs);
  }
  if (back && config_.ReadStateFirst && c.info.Id != plat::Command::Status) {
    // The line came back: the printer's state is read before any command goes to it.
    link::Snapshot fresh;
    Read(c, link::kReadsWords, nullptr, fresh, "after the line came back");
    known_[device] = fresh;
  }
  // A quick query leaves it to the next command: it waits for one reply only. So does a status
  // query in mode N, which every variant answers alike: the variant is told before the next
  // command, once the printer answered, and a silent printer costs no more than the query's
  // own tries.
  const bool plainStatus =
      c.info.Id == plat::Command::Status && !c.fields.empty() && c.fields[0] == "N";
  if (retell_.count(device) && !c.quick && !plainStatus) TellVariant(c);
  PrinterAnswer answer = Once(c);
  stopped_.clear();
  guard.armed = false;
  return answer;
}

std::optional<variants::Told> SerialBackend::Variant(int portNumber) const {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = told_.find(SerialDeviceForPort(config_, portNumber));
  if (it == told_.end()) return std::nullopt;
  return it->second;
}

const variants::ModelVariant& SerialBackend::VariantOf(const std::string& device) const {
  const auto it = told_.find(device);
  if (it != told_.end() && it->second.Variant) return *it->second.Variant;
  const auto* named = variants::Find(config_.Model);
  return named ? *named : variants::Default();
}

PrinterAnswer SerialBackend::FromLine(const std::string& device, const std::string& method,
                                      const std::vector<AnsiString>& fields,
                                      const link::ReplyFrame& reply) const {
  // The printer's reply in the common layout, whatever its variant.
  return variants::ToCommon(VariantOf(device), link::FindCommand(method)->Id, fields,
                            link::ToAnswer(reply));
}

void SerialBackend::TellVariant(Command& c) {
  retell_.erase(c.device);
  variants::Answers answers;
  if (config_.Model.empty()) {
    // The printer's own answers, one try each: a printer that does not answer leaves the
    // variant as it was, and the command finds out for itself.
    link::ExchangeTiming timing = Timing(c);
    timing.Retries = 0;
    const std::pair<const char*, std::optional<PrinterAnswer>*> modes[] = {
        {"P", &answers.P}, {"A", &answers.A}, {"C", &answers.C}};
    for (auto [mode, into] : modes) {
      const std::vector<AnsiString> fields = {mode};
      ++stats_.StatusQueries;
      const size_t record = Record("Status", fields, true);
      link::FrameExchange ex(*port_, *time_, timing, *line_);
      const link::ExchangeResult r = ex.Run(seq_, "Status", fields, false, c.giveUp);
      if (r.What != link::ExchangeResult::End::Reply) {
        Ended(record, Outcome::Failed);
        if (!told_.count(c.device))
          told_[c.device] = {&VariantOf(c.device),
                             false,
                             "the printer did not answer the status query " + std::string(mode) +
                                 " (" + r.Why + "), driven as " + VariantOf(c.device).Name,
                             {}};
        // A printer that is there is asked again on the next command; a silent one once its
        // line comes back.
        if (!r.Silent) retell_.insert(c.device);
        return;
      }
      *into = link::ToAnswer(r.Reply);
      Ended(record, (*into)->Result ? Outcome::Answered : Outcome::Refused);
    }
  }
  told_[c.device] = variants::Tell(answers, config_.Model);
  const variants::Told& t = told_[c.device];
  TellPrinterNotice("printer on " + c.device + ": driven as the " + t.Variant->Name + " variant" +
                        (t.Matched ? "" : ", which it does not match") + "; " + t.Why,
                    !t.Matched);
}

void SerialBackend::Read(Command& c, unsigned reads, const link::Snapshot* known,
                         link::Snapshot& into, const std::string& why) {
  const bool after = why == "after a lost reply";
  const link::ExchangeTiming timing = Timing(c);
  for (const link::Query& q : link::QueriesFor(reads, known, c.info)) {
    ++stats_.StatusQueries;
    const size_t record = Record(q.Method, q.Fields, true);
    link::FrameExchange ex(*port_, *time_, timing, *line_);
    const link::ExchangeResult r = ex.Run(seq_, q.Method, q.Fields, false, c.giveUp);
    if (r.What != link::ExchangeResult::End::Reply) {
      Ended(record, Outcome::Failed);
      Ended(c.record, after ? Outcome::InDoubt : Outcome::Failed);
      if (after) ++stats_.InDoubt;
      const std::string what = std::string(after ? "in doubt, not sent again: " : "") + "the " +
                               (q.Method == "Status" ? "status" : "subtotal") + " query " + why +
                               ": " + r.Why;
      if (r.Silent) Silenced(c, c.method + ": " + what);
      Fail(c, what, after ? LinkFault::InDoubt : r.Fault);
    }
    const PrinterAnswer a = FromLine(c.device, q.Method, q.Fields, r.Reply);
    Ended(record, a.Result ? Outcome::Answered : Outcome::Refused);
    into = link::Learn(into, q, a);
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
      PrinterAnswer a = FromLine(c.device, c.method, c.fields, r.Reply);
      Ended(c.record, a.Result ? Outcome::Answered : Outcome::Refused);
      known = link::Follow(known, c.info, c.fields, a);
      return a;
    }
    if (r.What == link::ExchangeResult::End::Failed) {
      if (changes && r.Written && !r.NotRun) {
        // The frame reached the line: the printer may have run it.
        ++stats_.InDoubt;
        Ended(c.record, Outcome::InDoubt);
        Fail(c, "in doubt, not sent again: " + r.Why, LinkFault::InDoubt);
      }
      Ended(c.record, Outcome::Failed);
      if (r.Silent) Silenced(c, c.method + ": " + r.Why);
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
                                   std::to_string(timing.WaitMs()) +
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
