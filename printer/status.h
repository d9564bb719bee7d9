// SPDX-License-Identifier: Apache-2.0
// The printer's two status words, as every answer carries them: each condition with its bit
// (printer/facts.h) and its class, their readable reasons, and the state they describe (the
// open document, each roll's paper, the fiscalisation). Only a refusing condition means the
// printer refused the command; a warning (battery low, paper low, fiscal memory almost full) is
// told to the host but never refuses it, though paper low keeps a new document from being
// opened. Constants and pure functions: safe from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "printer/api.h"
#include "printer/facts.h"

namespace plat {

namespace status {
// Printer status.
constexpr uint16_t kPrinterError = facts::printer_bit::kError;
constexpr uint16_t kOffline = facts::printer_bit::kOffline;
constexpr uint16_t kJournalPaperLow = facts::printer_bit::kJournalPaperLow;
constexpr uint16_t kReceiptPaperLow = facts::printer_bit::kReceiptPaperLow;
constexpr uint16_t kBufferFull = facts::printer_bit::kBufferFull;
constexpr uint16_t kBufferEmpty = facts::printer_bit::kBufferEmpty;
constexpr uint16_t kSlipInputReady = facts::printer_bit::kSlipInputReady;
constexpr uint16_t kSlipReady = facts::printer_bit::kSlipReady;
constexpr uint16_t kValidationReady = facts::printer_bit::kValidationReady;
constexpr uint16_t kValidationPaper = facts::printer_bit::kValidationPaper;
constexpr uint16_t kDrawerOpen = facts::printer_bit::kDrawerOpen;
constexpr uint16_t kOutOfPaper = facts::printer_bit::kOutOfPaper;
constexpr uint16_t kPrinterAny = facts::printer_bit::kSummary;
constexpr uint16_t kPaperLow = kJournalPaperLow | kReceiptPaperLow;  // either roll

// Fiscal status.
constexpr uint16_t kFiscalMemoryError = facts::fiscal_bit::kFiscalMemoryError;
constexpr uint16_t kWorkingMemoryError = facts::fiscal_bit::kWorkingMemoryError;
constexpr uint16_t kBatteryLow = facts::fiscal_bit::kBatteryLow;
constexpr uint16_t kUnknownCommand = facts::fiscal_bit::kUnknownCommand;
constexpr uint16_t kInvalidField = facts::fiscal_bit::kInvalidField;
constexpr uint16_t kInvalidState = facts::fiscal_bit::kInvalidState;
constexpr uint16_t kTotalsOverflow = facts::fiscal_bit::kTotalsOverflow;
constexpr uint16_t kFiscalMemoryFull = facts::fiscal_bit::kFiscalMemoryFull;
constexpr uint16_t kFiscalMemoryAlmostFull = facts::fiscal_bit::kFiscalMemoryAlmostFull;
constexpr uint16_t kFiscalisationMask = facts::fiscal_bit::kFiscalisationMask;
constexpr uint16_t kTraining = facts::fiscal_bit::kTraining;
constexpr uint16_t kDefiscalised = facts::fiscal_bit::kDefiscalised;
constexpr uint16_t kFiscalised = facts::fiscal_bit::kFiscalised;
constexpr uint16_t kZRequired = facts::fiscal_bit::kZRequired;
constexpr uint16_t kFiscalDocumentOpen = facts::fiscal_bit::kFiscalDocumentOpen;
constexpr uint16_t kDocumentOpen = facts::fiscal_bit::kDocumentOpen;
constexpr uint16_t kSlipInitialised = facts::fiscal_bit::kSlipInitialised;
constexpr uint16_t kFiscalAny = facts::fiscal_bit::kSummary;

// The fiscal conditions that refuse a command: memory errors, unknown command, invalid field,
// invalid in this state, totals overflow, fiscal memory full.
constexpr uint16_t kRefusalMask = kFiscalMemoryError | kWorkingMemoryError | kUnknownCommand |
                                  kInvalidField | kInvalidState | kTotalsOverflow |
                                  kFiscalMemoryFull;
// The conditions told as warnings: the command ran, but someone should look at the printer.
// Paper low also keeps any new document from being opened.
constexpr uint16_t kPrinterWarningMask = kPaperLow;
constexpr uint16_t kFiscalWarningMask = kBatteryLow | kFiscalMemoryAlmostFull;

// Whether an answer with this fiscal word is a refusal.
constexpr bool Refused(uint16_t fiscalWord) {
  return (fiscalWord & kRefusalMask) != 0;
}

// The words with their summary bits set as the printer sets them: each summary bit is set
// exactly when one of the bits it stands for is.
constexpr uint16_t WithPrinterSummary(uint16_t word) {
  return (word & facts::printer_bit::kSummaryOf) ? word | kPrinterAny : word & ~kPrinterAny;
}
constexpr uint16_t WithFiscalSummary(uint16_t word) {
  return (word & facts::fiscal_bit::kSummaryOf) ? word | kFiscalAny : word & ~kFiscalAny;
}
}  // namespace status

// What the two status words say of the printer, in the terms every reader of them uses.
enum class OpenDocument : uint8_t { None, Fiscal, NonFiscal };
enum class PaperState : uint8_t { Ok, Low, Out };
enum class Fiscalisation : uint8_t { NotCertified, Training, Defiscalised, Fiscalised };

struct PrinterState {
  OpenDocument Document = OpenDocument::None;
  bool OnSlip = false;  // invoice or slip printing initialised
  // Each roll's paper: low from its own bit; out when the printer reports no paper, which it
  // does not tell for one roll alone.
  PaperState Journal = PaperState::Ok;
  PaperState Receipt = PaperState::Ok;
  Fiscalisation Fiscal = Fiscalisation::NotCertified;

  bool DocumentOpen() const { return Document != OpenDocument::None; }
  // No document can be opened while a roll's paper is low.
  bool OpeningBlocked() const { return Journal == PaperState::Low || Receipt == PaperState::Low; }
};

FISCAL_PRINTER_API PrinterState ReadState(uint16_t printerWord, uint16_t fiscalWord);

// The names the service and the tools give these: "fiscalised", "training", "de-fiscalised",
// "not-certified"; "ok", "low", "out"; "fiscal", "non-fiscal" (nullptr for none).
FISCAL_PRINTER_API const char* Name(Fiscalisation f);
FISCAL_PRINTER_API const char* Name(PaperState p);
FISCAL_PRINTER_API const char* Name(OpenDocument d);

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
// Only the warnings of both words, printer word first ("paper low on the receipt roll",
// "battery low").
FISCAL_PRINTER_API std::vector<std::string> StatusWarnings(uint16_t printerWord,
                                                           uint16_t fiscalWord);
// Why the printer refused a command, for a person: the reasons of both words, printer word
// first. The refused opening of a document leads with the roll whose low paper keeps it closed
// ("no document can be opened while the journal roll's paper is low").
FISCAL_PRINTER_API std::vector<std::string> RefusalReasons(uint16_t printerWord,
                                                           uint16_t fiscalWord, bool opening);

}  // namespace plat
