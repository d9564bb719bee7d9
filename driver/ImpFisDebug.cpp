// SPDX-License-Identifier: Apache-2.0
// The diagnostic log: one file per month in the host folder, one line per call, the
// file opened and closed for every line. Failures reach the caller.
#include "driver/Arfis770.h"
#include "driver/log_escape.h"
#include "platform/format.h"
#include "platform/os.h"

ARFIS_API void ImpFisDebug(const plat::AnsiString& Msg) {
  const plat::TDateTime now = plat::Now();
  const plat::AnsiString path = plat::HostFolder() + plat::PathDelim + plat::DriverLogName(now);
  const plat::TFormatSettings& fs = plat::FormatSettings();
  plat::AnsiString line = plat::FormatDateTime(fs.ShortDateFormat, now) + " " +
                          plat::FormatDateTime(fs.LongTimeFormat, now) + " - ";
  arfis::AppendLogMessage(line, Msg);  // the message cannot break the line
  line += "\r\n";
  // The whole line goes out in one checked write, so no partial line is ever left behind.
  plat::AppendToTextFile(path, line);
}
