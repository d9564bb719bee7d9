// SPDX-License-Identifier: Apache-2.0
#include "platform/variant.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/codepage.h"
#include "platform/dataset.h"
#include "platform/exceptions.h"
#include "platform/format.h"

namespace plat {
namespace {

class VariantTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = FormatSettings(); }
  void TearDown() override { FormatSettings() = saved_; }

 private:
  TFormatSettings saved_;
};

template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no error";
}

TEST_F(VariantTest, KindsAndNames) {
  struct Case {
    Variant v;
    VarType type;
    const char* name;
  };
  const Case cases[] = {
      {Variant(), VarType::Empty, "Empty"},
      {Variant::Null(), VarType::Null, "Null"},
      {Variant(true), VarType::Boolean, "Boolean"},
      {Variant(7), VarType::Integer, "Integer"},
      {Variant(1.5), VarType::Double, "Double"},
      {Variant::FromDate(2.0), VarType::Date, "Date"},
      {Variant("x"), VarType::String, "String"},
      {Variant(u"x"), VarType::WideStr, "WideString"},
      {VarArrayOf({1, 2}), VarType::Array, "Array"},
      {Variant(std::make_shared<const DataPacket>()), VarType::Packet, "Packet"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.v.Type(), c.type) << c.name;
    EXPECT_STREQ(c.v.TypeName(), c.name);
  }
}

TEST_F(VariantTest, ConversionsToText) {
  struct Case {
    Variant v;
    const char* text;
  };
  const Case cases[] = {
      {Variant(), ""},
      {Variant::Null(), ""},
      {Variant(true), "True"},
      {Variant(false), "False"},
      {Variant(-42), "-42"},
      {Variant(30.5), "30.5"},
      {Variant(100.0), "100"},
      {Variant::FromDate(EncodeDate(2026, 12, 7) + EncodeTime(20, 45, 0)), "07/12/2026 20:45:00"},
      {Variant(u"\u00D1and\u00FA"),
       "\xD1"
       "and\xFA"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.v.AsString(), c.text) << c.v.TypeName();
    EXPECT_EQ(c.v.AsWideString(), AnsiToWide(c.text));
  }
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(Variant(30.5).AsString(), "30,5");
}

TEST_F(VariantTest, ConversionsToNumbers) {
  struct Case {
    Variant v;
    int32_t i;
    double d;
    bool b;
  };
  const Case cases[] = {
      {Variant(), 0, 0, false},        {Variant(true), -1, -1, true},
      {Variant(false), 0, 0, false},   {Variant(5), 5, 5, true},
      {Variant(2.5), 2, 2.5, true},    {Variant(3.5), 4, 3.5, true},
      {Variant(-2.5), -2, -2.5, true}, {Variant(" 12 "), 12, 12, true},
      {Variant("-7"), -7, -7, true},   {Variant("2.5"), 2, 2.5, true},
      {Variant("3.5"), 4, 3.5, true},  {Variant("0"), 0, 0, false},
      {Variant(u"8"), 8, 8, true},     {Variant::FromDate(1.5), 2, 1.5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v.AsString());
    EXPECT_EQ(c.v.AsInteger(), c.i);
    EXPECT_DOUBLE_EQ(c.v.AsDouble(), c.d);
    EXPECT_EQ(c.v.AsBoolean(), c.b);
  }
  for (const char* t : {"true", "TRUE", "True"}) EXPECT_TRUE(Variant(t).AsBoolean());
  for (const char* t : {"false", "False"}) EXPECT_FALSE(Variant(t).AsBoolean());
  FormatSettings().DecimalSeparator = ',';
  EXPECT_DOUBLE_EQ(Variant("12,5").AsDouble(), 12.5);
  EXPECT_EQ(Variant("12,5").AsInteger(), 12);
}

TEST_F(VariantTest, ConversionErrorsNameTheValueOrTheKinds) {
  struct Case {
    std::function<void()> f;
    const char* message;
  };
  const Variant null = Variant::Null();
  const Variant arr = VarArrayOf({1});
  const Case cases[] = {
      {[] { Variant("abc").AsInteger(); }, "'abc' is not a valid integer value"},
      {[] { Variant("").AsInteger(); }, "'' is not a valid integer value"},
      {[] { Variant("1e20").AsInteger(); }, "'1e20' is not a valid integer value"},
      {[] { Variant(1e20).AsInteger(); }, "'1E20' is not a valid integer value"},
      {[] { Variant(2147483648.0).AsInteger(); }, "'2147483648' is not a valid integer value"},
      {[] { Variant("abc").AsDouble(); }, "'abc' is not a valid floating point value"},
      {[] { Variant("12,5").AsDouble(); }, "'12,5' is not a valid floating point value"},
      {[] { Variant("yes").AsBoolean(); }, "'yes' is not a valid boolean value"},
      {[] { Variant("x").AsDateTime(); }, "'x' is not a valid date"},
      {[=] { null.AsInteger(); }, "Could not convert variant of type (Null) into type (Integer)"},
      {[=] { null.AsDouble(); }, "Could not convert variant of type (Null) into type (Double)"},
      {[=] { null.AsBoolean(); }, "Could not convert variant of type (Null) into type (Boolean)"},
      {[=] { null.AsDateTime(); }, "Could not convert variant of type (Null) into type (Date)"},
      {[=] { arr.AsString(); }, "Could not convert variant of type (Array) into type (String)"},
      {[=] { arr.AsDouble(); }, "Could not convert variant of type (Array) into type (Double)"},
      {[] { Variant(1).AsPacket(); },
       "Could not convert variant of type (Integer) into type (Packet)"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.f), c.message);
  EXPECT_THROW(null.AsInteger(), EVariantError);
  EXPECT_THROW(Variant("abc").AsInteger(), EConvertError);
}

TEST_F(VariantTest, ArraysCheckKindAndBounds) {
  Variant a = VarArrayOf({1, "two", VarArrayOf({3.0})});
  EXPECT_EQ(a.Count(), 3);
  EXPECT_EQ(a[1].AsString(), "two");
  EXPECT_EQ(a[2][0].AsDouble(), 3.0);
  a[0] = Variant("changed");
  EXPECT_EQ(a.Items()[0].AsString(), "changed");
  const Variant& ca = a;
  for (int bad : {-1, 3, 1000}) {
    EXPECT_EQ(ErrorOf([&] { a[bad]; }), "Variant array index out of bounds");
    EXPECT_EQ(ErrorOf([&] { ca[bad]; }), "Variant array index out of bounds");
  }
  for (const Variant& v : {Variant(), Variant::Null(), Variant("x")}) {
    EXPECT_THROW(v.Count(), EVariantError);
    EXPECT_THROW(v[0], EVariantError);
    EXPECT_THROW(v.Items(), EVariantError);
  }
  EXPECT_EQ(VarArrayOf({}).Count(), 0);
}

TEST_F(VariantTest, EqualityComparesKindAndValue) {
  auto p = std::make_shared<const DataPacket>();
  EXPECT_EQ(Variant(1), Variant(1));
  EXPECT_FALSE(Variant(1) == Variant(1.0));
  EXPECT_FALSE(Variant("a") == Variant(u"a"));
  EXPECT_FALSE(Variant() == Variant::Null());
  EXPECT_FALSE(Variant(2.0) == Variant::FromDate(2.0));
  EXPECT_EQ(VarArrayOf({1, "x"}), VarArrayOf({1, "x"}));
  EXPECT_FALSE(VarArrayOf({1, "x"}) == VarArrayOf({1, "y"}));
  EXPECT_EQ(Variant(p), Variant(p));
  EXPECT_FALSE(Variant(p) == Variant(std::make_shared<const DataPacket>()));
}

TEST_F(VariantTest, BundlesArePairsOfKeyAndValue) {
  const Variant b = MakeBundle({{"QTDE", 2.5}, {"DESCRICAO", "Cafe"}, {"VAZIO", Variant()}});
  ASSERT_EQ(b.Count(), 3);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(b[i].Count(), 2);
    EXPECT_EQ(b[i][0].Type(), VarType::String);
  }
  EXPECT_EQ(b[0][0].AsString(), "QTDE");
  EXPECT_EQ(b[0][1].AsDouble(), 2.5);
  EXPECT_EQ(b[1][1].AsString(), "Cafe");
  EXPECT_TRUE(b[2][1].IsEmpty());
  const std::vector<std::pair<AnsiString, Variant>> pairs = {{"A", 1}, {"B", "x"}};
  EXPECT_EQ(MakeBundle(pairs), MakeBundle({{"A", 1}, {"B", "x"}}));
  EXPECT_EQ(MakeBundle(std::vector<std::pair<AnsiString, Variant>>{}).Count(), 0);
}

}  // namespace
}  // namespace plat
