// SPDX-License-Identifier: Apache-2.0
// Variant: the host runtime's tagged value, used for parameter bundles, positional arrays,
// answer arrays, dataset cells and the printer control's properties.
// Thread safety: a Variant is a value with no shared state of its own; distinct variants may
// be used from distinct threads, one variant only by one thread while it changes. Conversions
// to and from text read the process-wide FormatSettings() (platform/format.h).
#pragma once

#include <initializer_list>
#include <memory>
#include <utility>
#include <variant>
#include <vector>

#include "platform/export.h"
#include "platform/types.h"

namespace plat {

struct DataPacket;  // platform/dataset.h

enum class VarType { Empty, Null, Boolean, Integer, Double, Date, String, WideStr, Array, Packet };

// Conversion rules (the host runtime's):
//  - Empty converts to "" / 0 / 0.0 / false / 0.0 (date); Null raises EVariantError on every
//    conversion except AsString/AsWideString (the empty text) and IsNull tests.
//  - Text to integer: a whole number (optional sign, optional blanks around) converts; a text
//    holding a decimal number converts through the double and rounds half to even; anything
//    else raises EConvertError naming the value: "'abc' is not a valid integer value".
//  - Text to double: a number written with the current decimal separator
//    (FormatSettings().DecimalSeparator); otherwise EConvertError:
//    "'abc' is not a valid floating point value".
//  - Text to Boolean: "True"/"False" (any case) or a number (nonzero is true).
//  - Text to date-time: StrToDateTime with the current date and time formats.
//  - Boolean to text: "True"/"False"; to number: -1 / 0.
//  - Double to text: general format, precision 15 (FloatToStr); to integer: rounded half to
//    even, EConvertError outside the 32-bit range.
//  - Date to text: DateTimeToStr.
//  - Array and Packet convert to nothing else: EVariantError.
class PLAT_API Variant {
 public:
  using Array = std::vector<Variant>;

  Variant() = default;  // Empty
  Variant(bool v) : v_(v) {}
  Variant(int v) : v_(static_cast<int32_t>(v)) {}
  Variant(double v) : v_(v) {}
  Variant(const char* v) : v_(AnsiString(v)) {}
  Variant(AnsiString v) : v_(std::move(v)) {}
  Variant(const char16_t* v) : v_(WideString(v)) {}
  Variant(WideString v) : v_(std::move(v)) {}
  Variant(Array v) : v_(std::move(v)) {}
  Variant(std::shared_ptr<const DataPacket> v) : v_(std::move(v)) {}

  static Variant Null() {
    Variant r;
    r.v_ = NullTag{};
    return r;
  }
  static Variant FromDate(TDateTime d) {
    Variant r;
    r.v_ = DateTag{d};
    return r;
  }

  VarType Type() const { return static_cast<VarType>(v_.index()); }
  const char* TypeName() const;  // "Empty", "Null", "Boolean", ... for messages
  bool IsEmpty() const { return Type() == VarType::Empty; }
  bool IsNull() const { return Type() == VarType::Null; }
  bool IsArray() const { return Type() == VarType::Array; }

  AnsiString AsString() const;
  WideString AsWideString() const;
  int32_t AsInteger() const;
  double AsDouble() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;
  std::shared_ptr<const DataPacket> AsPacket() const;  // EVariantError unless Packet

  // Arrays. Index checks raise EVariantError ("Variant array index out of bounds").
  int Count() const;  // EVariantError unless Array
  Variant& operator[](int i);
  const Variant& operator[](int i) const;
  const Array& Items() const;  // EVariantError unless Array

  // Same kind and same value (arrays element by element; packets by identity).
  bool operator==(const Variant& o) const;

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  struct DateTag {
    double v;
    bool operator==(const DateTag&) const = default;
  };
  std::variant<std::monostate, NullTag, bool, int32_t, double, DateTag, AnsiString, WideString,
               Array, std::shared_ptr<const DataPacket>>
      v_;
};

// A one-dimensional variant array.
PLAT_API Variant VarArrayOf(Variant::Array items);

// A parameter bundle: an array of two-element (key, value) arrays.
PLAT_API Variant MakeBundle(std::initializer_list<std::pair<AnsiString, Variant>> pairs);
PLAT_API Variant MakeBundle(const std::vector<std::pair<AnsiString, Variant>>& pairs);

}  // namespace plat
