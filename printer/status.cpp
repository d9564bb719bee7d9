// SPDX-License-Identifier: Apache-2.0
// The printer's status conditions and their readable reasons.
#include "printer/status.h"

namespace plat {

namespace {

using enum ConditionClass;
using namespace status;

constexpr Condition kPrinter[] = {
    {kPrinterError, kPrinterError, Refusing, "printer error"},
    {kOffline, kOffline, Refusing, "offline"},
    {kJournalPaperLow, kJournalPaperLow, Warning, "paper low on the journal roll"},
    {kReceiptPaperLow, kReceiptPaperLow, Warning, "paper low on the receipt roll"},
    {kBufferFull, kBufferFull, State, "buffer full"},
    {kBufferEmpty, kBufferEmpty, State, "buffer empty"},
    {kSlipInputReady, kSlipInputReady, State, "paper at the slip input"},
    {kSlipReady, kSlipReady, State, "slip inserted"},
    {kValidationReady, kValidationReady, State, "validation intake ready"},
    {kValidationPaper, kValidationPaper, State, "paper at the validation intake"},
    {kDrawerOpen, kDrawerOpen, State, "drawer open"},
    {kOutOfPaper, kOutOfPaper, Refusing, "out of paper"},
    {kPrinterAny, kPrinterAny, Summary, "printer status summary"},
};

// The fiscalised state, the printer's working one, and a printer not certified at all give no
// reason of their own; the state is named apart (Name(Fiscalisation)).
constexpr Condition kFiscal[] = {
    {kFiscalMemoryError, kFiscalMemoryError, Refusing, "fiscal memory error"},
    {kWorkingMemoryError, kWorkingMemoryError, Refusing, "working memory error"},
    {kBatteryLow, kBatteryLow, Warning, "battery low"},
    {kUnknownCommand, kUnknownCommand, Refusing, "unknown command"},
    {kInvalidField, kInvalidField, Refusing, "invalid field"},
    {kInvalidState, kInvalidState, Refusing, "command not valid in the current state"},
    {kTotalsOverflow, kTotalsOverflow, Refusing, "totals overflow"},
    {kFiscalMemoryFull, kFiscalMemoryFull, Refusing, "fiscal memory full"},
    {kFiscalMemoryAlmostFull, kFiscalMemoryAlmostFull, Warning, "fiscal memory almost full"},
    {kFiscalisationMask, kTraining, State, "certified for training, not fiscalised"},
    {kFiscalisationMask, kDefiscalised, State, "de-fiscalised"},
    {kZRequired, kZRequired, State,
     "a Z closing is required, or the document's item limit is reached"},
    {kFiscalDocumentOpen, kFiscalDocumentOpen, State, "a fiscal document is open"},
    {kDocumentOpen, kDocumentOpen, State, "a document is open"},
    {kDocumentOpen | kFiscalDocumentOpen, kDocumentOpen, State, "a non-fiscal document is open"},
    {kSlipInitialised, kSlipInitialised, State, "invoice or slip printing initialised"},
    {kFiscalAny, kFiscalAny, Summary, "fiscal status summary"},
};

std::vector<std::string> Reasons(uint16_t word, std::span<const Condition> table,
                                 bool onlyWarnings) {
  std::vector<std::string> out;
  for (const auto& c : table) {
    if (c.Class == Summary || (onlyWarnings && c.Class != Warning)) continue;
    if ((word & c.Mask) == c.Value) out.emplace_back(c.Reason);
  }
  return out;
}

}  // namespace

std::span<const Condition> PrinterConditions() {
  return kPrinter;
}
std::span<const Condition> FiscalConditions() {
  return kFiscal;
}

std::vector<std::string> DecodePrinterStatus(uint16_t word) {
  return Reasons(word, kPrinter, false);
}

std::vector<std::string> DecodeFiscalStatus(uint16_t word) {
  return Reasons(word, kFiscal, false);
}

std::vector<std::string> StatusWarnings(uint16_t printerWord, uint16_t fiscalWord) {
  std::vector<std::string> out = Reasons(printerWord, kPrinter, true);
  for (auto& r : Reasons(fiscalWord, kFiscal, true)) out.push_back(std::move(r));
  return out;
}

std::vector<std::string> RefusalReasons(uint16_t printerWord, uint16_t fiscalWord, bool opening) {
  std::vector<std::string> out;
  const PrinterState state = ReadState(printerWord, fiscalWord);
  if (opening && state.Journal == PaperState::Low)
    out.emplace_back("no document can be opened while the journal roll's paper is low");
  if (opening && state.Receipt == PaperState::Low)
    out.emplace_back("no document can be opened while the receipt roll's paper is low");
  const uint16_t told = opening ? kPaperLow : 0;
  for (auto& r : Reasons(static_cast<uint16_t>(printerWord & ~told), kPrinter, false))
    out.push_back(std::move(r));
  for (auto& r : Reasons(fiscalWord, kFiscal, false)) out.push_back(std::move(r));
  return out;
}

PrinterState ReadState(uint16_t printerWord, uint16_t fiscalWord) {
  PrinterState s;
  if (fiscalWord & kFiscalDocumentOpen)
    s.Document = OpenDocument::Fiscal;
  else if (fiscalWord & kDocumentOpen)
    s.Document = OpenDocument::NonFiscal;
  s.OnSlip = (fiscalWord & kSlipInitialised) != 0;
  const bool out = (printerWord & kOutOfPaper) != 0;
  auto roll = [&](uint16_t low) {
    return out ? PaperState::Out : (printerWord & low) ? PaperState::Low : PaperState::Ok;
  };
  s.Journal = roll(kJournalPaperLow);
  s.Receipt = roll(kReceiptPaperLow);
  switch (fiscalWord & kFiscalisationMask) {
    case kFiscalised:
      s.Fiscal = Fiscalisation::Fiscalised;
      break;
    case kTraining:
      s.Fiscal = Fiscalisation::Training;
      break;
    case kDefiscalised:
      s.Fiscal = Fiscalisation::Defiscalised;
      break;
    default:
      s.Fiscal = Fiscalisation::NotCertified;
      break;
  }
  return s;
}

const char* Name(Fiscalisation f) {
  switch (f) {
    case Fiscalisation::Fiscalised:
      return "fiscalised";
    case Fiscalisation::Training:
      return "training";
    case Fiscalisation::Defiscalised:
      return "de-fiscalised";
    case Fiscalisation::NotCertified:
      break;
  }
  return "not-certified";
}

const char* Name(PaperState p) {
  switch (p) {
    case PaperState::Low:
      return "low";
    case PaperState::Out:
      return "out";
    case PaperState::Ok:
      break;
  }
  return "ok";
}

const char* Name(OpenDocument d) {
  switch (d) {
    case OpenDocument::Fiscal:
      return "fiscal";
    case OpenDocument::NonFiscal:
      return "non-fiscal";
    case OpenDocument::None:
      break;
  }
  return nullptr;
}

}  // namespace plat
