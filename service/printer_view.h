// SPDX-License-Identifier: Apache-2.0
// The printer as the service last saw it, as a value: whether it answered, the document it
// holds open and its kind, each roll's paper, the fiscalisation, the reasons its status words
// give, and the last document numbers. Turned into JSON only where it leaves the service.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codec.h"
#include "printer/status.h"

namespace fpd {

struct PrinterView {
  std::string Backend = "emulator";  // "emulator" or "serial"
  // Null before the first status query; false when the last one went unanswered (Error says
  // why).
  std::optional<bool> Reachable;
  std::string CheckedAt;  // local time of the last query; empty before it
  std::optional<uint16_t> PrinterStatus, FiscalStatus;
  std::vector<std::string> Reasons;
  // What the printer holds open: null while unknown. Document names it as the status shows it
  // ("ticket", "invoice A", "non-fiscal", or "fiscal" on a serial line, which tells no more).
  std::optional<bool> DocumentOpen;
  std::optional<std::string> Document;
  std::optional<plat::PaperState> Journal, Receipt;  // null while the printer has not answered
  std::optional<plat::Fiscalisation> Fiscal;
  std::string Error;  // why the last query failed; empty when it answered
  std::optional<std::string> LastDocumentNumber;
  // The two series the printer numbers (tickets with B and C documents, and A documents), once
  // known.
  std::optional<std::string> LastTicket, LastInvoiceA;

  bool PaperLow() const {
    return Journal == plat::PaperState::Low || Receipt == plat::PaperState::Low;
  }
  bool PaperOut() const {
    return Journal == plat::PaperState::Out || Receipt == plat::PaperState::Out;
  }
  // The printer's warnings (it prints, but needs attention soon), from the fiscal word of the
  // last answered query.
  bool BatteryLow() const { return FiscalBit(plat::status::kBatteryLow); }
  bool FiscalMemoryAlmostFull() const { return FiscalBit(plat::status::kFiscalMemoryAlmostFull); }
  bool FiscalBit(uint16_t bit) const { return FiscalStatus && (*FiscalStatus & bit) != 0; }
  bool operator==(const PrinterView&) const = default;
};

// Whether what the view shows of the printer differs: whether it answered, the document it holds
// open, each roll's paper, the fiscalisation, or why it did not answer. A new query time alone,
// or new document numbers, are no change.
bool StateChanged(const PrinterView& before, const PrinterView& after);

// The printer part of GET /v1/status (without "strayDocument", which the document's owner adds).
Json ToJson(const PrinterView& v);

}  // namespace fpd
