// SPDX-License-Identifier: Apache-2.0
// Failures of the platform layer and of the driver. Every failure is a C++ exception derived
// from plat::Exception, which carries a readable message. Hosts are built with the same
// toolchain, so an exception that an entry point lets through reaches the host's catch.
// Exceptions are immutable once thrown and may be read from any thread.
#pragma once

#include <exception>
#include <string>
#include <system_error>

#include "platform/export.h"
#include "platform/types.h"

namespace plat {

class PLAT_API Exception : public std::exception {
 public:
  explicit Exception(AnsiString message) : message_(std::move(message)) {}
  // The message in Windows-1252 bytes.
  const AnsiString& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  AnsiString message_;
};

// A value that cannot be converted to the asked type (text to number, date, ...).
class PLAT_API EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A variant of the wrong kind for an operation (not an array, index out of bounds, ...).
class PLAT_API EVariantError : public Exception {
 public:
  using Exception::Exception;
};

// Dataset failures: field not found, dataset not open, corrupt or foreign file, ...
class PLAT_API EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// File input/output failures (open, create, write, close, rename).
class PLAT_API EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// The system's text for an errno value ("No such file or directory"); safe from any thread.
inline std::string ErrnoText(int err) {
  return std::error_code(err, std::generic_category()).message();
}

// Raises EInOutError "<what>: <the system's text for err>", the one way the platform, the
// printer stack and the programs turn a failed system call into a failure.
[[noreturn]] inline void RaiseOsError(const std::string& what, int err) {
  throw EInOutError(what + ": " + ErrnoText(err));
}

// What kind of link failure an ELinkError reports, for a caller that decides on it.
enum class LinkFault {
  Other,        // anything not listed below
  Timeout,      // the printer did not answer; the command did not run
  Refused,      // the command was refused before it reached the printer (bad field, fail-fast)
  InDoubt,      // the command may or may not have run on the printer: never send it again
  DeviceInUse,  // another program holds the device
  BadSettings,  // the line settings or the device name do not read
  NotReady      // the printer holds its ready line down (DTR/DSR), so the link did not send
};

// The printer cannot be reached: no answer, device gone, repeated bad frames.
class PLAT_API ELinkError : public Exception {
 public:
  explicit ELinkError(AnsiString message, LinkFault kind = LinkFault::Other)
      : Exception(std::move(message)), kind_(kind) {}
  LinkFault Kind() const noexcept { return kind_; }

 private:
  LinkFault kind_;
};

}  // namespace plat
