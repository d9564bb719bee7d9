// SPDX-License-Identifier: Apache-2.0
// The service's own log: one line per event on standard error. Under the system journal
// (JOURNAL_STREAM naming standard error) each line starts with its "<N>" priority, which the
// journal reads; otherwise a line starts with the local time and the level's name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fpd {

enum class LogLevel { Error = 0, Warn = 1, Info = 2, Debug = 3 };

// "error", "warn", "info", "debug"; nothing for any other text.
std::optional<LogLevel> ParseLogLevel(std::string_view name);

// Lines below this level are not written (default: info).
void SetLogLevel(LogLevel level);
bool LogEnabled(LogLevel level);

// Writes one line (line ends inside the text become blanks), from any thread.
void Log(LogLevel level, std::string_view text);

// The line as it would be written, with the priority prefix when journal is set and the
// time and level name otherwise.
std::string FormatLogLine(LogLevel level, std::string_view text, bool journal);

// True when standard error is the stream that JOURNAL_STREAM names.
bool StderrIsJournal();

// A value for a "name=value" field of a log line: quoted when it holds blanks, quotes or
// nothing at all.
std::string LogValue(std::string_view value);
// A duration as the log lines give it: seconds with three decimals and "s" ("0.002s").
std::string Seconds(double s);

}  // namespace fpd
