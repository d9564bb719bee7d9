// SPDX-License-Identifier: Apache-2.0
// Number and date texts with the process's regional settings.
//
// Every number text is built from the value's decimal digits at 15 significant digits and
// rounded on that decimal string, so what is printed never depends on the binary noise below
// the fifteenth digit (a stored 10.555 is just below 10.555 but prints as 10.56).

#include "platform/format.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string_view>

#include "platform/exceptions.h"

namespace plat {

namespace {

// ---- Regional settings -----------------------------------------------------------------------

// The locale name that the environment chooses for one category, or "" for none.
std::string EnvLocaleName(const char* category) {
  for (const char* var : {"LC_ALL", category, "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') return v;
  }
  return "";
}

bool IsPlainCLocale(const std::string& name) {
  return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

char LocaleDecimalSeparator() {
  const std::string name = EnvLocaleName("LC_NUMERIC");
  if (IsPlainCLocale(name)) return '.';
  locale_t loc = newlocale(LC_NUMERIC_MASK, name.c_str(), static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return '.';
  char sep = '.';
  const char* radix = nl_langinfo_l(RADIXCHAR, loc);
  if (radix != nullptr && (radix[0] == '.' || radix[0] == ',') && radix[1] == '\0') sep = radix[0];
  freelocale(loc);
  return sep;
}

// The day/month/year order of the locale's date format as a short-date picture with '/'
// ("dd/mm/yyyy", "mm/dd/yyyy" or "yyyy/mm/dd"); "" when the locale does not tell.
AnsiString LocaleShortDateFormat() {
  const std::string name = EnvLocaleName("LC_TIME");
  if (IsPlainCLocale(name)) return "";
  locale_t loc = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return "";
  std::string fmt;
  if (const char* f = nl_langinfo_l(D_FMT, loc)) fmt = f;
  freelocale(loc);

  std::string order;  // letters d, m, y in the order they appear
  for (size_t i = 0; i + 1 < fmt.size(); ++i) {
    if (fmt[i] != '%') continue;
    char c = fmt[++i];
    if (c == 'E' || c == 'O') {
      if (i + 1 >= fmt.size()) break;
      c = fmt[++i];
    }
    switch (c) {
      case 'd':
      case 'e':
        order += 'd';
        break;
      case 'm':
        order += 'm';
        break;
      case 'y':
      case 'Y':
        order += 'y';
        break;
      case 'D':
        order += "mdy";
        break;
      case 'F':
        order += "ymd";
        break;
      default:
        break;
    }
  }
  if (order == "dmy") return "dd/mm/yyyy";
  if (order == "mdy") return "mm/dd/yyyy";
  if (order == "ymd") return "yyyy/mm/dd";
  return "";
}

char ThousandSeparator() {
  return FormatSettings().DecimalSeparator == ',' ? '.' : ',';
}

// ---- Decimal digits ------------------------------------------------------------------------

// A finite value at 15 significant digits: |value| = d0.d1...d14 x 10^exp.
struct Decimal {
  bool negative = false;
  bool zero = true;
  std::string digits;  // exactly 15 digits, the first nonzero unless zero
  int exp = 0;
};

Decimal ToDecimal(double value) {
  Decimal d;
  d.negative = std::signbit(value);
  if (value == 0) {
    d.digits.assign(15, '0');
    return d;
  }
  // "d.dddddddddddddde+XX", correctly rounded as printf's "%.14e" writes it, without the cost of
  // printf's multi-precision path (this runs for every amount of every report line).
  char buf[64];
  const auto res =
      std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::scientific, 14);
  *res.ptr = '\0';
  d.zero = false;
  d.digits += buf[0];
  d.digits.append(buf + 2, 14);
  d.exp = std::atoi(buf + 17);
  return d;
}

// Adds one to a decimal digit string.
void Increment(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

// The digits of |value| x 10^decimals rounded half away from zero to a whole number, without
// leading zeros ("0" for zero).
std::string ScaledDigits(const Decimal& d, int decimals) {
  if (d.zero) return "0";
  const long keep = static_cast<long>(d.exp) + decimals + 1;  // digits left of the cut
  std::string out;
  if (keep >= 15) {
    out = d.digits;
    out.append(static_cast<size_t>(keep - 15), '0');
  } else if (keep < 0) {
    return "0";
  } else {
    out = d.digits.substr(0, static_cast<size_t>(keep));
    const bool up = d.digits[static_cast<size_t>(keep)] >= '5';
    if (out.empty()) return up ? "1" : "0";
    if (up) Increment(out);
  }
  const size_t first = out.find_first_not_of('0');
  return first == std::string::npos ? "0" : out.substr(first);
}

bool AllZero(const std::string& digits) {
  return digits.find_first_not_of('0') == std::string::npos;
}

AnsiString NonFiniteText(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

AnsiString Group(const std::string& intDigits, char sep) {
  AnsiString out;
  const size_t n = intDigits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += sep;
    out += intDigits[i];
  }
  return out;
}

// A number with a fixed layout: at least minInt integer digits, between minDec and maxDec
// decimals, optional grouping of thousands.
AnsiString FormatFixed(const Decimal& d, int minInt, int minDec, int maxDec, bool grouping) {
  std::string n = ScaledDigits(d, maxDec);
  const bool negative = d.negative && !AllZero(n);
  if (n.size() < static_cast<size_t>(maxDec) + 1) n.insert(0, maxDec + 1 - n.size(), '0');
  std::string intPart = n.substr(0, n.size() - maxDec);
  std::string frac = n.substr(n.size() - maxDec);
  while (static_cast<int>(frac.size()) > minDec && frac.back() == '0') frac.pop_back();
  if (intPart == "0" && minInt == 0) intPart.clear();
  if (static_cast<int>(intPart.size()) < minInt) intPart.insert(0, minInt - intPart.size(), '0');
  if (intPart.empty() && frac.empty()) intPart = "0";

  AnsiString out;
  if (negative) out += '-';
  out += grouping ? Group(intPart, ThousandSeparator()) : intPart;
  if (!frac.empty()) {
    out += FormatSettings().DecimalSeparator;
    out += frac;
  }
  return out;
}

AnsiString FormatFixed(double value, int minInt, int minDec, int maxDec, bool grouping) {
  if (!std::isfinite(value)) return NonFiniteText(value);
  return FormatFixed(ToDecimal(value), minInt, minDec, maxDec, grouping);
}

AnsiString ExponentText(int exp, bool alwaysSign, int minDigits) {
  AnsiString out = "E";
  if (exp < 0) {
    out += '-';
  } else if (alwaysSign) {
    out += '+';
  }
  AnsiString digits = std::to_string(std::abs(exp));
  if (static_cast<int>(digits.size()) < minDigits) digits.insert(0, minDigits - digits.size(), '0');
  return out + digits;
}

// ---- Text scanning ---------------------------------------------------------------------------

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The text without blanks around it.
std::string_view StripBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// ---- Dates -------------------------------------------------------------------------------

constexpr double kMSecsPerDay = 86400000.0;
// Day numbers of 0001-01-01 and 9999-12-31.
constexpr long kMinDay = -693593;
constexpr long kMaxDay = 2958465;

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ValidDate(int y, int m, int d) {
  return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

// Days from 1970-01-01 in the proleptic Gregorian calendar.
constexpr long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int& y, int& m, int& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<long>(yoe) + era * 400 + (m <= 2));
}

// 1899-12-30 counted from 1970-01-01.
constexpr long kEpochOffset = DaysFromCivil(1899, 12, 30);

// Splits a date-time into its day number and the milliseconds of the day. The time part is
// the absolute fraction, so -1.25 is 29 December 1899, 06:00.
void Split(TDateTime dt, long& day, long& msec) {
  if (!std::isfinite(dt) || dt < kMinDay - 1 || dt > kMaxDay + 1)
    throw EConvertError("Invalid date-time value " + FloatToStr(dt));
  const double whole = std::trunc(dt);
  day = static_cast<long>(whole);
  msec = std::lround(std::fabs(dt - whole) * kMSecsPerDay);
  if (msec >= static_cast<long>(kMSecsPerDay)) {
    msec -= static_cast<long>(kMSecsPerDay);
    ++day;
  }
  if (day < kMinDay || day > kMaxDay)
    throw EConvertError("Invalid date-time value " + FloatToStr(dt));
}

AnsiString Pad(int v, int width) {
  AnsiString s = std::to_string(v);
  if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
  return s;
}

int CurrentYear() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return tm.tm_year + 1900;
}

// Reads up to maxDigits decimal digits at pos; false when there is none.
bool ReadNumber(std::string_view s, size_t& pos, int maxDigits, int& value, int& count) {
  value = 0;
  count = 0;
  while (pos < s.size() && IsDigit(s[pos])) {
    if (count == maxDigits) return false;
    value = value * 10 + (s[pos] - '0');
    ++count;
    ++pos;
  }
  return count > 0;
}

// The order of day, month and year in the short-date format, as indexes 0..2 into d, m, y.
void DateOrder(const AnsiString& fmt, int& di, int& mi, int& yi) {
  auto first = [&](char c) {
    for (size_t i = 0; i < fmt.size(); ++i)
      if ((fmt[i] | 0x20) == c) return static_cast<long>(i);
    return -1L;
  };
  const long pd = first('d'), pm = first('m'), py = first('y');
  if (pd < 0 || pm < 0 || py < 0) {
    di = 0, mi = 1, yi = 2;
    return;
  }
  di = (pd > pm) + (pd > py);
  mi = (pm > pd) + (pm > py);
  yi = (py > pd) + (py > pm);
}

bool ParseDateTime(std::string_view text, TDateTime& out) {
  const TFormatSettings& fs = FormatSettings();
  const std::string_view s = StripBlanks(text);
  size_t pos = 0;
  int part[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (pos >= s.size() || s[pos] != fs.DateSeparator) return false;
      ++pos;
    }
    if (!ReadNumber(s, pos, 4, part[i], digits[i])) return false;
  }
  int di, mi, yi;
  DateOrder(fs.ShortDateFormat, di, mi, yi);
  int year = part[yi];
  if (digits[yi] <= 2) {
    // Two-digit year: the century that puts it within 50 years of today.
    const int base = CurrentYear() - 50;
    year += base / 100 * 100;
    if (year < base) year += 100;
  }
  if (!ValidDate(year, part[mi], part[di])) return false;

  int h = 0, n = 0, sec = 0;
  if (pos < s.size()) {
    if (!IsBlank(s[pos])) return false;
    while (pos < s.size() && IsBlank(s[pos])) ++pos;
    int count;
    if (!ReadNumber(s, pos, 2, h, count)) return false;
    if (pos >= s.size() || s[pos] != fs.TimeSeparator) return false;
    ++pos;
    if (!ReadNumber(s, pos, 2, n, count)) return false;
    if (pos < s.size() && s[pos] == fs.TimeSeparator) {
      ++pos;
      if (!ReadNumber(s, pos, 2, sec, count)) return false;
    }
    if (pos != s.size()) return false;
    if (h > 23 || n > 59 || sec > 59) return false;
  }
  const double date = EncodeDate(year, part[mi], part[di]);
  const double time = EncodeTime(h, n, sec);
  out = date >= 0 ? date + time : date - time;
  return true;
}

}  // namespace

// ---- Settings ----------------------------------------------------------------------------------

TFormatSettings& FormatSettings() {
  static TFormatSettings* settings = [] {
    static TFormatSettings s;
    s.DecimalSeparator = LocaleDecimalSeparator();
    const AnsiString dateFormat = LocaleShortDateFormat();
    if (!dateFormat.empty()) s.ShortDateFormat = dateFormat;
    return &s;
  }();
  return *settings;
}

void InitFormatSettingsFromLocale() {
  TFormatSettings& s = FormatSettings();
  s = TFormatSettings{};
  s.DecimalSeparator = LocaleDecimalSeparator();
  const AnsiString dateFormat = LocaleShortDateFormat();
  if (!dateFormat.empty()) s.ShortDateFormat = dateFormat;
}

// ---- Numbers to text -------------------------------------------------------------------------

AnsiString FormatFloat(const AnsiString& picture, double value) {
  if (picture.empty()) return FloatToStr(value);
  // The number part runs from the first to the last placeholder or point; what lies before
  // and after it is copied as it stands.
  const size_t begin = picture.find_first_of("0#.,");
  if (begin == std::string::npos) return picture;
  const size_t end = picture.find_last_of("0#.,") + 1;
  const std::string_view prefix(picture.data(), begin);
  const std::string_view suffix(picture.data() + end, picture.size() - end);
  const std::string_view body(picture.data() + begin, end > begin ? end - begin : 0);

  const size_t point = body.find('.');
  const std::string_view intPic = body.substr(0, point);
  const std::string_view fracPic =
      point == std::string_view::npos ? std::string_view() : body.substr(point + 1);

  int minInt = 0;
  bool seenZero = false;
  for (char c : intPic) {
    if (c == '0') seenZero = true;
    if (seenZero && (c == '0' || c == '#')) ++minInt;
  }
  const bool grouping = intPic.find(',') != std::string_view::npos;
  int minDec = 0, maxDec = 0;
  for (char c : fracPic) {
    if (c != '0' && c != '#') continue;
    ++maxDec;
    if (c == '0') minDec = maxDec;
  }
  AnsiString out = FormatFixed(value, minInt, minDec, maxDec, grouping);
  if (!std::isfinite(value)) return out;
  if (!prefix.empty()) {
    const size_t at = !out.empty() && out[0] == '-' ? 1 : 0;
    out.insert(at, prefix);
  }
  out += suffix;
  return out;
}

AnsiString FloatToStrFixed2(double value) {
  if (!std::isfinite(value)) return NonFiniteText(value);
  const Decimal d = ToDecimal(value);
  if (!d.zero && d.exp >= 15) {
    AnsiString out = d.negative ? "-" : "";
    out += d.digits[0];
    out += FormatSettings().DecimalSeparator;
    out.append(d.digits, 1, std::string::npos);
    return out + ExponentText(d.exp, true, 2);
  }
  return FormatFixed(d, 1, 2, 2, false);
}

AnsiString FloatToStr(double value) {
  if (!std::isfinite(value)) return NonFiniteText(value);
  const Decimal d = ToDecimal(value);
  if (d.zero) return "0";
  std::string sig = d.digits;
  while (sig.size() > 1 && sig.back() == '0') sig.pop_back();
  const char sep = FormatSettings().DecimalSeparator;
  AnsiString out = d.negative ? "-" : "";
  if (d.exp >= 15 || d.exp < -5) {
    out += sig[0];
    if (sig.size() > 1) {
      out += sep;
      out.append(sig, 1, std::string::npos);
    }
    return out + ExponentText(d.exp, false, 1);
  }
  if (d.exp >= 0) {
    const size_t intLen = static_cast<size_t>(d.exp) + 1;
    if (sig.size() <= intLen) {
      out += sig;
      out.append(intLen - sig.size(), '0');
    } else {
      out.append(sig, 0, intLen);
      out += sep;
      out.append(sig, intLen, std::string::npos);
    }
  } else {
    out += '0';
    out += sep;
    out.append(static_cast<size_t>(-d.exp - 1), '0');
    out += sig;
  }
  return out;
}

AnsiString IntToStr(int64_t value) {
  return std::to_string(value);
}

// ---- Text to numbers -------------------------------------------------------------------------

bool TryStrToFloat(const AnsiString& text, double& out) {
  const std::string_view s = StripBlanks(text);
  const char sep = FormatSettings().DecimalSeparator;
  // Rewritten with a point for the locale-free parser.
  std::string plain;
  size_t pos = 0;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    if (s[pos] == '-') plain += '-';
    ++pos;
  }
  size_t mantissaDigits = 0;
  while (pos < s.size() && IsDigit(s[pos])) plain += s[pos++], ++mantissaDigits;
  if (pos < s.size() && s[pos] == sep) {
    plain += '.';
    ++pos;
    while (pos < s.size() && IsDigit(s[pos])) plain += s[pos++], ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (pos < s.size() && (s[pos] == 'E' || s[pos] == 'e')) {
    plain += 'e';
    ++pos;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) plain += s[pos++];
    size_t expDigits = 0;
    while (pos < s.size() && IsDigit(s[pos])) plain += s[pos++], ++expDigits;
    if (expDigits == 0) return false;
  }
  if (pos != s.size()) return false;
  double v = 0;
  const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
  if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

double StrToFloat(const AnsiString& s) {
  double v = 0;
  if (!TryStrToFloat(s, v)) throw EConvertError("'" + s + "' is not a valid floating point value");
  return v;
}

bool TryStrToInt(const AnsiString& text, int32_t& out) {
  const std::string_view s = StripBlanks(text);
  size_t pos = 0;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
  if (pos == s.size()) return false;
  int64_t v = 0;
  for (; pos < s.size(); ++pos) {
    if (!IsDigit(s[pos])) return false;
    v = v * 10 + (s[pos] - '0');
    if (v > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  if (negative) v = -v;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    return false;
  out = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(const AnsiString& s) {
  int32_t v = 0;
  if (!TryStrToInt(s, v)) throw EConvertError("'" + s + "' is not a valid integer value");
  return v;
}

// ---- Dates -------------------------------------------------------------------------------------

TDateTime EncodeDate(int year, int month, int day) {
  if (!ValidDate(year, month, day))
    throw EConvertError("Invalid argument to date encode: " + std::to_string(year) + "-" +
                        std::to_string(month) + "-" + std::to_string(day));
  return static_cast<double>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochOffset);
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    throw EConvertError("Invalid argument to time encode: " + std::to_string(hour) + ":" +
                        std::to_string(minute) + ":" + std::to_string(second) + "." +
                        std::to_string(msec));
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMSecsPerDay;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  long d, ms;
  Split(dt, d, ms);
  CivilFromDays(d + kEpochOffset, year, month, day);
}

void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& msec) {
  long d, ms;
  Split(dt, d, ms);
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

AnsiString FormatDateTime(const AnsiString& format, TDateTime dt) {
  const TFormatSettings& fs = FormatSettings();
  int y, mo, d, h, mi, s, ms;
  DecodeDate(dt, y, mo, d);
  DecodeTime(dt, h, mi, s, ms);
  AnsiString out;
  bool afterHour = false;  // "m" right after an hour token means minutes
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    const char lc = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    size_t run = 1;
    while (i + run < format.size() && (format[i + run] | 0x20) == lc && lc >= 'a' && lc <= 'z')
      ++run;
    switch (lc) {
      case '\'':
      case '"': {
        const size_t close = format.find(c, i + 1);
        const size_t stop = close == std::string::npos ? format.size() : close;
        out.append(format, i + 1, stop - i - 1);
        i = close == std::string::npos ? format.size() : close + 1;
        continue;
      }
      case '/':
        out += fs.DateSeparator;
        break;
      case ':':
        out += fs.TimeSeparator;
        break;
      case 'y':
        out += run <= 2 ? Pad(y % 100, 2) : Pad(y, 4);
        afterHour = false;
        break;
      case 'm':
        run = std::min<size_t>(run, 2);
        out += Pad(afterHour ? mi : mo, static_cast<int>(run));
        afterHour = false;
        break;
      case 'd':
        run = std::min<size_t>(run, 2);
        out += Pad(d, static_cast<int>(run));
        afterHour = false;
        break;
      case 'h':
        run = std::min<size_t>(run, 2);
        out += Pad(h, static_cast<int>(run));
        afterHour = true;
        break;
      case 'n':
        run = std::min<size_t>(run, 2);
        out += Pad(mi, static_cast<int>(run));
        afterHour = false;
        break;
      case 's':
        run = std::min<size_t>(run, 2);
        out += Pad(s, static_cast<int>(run));
        afterHour = false;
        break;
      case 'z':
        run = std::min<size_t>(run, 3);
        out += Pad(ms, run >= 3 ? 3 : 1);
        afterHour = false;
        break;
      default:
        run = 1;
        out += c;
        break;
    }
    i += run;
  }
  return out;
}

AnsiString DateTimeToStr(TDateTime dt) {
  const TFormatSettings& fs = FormatSettings();
  int h, n, s, ms;
  DecodeTime(dt, h, n, s, ms);
  if (h == 0 && n == 0 && s == 0 && ms == 0) return FormatDateTime(fs.ShortDateFormat, dt);
  return FormatDateTime(fs.ShortDateFormat + " " + fs.LongTimeFormat, dt);
}

TDateTime StrToDateTime(const AnsiString& s) {
  TDateTime out = 0;
  if (ParseDateTime(s, out)) return out;
  const std::string_view t = StripBlanks(s);
  const bool hasTime = t.find(' ') != std::string_view::npos ||
                       t.find(FormatSettings().TimeSeparator) != std::string_view::npos;
  throw EConvertError("'" + s +
                      (hasTime ? "' is not a valid date and time" : "' is not a valid date"));
}

// ---- Texts -------------------------------------------------------------------------------------

AnsiString UpperCase(const AnsiString& s) {
  AnsiString out = s;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

AnsiString Trim(const AnsiString& s, std::string_view chars) {
  const size_t first = s.find_first_not_of(chars);
  if (first == AnsiString::npos) return AnsiString();
  return s.substr(first, s.find_last_not_of(chars) - first + 1);
}

AnsiString Trim(const AnsiString& s) {
  static const std::string kBlankAndControl = [] {
    std::string chars;
    for (int c = 0; c <= 0x20; ++c) chars += static_cast<char>(c);
    return chars;
  }();
  return Trim(s, kBlankAndControl);
}

}  // namespace plat
