// SPDX-License-Identifier: Apache-2.0
// Number and date formatting with the process's regional settings.
// Thread safety: FormatSettings() is one process-wide object without a lock; change it only
// while no other thread formats or parses. The routines keep no other state and may run on any
// thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/export.h"
#include "platform/types.h"

namespace plat {

// One process-wide setting, as the host runtime reads the system's regional settings.
// Initialised from the environment's LC_NUMERIC (decimal separator) and LC_TIME (the order of
// day, month and year); a host may change it at any time.
struct TFormatSettings {
  char DecimalSeparator = '.';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  AnsiString ShortDateFormat = "dd/mm/yyyy";  // tokens: d dd m mm yy yyyy
  AnsiString LongTimeFormat = "hh:nn:ss";     // tokens: h hh n nn s ss
};

PLAT_API TFormatSettings& FormatSettings();
// Re-reads the environment's locale into FormatSettings().
PLAT_API void InitFormatSettingsFromLocale();

// Pictures. Digits are decided on the value rounded to 15 significant digits, then rounded
// half away from zero to the picture's decimals ("10.555" -> 10.56).
//  "000000.00": at least six integer digits with leading zeros, never cut; two decimals.
//  "#0.00": at least one integer digit, two decimals, no grouping.
//  "#,##0.00": grouped thousands (with '.' or ',' as the other separator), two decimals.
// A negative value gets a leading '-'; a value that rounds to zero prints without sign.
PLAT_API AnsiString FormatFloat(const AnsiString& picture, double value);

// Fixed-point with two decimals and 15 significant digits; values whose integer part needs
// more than 15 digits come out in exponent notation ("1.00000000000000E+20").
PLAT_API AnsiString FloatToStrFixed2(double value);

// General format, precision 15: rounded to 15 significant digits, fixed notation without
// trailing zeros (a whole number gets no separator); scientific notation only beyond 15
// integer digits or below 0.00001 (zero excepted), as "1E20", "1.5E-6".
PLAT_API AnsiString FloatToStr(double value);

PLAT_API AnsiString IntToStr(int64_t value);

// Text to number with the current decimal separator. Blanks around are allowed. Failures raise
// EConvertError: "'x' is not a valid floating point value" / "'x' is not a valid integer value".
PLAT_API double StrToFloat(const AnsiString& s);
PLAT_API bool TryStrToFloat(const AnsiString& s, double& out);
PLAT_API int32_t StrToInt(const AnsiString& s);
PLAT_API bool TryStrToInt(const AnsiString& s, int32_t& out);

// Dates.
PLAT_API TDateTime EncodeDate(int year, int month, int day);  // EConvertError for an invalid date
PLAT_API TDateTime EncodeTime(int hour, int minute, int second, int msec = 0);
PLAT_API void DecodeDate(TDateTime dt, int& year, int& month, int& day);
PLAT_API void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& msec);

// Tokens: yyyy yy mm m dd d hh h nn n ss s zzz, quoted text '...'/"...", '/' and ':' give the
// date and time separators; other characters are copied.
PLAT_API AnsiString FormatDateTime(const AnsiString& format, TDateTime dt);
// ShortDateFormat + " " + LongTimeFormat (time omitted when it is midnight).
PLAT_API AnsiString DateTimeToStr(TDateTime dt);
// Parses a date in the order of ShortDateFormat (day, month, year) with DateSeparator,
// optionally followed by blanks and a time h:n[:s]. A two-digit year takes the century that
// puts it within 50 years of the current year. Failures raise EConvertError:
// "'x' is not a valid date and time" ("'x' is not a valid date" without a time part).
PLAT_API TDateTime StrToDateTime(const AnsiString& s);

PLAT_API AnsiString
UpperCase(const AnsiString& s);  // ASCII letters only, as the runtime's UpperCase
PLAT_API AnsiString
Trim(const AnsiString& s);  // removes blanks and control characters from both ends
PLAT_API AnsiString Trim(const AnsiString& s,
                         std::string_view chars);  // removes these from both ends

}  // namespace plat
