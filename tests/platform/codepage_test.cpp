// SPDX-License-Identifier: Apache-2.0
#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace plat {
namespace {

TEST(CodepageTest, AllBytesRoundTripThroughWideAndUtf8) {
  AnsiString all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const WideString wide = AnsiToWide(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(WideToAnsi(wide), all);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(Utf8ToWide(WideToUtf8(wide)), wide);
  for (int b = 0; b < 256; ++b) {
    if (b < 0x80 || b >= 0xA0) {
      EXPECT_EQ(wide[b], static_cast<char16_t>(b)) << b;
    }
  }
}

TEST(CodepageTest, HighControlRangeMapsToItsCharacters) {
  struct Case {
    unsigned char byte;
    char16_t ch;
  };
  const Case cases[] = {{0x80, 0x20AC}, {0x81, 0x0081}, {0x82, 0x201A}, {0x83, 0x0192},
                        {0x85, 0x2026}, {0x8A, 0x0160}, {0x8C, 0x0152}, {0x8D, 0x008D},
                        {0x8E, 0x017D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x91, 0x2018},
                        {0x94, 0x201D}, {0x96, 0x2013}, {0x97, 0x2014}, {0x99, 0x2122},
                        {0x9C, 0x0153}, {0x9D, 0x009D}, {0x9E, 0x017E}, {0x9F, 0x0178}};
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiToWide(AnsiString(1, static_cast<char>(c.byte))), WideString(1, c.ch));
    EXPECT_EQ(WideToAnsi(WideString(1, c.ch)), AnsiString(1, static_cast<char>(c.byte)));
  }
}

TEST(CodepageTest, UnmappableCharactersBecomeQuestionMarks) {
  struct Case {
    WideString in;
    AnsiString out;
  };
  const Case cases[] = {
      {u"a\u0100b", "a?b"},                  // beyond Latin-1, not in the high table
      {u"\u0080\u009F", "??"},               // C1 controls whose bytes hold other characters
      {u"x\U0001F600y", "x?y"},              // a surrogate pair is one character
      {WideString(1, 0xD800) + u"z", "?z"},  // lone high surrogate
      {WideString(1, 0xDC00), "?"},          // lone low surrogate
      {u"\u20AC5",
       "\x80"
       "5"},
  };
  for (const Case& c : cases) EXPECT_EQ(WideToAnsi(c.in), c.out);
}

TEST(CodepageTest, Utf8Conversions) {
  EXPECT_EQ(AnsiToUtf8("Ma\xF1"
                       "ana \x80"),
            "Ma\xC3\xB1"
            "ana \xE2\x82\xAC");
  EXPECT_EQ(Utf8ToAnsi("Ma\xC3\xB1"
                       "ana \xE2\x82\xAC"),
            "Ma\xF1"
            "ana \x80");
  EXPECT_EQ(WideToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(WideToUtf8(WideString(1, 0xD800) + u"a"), "?a");
  EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD"), "?");  // valid, but outside the code page
}

TEST(CodepageTest, InvalidUtf8NeverSwallowsValidText) {
  struct Case {
    std::string in;
    WideString out;
  };
  const Case cases[] = {
      {"a\x80"
       "b",
       u"a?b"},                       // stray continuation byte
      {"a\xC3", u"a?"},               // truncated at the end
      {"\xC3(", u"?("},               // bad continuation
      {"\xC0\xAF", u"??"},            // overlong
      {"\xE0\x80\xAF", u"???"},       // overlong, three bytes
      {"\xED\xA0\x80", u"???"},       // encoded surrogate
      {"\xF4\x90\x80\x80", u"????"},  // beyond U+10FFFF
      {"\xFF\xFE", u"??"},            // never valid
      {"\xE2\x82", u"??"},            // truncated three-byte
      {"ok\xE2\x82\xAC", u"ok\u20AC"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToWide(c.in), c.out) << c.in;
    EXPECT_EQ(Utf8ToAnsi(c.in), WideToAnsi(c.out)) << c.in;
  }
}

}  // namespace
}  // namespace plat
