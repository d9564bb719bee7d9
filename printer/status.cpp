// Readable reasons for the printer's status words.
#include "printer/status.h"

#include <span>

namespace plat {

namespace {

struct BitReason {
  uint16_t Bit;
  const char* Reason;
};

std::vector<std::string> Reasons(uint16_t word, std::span<const BitReason> table) {
  std::vector<std::string> out;
  for (const auto& r : table)
    if (word & r.Bit) out.emplace_back(r.Reason);
  return out;
}

}  // namespace

std::vector<std::string> DecodePrinterStatus(uint16_t word) {
  using namespace status;
  static constexpr BitReason kTable[] = {
      {kPrinterError, "printer error"}, {kOffline, "offline"},         {kBufferFull, "buffer full"},
      {kDrawerOpen, "drawer open"},     {kOutOfPaper, "out of paper"},
  };
  return Reasons(word, kTable);
}

std::vector<std::string> DecodeFiscalStatus(uint16_t word) {
  using namespace status;
  static constexpr BitReason kTable[] = {
      {kFiscalMemoryError, "fiscal memory error"},
      {kWorkingMemoryError, "working memory error"},
      {kUnknownCommand, "unknown command"},
      {kInvalidField, "invalid field"},
      {kInvalidState, "command not valid in the current state"},
      {kTotalsOverflow, "totals overflow"},
      {kFiscalMemoryFull, "fiscal memory full"},
      {kFiscalMemoryAlmostFull, "fiscal memory almost full"},
      {kZRequired, "a Z closing is required"},
      {kFiscalDocumentOpen, "a fiscal document is open"},
      {kDocumentOpen, "a document is open"},
  };
  return Reasons(word, kTable);
}

}  // namespace plat
