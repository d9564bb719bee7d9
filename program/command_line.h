// SPDX-License-Identifier: Apache-2.0
// The command line every program shares: --help, --version and one rule for exit codes.
#pragma once

#include <optional>

#include <CLI/CLI.hpp>

#include "program/exit_code.h"

namespace cli {

// Parses the command line, with --version ("<name> <version>") added to the app. Gives the exit
// code when the program ends here: kDone after --help or --version, kUsage after a wrong
// command line, whose reason goes to standard error. With `usage`, --help prints that text and
// a wrong command line is followed by it.
std::optional<int> Parse(CLI::App& app, int argc, char** argv, const char* usage = nullptr);

}  // namespace cli
