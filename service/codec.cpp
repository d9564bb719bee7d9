// SPDX-License-Identifier: Apache-2.0
#include "codec.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/format.h"

namespace fpd {

namespace {

const char* KindName(const Json& v) {
  return v.type_name();
}

}  // namespace

void BadField(const std::string& field, const std::string& what) {
  throw RequestError("bad_field", field, (field.empty() ? "body" : field) + ": " + what);
}

namespace {

// Builds the body's document as the parser reads it, refusing a value nested deeper than
// kMaxBodyDepth before it is built: nothing later (the hash, the journal, the decoders) meets a
// deeper one. The parser itself keeps its nesting on a heap stack, so no depth reaches the
// program's stack.
class DepthLimitedBuilder {
 public:
  explicit DepthLimitedBuilder(Json& root) : dom_(root, false) {}

  bool null() { return Value() && dom_.null(); }
  bool boolean(bool v) { return Value() && dom_.boolean(v); }
  bool number_integer(Json::number_integer_t v) { return Value() && dom_.number_integer(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return Value() && dom_.number_unsigned(v); }
  bool number_float(Json::number_float_t v, const Json::string_t& s) {
    return Value() && dom_.number_float(v, s);
  }
  bool string(Json::string_t& v) { return Value() && dom_.string(v); }
  bool binary(Json::binary_t& v) { return Value() && dom_.binary(v); }
  bool start_object(std::size_t n) { return Enter(false) && dom_.start_object(n); }
  bool end_object() { return Leave() && dom_.end_object(); }
  bool start_array(std::size_t n) { return Enter(true) && dom_.start_array(n); }
  bool end_array() { return Leave() && dom_.end_array(); }
  bool key(Json::string_t& k) {
    frames_.back().Key = k;
    return dom_.key(k);
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
    error_ = e.what();
    return false;
  }

  const std::string& Error() const { return error_; }
  bool TooDeep() const { return tooDeep_; }
  const std::string& TooDeepAt() const { return tooDeepAt_; }

 private:
  struct Frame {
    bool Array = false;
    size_t Index = 0;
    std::string Key;
  };

  // A value starts: in an array it takes the next index.
  bool Value() {
    if (!frames_.empty() && frames_.back().Array) ++frames_.back().Index;
    return true;
  }
  bool Enter(bool array) {
    Value();
    if (frames_.size() >= kMaxBodyDepth) {
      tooDeep_ = true;
      tooDeepAt_ = Path();
      return false;
    }
    frames_.push_back(Frame{array, 0, {}});
    return true;
  }
  bool Leave() {
    frames_.pop_back();
    return true;
  }
  // The path of the value just started, as the decoders name fields: items[2].price.
  std::string Path() const {
    std::string p;
    for (const auto& f : frames_) {
      if (f.Array) {
        p += "[" + std::to_string(f.Index - 1) + "]";
      } else {
        p += (p.empty() ? "" : ".") + f.Key;
      }
    }
    return p;
  }

  nlohmann::detail::json_sax_dom_parser<Json> dom_;
  std::vector<Frame> frames_;
  std::string error_, tooDeepAt_;
  bool tooDeep_ = false;
};

}  // namespace

Json ParseBody(const std::string& body) {
  if (body.empty())
    throw RequestError("bad_json", "", "the body is empty: it must be a JSON object");
  Json j;
  DepthLimitedBuilder builder(j);
  if (!Json::sax_parse(body, &builder)) {
    if (builder.TooDeep()) {
      throw RequestError("bad_json", builder.TooDeepAt(),
                         (builder.TooDeepAt().empty() ? "body" : builder.TooDeepAt()) +
                             ": nested deeper than " + std::to_string(kMaxBodyDepth) + " levels");
    }
    throw RequestError("bad_json", "", "the body is not JSON: " + builder.Error());
  }
  if (!j.is_object()) throw RequestError("bad_json", "", "the body is not a JSON object");
  return j;
}

plat::AnsiString ToAnsi(const Json& v, const std::string& field) {
  if (!v.is_string()) BadField(field, std::string("expected a string, found ") + KindName(v));
  const std::string& s = v.get_ref<const std::string&>();
  const plat::WideString wide = plat::Utf8ToWide(s);
  // The platform's decoder writes '?' for bytes that are not UTF-8: the text would not come
  // back the same.
  if (plat::WideToUtf8(wide) != s) BadField(field, "the text is not UTF-8");
  // It writes '?' too for a character the code page cannot hold (a surrogate pair counts as
  // one): each '?' that was no '?' names that character.
  const plat::AnsiString out = plat::WideToAnsi(wide);
  for (size_t i = 0, w = 0; i < out.size(); ++i) {
    const bool pair = wide[w] >= 0xD800 && wide[w] <= 0xDBFF && w + 1 < wide.size();
    const size_t len = pair ? 2 : 1;
    if (out[i] == '?' && wide[w] != u'?') {
      const char32_t cp =
          pair ? 0x10000 + ((wide[w] - 0xD800) << 10) + (wide[w + 1] - 0xDC00) : wide[w];
      char hex[16];
      std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(cp));
      throw RequestError("unencodable_text", field,
                         field + ": the character " + plat::WideToUtf8(wide.substr(w, len)) + " (" +
                             hex + ") cannot be printed (it is not in the printer's code page)");
    }
    w += len;
  }
  return out;
}

plat::WideString ToWide(const Json& v, const std::string& field) {
  return plat::AnsiToWide(ToAnsi(v, field));
}

std::string FromAnsi(const plat::AnsiString& s) {
  return plat::AnsiToUtf8(s);
}

bool ToBool(const Json& v, const std::string& field) {
  if (!v.is_boolean()) BadField(field, std::string("expected true or false, found ") + KindName(v));
  return v.get<bool>();
}

int ToInt(const Json& v, const std::string& field) {
  if (v.is_number_integer()) {
    const auto n = v.get<int64_t>();
    if (n >= std::numeric_limits<int>::min() && n <= std::numeric_limits<int>::max()) {
      return static_cast<int>(n);
    }
  } else if (v.is_number_unsigned() && v.get<uint64_t>() <= std::numeric_limits<int>::max()) {
    return static_cast<int>(v.get<uint64_t>());
  }
  BadField(field, "expected a whole number in the 32-bit range");
}

double ToDouble(const Json& v, const std::string& field) {
  if (!v.is_number()) BadField(field, std::string("expected a number, found ") + KindName(v));
  const double d = v.get<double>();
  if (!std::isfinite(d)) BadField(field, "expected a finite number");
  return d;
}

plat::TDateTime ToDate(const Json& v, const std::string& field) {
  if (v.is_number()) return ToDouble(v, field);
  if (!v.is_string()) BadField(field, "expected a date-time text or a number of days");
  const std::string& s = v.get_ref<const std::string&>();
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  char sep = 'T';
  int n = 0;
  const int got =
      std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &y, &mo, &d, &sep, &h, &mi, &sec, &n);
  const bool dateOnly = got == 3 && s.size() == 10;
  if (!dateOnly && (got != 7 || (sep != 'T' && sep != ' ') || static_cast<size_t>(n) != s.size())) {
    BadField(field, "expected a date-time \"YYYY-MM-DDTHH:MM:SS\"");
  }
  if (h > 23 || mi > 59 || sec > 59 || h < 0 || mi < 0 || sec < 0) {
    BadField(field, "not a valid date-time");
  }
  try {
    return plat::EncodeDate(y, mo, d) + (h * 3600 + mi * 60 + sec) / 86400.0;
  } catch (const plat::EConvertError&) {
    BadField(field, "not a valid date-time");
  }
}

std::string DateText(plat::TDateTime dt) {
  if (!std::isfinite(dt) || std::fabs(dt) > 3e6) return std::to_string(dt);
  return plat::FormatDateTime("yyyy-mm-dd'T'hh:nn:ss", dt);
}

namespace {

// A value that is not an array as a variant.
plat::Variant LeafVariant(const Json& v, const std::string& field) {
  switch (v.type()) {
    case Json::value_t::null:
      return plat::Variant();
    case Json::value_t::boolean:
      return plat::Variant(v.get<bool>());
    case Json::value_t::string:
      return plat::Variant(ToAnsi(v, field));
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: {
      if (v.is_number_integer() && v.get<int64_t>() >= std::numeric_limits<int>::min() &&
          v.get<int64_t>() <= std::numeric_limits<int>::max()) {
        return plat::Variant(static_cast<int>(v.get<int64_t>()));
      }
      return plat::Variant(v.get<double>());
    }
    case Json::value_t::number_float:
      return plat::Variant(ToDouble(v, field));
    case Json::value_t::object:
      if (IsDatasetObject(v)) return plat::Variant(ToPacket(v, field));
      BadField(field, "an object here must be a dataset {\"fields\":[...],\"rows\":[...]}");
    default:
      BadField(field, "unsupported value");
  }
}

}  // namespace

plat::Variant ToVariant(const Json& v, const std::string& field) {
  if (!v.is_array()) return LeafVariant(v, field);
  // Arrays within arrays are decoded with a stack of the open ones, not by recursion.
  struct Open {
    const Json* Source;
    std::string Field;
    size_t Next = 0;
    plat::Variant::Array Items;
  };
  std::vector<Open> open;
  open.push_back(Open{&v, field, 0, {}});
  for (;;) {
    Open& top = open.back();
    if (top.Next < top.Source->size()) {
      const Json& item = (*top.Source)[top.Next];
      std::string path = top.Field + "[" + std::to_string(top.Next) + "]";
      ++top.Next;
      if (item.is_array()) {
        open.push_back(Open{&item, std::move(path), 0, {}});
      } else {
        top.Items.push_back(LeafVariant(item, path));
      }
      continue;
    }
    plat::Variant done = plat::VarArrayOf(std::move(top.Items));
    open.pop_back();
    if (open.empty()) return done;
    open.back().Items.push_back(std::move(done));
  }
}

Json FromVariant(const plat::Variant& v) {
  switch (v.Type()) {
    case plat::VarType::Empty:
    case plat::VarType::Null:
      return nullptr;
    case plat::VarType::Boolean:
      return v.AsBoolean();
    case plat::VarType::Integer:
      return v.AsInteger();
    case plat::VarType::Double: {
      const double d = v.AsDouble();
      return std::isfinite(d) ? Json(d) : Json(nullptr);
    }
    case plat::VarType::Date:
      return DateText(v.AsDateTime());
    case plat::VarType::String:
    case plat::VarType::WideStr:
      return FromAnsi(v.AsString());
    case plat::VarType::Array: {
      Json a = Json::array();
      for (const auto& item : v.Items()) a.push_back(FromVariant(item));
      return a;
    }
    case plat::VarType::Packet:
      return FromPacket(*v.AsPacket());
  }
  return nullptr;
}

plat::Variant ToBundle(const Json& v, const std::string& field) {
  if (!v.is_object()) BadField(field, "expected an object of bundle pairs");
  std::vector<std::pair<plat::AnsiString, plat::Variant>> pairs;
  for (const auto& [key, value] : v.items()) {
    const std::string path = field + "." + key;
    pairs.emplace_back(ToAnsi(Json(key), path), ToVariant(value, path));
  }
  return plat::MakeBundle(pairs);
}

Json FromBundle(const plat::Variant& v) {
  if (!v.IsArray()) return FromVariant(v);
  Json o = Json::object();
  for (const auto& pair : v.Items()) {
    if (!pair.IsArray() || pair.Count() != 2 ||
        (pair[0].Type() != plat::VarType::String && pair[0].Type() != plat::VarType::WideStr)) {
      return FromVariant(v);
    }
    o[FromAnsi(pair[0].AsString())] = FromVariant(pair[1]);
  }
  return o;
}

ArfisOpenArray ToOpenArray(const Json& v, const std::string& field) {
  if (!v.is_array()) BadField(field, "expected an array");
  ArfisOpenArray out;
  out.reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    out.push_back(ToVariant(v[i], field + "[" + std::to_string(i) + "]"));
  }
  return out;
}

bool IsDatasetObject(const Json& v) {
  return v.is_object() && v.contains("fields");
}

namespace {

plat::FieldType FieldTypeOf(const std::string& name, const std::string& field) {
  static const std::pair<const char*, plat::FieldType> kTypes[] = {
      {"string", plat::FieldType::String},
      {"integer", plat::FieldType::Integer},
      {"float", plat::FieldType::Float},
      {"boolean", plat::FieldType::Boolean},
      {"datetime", plat::FieldType::DateTime}};
  for (const auto& [n, t] : kTypes) {
    if (name == n) return t;
  }
  BadField(field,
           "unknown field type \"" + name + "\" (string, integer, float, boolean, datetime)");
}

plat::Variant Cell(const Json& v, plat::FieldType type, const std::string& field) {
  if (v.is_null()) return plat::Variant::Null();
  switch (type) {
    case plat::FieldType::String:
      return plat::Variant(ToAnsi(v, field));
    case plat::FieldType::Integer:
      return plat::Variant(ToInt(v, field));
    case plat::FieldType::Float:
      return plat::Variant(ToDouble(v, field));
    case plat::FieldType::Boolean:
      return plat::Variant(ToBool(v, field));
    case plat::FieldType::DateTime:
      return plat::Variant::FromDate(ToDate(v, field));
  }
  return plat::Variant::Null();
}

const char* TypeText(plat::FieldType t) {
  switch (t) {
    case plat::FieldType::String:
      return "string";
    case plat::FieldType::Integer:
      return "integer";
    case plat::FieldType::Float:
      return "float";
    case plat::FieldType::Boolean:
      return "boolean";
    case plat::FieldType::DateTime:
      return "datetime";
  }
  return "string";
}

}  // namespace

std::shared_ptr<const plat::DataPacket> ToPacket(const Json& v, const std::string& field) {
  if (!v.is_object()) BadField(field, "expected a dataset {\"fields\":[...],\"rows\":[...]}");
  Members m(v, field + ".");
  auto packet = std::make_shared<plat::DataPacket>();
  const Json& fields = m.Required("fields");
  if (!fields.is_array()) BadField(m.Path("fields"), "expected an array");
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string path = m.Path("fields") + "[" + std::to_string(i) + "]";
    if (!fields[i].is_object()) BadField(path, "expected {\"name\",\"type\",\"size\"}");
    Members f(fields[i], path + ".");
    plat::FieldDef def;
    def.Name = ToAnsi(f.Required("name"), f.Path("name"));
    if (def.Name.empty()) BadField(f.Path("name"), "a field needs a name");
    for (const auto& earlier : packet->Fields) {
      if (earlier.Name == def.Name) BadField(f.Path("name"), "the field is named twice");
    }
    const Json* type = f.Get("type");
    def.Type =
        type ? FieldTypeOf(ToAnsi(*type, f.Path("type")), f.Path("type")) : plat::FieldType::String;
    if (const Json* size = f.Get("size")) {
      def.Size = ToInt(*size, f.Path("size"));
      if (def.Size < 0 || def.Size > 65535) BadField(f.Path("size"), "expected 0 to 65535");
    }
    f.Done();
    packet->Fields.push_back(def);
  }
  if (const Json* rows = m.Get("rows")) {
    if (!rows->is_array()) BadField(m.Path("rows"), "expected an array of rows");
    for (size_t r = 0; r < rows->size(); ++r) {
      const std::string path = m.Path("rows") + "[" + std::to_string(r) + "]";
      const Json& row = (*rows)[r];
      if (!row.is_array() || row.size() != packet->Fields.size()) {
        BadField(path, "expected an array of " + std::to_string(packet->Fields.size()) + " cells");
      }
      std::vector<plat::Variant> cells;
      cells.reserve(row.size());
      for (size_t c = 0; c < row.size(); ++c) {
        cells.push_back(Cell(row[c], packet->Fields[c].Type, path + "[" + std::to_string(c) + "]"));
      }
      packet->Rows.push_back(std::move(cells));
    }
  }
  m.Done();
  return packet;
}

std::unique_ptr<plat::TClientDataSet> ToDataset(const Json& v, const std::string& field,
                                                const plat::AnsiString& name) {
  auto ds = std::make_unique<plat::TClientDataSet>(name);
  if (v.is_null()) {
    ds->SetData(plat::Variant(std::make_shared<const plat::DataPacket>()));
  } else {
    ds->SetData(plat::Variant(ToPacket(v, field)));
  }
  return ds;
}

Json FromPacket(const plat::DataPacket& p) {
  Json fields = Json::array();
  for (const auto& f : p.Fields) {
    Json def = {{"name", FromAnsi(f.Name)}, {"type", TypeText(f.Type)}};
    if (f.Type == plat::FieldType::String) def["size"] = f.Size;
    fields.push_back(std::move(def));
  }
  Json rows = Json::array();
  for (const auto& row : p.Rows) {
    Json cells = Json::array();
    for (const auto& cell : row) cells.push_back(FromVariant(cell));
    rows.push_back(std::move(cells));
  }
  return Json{{"fields", std::move(fields)}, {"rows", std::move(rows)}};
}

Json FromDataset(const plat::TClientDataSet* ds) {
  if (!ds) return nullptr;
  const plat::Variant data = ds->Data();
  return FromPacket(*data.AsPacket());
}

Members::Members(const Json& object, std::string prefix)
    : object_(object), prefix_(std::move(prefix)) {}

const Json* Members::Get(const std::string& name) {
  seen_.push_back(name);
  const auto it = object_.find(name);
  if (it == object_.end() || it->is_null()) return nullptr;
  return &*it;
}

const Json& Members::Required(const std::string& name) {
  const Json* v = Get(name);
  if (!v) BadField(Path(name), "required");
  return *v;
}

void Members::Done() const {
  for (const auto& [key, value] : object_.items()) {
    if (key == "answers" && prefix_.empty()) continue;
    bool known = false;
    for (const auto& s : seen_) known = known || s == key;
    if (!known) BadField(Path(key), "unknown member");
  }
}

}  // namespace fpd
