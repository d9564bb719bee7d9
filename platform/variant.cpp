// SPDX-License-Identifier: Apache-2.0
// Variant conversions and arrays.

#include "platform/variant.h"

#include <cmath>
#include <limits>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/format.h"

namespace plat {

namespace {

const char* kTypeNames[] = {"Empty", "Null",   "Boolean",    "Integer", "Double",
                            "Date",  "String", "WideString", "Array",   "Packet"};

[[noreturn]] void CannotConvert(const Variant& v, const char* target) {
  throw EVariantError(AnsiString("Could not convert variant of type (") + v.TypeName() +
                      ") into type (" + target + ")");
}

[[noreturn]] void NotAnArray(const Variant& v) {
  throw EVariantError(AnsiString("Variant of type (") + v.TypeName() + ") is not an array");
}

// A double to a 32-bit integer, rounded half to even; text names the value in the message.
int32_t RoundToInt32(double d, const AnsiString& text) {
  if (std::isfinite(d)) {
    const double r = std::nearbyint(d);  // the default rounding mode is half to even
    if (r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max())
      return static_cast<int32_t>(r);
  }
  throw EConvertError("'" + text + "' is not a valid integer value");
}

int32_t TextToInt(const AnsiString& s) {
  int32_t i = 0;
  if (TryStrToInt(s, i)) return i;
  double d = 0;
  if (TryStrToFloat(s, d)) return RoundToInt32(d, s);
  throw EConvertError("'" + s + "' is not a valid integer value");
}

double TextToFloat(const AnsiString& s) {
  double d = 0;
  if (TryStrToFloat(s, d)) return d;
  throw EConvertError("'" + s + "' is not a valid floating point value");
}

bool TextToBool(const AnsiString& s) {
  const AnsiString u = UpperCase(Trim(s));
  if (u == "TRUE") return true;
  if (u == "FALSE") return false;
  double d = 0;
  if (TryStrToFloat(s, d)) return d != 0;
  throw EConvertError("'" + s + "' is not a valid boolean value");
}

}  // namespace

const char* Variant::TypeName() const {
  return kTypeNames[v_.index()];
}

AnsiString Variant::AsString() const {
  switch (Type()) {
    case VarType::Empty:
    case VarType::Null:
      return "";
    case VarType::Boolean:
      return std::get<bool>(v_) ? "True" : "False";
    case VarType::Integer:
      return IntToStr(std::get<int32_t>(v_));
    case VarType::Double:
      return FloatToStr(std::get<double>(v_));
    case VarType::Date:
      return DateTimeToStr(std::get<DateTag>(v_).v);
    case VarType::String:
      return std::get<AnsiString>(v_);
    case VarType::WideStr:
      return WideToAnsi(std::get<WideString>(v_));
    default:
      CannotConvert(*this, "String");
  }
}

WideString Variant::AsWideString() const {
  if (Type() == VarType::WideStr) return std::get<WideString>(v_);
  if (Type() == VarType::Array || Type() == VarType::Packet) CannotConvert(*this, "WideString");
  return AnsiToWide(AsString());
}

int32_t Variant::AsInteger() const {
  switch (Type()) {
    case VarType::Empty:
      return 0;
    case VarType::Boolean:
      return std::get<bool>(v_) ? -1 : 0;
    case VarType::Integer:
      return std::get<int32_t>(v_);
    case VarType::Double:
    case VarType::Date: {
      const double d = AsDouble();
      return RoundToInt32(d, FloatToStr(d));
    }
    case VarType::String:
      return TextToInt(std::get<AnsiString>(v_));
    case VarType::WideStr:
      return TextToInt(WideToAnsi(std::get<WideString>(v_)));
    default:
      CannotConvert(*this, "Integer");
  }
}

double Variant::AsDouble() const {
  switch (Type()) {
    case VarType::Empty:
      return 0;
    case VarType::Boolean:
      return std::get<bool>(v_) ? -1 : 0;
    case VarType::Integer:
      return std::get<int32_t>(v_);
    case VarType::Double:
      return std::get<double>(v_);
    case VarType::Date:
      return std::get<DateTag>(v_).v;
    case VarType::String:
      return TextToFloat(std::get<AnsiString>(v_));
    case VarType::WideStr:
      return TextToFloat(WideToAnsi(std::get<WideString>(v_)));
    default:
      CannotConvert(*this, "Double");
  }
}

bool Variant::AsBoolean() const {
  switch (Type()) {
    case VarType::Empty:
      return false;
    case VarType::Boolean:
      return std::get<bool>(v_);
    case VarType::Integer:
      return std::get<int32_t>(v_) != 0;
    case VarType::Double:
      return std::get<double>(v_) != 0;
    case VarType::Date:
      return std::get<DateTag>(v_).v != 0;
    case VarType::String:
      return TextToBool(std::get<AnsiString>(v_));
    case VarType::WideStr:
      return TextToBool(WideToAnsi(std::get<WideString>(v_)));
    default:
      CannotConvert(*this, "Boolean");
  }
}

TDateTime Variant::AsDateTime() const {
  switch (Type()) {
    case VarType::String:
      return StrToDateTime(std::get<AnsiString>(v_));
    case VarType::WideStr:
      return StrToDateTime(WideToAnsi(std::get<WideString>(v_)));
    case VarType::Empty:
    case VarType::Boolean:
    case VarType::Integer:
    case VarType::Double:
    case VarType::Date:
      return AsDouble();  // a date-time is its day count
    default:
      CannotConvert(*this, "Date");
  }
}

std::shared_ptr<const DataPacket> Variant::AsPacket() const {
  if (Type() != VarType::Packet) CannotConvert(*this, "Packet");
  return std::get<std::shared_ptr<const DataPacket>>(v_);
}

int Variant::Count() const {
  return static_cast<int>(Items().size());
}

const Variant::Array& Variant::Items() const {
  if (Type() != VarType::Array) NotAnArray(*this);
  return std::get<Array>(v_);
}

Variant& Variant::operator[](int i) {
  if (Type() != VarType::Array) NotAnArray(*this);
  Array& items = std::get<Array>(v_);
  if (i < 0 || static_cast<size_t>(i) >= items.size())
    throw EVariantError("Variant array index out of bounds");
  return items[static_cast<size_t>(i)];
}

const Variant& Variant::operator[](int i) const {
  const Array& items = Items();
  if (i < 0 || static_cast<size_t>(i) >= items.size())
    throw EVariantError("Variant array index out of bounds");
  return items[static_cast<size_t>(i)];
}

bool Variant::operator==(const Variant& o) const {
  return v_ == o.v_;
}

Variant VarArrayOf(Variant::Array items) {
  return Variant(std::move(items));
}

Variant MakeBundle(std::initializer_list<std::pair<AnsiString, Variant>> pairs) {
  Variant::Array items;
  items.reserve(pairs.size());
  for (const auto& [key, value] : pairs) items.push_back(VarArrayOf({Variant(key), value}));
  return VarArrayOf(std::move(items));
}

Variant MakeBundle(const std::vector<std::pair<AnsiString, Variant>>& pairs) {
  Variant::Array items;
  items.reserve(pairs.size());
  for (const auto& [key, value] : pairs) items.push_back(VarArrayOf({Variant(key), value}));
  return VarArrayOf(std::move(items));
}

}  // namespace plat
