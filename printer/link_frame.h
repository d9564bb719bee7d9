// SPDX-License-Identifier: Apache-2.0
// Frames of the serial link between the printer control and a fiscal printer.
//
// Host to printer:   STX SEQ CMD {FS field} ETX CHK
// Printer to host:   STX SEQ CMD FS pstatus FS fstatus {FS field} ETX CHK
//
// SEQ runs from 0x20 to 0x7F and wraps; CMD comes from the command table (printer/commands.h); CHK
// is four upper-case hex digits of the 16-bit sum of every byte from STX to ETX. Fields are
// Windows-1252 bytes and never hold a byte below 0x20 or 0x7F. Between frames the printer may
// send DC2 or DC4 while it works; either side answers a damaged frame with NAK.
// docs/printer-link.md describes the link as a whole. Everything here is a pure function of its
// arguments, safe from any thread; a FrameScanner or ReplyParser belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "printer/api.h"
#include "printer/backend.h"
#include "printer/commands.h"
#include "printer/facts.h"
#include "printer/status.h"

namespace plat::link {

// The framing bytes and the sequence range (printer/facts.h).
constexpr uint8_t kStx = facts::kStx;
constexpr uint8_t kEtx = facts::kEtx;
constexpr uint8_t kDc2 = facts::kDc2;
constexpr uint8_t kDc4 = facts::kDc4;
constexpr uint8_t kNak = facts::kNak;
constexpr uint8_t kFs = facts::kFs;

// The first wait for a reply and what each busy byte adds (printer/facts.h).
constexpr int kReplyWaitMs = facts::kReplyWaitMs;
constexpr int kBusyAddsMs = facts::kBusyAddsMs;

constexpr uint8_t kFirstSequence = facts::kFirstSequence;
constexpr uint8_t kLastSequence = facts::kLastSequence;

// A printer answers at most AnswerField_3 .. AnswerField_19.
constexpr size_t kMaxAnswerFields = 17;
// No frame of either direction comes near this; a longer one is garbage.
constexpr size_t kMaxFrameBytes = 4096;

// The command table (printer/commands.h) and the status reasons (printer/status.h), as the
// link reads them.
using plat::CommandInfo;
using plat::DecodeFiscalStatus;
using plat::DecodePrinterStatus;
using plat::FindCommand;

// The 16-bit sum of the bytes, and its four upper-case hex digits.
FISCAL_PRINTER_API uint16_t Checksum(std::string_view bytes);
FISCAL_PRINTER_API std::string HexWord(uint16_t value);

// The sequence number after seq: 0x20 .. 0x7F, then 0x20 again. A value outside the range
// starts over at 0x20.
FISCAL_PRINTER_API uint8_t NextSequence(uint8_t seq);

// Refuses (ELinkError naming the command and the 1-based field) a field that holds a byte
// below 0x20 or 0x7F, which could end a frame or split a field.
FISCAL_PRINTER_API void CheckField(std::string_view method, size_t index, const AnsiString& field);

// A host frame for the method with its fields. Raises ELinkError for an unknown method, a
// field count that is not the method's, or a refused field; nothing is framed then.
FISCAL_PRINTER_API std::string EncodeCommand(uint8_t seq, std::string_view method,
                                             const std::vector<AnsiString>& fields);
// The same from the control's wide arguments (converted to Windows-1252).
FISCAL_PRINTER_API std::string EncodeCommand(uint8_t seq, std::string_view method,
                                             const std::vector<WideString*>& args);

struct CommandFrame {
  uint8_t Seq = 0;
  uint8_t Cmd = 0;
  std::vector<AnsiString> Fields;
};
// Decodes a whole host frame (STX .. CHK). Nothing for a damaged or malformed frame.
FISCAL_PRINTER_API std::optional<CommandFrame> DecodeCommand(std::string_view frame);

struct ReplyFrame {
  uint8_t Seq = 0;
  uint8_t Cmd = 0;
  uint16_t PrinterStatus = 0;
  uint16_t FiscalStatus = 0;
  std::vector<AnsiString> Fields;
};
// A printer frame. A byte that may not travel in a field goes out as a blank, and fields past
// the seventeenth are left out, so that any answer frames cleanly.
FISCAL_PRINTER_API std::string EncodeReply(const ReplyFrame& reply);
// Decodes a whole printer frame (STX .. CHK), keeping at most kMaxAnswerFields answer fields.
// Nothing for a damaged or malformed frame.
FISCAL_PRINTER_API std::optional<ReplyFrame> DecodeReply(std::string_view frame);

// The control's answer for a reply: accepted unless a refusal bit (0 to 6) of the fiscal status
// is set, or the printer is out of paper with the fiscal summary bit set (the paper ran out
// before the command); fields as wide text.
FISCAL_PRINTER_API PrinterAnswer ToAnswer(const ReplyFrame& reply);

// Cuts a byte stream into frames, one byte at a time. Works for either direction and for any
// input: noise between frames is skipped, a frame cut short by a new STX, an overlong frame or
// one whose checksum is wrong is reported as bad, and it never holds more than kMaxFrameBytes.
class FISCAL_PRINTER_API FrameScanner {
 public:
  enum class Event {
    None,       // nothing complete yet
    KeepAlive,  // DC2 or DC4 between frames
    Nak,        // NAK between frames
    Frame,      // a frame with a correct checksum: Frame()
    BadFrame    // a damaged frame: answer NAK
  };
  Event Feed(uint8_t byte);
  // The last complete frame, STX to the checksum's last digit.
  const std::string& Frame() const { return frame_; }
  void Reset();

 private:
  enum class State { Idle, Body, Check };
  State state_ = State::Idle;
  std::string buf_;
  std::string frame_;
};

// A FrameScanner for the printer's replies: a frame that does not decode as a reply is bad.
class FISCAL_PRINTER_API ReplyParser {
 public:
  enum class Event { None, KeepAlive, Nak, Reply, BadReply };
  Event Feed(uint8_t byte);
  const ReplyFrame& Reply() const { return reply_; }
  void Reset() { scanner_.Reset(); }

 private:
  FrameScanner scanner_;
  ReplyFrame reply_;
};

}  // namespace plat::link
