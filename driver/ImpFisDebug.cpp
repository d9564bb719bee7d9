// The diagnostic log: one file per month beside the host executable, one line per call, the
// file opened and closed for every line. Failures reach the caller.
#include <cmath>

#include "driver/Arfis770.h"
#include "driver/log_escape.h"
#include "platform/format.h"
#include "platform/os.h"

namespace {

// The file name and the date-time prefix change at most once a second; a report of thousands
// of lines formats them once.
struct Stamp {
  double second = -1;
  plat::AnsiString dateFormat;
  plat::AnsiString timeFormat;
  uint64_t pathVersion = 0;  // the executable path's version the folder was taken from
  plat::AnsiString folder;   // the executable's folder
  plat::AnsiString path;
  plat::AnsiString prefix;  // "<date> <time> - "
};

Stamp g_stamp;
plat::AnsiString g_line;  // the line being written, in the room of the one before

const Stamp& CurrentStamp() {
  Stamp& stamp = g_stamp;
  const plat::TDateTime now = plat::Now();
  const double second = std::floor(now * 86400.0);
  const plat::TFormatSettings& fs = plat::FormatSettings();
  const uint64_t pathVersion = plat::ExecutablePathVersion();
  if (pathVersion != stamp.pathVersion) {
    plat::AnsiString folder = plat::ExtractFileDir(plat::ExecutablePath());
    if (folder != stamp.folder) stamp.second = -1;  // the file name is made again below
    stamp.folder = std::move(folder);
    stamp.pathVersion = pathVersion;
  }
  if (second != stamp.second || fs.ShortDateFormat != stamp.dateFormat ||
      fs.LongTimeFormat != stamp.timeFormat) {
    stamp.path =
        stamp.folder + plat::PathDelim + "impdebug" + plat::FormatDateTime("mmyy", now) + ".txt";
    stamp.prefix = plat::FormatDateTime(fs.ShortDateFormat, now) + " " +
                   plat::FormatDateTime(fs.LongTimeFormat, now) + " - ";
    stamp.second = second;
    stamp.dateFormat = fs.ShortDateFormat;
    stamp.timeFormat = fs.LongTimeFormat;
  }
  return stamp;
}

}  // namespace

ARFIS_API void ImpFisDebug(const plat::AnsiString& Msg) {
  const Stamp& stamp = CurrentStamp();
  // The whole line goes out in one checked write, so no partial line is ever left behind; the
  // message cannot break it (see AppendLogMessage).
  plat::AnsiString& line = g_line;
  line.assign(stamp.prefix);
  arfis::AppendLogMessage(line, Msg);
  line.append("\r\n");
  plat::AppendToTextFile(stamp.path, line);
  if (line.capacity() > 4096) plat::AnsiString().swap(line);  // an oversized message's room goes
}
