// SPDX-License-Identifier: Apache-2.0
// The serial device under the link: opening and holding it, and its reads and writes with
// deadlines.
#include "printer/internal/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>

#include "platform/exceptions.h"
#include "printer/internal/device_lock.h"

namespace plat::link {

namespace {

// Milliseconds left to the deadline, rounded up so that a poll never wakes just before it and
// spins; 0 once it has passed.
int MsLeft(const LinkTime& time, LinkTime::TimePoint deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - time.Now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

LineResult Gone(std::string why) {
  return {LineResult::End::Gone, {}, std::move(why)};
}

}  // namespace

bool SerialPort::OpenOn(const std::string& device) const {
  if (!fd_.Valid() || device_ != device) return false;
  pollfd p{fd_.Get(), POLLIN, 0};
  return ::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void SerialPort::Open(const std::string& device, int baud, FlowControl flow) {
  Close();
  UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid() && errno == EBUSY)
    throw ELinkError("the device is in use by " + DeviceHolder(device), LinkFault::DeviceInUse);
  if (!fd.Valid()) throw ELinkError("cannot open the device (" + ErrnoText(errno) + ")");
  const std::string held = HoldDevice(fd.Get(), device);
  if (!held.empty()) throw ELinkError(held, LinkFault::DeviceInUse);
  auto fail = [&](const std::string& what) {
    ReleaseDevice(fd.Get());
    throw ELinkError(what, LinkFault::BadSettings);
  };
  if (!SupportedBaud(baud))
    fail("cannot set " + std::to_string(baud) + " baud 8N1 (unsupported rate)");
  if (!MakeRawSerialLine(fd.Get(), baud, flow))
    fail("cannot set " + std::to_string(baud) + " baud 8N1 (" + ErrnoText(errno) + ")");
  if (flow == FlowControl::DtrDsr) {
    const int dtr = TIOCM_DTR;
    if (::ioctl(fd.Get(), TIOCMBIS, &dtr) != 0)
      fail("cannot use DTR/DSR flow control (the device has no modem control lines: " +
           ErrnoText(errno) + ")");
  }
  fd_ = std::move(fd);
  device_ = device;
}

void SerialPort::Close() {
  if (fd_.Valid()) ReleaseDevice(fd_.Get());
  fd_.Reset();
  device_.clear();
}

void SerialPort::DropInput() {
  if (fd_.Valid()) ::tcflush(fd_.Get(), TCIFLUSH);
}

LineResult SerialPort::WaitReady(FlowControl flow, LinkTime::TimePoint deadline) {
  if (flow != FlowControl::DtrDsr) return {};
  while (true) {
    int lines = 0;
    if (::ioctl(fd_.Get(), TIOCMGET, &lines) != 0) return Gone("modem lines: " + ErrnoText(errno));
    if (lines & TIOCM_DSR) return {};
    if (time_.Now() >= deadline) return {LineResult::End::TimedOut, {}, {}};
    ::poll(nullptr, 0, 5);
  }
}

LineResult SerialPort::Write(std::string_view bytes, LinkTime::TimePoint deadline) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      if (trace_) trace_(LinkDirection::Out, bytes.substr(done, static_cast<size_t>(n)));
      done += static_cast<size_t>(n);
      sent_ += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Gone("write: " + ErrnoText(errno));
    const int left = MsLeft(time_, deadline);
    if (left <= 0) return {LineResult::End::TimedOut, {}, {}};
    pollfd p{fd_.Get(), POLLOUT, 0};
    const int r = ::poll(&p, 1, left);
    if (r < 0 && errno != EINTR) return Gone("poll: " + ErrnoText(errno));
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return Gone("hang-up while writing");
  }
  return {};
}

LineResult SerialPort::Read(LinkTime::TimePoint deadline) {
  while (true) {
    const int left = MsLeft(time_, deadline);
    if (left <= 0) return {LineResult::End::TimedOut, {}, {}};
    pollfd p{fd_.Get(), POLLIN, 0};
    const int r = ::poll(&p, 1, left);
    if (r < 0) {
      if (errno == EINTR) continue;
      return Gone("poll: " + ErrnoText(errno));
    }
    if (r == 0) continue;  // the deadline is checked above
    if (p.revents & (POLLERR | POLLNVAL)) return Gone("line error");
    if (!(p.revents & POLLIN)) return Gone("hang-up");
    char buf[256];
    const ssize_t n = ::read(fd_.Get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return Gone("read: " + ErrnoText(errno));
    }
    if (n == 0) return Gone("end of file");
    received_ += n;
    std::string_view got(buf, static_cast<size_t>(n));
    if (trace_) trace_(LinkDirection::In, got);
    return {LineResult::End::Done, std::string(got), {}};
  }
}

}  // namespace plat::link
