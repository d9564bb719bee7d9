// SPDX-License-Identifier: Apache-2.0
// The log lines of what the pipeline and the printer did: one line per printing job's end
// (with the till when it is not the local one), the keys left in doubt, the printer's state
// changes and the journal's deleted entries.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "events.h"

namespace fpd {

class LogSink final : public EventSink {
 public:
  void On(const Event& e) override;

 private:
  void Job(const JobEvent& e);
  void Printer(const PrinterView& now);

  // What the log last told of the printer; a printer that does not answer tells nothing of its
  // paper, fiscalisation or document, so the last told stands.
  struct Told {
    std::optional<bool> Reachable;
    bool JournalLow = false, ReceiptLow = false, PaperOut = false;
    std::optional<plat::Fiscalisation> Fiscal;
    std::optional<std::string> Document;
  };
  std::mutex mu_;
  Told told_;
};

}  // namespace fpd
