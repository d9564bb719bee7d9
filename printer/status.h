// The printer's two status words, as every answer carries them, and their readable reasons.
// Constants and pure functions: safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "printer/api.h"

namespace plat {

namespace status {
// Printer status.
constexpr uint16_t kPrinterError = 1u << 2;
constexpr uint16_t kOffline = 1u << 3;
constexpr uint16_t kBufferFull = 1u << 6;
constexpr uint16_t kDrawerOpen = 1u << 12;
constexpr uint16_t kOutOfPaper = 1u << 14;
constexpr uint16_t kPrinterAny = 1u << 15;  // set with any of error, offline, out of paper

// Fiscal status.
constexpr uint16_t kFiscalMemoryError = 1u << 0;
constexpr uint16_t kWorkingMemoryError = 1u << 1;
constexpr uint16_t kUnknownCommand = 1u << 3;
constexpr uint16_t kInvalidField = 1u << 4;
constexpr uint16_t kInvalidState = 1u << 5;
constexpr uint16_t kTotalsOverflow = 1u << 6;
constexpr uint16_t kFiscalMemoryFull = 1u << 7;
constexpr uint16_t kFiscalMemoryAlmostFull = 1u << 8;
constexpr uint16_t kZRequired = 1u << 11;
constexpr uint16_t kFiscalDocumentOpen = 1u << 12;
constexpr uint16_t kDocumentOpen = 1u << 13;
constexpr uint16_t kFiscalAny = 1u << 15;  // set with any of bits 0 to 7
constexpr uint16_t kRefusalMask = 0x007F;  // bits 0 to 6: the command was refused
}  // namespace status

// Readable reasons for the bits set in each status word, in bit order ("out of paper",
// "command not valid in the current state"). The summary bit 15 adds no reason of its own.
FISCAL_PRINTER_API std::vector<std::string> DecodePrinterStatus(uint16_t word);
FISCAL_PRINTER_API std::vector<std::string> DecodeFiscalStatus(uint16_t word);

}  // namespace plat
