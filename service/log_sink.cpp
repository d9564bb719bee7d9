// SPDX-License-Identifier: Apache-2.0
#include "log_sink.h"

#include <cstdio>

#include "log.h"

namespace fpd {

namespace {

std::string Till(const std::string& till) {
  return till.empty() ? std::string() : " till=" + LogValue(till);
}

}  // namespace

void LogSink::On(const Event& e) {
  if (const auto* job = std::get_if<JobEvent>(&e)) {
    Job(*job);
  } else if (const auto* printer = std::get_if<PrinterChanged>(&e)) {
    Printer(printer->After);
  } else if (const auto* pruned = std::get_if<JournalPruned>(&e)) {
    Log(pruned->Deleted > 0 ? LogLevel::Info : LogLevel::Debug,
        "deleted " + std::to_string(pruned->Deleted) + " journal entries past their keeping time");
  }
}

void LogSink::Job(const JobEvent& e) {
  using K = JobEvent::Kind;
  const std::string key = "key=" + LogValue(e.Key) + Till(e.Till);
  if (e.What == K::Started) {
    Log(LogLevel::Debug, "started " + key + " path=" + e.Path);
    return;
  }
  if (e.What == K::Resolved) {
    // A resolution through the HTTP door is logged with its answer there.
    if (e.From != Door::Http) Log(LogLevel::Info, "resolved " + key + ": " + e.Message);
    return;
  }
  const std::string outcome = e.OutcomeLabel();
  std::string line = "request " + key + " op=" + LogValue(e.Operation()) +
                     " status=" + std::to_string(e.Status) + " outcome=" + outcome +
                     " duration=" + Seconds(e.Seconds);
  if (e.Replayed) line += " replayed=true";
  if (e.Retryable) line += " retryable=true";
  LogLevel level = LogLevel::Info;
  if (outcome != "ok") {
    level = outcome == "refused" || outcome == "not_printed" || e.Status < 500 ? LogLevel::Warn
                                                                               : LogLevel::Error;
    line += " reason=" + LogValue(e.Message);
  }
  Log(level, line);
  if (outcome == "in_doubt") {
    Log(LogLevel::Warn,
        "key in doubt " + key +
            (e.Replayed || e.What != K::InDoubt ? std::string(" asked again") : ": " + e.Message) +
            "; the till resolves it");
  } else if (outcome == "journal_failed" &&
             e.Message.find("nothing was printed") == std::string::npos) {
    Log(LogLevel::Error,
        "key in doubt " + key + ": it ran, but its outcome could not be recorded in the journal");
  }
}

void LogSink::Printer(const PrinterView& now) {
  std::lock_guard lock(mu_);
  Told& was = told_;
  if (now.Reachable && now.Reachable != was.Reachable) {
    if (*now.Reachable) {
      Log(LogLevel::Info, "printer reachable");
    } else {
      Log(LogLevel::Error,
          "printer offline: " + (now.Error.empty() ? Json(nullptr) : Json(now.Error)).dump());
    }
    was.Reachable = now.Reachable;
  }
  if (now.Reachable != true) return;  // nothing more is known of it
  for (const auto& [roll, state, low] : {std::tuple{"journal", now.Journal, &was.JournalLow},
                                         {"receipt", now.Receipt, &was.ReceiptLow}}) {
    const bool isLow = state == plat::PaperState::Low;
    if (isLow != *low)
      Log(isLow ? LogLevel::Warn : LogLevel::Info,
          "printer " + std::string(roll) + " roll paper " + (isLow ? "low" : "no longer low"));
    *low = isLow;
  }
  if (now.PaperOut() != was.PaperOut)
    Log(now.PaperOut() ? LogLevel::Error : LogLevel::Info,
        now.PaperOut() ? "printer out of paper" : "printer has paper again");
  was.PaperOut = now.PaperOut();
  // A working printer is fiscalised; any other state is worth a look.
  if (now.Fiscal && now.Fiscal != was.Fiscal &&
      (was.Fiscal || *now.Fiscal != plat::Fiscalisation::Fiscalised))
    Log(*now.Fiscal == plat::Fiscalisation::Fiscalised ? LogLevel::Info : LogLevel::Warn,
        std::string("printer fiscalisation: ") + plat::Name(*now.Fiscal));
  if (now.Fiscal) was.Fiscal = now.Fiscal;
  if (now.Document != was.Document)
    Log(LogLevel::Info, now.Document ? "printer document open: " + *now.Document
                                     : std::string("printer document closed"));
  was.Document = now.Document;
}

}  // namespace fpd
