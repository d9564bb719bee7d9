// The diagnostic log: one file per month beside the host executable, one line per call, the
// file opened and closed for every line. Failures reach the caller.
#include "driver/Arfis770.h"
#include "platform/format.h"
#include "platform/os.h"

ARFIS_API void ImpFisDebug(const plat::AnsiString& Msg) {
  const plat::TDateTime now = plat::Now();
  const plat::AnsiString path = plat::ExtractFileDir(plat::ExecutablePath()) + plat::PathDelim +
                                "impdebug" + plat::FormatDateTime("mmyy", now) + ".txt";
  const plat::TFormatSettings& fs = plat::FormatSettings();
  const plat::AnsiString stamp = plat::FormatDateTime(fs.ShortDateFormat, now) + " " +
                                 plat::FormatDateTime(fs.LongTimeFormat, now);
  // The whole line goes out in one checked write, so no partial line is ever left behind.
  plat::AppendToTextFile(path, stamp + " - " + Msg + "\r\n");
}
