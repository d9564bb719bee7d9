// SPDX-License-Identifier: Apache-2.0
// The exit codes of every program of the package (README, "Installing on Debian").
#pragma once

namespace cli {

constexpr int kDone = 0;       // done
constexpr int kFailed = 1;     // the operation failed (the printer refused, a file was bad, ...)
constexpr int kUsage = 2;      // a wrong command line or configuration
constexpr int kNoPrinter = 3;  // the printer did not answer

}  // namespace cli
