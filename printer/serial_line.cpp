// SPDX-License-Identifier: Apache-2.0
// Serial lines: raw mode at a baud rate, and the device of a port number.
#include <termios.h>

#include <cerrno>

#include "platform/exceptions.h"
#include "printer/serial_backend.h"

namespace plat {

namespace {

speed_t SpeedFor(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

}  // namespace

bool SupportedBaud(int baud) {
  return SpeedFor(baud) != B0;
}

bool MakeRawSerialLine(int fd, int baud, FlowControl flow) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  if (flow == FlowControl::RtsCts) t.c_cflag |= CRTSCTS;
  if (flow == FlowControl::XonXoff) {
    // The printer never sends XOFF, as every command gets a reply; the host still honours one,
    // and holds the printer off when its own input fills. No frame byte is either character.
    t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
  }
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (baud != 0) {
    const speed_t speed = SpeedFor(baud);
    if (speed == B0) {
      errno = EINVAL;
      return false;
    }
    if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
  }
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

std::string SerialDeviceForPort(const SerialConfig& config, int portNumber) {
  auto it = config.Ports.find(portNumber);
  if (it != config.Ports.end()) return it->second;
  if (portNumber < 1)
    throw ELinkError("printer link: port " + std::to_string(portNumber) +
                         " is no serial port (the port name was not COM1 to COM12)",
                     LinkFault::BadSettings);
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

}  // namespace plat
