// SPDX-License-Identifier: Apache-2.0
// One serial device as the link holds it: the descriptor (owned, closed with the port), the
// device lock, raw mode and flow control, and the reads and writes of the bytes of frames, each
// bounded by a deadline. Every byte passes the trace and the byte counters. Not installed; one
// thread at a time (the serial backend's lock).
#pragma once

#include <string>
#include <string_view>

#include "printer/internal/system.h"
#include "printer/serial_backend.h"

namespace plat::link {

// The clock the link measures its waits by: the configured one, or the steady clock.
class LinkTime {
 public:
  using TimePoint = LinkClock::TimePoint;
  explicit LinkTime(std::shared_ptr<const LinkClock> clock) : clock_(std::move(clock)) {}
  TimePoint Now() const { return clock_ ? clock_->Now() : std::chrono::steady_clock::now(); }
  TimePoint After(int ms) const { return Now() + std::chrono::milliseconds(ms); }

 private:
  std::shared_ptr<const LinkClock> clock_;
};

// How a read or a write ended.
struct LineResult {
  enum class End { Done, TimedOut, Gone };
  End What = End::Done;
  std::string Bytes;  // what a read got
  std::string Why;    // for Gone: "read: Input/output error", "hang-up"
};

class SerialPort {
 public:
  SerialPort(const LinkTime& time, LinkTrace trace) : time_(time), trace_(std::move(trace)) {}
  ~SerialPort() { Close(); }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Whether the device is open here and its line has not hung up since (a printer switched off
  // and on, a restarted printer program behind a stable path).
  bool OpenOn(const std::string& device) const;
  // Opens the device, closing any other first, and holds it. Raises ELinkError: DeviceInUse
  // when another program holds it, BadSettings when the rate or the flow control cannot be set,
  // Other when it does not open.
  void Open(const std::string& device, int baud, FlowControl flow);
  void Close();
  // Drops what was read from the line and not yet taken.
  void DropInput();

  // Waits until the printer holds DSR up, with DTR/DSR flow control; at once without it.
  LineResult WaitReady(FlowControl flow, LinkTime::TimePoint deadline);
  // Writes every byte before the deadline.
  LineResult Write(std::string_view bytes, LinkTime::TimePoint deadline);
  // The bytes that arrive before the deadline (TimedOut when none do).
  LineResult Read(LinkTime::TimePoint deadline);

  long BytesSent() const { return sent_; }
  long BytesReceived() const { return received_; }

 private:
  const LinkTime& time_;
  LinkTrace trace_;
  UniqueFd fd_;
  std::string device_;
  long sent_ = 0;
  long received_ = 0;
};

}  // namespace plat::link
