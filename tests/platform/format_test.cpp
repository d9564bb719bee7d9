// SPDX-License-Identifier: Apache-2.0
#include "platform/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <limits>
#include <string>
#include <vector>

#include "platform/exceptions.h"

namespace plat {
namespace {

// Every test leaves the process-wide settings as it found them.
class FormatTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = FormatSettings(); }
  void TearDown() override { FormatSettings() = saved_; }
  void UseSeparator(char sep) { FormatSettings().DecimalSeparator = sep; }
  // The expectation written with a point, in the current decimal separator.
  static std::string WithSep(std::string s) {
    for (char& c : s)
      if (c == '.') c = FormatSettings().DecimalSeparator;
    return s;
  }

 private:
  TFormatSettings saved_;
};

TEST_F(FormatTest, PicturesRoundHalfAwayAndNeverCutDigits) {
  struct Case {
    const char* picture;
    double value;
    const char* expected;  // with '.' as the decimal separator
  };
  const Case cases[] = {
      {"000000.00", 1, "000001.00"},
      {"000000.00", 12.5, "000012.50"},
      {"000000.00", 1234.56, "001234.56"},
      {"000000.00", 1234567.5, "1234567.50"},
      {"000000.00", 10.555, "000010.56"},
      {"000000.00", 10.559, "000010.56"},
      {"000000.00", 0.005, "000000.01"},
      {"000000.00", 0.004999, "000000.00"},
      {"000000.00", 1.995, "000002.00"},
      {"000000.00", 999999.995, "1000000.00"},
      {"000000.00", -12.5, "-000012.50"},
      {"000000.00", -0.001, "000000.00"},
      {"000000.00", 0.29, "000000.29"},
      {"000000.00", 1e20, "100000000000000000000.00"},
      {"#0.00", 0, "0.00"},
      {"#0.00", 150, "150.00"},
      {"#0.00", 1234.5, "1234.50"},
      {"#0.00", 0.125, "0.13"},
      {"#0.00", -0.125, "-0.13"},
      {"#0.00", -0.001, "0.00"},
      {"#0.00", 2.675, "2.68"},
      {"#,##0.00", 0, "0.00"},
      {"#,##0.00", 999.999, "1,000.00"},
      {"#,##0.00", 1234567.891, "1,234,567.89"},
      {"#,##0.00", -1234.5, "-1,234.50"},
      {"#,##0.00", 123456, "123,456.00"},
      {"0", 2.5, "3"},
      {"#.##", 0.5, ".5"},
  };
  for (char sep : {'.', ','}) {
    UseSeparator(sep);
    for (const Case& c : cases) {
      std::string expected = c.expected;
      for (char& ch : expected) {
        if (ch == '.' || ch == ',') ch = (ch == '.') == (sep == '.') ? '.' : ',';
      }
      EXPECT_EQ(FormatFloat(c.picture, c.value), expected)
          << c.picture << " " << c.value << " sep " << sep;
    }
  }
}

TEST_F(FormatTest, GeneralFormat) {
  struct Case {
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {100, "100"},
      {30.5, "30.5"},
      {12.5, "12.5"},
      {-12.5, "-12.5"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {0.00001, "0.00001"},
      {0.0000015, "1.5E-6"},
      {-0.0000015, "-1.5E-6"},
      {999999999999999, "999999999999999"},
      {1e15, "1E15"},
      {1e20, "1E20"},
      {123456789012345678.0, "1.23456789012346E17"},
      {1e-300, "1E-300"},
  };
  for (char sep : {'.', ','}) {
    UseSeparator(sep);
    for (const Case& c : cases)
      EXPECT_EQ(FloatToStr(c.value), WithSep(c.expected)) << c.value << " sep " << sep;
  }
}

TEST_F(FormatTest, FixedTwoDecimals) {
  struct Case {
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {0, "0.00"},
      {21, "21.00"},
      {-5.5, "-5.50"},
      {-0.004, "0.00"},
      {0.005, "0.01"},
      {1234567.891, "1234567.89"},
      {12345678901234.56, "12345678901234.60"},
      {999999999999999.0, "999999999999999.00"},
      {1e20, "1.00000000000000E+20"},
      {-1.5e16, "-1.50000000000000E+16"},
  };
  for (char sep : {'.', ','}) {
    UseSeparator(sep);
    for (const Case& c : cases)
      EXPECT_EQ(FloatToStrFixed2(c.value), WithSep(c.expected)) << c.value << " sep " << sep;
  }
}

// Two decimals from printf's own 15 significant digits, rounded half away from zero on the
// decimal digits: the reference for values below 10^15.
std::string ReferenceFixed2(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  std::string digits = std::string(1, buf[0]) + std::string(buf + 2, 14);
  const int exp = std::atoi(buf + 17);
  // digits x 10^(exp - 14), in hundredths: keep exp + 3 digits, round on the next one.
  const int keep = exp + 3;
  long long hundredths = 0;
  if (keep > 0) {
    hundredths = std::stoll(digits.substr(0, static_cast<size_t>(std::min(keep, 15))));
    for (int i = 15; i < keep; ++i) hundredths *= 10;
    if (keep < 15 && digits[static_cast<size_t>(keep)] >= '5') ++hundredths;
  } else if (keep == 0 && digits[0] >= '5') {
    hundredths = 1;
  }
  std::string frac = std::to_string(hundredths % 100);
  if (frac.size() < 2) frac.insert(0, "0");
  std::string out = std::to_string(hundredths / 100) + "." + frac;
  if (value < 0 && hundredths != 0) out.insert(0, "-");
  return out;
}

TEST_F(FormatTest, AmountsAgreeWithTheFifteenDigitRounding) {
  UseSeparator('.');
  std::srand(12345);
  auto random = [] { return static_cast<long long>(std::rand()) * RAND_MAX + std::rand(); };
  std::vector<double> values;
  for (int i = 0; i < 20000; ++i) {
    const long long cents = random() % 100000000000000LL;
    const double amount = static_cast<double>(cents) / 100.0;
    values.push_back(amount);
    values.push_back(-amount);
    // A few units of the last place either side, as sums and products leave them.
    for (int ulps = 1; ulps <= 3; ++ulps) {
      double up = amount, down = amount;
      for (int k = 0; k < ulps; ++k)
        up = std::nextafter(up, 1e300), down = std::nextafter(down, 0.0);
      values.push_back(up);
      values.push_back(down);
    }
    // Half a hundredth, the rounding edge, and values with more decimals.
    values.push_back((static_cast<double>(cents) + 0.5) / 100.0);
    values.push_back(static_cast<double>(random() % 100000000) / 1000.0);
    values.push_back(static_cast<double>(random() % 1000000) / 7.0);
    values.push_back(static_cast<double>(cents % 1000) * 1.1);
  }
  for (double v : {0.005, 0.015, 0.0049999999, 1.005, 2.675, 10.555, 1e12 - 0.01, 1e12, 0.01,
                   0.009999999999999, 99999999999.995}) {
    values.push_back(v);
    values.push_back(-v);
  }
  int mismatches = 0;
  for (double v : values) {
    if (FloatToStrFixed2(v) != ReferenceFixed2(v) && ++mismatches <= 10)
      ADD_FAILURE() << std::setprecision(17) << v << ": " << FloatToStrFixed2(v) << " against "
                    << ReferenceFixed2(v);
  }
  EXPECT_EQ(mismatches, 0);

  // The general format goes through the same digits: printf's "%.15g" writes them alike for
  // values from 10^-4 to 10^15.
  mismatches = 0;
  for (double v : values) {
    if (std::fabs(v) < 1e-4) continue;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.15g", v);
    if (FloatToStr(v) != expected && ++mismatches <= 10)
      ADD_FAILURE() << std::setprecision(17) << v << ": " << FloatToStr(v) << " against "
                    << expected;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(FormatTest, NonFiniteValuesGiveTextsNotCrashes) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto* f :
       {+[](double v) { return FloatToStr(v); }, +[](double v) { return FloatToStrFixed2(v); },
        +[](double v) { return FormatFloat("000000.00", v); }}) {
    EXPECT_EQ(f(nan), "NAN");
    EXPECT_EQ(f(inf), "INF");
    EXPECT_EQ(f(-inf), "-INF");
  }
}

TEST_F(FormatTest, StrToFloatAcceptsOnlyTheCurrentSeparator) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  };
  // Written with '.'; the ',' run swaps '.' for ',' in the text.
  const Case cases[] = {
      {"12.5", true, 12.5}, {"  -12.5  ", true, -12.5},
      {"+3", true, 3},      {".5", true, 0.5},
      {"5.", true, 5},      {"1.5E3", true, 1500},
      {"1e-2", true, 0.01}, {"2E+2", true, 200},
      {"", false, 0},       {"   ", false, 0},
      {"abc", false, 0},    {"1.2.3", false, 0},
      {"1 2", false, 0},    {"-", false, 0},
      {".", false, 0},      {"1E", false, 0},
      {"1E+", false, 0},    {"12a", false, 0},
      {"1e999", false, 0},  {"0x10", false, 0},
      {"nan", false, 0},
  };
  for (char sep : {'.', ','}) {
    UseSeparator(sep);
    for (const Case& c : cases) {
      const std::string text = WithSep(c.text);
      double v = -1;
      EXPECT_EQ(TryStrToFloat(text, v), c.ok) << "'" << text << "'";
      if (c.ok) {
        EXPECT_DOUBLE_EQ(v, c.value) << text;
        EXPECT_DOUBLE_EQ(StrToFloat(text), c.value);
      } else {
        EXPECT_THROW(StrToFloat(text), EConvertError) << text;
      }
    }
  }
  // The other separator is not a decimal mark.
  UseSeparator(',');
  double v = 0;
  EXPECT_FALSE(TryStrToFloat("12.5", v));
  try {
    StrToFloat("12.5");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'12.5' is not a valid floating point value");
  }
}

TEST_F(FormatTest, StrToIntRangeAndSyntax) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {" 42 ", true, 42},
      {"-17", true, -17},
      {"+5", true, 5},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, std::numeric_limits<int32_t>::min()},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"1.5", false, 0},
      {"1 2", false, 0},
      {"abc", false, 0},
  };
  for (const Case& c : cases) {
    int32_t v = -1;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  try {
    StrToInt("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
}

TEST_F(FormatTest, DatesRoundTripThroughDayNumbers) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1);
  const int dates[][3] = {{1, 1, 1},     {1600, 2, 29}, {1899, 12, 30}, {1900, 2, 28},
                          {2000, 2, 29}, {2026, 12, 7}, {2100, 3, 1},   {9999, 12, 31}};
  for (const auto& d : dates) {
    int y, m, day;
    DecodeDate(EncodeDate(d[0], d[1], d[2]), y, m, day);
    EXPECT_EQ(y, d[0]);
    EXPECT_EQ(m, d[1]);
    EXPECT_EQ(day, d[2]);
  }
  const int invalid[][3] = {{2026, 2, 29}, {1900, 2, 29}, {2026, 13, 1}, {2026, 0, 1},
                            {2026, 4, 31}, {0, 1, 1},     {10000, 1, 1}, {2026, 1, 0}};
  for (const auto& d : invalid) EXPECT_THROW(EncodeDate(d[0], d[1], d[2]), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0), EConvertError);

  int h, n, s, ms;
  DecodeTime(EncodeDate(2026, 12, 7) + EncodeTime(20, 45, 59, 999), h, n, s, ms);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 204559999);
  // Negative values: whole days back, the time of day counted forward.
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(h, 6);
  int y, m, d;
  DecodeDate(-1.25, y, m, d);
  EXPECT_EQ(d, 29);
  // A fraction a hair below midnight rounds to the next day, not to hour 24.
  DecodeTime(1.0 - 1e-12, h, n, s, ms);
  EXPECT_EQ(h, 0);
  DecodeDate(1.0 - 1e-12, y, m, d);
  EXPECT_EQ(d, 31);
  for (double bad : {std::nan(""), 1e300, -1e300})
    EXPECT_THROW(DecodeDate(bad, y, m, d), EConvertError);
}

TEST_F(FormatTest, FormatDateTimeTokens) {
  const TDateTime dt = EncodeDate(2026, 3, 7) + EncodeTime(9, 5, 4, 32);
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn:ss", dt), "07/03/2026 09:05:04");
  EXPECT_EQ(FormatDateTime("d/m/yy h:n:s.zzz", dt), "7/3/26 9:5:4.032");
  EXPECT_EQ(FormatDateTime("hh:mm", dt), "09:05");
  EXPECT_EQ(FormatDateTime("mmyy", dt), "0326");
  EXPECT_EQ(FormatDateTime("YYYY-MM-DD", dt), "2026-03-07");
  EXPECT_EQ(FormatDateTime("'day' d \"at\" hh", dt), "day 7 at 09");
  FormatSettings().DateSeparator = '.';
  FormatSettings().TimeSeparator = '-';
  EXPECT_EQ(FormatDateTime("dd/mm hh:nn", dt), "07.03 09-05");
}

TEST_F(FormatTest, DateTimeToStrOmitsMidnight) {
  EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 12, 7)), "07/12/2026");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 12, 7) + EncodeTime(20, 45, 0)), "07/12/2026 20:45:00");
}

TEST_F(FormatTest, StrToDateTimeFollowsTheShortDateOrder) {
  const TDateTime expected = EncodeDate(2026, 12, 7) + EncodeTime(20, 45, 0);
  EXPECT_EQ(StrToDateTime("07/12/26 20:45"), expected);
  EXPECT_EQ(StrToDateTime("  7/12/2026   20:45:00 "), expected);
  EXPECT_EQ(StrToDateTime("07/12/2026"), EncodeDate(2026, 12, 7));
  EXPECT_EQ(StrToDateTime(DateTimeToStr(expected)), expected);
  FormatSettings().ShortDateFormat = "mm/dd/yyyy";
  EXPECT_EQ(StrToDateTime("12/07/26 20:45"), expected);
  FormatSettings().ShortDateFormat = "yyyy/mm/dd";
  EXPECT_EQ(StrToDateTime("2026/12/07 20:45"), expected);
}

TEST_F(FormatTest, StrToDateTimeTwoDigitYearStaysWithinFiftyYears) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  const int thisYear = tm.tm_year + 1900;
  int y, m, d;
  DecodeDate(StrToDateTime("01/01/0026"), y, m, d);
  EXPECT_EQ(y, 26);  // four digits written: taken as they stand
  for (const char* text : {"01/01/00", "01/01/26", "01/01/70", "01/01/99"}) {
    DecodeDate(StrToDateTime(text), y, m, d);
    EXPECT_LE(std::abs(y - thisYear), 50) << text;
    EXPECT_EQ(y % 100, std::atoi(text + 6)) << text;
  }
}

TEST_F(FormatTest, StrToDateTimeRejectsBadTexts) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {" ", "' ' is not a valid date"},
      {"", "'' is not a valid date"},
      {"31/02/2026", "'31/02/2026' is not a valid date"},
      {"07-12-26", "'07-12-26' is not a valid date"},
      {"07/12", "'07/12' is not a valid date"},
      {"07/12/26 25:00", "'07/12/26 25:00' is not a valid date and time"},
      {"07/12/26 20:61", "'07/12/26 20:61' is not a valid date and time"},
      {"07/12/26 20", "'07/12/26 20' is not a valid date and time"},
      {"07/12/26 20:45x", "'07/12/26 20:45x' is not a valid date and time"},
      {"07/12/26x20:45", "'07/12/26x20:45' is not a valid date and time"},
      {"99999/12/26", "'99999/12/26' is not a valid date"},
  };
  for (const Case& c : cases) {
    try {
      StrToDateTime(c.text);
      ADD_FAILURE() << "accepted '" << c.text << "'";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST_F(FormatTest, TextHelpers) {
  EXPECT_EQ(Trim(" \t\r\n ab c \x01"), "ab c");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // a no-break space is text
  EXPECT_EQ(UpperCase("abc xyz \xF1\xE9 1"), "ABC XYZ \xF1\xE9 1");
  EXPECT_EQ(IntToStr(-9000000000LL), "-9000000000");
}

TEST_F(FormatTest, InitFromLocaleFallsBackToDefaults) {
  FormatSettings().DecimalSeparator = ',';
  FormatSettings().ShortDateFormat = "x";
  InitFormatSettingsFromLocale();
  EXPECT_TRUE(FormatSettings().DecimalSeparator == '.' || FormatSettings().DecimalSeparator == ',');
  EXPECT_NE(FormatSettings().ShortDateFormat, "x");
  EXPECT_EQ(FormatSettings().DateSeparator, '/');
}

}  // namespace
}  // namespace plat
