// Failures of the platform layer and of the driver. Every failure is a C++ exception derived
// from plat::Exception, which carries a readable message. Hosts are built with the same
// toolchain, so an exception that an entry point lets through reaches the host's catch.
#pragma once

#include <exception>

#include "platform/types.h"

namespace plat {

class Exception : public std::exception {
 public:
  explicit Exception(AnsiString message) : message_(std::move(message)) {}
  // The message in Windows-1252 bytes.
  const AnsiString& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  AnsiString message_;
};

// A value that cannot be converted to the asked type (text to number, date, ...).
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A variant of the wrong kind for an operation (not an array, index out of bounds, ...).
class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

// Dataset failures: field not found, dataset not open, corrupt or foreign file, ...
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// File input/output failures (open, create, write, close, rename).
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// The printer cannot be reached: no answer, device gone, repeated bad frames.
class ELinkError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace plat
