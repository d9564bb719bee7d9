// SPDX-License-Identifier: Apache-2.0
// Frames of the serial printer link: checksums, encoding, decoding and the byte-at-a-time
// frame scanner.
#include "printer/link_frame.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/exceptions.h"

namespace plat::link {

namespace {

bool Forbidden(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The checksum's digits, and the most a status word has.
constexpr size_t kWordDigits = static_cast<size_t>(facts::kChecksumDigits);

// Hexadecimal digits in either case. The checksum has all its places (the frame ends with them
// after ETX); a status word is read between its separators, with or without leading zeros.
std::optional<uint16_t> ParseHex(std::string_view s, size_t minDigits) {
  if (s.empty() || s.size() < minDigits || s.size() > kWordDigits) return std::nullopt;
  uint16_t v = 0;
  for (char c : s) {
    const int d = HexValue(c);
    if (d < 0) return std::nullopt;
    v = static_cast<uint16_t>(v * 16 + d);
  }
  return v;
}

std::string Seal(std::string frame) {
  frame += static_cast<char>(kEtx);
  frame += HexWord(Checksum(frame));
  return frame;
}

// The body of a whole frame (the bytes after STX SEQ CMD and before ETX), once the outer shape
// and the checksum are right. Answers false for anything else.
bool OpenFrame(std::string_view frame, uint8_t& seq, uint8_t& cmd, std::string_view& body) {
  if (frame.size() < 8) return false;  // STX SEQ CMD ETX + 4 digits
  if (static_cast<uint8_t>(frame[0]) != kStx) return false;
  const size_t etx = frame.size() - 5;
  if (static_cast<uint8_t>(frame[etx]) != kEtx) return false;
  const auto sum = ParseHex(frame.substr(etx + 1), kWordDigits);
  if (!sum || *sum != Checksum(frame.substr(0, etx + 1))) return false;
  seq = static_cast<uint8_t>(frame[1]);
  cmd = static_cast<uint8_t>(frame[2]);
  if (seq < kFirstSequence || seq > kLastSequence) return false;
  body = frame.substr(3, etx - 3);
  return true;
}

// Whether a field is the lone DEL that the command's field may hold.
bool AllowedDel(std::string_view method, size_t index, std::string_view field) {
  return field == "\x7F" && MayHoldDel(method, index);
}

// Splits "FS a FS b ..." into its fields; false when the body does not start with FS or holds a
// byte that may not travel in a field (the method's documented DEL aside).
bool SplitFields(std::string_view body, std::vector<AnsiString>& out,
                 std::string_view method = {}) {
  out.clear();
  if (body.empty()) return true;
  if (static_cast<uint8_t>(body[0]) != kFs) return false;
  size_t start = 1;
  while (true) {
    const size_t fs = body.find(static_cast<char>(kFs), start);
    const std::string_view field =
        body.substr(start, fs == std::string_view::npos ? std::string_view::npos : fs - start);
    if (!AllowedDel(method, out.size() + 1, field))
      for (char c : field)
        if (Forbidden(static_cast<unsigned char>(c))) return false;
    out.emplace_back(field);
    if (fs == std::string_view::npos) return true;
    start = fs + 1;
  }
}

}  // namespace

uint16_t Checksum(std::string_view bytes) {
  uint16_t sum = 0;
  for (char c : bytes) sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(c));
  return sum;
}

std::string HexWord(uint16_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i) {
    s[static_cast<size_t>(i)] = kDigits[value & 0xF];
    value = static_cast<uint16_t>(value >> 4);
  }
  return s;
}

uint8_t NextSequence(uint8_t seq) {
  if (seq < kFirstSequence || seq >= kLastSequence) return kFirstSequence;
  return static_cast<uint8_t>(seq + 1);
}

void CheckField(std::string_view method, size_t index, const AnsiString& field) {
  if (AllowedDel(method, index, field)) return;
  for (size_t i = 0; i < field.size(); ++i) {
    const auto c = static_cast<unsigned char>(field[i]);
    if (!Forbidden(c)) continue;
    const std::string byte = "0x" + HexWord(c).substr(2);
    throw ELinkError("the printer link cannot send " + std::string(method) + ": field " +
                         std::to_string(index) + " holds the control byte " + byte +
                         " at position " + std::to_string(i + 1),
                     LinkFault::Refused);
  }
}

std::string EncodeCommand(uint8_t seq, std::string_view method,
                          const std::vector<AnsiString>& fields) {
  const CommandInfo* info = FindCommand(method);
  if (info == nullptr || info->Cmd == 0)
    throw ELinkError("the printer link has no command for the method " + std::string(method),
                     LinkFault::Refused);
  if (fields.size() != info->Fields)
    throw ELinkError("the printer link sends " + std::to_string(info->Fields) + " fields with " +
                         std::string(method) + ", not " + std::to_string(fields.size()),
                     LinkFault::Refused);
  for (size_t i = 0; i < fields.size(); ++i) CheckField(method, i + 1, fields[i]);
  std::string frame;
  frame += static_cast<char>(kStx);
  frame += static_cast<char>(seq);
  frame += static_cast<char>(info->Cmd);
  for (const auto& f : fields) {
    frame += static_cast<char>(kFs);
    frame += f;
  }
  return Seal(std::move(frame));
}

std::string EncodeCommand(uint8_t seq, std::string_view method,
                          const std::vector<WideString*>& args) {
  std::vector<AnsiString> fields;
  fields.reserve(args.size());
  for (const WideString* a : args) fields.push_back(a ? WideToAnsi(*a) : AnsiString());
  return EncodeCommand(seq, method, fields);
}

std::optional<CommandFrame> DecodeCommand(std::string_view frame) {
  CommandFrame out;
  std::string_view body;
  if (!OpenFrame(frame, out.Seq, out.Cmd, body)) return std::nullopt;
  const CommandInfo* info = FindCommand(out.Cmd);
  if (!SplitFields(body, out.Fields, info ? info->Method : "")) return std::nullopt;
  return out;
}

std::string EncodeReply(const ReplyFrame& reply) {
  std::string frame;
  frame += static_cast<char>(kStx);
  frame += static_cast<char>(reply.Seq);
  frame += static_cast<char>(reply.Cmd);
  frame += static_cast<char>(kFs);
  frame += HexWord(reply.PrinterStatus);
  frame += static_cast<char>(kFs);
  frame += HexWord(reply.FiscalStatus);
  for (size_t i = 0; i < reply.Fields.size() && i < kMaxAnswerFields; ++i) {
    frame += static_cast<char>(kFs);
    for (char c : reply.Fields[i]) frame += Forbidden(static_cast<unsigned char>(c)) ? ' ' : c;
  }
  return Seal(std::move(frame));
}

std::optional<ReplyFrame> DecodeReply(std::string_view frame) {
  ReplyFrame out;
  std::string_view body;
  if (!OpenFrame(frame, out.Seq, out.Cmd, body)) return std::nullopt;
  std::vector<AnsiString> fields;
  if (!SplitFields(body, fields) || fields.size() < 2) return std::nullopt;
  const auto printer = ParseHex(fields[0], 1);
  const auto fiscal = ParseHex(fields[1], 1);
  if (!printer || !fiscal) return std::nullopt;
  out.PrinterStatus = *printer;
  out.FiscalStatus = *fiscal;
  // The reply is read as far as the control holds answer fields; a printer that gives more
  // (a newer firmware's Z closing) is not refused for it.
  const size_t kept = std::min(fields.size() - 2, kMaxAnswerFields);
  out.Fields.assign(fields.begin() + 2, fields.begin() + 2 + static_cast<std::ptrdiff_t>(kept));
  return out;
}

PrinterAnswer ToAnswer(const ReplyFrame& reply) {
  PrinterAnswer a;
  a.PrinterStatus = reply.PrinterStatus;
  a.FiscalStatus = reply.FiscalStatus;
  // Out of paper with the fiscal summary bit set: the paper ran out before the command, which
  // did not run. With the summary clear it ran, and the paper ran out after it.
  const bool noPaperBefore =
      (reply.PrinterStatus & status::kOutOfPaper) && (reply.FiscalStatus & status::kFiscalAny);
  a.Result = (reply.FiscalStatus & status::kRefusalMask) == 0 && !noPaperBefore ? 1 : 0;
  for (const auto& f : reply.Fields) a.Fields.push_back(AnsiToWide(f));
  return a;
}

// ---------------------------------------------------------------------------------------------

void FrameScanner::Reset() {
  state_ = State::Idle;
  buf_.clear();
}

FrameScanner::Event FrameScanner::Feed(uint8_t byte) {
  switch (state_) {
    case State::Idle:
      if (byte == kStx) {
        buf_.assign(1, static_cast<char>(byte));
        state_ = State::Body;
      } else if (byte == kDc2 || byte == kDc4) {
        return Event::KeepAlive;
      } else if (byte == kNak) {
        return Event::Nak;
      }
      return Event::None;  // noise between frames
    case State::Body:
      if (byte == kStx) {  // the frame was cut short; a new one starts
        buf_.assign(1, static_cast<char>(byte));
        return Event::BadFrame;
      }
      buf_ += static_cast<char>(byte);
      if (byte == kEtx) {
        state_ = State::Check;
      } else if (buf_.size() > kMaxFrameBytes) {
        Reset();
        return Event::BadFrame;
      }
      return Event::None;
    case State::Check:
      if (byte == kStx) {
        buf_.assign(1, static_cast<char>(byte));
        state_ = State::Body;
        return Event::BadFrame;
      }
      buf_ += static_cast<char>(byte);
      if (HexValue(static_cast<char>(byte)) < 0) {
        Reset();
        return Event::BadFrame;
      }
      if (buf_.size() < 5 || buf_[buf_.size() - 5] != static_cast<char>(kEtx)) return Event::None;
      {
        const size_t etx = buf_.size() - 5;
        const auto sum = ParseHex(std::string_view(buf_).substr(etx + 1), kWordDigits);
        const bool good = sum && *sum == Checksum(std::string_view(buf_).substr(0, etx + 1));
        if (good) frame_.swap(buf_);
        Reset();
        return good ? Event::Frame : Event::BadFrame;
      }
  }
  return Event::None;
}

ReplyParser::Event ReplyParser::Feed(uint8_t byte) {
  switch (scanner_.Feed(byte)) {
    case FrameScanner::Event::None:
      return Event::None;
    case FrameScanner::Event::KeepAlive:
      return Event::KeepAlive;
    case FrameScanner::Event::Nak:
      return Event::Nak;
    case FrameScanner::Event::BadFrame:
      return Event::BadReply;
    case FrameScanner::Event::Frame:
      break;
  }
  auto reply = DecodeReply(scanner_.Frame());
  if (!reply) return Event::BadReply;
  reply_ = std::move(*reply);
  return Event::Reply;
}

}  // namespace plat::link
