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
    {kBufferFull, kBufferFull, State, "buffer full"},
    {kBufferEmpty, kBufferEmpty, State, "buffer empty"},
    {kSlipInputReady, kSlipInputReady, State, "paper at the slip input"},
    {kSlipReady, kSlipReady, State, "slip inserted"},
    {kOutOfPaper, kOutOfPaper, Refusing, "out of paper"},
    {kPrinterAny, kPrinterAny, Summary, "printer status summary"},
    {kPaperLow, kPaperLow, Warning, "paper low"},
    {kDrawerOpen, kDrawerOpen, State, "drawer open"},
};

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
    {kFiscalisationMask, kFiscalised, State, "fiscalised"},
    {kFiscalisationMask, kCertified, State, "certified"},
    {kFiscalisationMask, kDefiscalised, State, "de-fiscalised"},
    {kZRequired, kZRequired, State, "a Z closing is required"},
    {kFiscalDocumentOpen, kFiscalDocumentOpen, State, "a fiscal document is open"},
    {kDocumentOpen, kDocumentOpen, State, "a document is open"},
    {kNonFiscalOpen, kNonFiscalOpen, State, "a non-fiscal document is open"},
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

}  // namespace plat
