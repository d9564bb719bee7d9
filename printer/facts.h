// SPDX-License-Identifier: Apache-2.0
// The printer's facts, each in one place with its source: the command bytes, the framing, the
// checksum, the sequence rule, the busy bytes, the paper's width, the line's rates and flow
// control, and the place of each condition in the two status words. The command table
// (printer/commands.h), the link (printer/link_frame.h), the status decoding (printer/status.h)
// and the emulator all read these values and nothing else, so a printer that differs is
// corrected here, in one place. Each entry is marked with its source:
//   documented  by the maker's protocol manual of a sibling model of this printer family;
//   described   by the description of our own model;
//   assumed     by nothing: this package's own choice, which a printer may contradict.
// kFacts at the end lists every fact by name with its mark, as docs/printer-link.md and
// docs/real-printer.md do.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat::facts {

// Where a fact comes from.
enum class Source : uint8_t { Documented, Described, Assumed };

// ---- Command bytes (documented: one byte per command, the values below).
constexpr uint8_t kCmdStatus = 0x2A;
constexpr uint8_t kCmdCloseJournal = 0x39;
constexpr uint8_t kCmdOpenTicket = 0x40;
constexpr uint8_t kCmdTicketItem = 0x42;
constexpr uint8_t kCmdTicketSubtotal = 0x43;
constexpr uint8_t kCmdTicketPayment = 0x44;
constexpr uint8_t kCmdCloseTicket = 0x45;
constexpr uint8_t kCmdOpenNonFiscal = 0x48;
constexpr uint8_t kCmdNonFiscalText = 0x49;
constexpr uint8_t kCmdCloseNonFiscal = 0x4A;
constexpr uint8_t kCmdSetDateTime = 0x58;
constexpr uint8_t kCmdGetDateTime = 0x59;
constexpr uint8_t kCmdOpenInvoice = 0x60;
constexpr uint8_t kCmdInvoiceItem = 0x62;
constexpr uint8_t kCmdInvoiceSubtotal = 0x63;
constexpr uint8_t kCmdInvoicePayment = 0x64;
constexpr uint8_t kCmdCloseInvoice = 0x65;
// The two cash drawers: one command each, with no field (documented).
constexpr uint8_t kCmdOpenDrawer1 = 0x7B;
constexpr uint8_t kCmdOpenDrawer2 = 0x7C;
// The fiscal-memory reports: by a range of dates and by a range of Z numbers (documented).
constexpr uint8_t kCmdFiscalMemoryByDate = 0x3A;
constexpr uint8_t kCmdFiscalMemoryByZ = 0x3B;

// The width of the paper in characters: a non-fiscal text line holds at most this many
// (documented and described).
constexpr size_t kPaperWidth = 40;

// ---- Framing (documented): STX SEQ CMD {FS field} ETX CHK to the printer, a command with no
// field having no FS at all, and STX SEQ CMD FS printer-status FS fiscal-status {FS field} ETX
// CHK back.
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kFs = 0x1C;
constexpr uint8_t kNak = 0x15;  // either side: the frame came damaged, send it again
// Checksum (documented): four hexadecimal digits of the 16-bit sum of every byte from STX to ETX
// inclusive, upper case from the printer. Status words (documented): four hexadecimal digits
// each. The host reads the digits in either case, and a status word also without its leading
// zeros.
constexpr int kChecksumDigits = 4;
// Sequence rule: one byte from 0x20 to 0x7F, the reply carrying the command's (documented); a
// new command takes a number other than the last one's, here the next value wrapping to 0x20
// (documented as a valid choice). What the printer does with a frame whose number equals the
// last one's is unknown (assumed: nothing relies on it running only once).
constexpr uint8_t kFirstSequence = 0x20;
constexpr uint8_t kLastSequence = 0x7F;
// Busy bytes (documented): sent alone while the printer works on a command.
constexpr uint8_t kDc2 = 0x12;
constexpr uint8_t kDc4 = 0x14;
// Waiting (documented): the host waits 800 ms for a reply, and each busy byte adds 800 ms.
constexpr int kReplyWaitMs = 800;
constexpr int kBusyAddsMs = 800;

// ---- The line. Rates (documented): these four, 9600 with no parity and 1 stop bit as the
// factory setting. Data bits: not stated for the host port; 8, which the fiscal text's bytes
// above 0x7F need (assumed). Flow control (documented): DTR/DSR by default, the printer's ready
// line reaching the host's DSR; XON/XOFF as the alternative chosen at installation.
constexpr int kLineRates[] = {4800, 9600, 19200, 38400};
constexpr int kFactoryBaud = 9600;

// ---- Printer status word: the bit of each condition (documented).
namespace printer_bit {
constexpr uint16_t kError = 1u << 2;
constexpr uint16_t kOffline = 1u << 3;
// Paper low on a roll: while either is set no document can be opened; the open one can be
// finished.
constexpr uint16_t kJournalPaperLow = 1u << 4;
constexpr uint16_t kReceiptPaperLow = 1u << 5;
constexpr uint16_t kBufferFull = 1u << 6;
constexpr uint16_t kBufferEmpty = 1u << 7;
constexpr uint16_t kSlipInputReady = 1u << 8;
constexpr uint16_t kSlipReady = 1u << 9;
constexpr uint16_t kValidationReady = 1u << 10;
constexpr uint16_t kValidationPaper = 1u << 11;
constexpr uint16_t kDrawerOpen = 1u << 12;  // drawer 1 or 2
constexpr uint16_t kOutOfPaper = 1u << 14;
constexpr uint16_t kSummary = 1u << 15;
// The bits the summary bit stands for: 0 to 6 and 14.
constexpr uint16_t kSummaryOf = 0x007F | kOutOfPaper;
}  // namespace printer_bit

// ---- Fiscal status word: the bit of each condition (documented). The fiscalisation state is
// the value of the two bits kFiscalisationMask: both set, fiscalised; bit 9 alone, certified for
// training; bit 10 alone, de-fiscalised (documented); neither, not certified (assumed).
namespace fiscal_bit {
constexpr uint16_t kFiscalMemoryError = 1u << 0;
constexpr uint16_t kWorkingMemoryError = 1u << 1;
constexpr uint16_t kBatteryLow = 1u << 2;
constexpr uint16_t kUnknownCommand = 1u << 3;
constexpr uint16_t kInvalidField = 1u << 4;
constexpr uint16_t kInvalidState = 1u << 5;
constexpr uint16_t kTotalsOverflow = 1u << 6;
constexpr uint16_t kFiscalMemoryFull = 1u << 7;
constexpr uint16_t kFiscalMemoryAlmostFull = 1u << 8;
constexpr int kFiscalisationShift = 9;
constexpr uint16_t kFiscalisationMask = 3u << kFiscalisationShift;
constexpr uint16_t kTraining = 1u << kFiscalisationShift;
constexpr uint16_t kDefiscalised = 2u << kFiscalisationShift;
constexpr uint16_t kFiscalised = 3u << kFiscalisationShift;
constexpr uint16_t kZRequired = 1u << 11;  // or the item limit reached: close and go on anew
constexpr uint16_t kFiscalDocumentOpen = 1u << 12;
// A fiscal or a non-fiscal document open; with kFiscalDocumentOpen clear, a non-fiscal one.
constexpr uint16_t kDocumentOpen = 1u << 13;
constexpr uint16_t kSlipInitialised = 1u << 14;  // invoice or slip printing initialised
constexpr uint16_t kSummary = 1u << 15;
// The bits the summary bit stands for: 0 to 8 and 11.
constexpr uint16_t kSummaryOf = 0x01FF | kZRequired;
// A sheet transport needed has no bit of its own (assumed: the maker documents none).
}  // namespace fiscal_bit

// ---- Every fact by name, with its source.
struct Fact {
  const char* Name;
  Source Mark;
};
inline constexpr Fact kFacts[] = {
    {"command bytes", Source::Documented},
    {"cash drawer commands", Source::Documented},
    {"frame layout", Source::Documented},
    {"no FS in a command with no field", Source::Documented},
    {"checksum", Source::Documented},
    {"status words on the line", Source::Documented},
    {"sequence range", Source::Documented},
    {"next sequence number", Source::Documented},
    {"busy bytes", Source::Documented},
    {"NAK", Source::Documented},
    {"paper width", Source::Documented},
    {"line rates", Source::Documented},
    {"flow control", Source::Documented},
    {"data bits", Source::Assumed},
    {"printer-status bits", Source::Documented},
    {"fiscal-status bits", Source::Documented},
    {"status request modes and reply layouts", Source::Described},
    {"repeated sequence number", Source::Assumed},
    {"fiscalisation bits both clear", Source::Assumed},
    {"which roll is out of paper", Source::Assumed},
    {"sheet transport bit", Source::Assumed},
    {"status mode S", Source::Assumed},
    {"mode D with nothing open", Source::Assumed},
};

constexpr const char* Name(Source s) {
  return s == Source::Documented ? "documented" : s == Source::Described ? "described" : "assumed";
}

}  // namespace plat::facts
