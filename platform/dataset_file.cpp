// SPDX-License-Identifier: Apache-2.0
// The dataset's binary file form: a fixed little-endian layout described in
// docs/dataset-file.md. Loading trusts nothing in the bytes: every length and count is checked
// against what is left before anything is read or allocated.
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "platform/dataset.h"
#include "platform/format.h"

namespace plat {

namespace {

constexpr char kMagic[8] = {'F', 'P', 'D', 'S', '\r', '\n', '\x1A', '\n'};
constexpr uint16_t kVersion = 1;

// Smallest encodings, used to reject counts that the remaining bytes cannot hold.
constexpr size_t kMinFieldBytes = 2 + 1 + 4;  // empty name, type, size
constexpr size_t kMinCellBytes = 1;           // the null flag alone

const char* TypeName(FieldType t) {
  switch (t) {
    case FieldType::String:
      return "String";
    case FieldType::Integer:
      return "Integer";
    case FieldType::Float:
      return "Float";
    case FieldType::Boolean:
      return "Boolean";
    case FieldType::DateTime:
      return "DateTime";
  }
  return "Unknown";
}

// ---- writing ----

class Writer {
 public:
  void Bytes(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }
  void U8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(v >> (8 * i)));
  }
  void F64(double v) {
    uint64_t bits = std::bit_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) U8(static_cast<uint8_t>(bits >> (8 * i)));
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

[[noreturn]] void SaveError(const std::string& what) {
  throw EDatabaseError("Cannot save the dataset: " + what);
}

// The cell as a value of the field's type. Packets that arrive from elsewhere may hold cells of
// another kind ("12" in a float field); they are converted, and a value that does not convert
// stops the save rather than being written wrong.
void WriteCell(Writer& w, const FieldDef& f, const Variant& cell) {
  if (cell.IsNull() || cell.IsEmpty()) {
    w.U8(1);
    return;
  }
  try {
    switch (f.Type) {
      case FieldType::String: {
        AnsiString s = cell.AsString();
        if (s.size() > std::numeric_limits<uint32_t>::max()) SaveError("text too long");
        w.U8(0);
        w.U32(static_cast<uint32_t>(s.size()));
        w.Bytes(s.data(), s.size());
        return;
      }
      case FieldType::Integer: {
        int32_t v = cell.AsInteger();
        w.U8(0);
        w.U32(static_cast<uint32_t>(v));
        return;
      }
      case FieldType::Float: {
        double v = cell.AsDouble();
        w.U8(0);
        w.F64(v);
        return;
      }
      case FieldType::Boolean: {
        bool v = cell.AsBoolean();
        w.U8(0);
        w.U8(v ? 1 : 0);
        return;
      }
      case FieldType::DateTime: {
        double v = cell.AsDateTime();
        w.U8(0);
        w.F64(v);
        return;
      }
    }
  } catch (const EDatabaseError&) {
    throw;
  } catch (const Exception& e) {
    SaveError("field '" + f.Name + "' holds a value that is not a " + TypeName(f.Type) + " (" +
              e.Message() + ")");
  }
  SaveError("field '" + f.Name + "' has an unknown type");
}

// ---- reading ----

class Reader {
 public:
  Reader(const std::string& bytes, const AnsiString& label) : b_(bytes), label_(label) {}

  size_t Left() const { return b_.size() - pos_; }

  [[noreturn]] void Truncated() const { throw EDatabaseError(label_ + " is truncated"); }
  [[noreturn]] void Corrupt(const std::string& why) const {
    throw EDatabaseError(label_ + " is corrupt: " + why);
  }

  void Need(size_t n) const {
    if (Left() < n) Truncated();
  }
  uint8_t U8() {
    Need(1);
    return static_cast<uint8_t>(b_[pos_++]);
  }
  uint16_t U16() {
    Need(2);
    uint16_t v = static_cast<uint16_t>(U8());
    v = static_cast<uint16_t>(v | (static_cast<uint16_t>(U8()) << 8));
    return v;
  }
  uint32_t U32() {
    Need(4);
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(U8()) << (8 * i);
    return v;
  }
  double F64() {
    Need(8);
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(U8()) << (8 * i);
    return std::bit_cast<double>(bits);
  }
  std::string Bytes(size_t n) {
    Need(n);
    std::string s = b_.substr(pos_, n);
    pos_ += n;
    return s;
  }

 private:
  const std::string& b_;
  const AnsiString& label_;
  size_t pos_ = 0;
};

std::shared_ptr<const DataPacket> Parse(const std::string& bytes, const AnsiString& label) {
  // The magic first: a file that does not start like ours is foreign, one that stops inside
  // the magic is a cut copy of ours.
  size_t m = std::min(bytes.size(), sizeof kMagic);
  if (bytes.empty() || std::memcmp(bytes.data(), kMagic, m) != 0)
    throw EDatabaseError(label + " is not a dataset file");
  if (bytes.size() < sizeof kMagic) throw EDatabaseError(label + " is truncated");

  Reader r(bytes, label);
  r.Bytes(sizeof kMagic);
  uint16_t version = r.U16();
  if (version != kVersion)
    throw EDatabaseError(label + " has an unsupported version " + IntToStr(version));

  auto packet = std::make_shared<DataPacket>();
  uint32_t fieldCount = r.U32();
  if (static_cast<uint64_t>(fieldCount) * kMinFieldBytes > r.Left()) r.Truncated();
  packet->Fields.reserve(fieldCount);
  std::unordered_set<std::string> names;
  for (uint32_t i = 0; i < fieldCount; ++i) {
    FieldDef f;
    uint16_t len = r.U16();
    f.Name = r.Bytes(len);
    if (f.Name.empty()) r.Corrupt("field " + IntToStr(i + 1) + " has no name");
    if (!names.insert(UpperCase(f.Name)).second) r.Corrupt("field '" + f.Name + "' appears twice");
    uint8_t type = r.U8();
    if (type > static_cast<uint8_t>(FieldType::DateTime))
      r.Corrupt("field '" + f.Name + "' has the unknown type " + IntToStr(type));
    f.Type = static_cast<FieldType>(type);
    uint32_t size = r.U32();
    if (size > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
      r.Corrupt("field '" + f.Name + "' has the size " + IntToStr(size));
    f.Size = static_cast<int>(size);
    packet->Fields.push_back(std::move(f));
  }

  uint32_t rowCount = r.U32();
  if (fieldCount == 0 && rowCount != 0) r.Corrupt("rows without fields");
  if (static_cast<uint64_t>(rowCount) * fieldCount * kMinCellBytes > r.Left()) r.Truncated();
  packet->Rows.reserve(rowCount);
  for (uint32_t row = 0; row < rowCount; ++row) {
    std::vector<Variant> cells;
    cells.reserve(fieldCount);
    for (const FieldDef& f : packet->Fields) {
      uint8_t flag = r.U8();
      if (flag == 1) {
        cells.push_back(Variant::Null());
        continue;
      }
      if (flag != 0)
        r.Corrupt("row " + IntToStr(row + 1) + " has a bad null flag in field '" + f.Name + "'");
      switch (f.Type) {
        case FieldType::String: {
          uint32_t len = r.U32();
          cells.emplace_back(r.Bytes(len));
          break;
        }
        case FieldType::Integer:
          cells.emplace_back(static_cast<int>(static_cast<int32_t>(r.U32())));
          break;
        case FieldType::Float:
          cells.emplace_back(r.F64());
          break;
        case FieldType::Boolean: {
          uint8_t b = r.U8();
          if (b > 1)
            r.Corrupt("row " + IntToStr(row + 1) + " has a bad Boolean in field '" + f.Name + "'");
          cells.emplace_back(b == 1);
          break;
        }
        case FieldType::DateTime:
          cells.push_back(Variant::FromDate(r.F64()));
          break;
      }
    }
    packet->Rows.push_back(std::move(cells));
  }
  if (r.Left() != 0)
    r.Corrupt(IntToStr(static_cast<int64_t>(r.Left())) + " bytes after the last row");
  return packet;
}

}  // namespace

const char* FieldTypeName(FieldType t) {
  return TypeName(t);
}

std::string SavePacketToBytes(const DataPacket& packet) {
  if (packet.Fields.size() > std::numeric_limits<uint32_t>::max() ||
      packet.Rows.size() > std::numeric_limits<uint32_t>::max())
    SaveError("too many fields or rows");
  Writer w;
  w.Bytes(kMagic, sizeof kMagic);
  w.U16(kVersion);
  w.U32(static_cast<uint32_t>(packet.Fields.size()));
  for (const FieldDef& f : packet.Fields) {
    if (f.Name.empty()) SaveError("a field has no name");
    if (f.Name.size() > std::numeric_limits<uint16_t>::max())
      SaveError("the field name '" + f.Name.substr(0, 40) + "...' is too long");
    if (f.Size < 0) SaveError("field '" + f.Name + "' has a negative size");
    w.U16(static_cast<uint16_t>(f.Name.size()));
    w.Bytes(f.Name.data(), f.Name.size());
    w.U8(static_cast<uint8_t>(f.Type));
    w.U32(static_cast<uint32_t>(f.Size));
  }
  w.U32(static_cast<uint32_t>(packet.Rows.size()));
  for (size_t row = 0; row < packet.Rows.size(); ++row) {
    const auto& cells = packet.Rows[row];
    if (cells.size() != packet.Fields.size())
      SaveError("row " + IntToStr(static_cast<int64_t>(row + 1)) + " has " +
                IntToStr(static_cast<int64_t>(cells.size())) + " cells for " +
                IntToStr(static_cast<int64_t>(packet.Fields.size())) + " fields");
    for (size_t i = 0; i < cells.size(); ++i) WriteCell(w, packet.Fields[i], cells[i]);
  }
  return w.Take();
}

std::shared_ptr<const DataPacket> LoadPacketFromBytes(const std::string& bytes) {
  return Parse(bytes, "The dataset data");
}

std::shared_ptr<const DataPacket> LoadPacketFromBytes(const std::string& bytes,
                                                      const AnsiString& sourceName) {
  return Parse(bytes, "'" + sourceName + "'");
}

}  // namespace plat
