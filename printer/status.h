// SPDX-License-Identifier: Apache-2.0
// The printer's two status words, as every answer carries them: each condition with its bit
// (printer/assumed.h) and its class, and their readable reasons. Only a refusing condition
// means the printer refused the command; a warning (battery low, paper low, fiscal memory
// almost full) is told to the host but never refuses. Constants and pure functions: safe from
// any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "printer/api.h"
#include "printer/assumed.h"

namespace plat {

namespace status {
// Printer status.
constexpr uint16_t kPrinterError = assumed::printer_bit::kError;
constexpr uint16_t kOffline = assumed::printer_bit::kOffline;
constexpr uint16_t kBufferFull = assumed::printer_bit::kBufferFull;
constexpr uint16_t kBufferEmpty = assumed::printer_bit::kBufferEmpty;
constexpr uint16_t kSlipInputReady = assumed::printer_bit::kSlipInputReady;
constexpr uint16_t kSlipReady = assumed::printer_bit::kSlipReady;
constexpr uint16_t kPaperLow = assumed::printer_bit::kPaperLow;
constexpr uint16_t kDrawerOpen = assumed::printer_bit::kDrawerOpen;
constexpr uint16_t kOutOfPaper = assumed::printer_bit::kOutOfPaper;
constexpr uint16_t kPrinterAny = assumed::printer_bit::kSummary;

// Fiscal status.
constexpr uint16_t kFiscalMemoryError = assumed::fiscal_bit::kFiscalMemoryError;
constexpr uint16_t kWorkingMemoryError = assumed::fiscal_bit::kWorkingMemoryError;
constexpr uint16_t kBatteryLow = assumed::fiscal_bit::kBatteryLow;
constexpr uint16_t kUnknownCommand = assumed::fiscal_bit::kUnknownCommand;
constexpr uint16_t kInvalidField = assumed::fiscal_bit::kInvalidField;
constexpr uint16_t kInvalidState = assumed::fiscal_bit::kInvalidState;
constexpr uint16_t kTotalsOverflow = assumed::fiscal_bit::kTotalsOverflow;
constexpr uint16_t kFiscalMemoryFull = assumed::fiscal_bit::kFiscalMemoryFull;
constexpr uint16_t kFiscalMemoryAlmostFull = assumed::fiscal_bit::kFiscalMemoryAlmostFull;
constexpr uint16_t kFiscalisationMask = assumed::fiscal_bit::kFiscalisationMask;
constexpr uint16_t kFiscalised = assumed::fiscal_bit::kFiscalised;
constexpr uint16_t kCertified = assumed::fiscal_bit::kCertified;
constexpr uint16_t kDefiscalised = assumed::fiscal_bit::kDefiscalised;
constexpr uint16_t kZRequired = assumed::fiscal_bit::kZRequired;
constexpr uint16_t kFiscalDocumentOpen = assumed::fiscal_bit::kFiscalDocumentOpen;
constexpr uint16_t kDocumentOpen = assumed::fiscal_bit::kDocumentOpen;
constexpr uint16_t kNonFiscalOpen = assumed::fiscal_bit::kNonFiscalOpen;
constexpr uint16_t kFiscalAny = assumed::fiscal_bit::kSummary;

// The fiscal conditions that refuse a command: memory errors, unknown command, invalid field,
// invalid in this state, totals overflow, fiscal memory full.
constexpr uint16_t kRefusalMask = kFiscalMemoryError | kWorkingMemoryError | kUnknownCommand |
                                  kInvalidField | kInvalidState | kTotalsOverflow |
                                  kFiscalMemoryFull;
// The conditions told as warnings: the command ran, but someone should look at the printer.
constexpr uint16_t kPrinterWarningMask = kPaperLow;
constexpr uint16_t kFiscalWarningMask = kBatteryLow | kFiscalMemoryAlmostFull;

// Whether an answer with this fiscal word is a refusal.
constexpr bool Refused(uint16_t fiscalWord) {
  return (fiscalWord & kRefusalMask) != 0;
}
}  // namespace status

// What a condition means for the command that reported it.
enum class ConditionClass : uint8_t {
  Refusing,  // the command was refused (fiscal word) or the printer cannot print (printer word)
  Warning,   // the command ran; the printer needs attention soon
  State,     // what the printer is doing or holds
  Summary,   // one of the others is set
};

struct Condition {
  uint16_t Mask;   // the bits of the condition
  uint16_t Value;  // the value of those bits that means it (Mask for a single bit)
  ConditionClass Class;
  const char* Reason;
};

// Every condition of each word, in the order the printer describes them.
FISCAL_PRINTER_API std::span<const Condition> PrinterConditions();
FISCAL_PRINTER_API std::span<const Condition> FiscalConditions();

// Readable reasons for the conditions set in each status word, in the order above ("out of
// paper", "command not valid in the current state"). The summary bits add no reason.
FISCAL_PRINTER_API std::vector<std::string> DecodePrinterStatus(uint16_t word);
FISCAL_PRINTER_API std::vector<std::string> DecodeFiscalStatus(uint16_t word);
// Only the warnings of both words, printer word first ("paper low", "battery low").
FISCAL_PRINTER_API std::vector<std::string> StatusWarnings(uint16_t printerWord,
                                                           uint16_t fiscalWord);

}  // namespace plat
