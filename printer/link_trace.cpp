// SPDX-License-Identifier: Apache-2.0
// The serial link's frame trace, written to a file.
#include "printer/link_trace.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "printer/internal/system.h"
#include "printer/link_frame.h"

namespace plat::link {

namespace {

const char* ControlName(uint8_t b) {
  switch (b) {
    case kStx:
      return "<STX>";
    case kEtx:
      return "<ETX>";
    case kDc2:
      return "<DC2>";
    case kDc4:
      return "<DC4>";
    case kNak:
      return "<NAK>";
    case kFs:
      return "<FS>";
    default:
      return nullptr;
  }
}

std::string Stamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buf;
}

// Writes whole frames: what comes in is held until its checksum has arrived.
class TraceFile {
 public:
  TraceFile(std::FILE* f, bool owned) : f_(f), owned_(owned) {}
  ~TraceFile() {
    FlushIn();
    if (owned_) std::fclose(f_);
  }
  void Add(LinkDirection d, std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    if (d == LinkDirection::Out) {
      FlushIn();
      Line(d, bytes);
      return;
    }
    for (char c : bytes) {
      const auto b = static_cast<uint8_t>(c);
      if (in_.empty() && b != kStx) {
        Line(d, std::string_view(&c, 1));
        continue;
      }
      if (b == kStx && !in_.empty()) FlushIn();  // a frame cut short
      in_ += c;
      if (checkLeft_ > 0) {
        if (--checkLeft_ == 0) FlushIn();
      } else if (b == kEtx) {
        checkLeft_ = 4;
      } else if (in_.size() >= kMaxFrameBytes) {
        FlushIn();
      }
    }
  }

 private:
  void FlushIn() {
    if (!in_.empty()) Line(LinkDirection::In, in_);
    in_.clear();
    checkLeft_ = 0;
  }
  void Line(LinkDirection d, std::string_view bytes) {
    const std::string line = Stamp() + " " + TraceLine(d, bytes) + "\n";
    std::fwrite(line.data(), 1, line.size(), f_);
    std::fflush(f_);
  }
  std::FILE* f_;
  bool owned_;
  std::mutex mu_;
  std::string in_;
  int checkLeft_ = 0;
};

}  // namespace

std::string TraceLine(LinkDirection direction, std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string hex, text;
  for (char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    if (!hex.empty()) hex += ' ';
    hex += digits[b >> 4];
    hex += digits[b & 15];
    if (const char* name = ControlName(b)) {
      text += name;
    } else if (b < 0x20 || b == 0x7F) {
      text += std::string("<") + digits[b >> 4] + digits[b & 15] + ">";
    } else if (b < 0x80) {
      text += c;
    } else {
      text += AnsiToUtf8(AnsiString(1, c));
    }
  }
  return std::string(direction == LinkDirection::Out ? "out " : "in  ") + hex + " | " + text;
}

LinkTrace FileTrace(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr)
    throw ELinkError("FISCAL_PRINTER_TRACE: '" + path + "' cannot be written (" + ErrnoText(errno) +
                     ")");
  auto file = std::make_shared<TraceFile>(f, true);
  return [file](LinkDirection d, std::string_view bytes) { file->Add(d, bytes); };
}

LinkTrace StreamTrace(std::FILE* stream) {
  auto file = std::make_shared<TraceFile>(stream, false);
  return [file](LinkDirection d, std::string_view bytes) { file->Add(d, bytes); };
}

}  // namespace plat::link
