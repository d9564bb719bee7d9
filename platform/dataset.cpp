// SPDX-License-Identifier: Apache-2.0
// The client dataset. Rows live in data_ in their stored order (the order a file or a packet
// keeps); order_ is the cursor's view of them, either the stored order or the order of the
// selected index. A row being inserted or edited is already in data_; Cancel takes it out or
// restores it, and Snapshot() leaves such pending changes out of what is handed out or saved.
#include <algorithm>
#include <cmath>

#include "platform/codepage.h"
#include "platform/dataset.h"
#include "platform/format.h"
#include "platform/os.h"

namespace plat {

namespace {

bool SameName(const AnsiString& a, const AnsiString& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::vector<AnsiString> SplitNames(const AnsiString& list) {
  std::vector<AnsiString> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == AnsiString::npos) end = list.size();
    AnsiString name = Trim(list.substr(start, end - start));
    if (!name.empty()) out.push_back(name);
    start = end + 1;
  }
  return out;
}

int StringSize(const FieldDef& f) {
  return f.Size > 0 ? f.Size : 20;
}

// A cell reduced to something that orders totally: nulls, then NaN, then numbers, then texts,
// then anything else. Built before sorting so that the comparison itself cannot throw.
struct SortKey {
  int rank = 0;
  double num = 0;
  std::string text;
};

SortKey MakeKey(const Variant& v) {
  SortKey k;
  switch (v.Type()) {
    case VarType::Empty:
    case VarType::Null:
      k.rank = 0;
      break;
    case VarType::Boolean:
      k.rank = 2;
      k.num = v.AsBoolean() ? 1 : 0;
      break;
    case VarType::Integer:
    case VarType::Double:
    case VarType::Date:
      k.num = v.Type() == VarType::Date ? v.AsDateTime() : v.AsDouble();
      k.rank = std::isnan(k.num) ? 1 : 2;
      break;
    case VarType::String:
    case VarType::WideStr:
      k.rank = 3;
      k.text = v.AsString();
      break;
    default:
      k.rank = 4;
      break;
  }
  return k;
}

int CompareKeys(const SortKey& a, const SortKey& b) {
  if (a.rank != b.rank) return a.rank < b.rank ? -1 : 1;
  if (a.rank == 2) return a.num < b.num ? -1 : (b.num < a.num ? 1 : 0);
  if (a.rank == 3) {
    int c = a.text.compare(b.text);  // byte-wise, unsigned
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  return 0;
}

// The value a field stores for v: converted to the field's type, texts cut to the size.
Variant ToFieldValue(const FieldDef& f, const Variant& v) {
  if (v.IsNull() || v.IsEmpty()) return Variant::Null();
  switch (f.Type) {
    case FieldType::String: {
      AnsiString s = v.AsString();
      size_t size = static_cast<size_t>(StringSize(f));
      if (s.size() > size) s.resize(size);
      return Variant(std::move(s));
    }
    case FieldType::Integer:
      return Variant(static_cast<int>(v.AsInteger()));
    case FieldType::Float:
      return Variant(v.AsDouble());
    case FieldType::Boolean:
      return Variant(v.AsBoolean());
    case FieldType::DateTime:
      return Variant::FromDate(v.AsDateTime());
  }
  return v;
}

// Exact comparison of a cell with a search key, both taken as values of the field's type. A key
// or a cell that does not convert matches nothing.
bool CellMatches(const FieldDef& f, const Variant& cell, const Variant& key) {
  bool cellNull = cell.IsNull() || cell.IsEmpty();
  bool keyNull = key.IsNull() || key.IsEmpty();
  if (cellNull || keyNull) return cellNull && keyNull;
  try {
    switch (f.Type) {
      case FieldType::String:
        return cell.AsString() == key.AsString();
      case FieldType::Integer:
        // Through the double, so that "21.5" does not round onto 22.
        return static_cast<double>(cell.AsInteger()) == key.AsDouble();
      case FieldType::Float:
        return cell.AsDouble() == key.AsDouble();
      case FieldType::Boolean:
        return cell.AsBoolean() == key.AsBoolean();
      case FieldType::DateTime:
        return cell.AsDateTime() == key.AsDateTime();
    }
  } catch (const Exception&) {
  }
  return false;
}

}  // namespace

// ---- TField ----

bool TField::IsNull() const {
  const TClientDataSet& ds = *ds_;  // the reading overload of Cell
  const Variant& v = ds.Cell(ds.FieldIndexOrFail(name_));
  return v.IsNull() || v.IsEmpty();
}

Variant TField::Value() const {
  const TClientDataSet& ds = *ds_;
  const Variant& v = ds.Cell(ds.FieldIndexOrFail(name_));
  return v.IsEmpty() ? Variant::Null() : v;
}

AnsiString TField::AsString() const {
  Variant v = Value();
  return v.IsNull() ? AnsiString() : v.AsString();
}

WideString TField::AsWideString() const {
  return AnsiToWide(AsString());
}

double TField::AsFloat() const {
  Variant v = Value();
  return v.IsNull() ? 0.0 : v.AsDouble();
}

int32_t TField::AsInteger() const {
  Variant v = Value();
  return v.IsNull() ? 0 : v.AsInteger();
}

bool TField::AsBoolean() const {
  Variant v = Value();
  return v.IsNull() ? false : v.AsBoolean();
}

TDateTime TField::AsDateTime() const {
  Variant v = Value();
  return v.IsNull() ? 0.0 : v.AsDateTime();
}

void TField::SetValue(const Variant& v) {
  int i = ds_->FieldIndexOrFail(name_);
  if (ds_->state_ != DataSetState::Edit && ds_->state_ != DataSetState::Insert)
    ds_->Fail("Dataset not in edit or insert mode");
  // Convert first: a value that does not convert leaves the cell as it was.
  Variant stored = ToFieldValue(ds_->data_->Fields[static_cast<size_t>(i)], v);
  ds_->Cell(i) = std::move(stored);
}

// ---- TClientDataSet: basics ----

TClientDataSet::TClientDataSet(AnsiString name) : name_(std::move(name)) {}

void TClientDataSet::Fail(const AnsiString& message) const {
  throw EDatabaseError(name_ + ": " + message);
}

void TClientDataSet::CheckActive() const {
  if (state_ == DataSetState::Inactive) Fail("Cannot perform this operation on a closed dataset");
}

void TClientDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) Post();
}

const std::vector<FieldDef>& TClientDataSet::CurrentFields() const {
  return data_ ? data_->Fields : defs_;
}

int TClientDataSet::FieldIndex(const AnsiString& name) const {
  const auto& fields = CurrentFields();
  // Names are unique whatever their case, so an exact match (the usual call) is the match.
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].Name == name) return static_cast<int>(i);
  for (size_t i = 0; i < fields.size(); ++i)
    if (SameName(fields[i].Name, name)) return static_cast<int>(i);
  return -1;
}

int TClientDataSet::FieldIndexOrFail(const AnsiString& name) const {
  int i = FieldIndex(name);
  if (i < 0) Fail("Field '" + name + "' not found");
  return i;
}

const Variant& TClientDataSet::Cell(int field) const {
  CheckActive();
  static const Variant kNull = Variant::Null();
  if (!data_ || order_.empty()) return kNull;  // no current row: every field reads as null
  const auto& row = data_->Rows[order_[static_cast<size_t>(pos_)]];
  return static_cast<size_t>(field) < row.size() ? row[static_cast<size_t>(field)] : kNull;
}

Variant& TClientDataSet::Cell(int field) {
  // Only reached in edit or insert state, where a current row always exists.
  if (!data_ || order_.empty()) Fail("Dataset not in edit or insert mode");
  return data_->Rows[order_[static_cast<size_t>(pos_)]][static_cast<size_t>(field)];
}

void TClientDataSet::AddFieldDef(const AnsiString& name, FieldType type, int size) {
  defs_.push_back(FieldDef{name, type, size});
}

void TClientDataSet::ClearFieldDefs() {
  defs_.clear();
}

const std::vector<FieldDef>& TClientDataSet::FieldDefs() const {
  return defs_;
}

int TClientDataSet::FieldCount() const {
  return static_cast<int>(CurrentFields().size());
}

TField TClientDataSet::FieldByName(const AnsiString& name) {
  FieldIndexOrFail(name);
  return TField(*this, name);
}

TField TClientDataSet::Fields(int index) {
  const auto& fields = CurrentFields();
  if (index < 0 || static_cast<size_t>(index) >= fields.size())
    Fail("Field index " + IntToStr(index) + " out of bounds");
  return TField(*this, fields[static_cast<size_t>(index)].Name);
}

// ---- indexes and order ----

const TClientDataSet::IndexDef* TClientDataSet::FindIndex(const AnsiString& name) const {
  for (const auto& ix : indexes_)
    if (SameName(ix.name, name)) return &ix;
  return nullptr;
}

std::vector<int> TClientDataSet::IndexColumns(const IndexDef& index, const DataPacket& data) const {
  std::vector<int> cols;
  for (const auto& fname : index.fields) {
    int col = -1;
    for (size_t i = 0; i < data.Fields.size(); ++i)
      if (SameName(data.Fields[i].Name, fname)) col = static_cast<int>(i);
    if (col < 0) Fail("Field '" + fname + "' of index '" + index.name + "' not found");
    cols.push_back(col);
  }
  return cols;
}

void TClientDataSet::RebuildOrder() {
  size_t n = data_ ? data_->Rows.size() : 0;
  order_.resize(n);
  for (size_t i = 0; i < n; ++i) order_[i] = i;
  const IndexDef* ix = indexName_.empty() ? nullptr : FindIndex(indexName_);
  if (!ix || n < 2) return;
  std::vector<int> cols = IndexColumns(*ix, *data_);
  std::vector<std::vector<SortKey>> keys(n);
  for (size_t r = 0; r < n; ++r)
    for (int c : cols) keys[r].push_back(MakeKey(data_->Rows[r][static_cast<size_t>(c)]));
  std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
    for (size_t k = 0; k < cols.size(); ++k) {
      int c = CompareKeys(keys[a][k], keys[b][k]);
      if (c != 0) return c < 0;
    }
    return false;
  });
}

// Every other row already stands in index order (keys, then stored position), so the current
// row only has to move to its own place: the order a full rebuild would give, found by a binary
// search, at the cost of moving the rows between its old and its new place.
void TClientDataSet::PlaceCurrentRow() {
  const IndexDef* ix = FindIndex(indexName_);
  std::vector<int> cols = IndexColumns(*ix, *data_);
  const size_t p = static_cast<size_t>(pos_);
  const size_t row = order_[p];
  std::vector<SortKey> key;
  for (int c : cols) key.push_back(MakeKey(data_->Rows[row][static_cast<size_t>(c)]));
  auto sortsBefore = [&](size_t other) {
    for (size_t k = 0; k < cols.size(); ++k) {
      const int c = CompareKeys(MakeKey(data_->Rows[other][static_cast<size_t>(cols[k])]), key[k]);
      if (c != 0) return c < 0;
    }
    return other < row;
  };
  const auto here = order_.begin() + static_cast<long>(p);
  if (p > 0 && !sortsBefore(order_[p - 1])) {
    const auto at = std::partition_point(order_.begin(), here, sortsBefore);
    std::rotate(at, here, here + 1);
    pos_ = static_cast<long>(at - order_.begin());
  } else if (p + 1 < order_.size() && sortsBefore(order_[p + 1])) {
    const auto at = std::partition_point(here + 1, order_.end(), sortsBefore);
    std::rotate(here, here + 1, at);
    pos_ = static_cast<long>(at - order_.begin()) - 1;
  }
  bof_ = eof_ = false;
}

void TClientDataSet::SetCursorToRow(size_t row) {
  auto it = std::find(order_.begin(), order_.end(), row);
  pos_ = it == order_.end() ? 0 : static_cast<long>(it - order_.begin());
  bof_ = eof_ = false;
}

void TClientDataSet::AddIndex(const AnsiString& name, const AnsiString& fields) {
  std::vector<AnsiString> names = SplitNames(fields);
  if (Trim(name).empty()) Fail("An index needs a name");
  if (names.empty()) Fail("Index '" + name + "' has no fields");
  IndexDef def{name, names};
  if (IndexDef* old = const_cast<IndexDef*>(FindIndex(name))) {
    bool selected = SameName(indexName_, name);
    if (selected && data_) IndexColumns(def, *data_);  // check before replacing
    *old = def;
    if (selected && Active()) {
      CheckBrowseMode();
      RebuildOrder();
      First();
    }
    return;
  }
  indexes_.push_back(def);
}

void TClientDataSet::SetIndexName(const AnsiString& name) {
  if (Active()) CheckBrowseMode();
  if (!name.empty()) {
    const IndexDef* ix = FindIndex(name);
    if (!ix) Fail("Index '" + name + "' not found");
    if (data_) IndexColumns(*ix, *data_);  // the data must hold every field of the index
    indexName_ = ix->name;
  } else {
    indexName_.clear();
  }
  if (Active()) {
    RebuildOrder();
    First();
  }
}

// ---- opening, closing, content ----

void TClientDataSet::Adopt(std::shared_ptr<DataPacket> data) {
  for (size_t r = 0; r < data->Rows.size(); ++r)
    if (data->Rows[r].size() != data->Fields.size())
      Fail("Invalid data packet: row " + IntToStr(static_cast<int64_t>(r + 1)) + " has " +
           IntToStr(static_cast<int64_t>(data->Rows[r].size())) + " values for " +
           IntToStr(static_cast<int64_t>(data->Fields.size())) + " fields");
  if (!indexName_.empty())
    if (const IndexDef* ix = FindIndex(indexName_)) IndexColumns(*ix, *data);
  // Nothing above changed the dataset; from here on nothing throws.
  Close();
  editBackup_.clear();
  defs_ = data->Fields;
  data_ = std::move(data);
  state_ = DataSetState::Browse;
  RebuildOrder();
  First();
}

void TClientDataSet::CreateDataSet() {
  if (defs_.empty()) Fail("Missing field definitions");
  auto data = std::make_shared<DataPacket>();
  for (const FieldDef& f : defs_) {
    if (Trim(f.Name).empty()) Fail("A field definition has no name");
    if (f.Size < 0) Fail("Field '" + f.Name + "' has a negative size");
    for (const FieldDef& g : data->Fields)
      if (SameName(f.Name, g.Name)) Fail("Duplicate field name '" + f.Name + "'");
    FieldDef def = f;
    if (def.Type == FieldType::String) def.Size = StringSize(def);
    data->Fields.push_back(def);
  }
  Adopt(std::move(data));
}

void TClientDataSet::Open() {
  if (Active()) return;
  if (data_) {
    if (!indexName_.empty())
      if (const IndexDef* ix = FindIndex(indexName_)) IndexColumns(*ix, *data_);
    state_ = DataSetState::Browse;
    RebuildOrder();
    First();
    return;
  }
  if (!FileName.empty()) {
    LoadFromFile(FileName);
    return;
  }
  Fail("Missing data provider or data packet");
}

void TClientDataSet::Close() {
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) Cancel();
  state_ = DataSetState::Inactive;
}

void TClientDataSet::LoadFromFile(const AnsiString& path) {
  std::string bytes = ReadWholeFile(path);
  auto packet = LoadPacketFromBytes(bytes, path);
  Adopt(std::make_shared<DataPacket>(*packet));
}

void TClientDataSet::SaveToFile(const AnsiString& path) const {
  if (!data_) Fail("Missing data provider or data packet");
  WriteFileAtomic(path, SavePacketToBytes(*Snapshot()));
}

std::shared_ptr<const DataPacket> TClientDataSet::Snapshot() const {
  auto copy = std::make_shared<DataPacket>(*data_);
  if (!order_.empty() && static_cast<size_t>(pos_) < order_.size()) {
    size_t row = order_[static_cast<size_t>(pos_)];
    if (state_ == DataSetState::Insert)
      copy->Rows.erase(copy->Rows.begin() + static_cast<long>(row));
    else if (state_ == DataSetState::Edit && editBackup_.size() == copy->Fields.size())
      copy->Rows[row] = editBackup_;
  }
  return copy;
}

Variant TClientDataSet::Data() const {
  if (!data_) return Variant::Null();
  return Variant(Snapshot());
}

void TClientDataSet::SetData(const Variant& packet) {
  if (packet.IsNull() || packet.IsEmpty()) {
    // No packet: the dataset closes and drops its content.
    Close();
    data_.reset();
    order_.clear();
    pos_ = 0;
    eof_ = bof_ = true;
    return;
  }
  if (packet.Type() != VarType::Packet) Fail("Invalid data packet");
  auto given = packet.AsPacket();
  if (!given) Fail("Invalid data packet");
  auto copy = std::make_shared<DataPacket>(*given);
  Adopt(std::move(copy));
}

// ---- cursor ----

void TClientDataSet::First() {
  CheckBrowseMode();
  pos_ = 0;
  bof_ = true;
  eof_ = order_.empty();
}

void TClientDataSet::Next() {
  CheckBrowseMode();
  bof_ = false;
  if (order_.empty()) {
    eof_ = true;
    return;
  }
  if (static_cast<size_t>(pos_) + 1 < order_.size()) {
    ++pos_;
    eof_ = false;
  } else {
    eof_ = true;  // past the last row; the last row stays the current one
  }
}

void TClientDataSet::Last() {
  CheckBrowseMode();
  pos_ = order_.empty() ? 0 : static_cast<long>(order_.size()) - 1;
  eof_ = true;
  bof_ = order_.empty();
}

bool TClientDataSet::Eof() const {
  return !Active() || eof_ || order_.empty();
}

bool TClientDataSet::Bof() const {
  return !Active() || bof_ || order_.empty();
}

int TClientDataSet::RecordCount() const {
  if (!Active() || !data_) return 0;
  return static_cast<int>(data_->Rows.size());
}

int TClientDataSet::RecNo() const {
  if (!Active() || order_.empty()) return 0;
  return static_cast<int>(pos_) + 1;
}

// ---- editing ----

void TClientDataSet::Insert() {
  CheckBrowseMode();
  // Stored before the current row, so that without an index the new row also keeps its place
  // in the stored order (and in a saved file).
  size_t row = order_.empty() ? 0 : order_[static_cast<size_t>(pos_)];
  data_->Rows.insert(data_->Rows.begin() + static_cast<long>(row),
                     std::vector<Variant>(data_->Fields.size(), Variant::Null()));
  for (size_t& r : order_)
    if (r >= row) ++r;
  if (order_.empty()) pos_ = 0;
  order_.insert(order_.begin() + pos_, row);
  bof_ = eof_ = false;
  state_ = DataSetState::Insert;
}

void TClientDataSet::Append() {
  CheckBrowseMode();
  data_->Rows.emplace_back(data_->Fields.size(), Variant::Null());
  order_.push_back(data_->Rows.size() - 1);
  pos_ = static_cast<long>(order_.size()) - 1;
  bof_ = eof_ = false;
  state_ = DataSetState::Insert;
}

void TClientDataSet::Edit() {
  CheckActive();
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
  if (order_.empty()) {
    Insert();
    return;
  }
  editBackup_ = data_->Rows[order_[static_cast<size_t>(pos_)]];
  state_ = DataSetState::Edit;
}

void TClientDataSet::Post() {
  CheckActive();
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
    Fail("Dataset not in edit or insert mode");
  size_t row = order_[static_cast<size_t>(pos_)];
  state_ = DataSetState::Browse;
  editBackup_.clear();
  if (!indexName_.empty()) {
    if (FindIndex(indexName_) != nullptr) {
      PlaceCurrentRow();
    } else {
      RebuildOrder();
      SetCursorToRow(row);
    }
  }
}

void TClientDataSet::Cancel() {
  if (state_ == DataSetState::Insert) {
    size_t row = order_[static_cast<size_t>(pos_)];
    data_->Rows.erase(data_->Rows.begin() + static_cast<long>(row));
    order_.erase(order_.begin() + pos_);
    for (size_t& r : order_)
      if (r > row) --r;
    if (static_cast<size_t>(pos_) >= order_.size())
      pos_ = order_.empty() ? 0 : static_cast<long>(order_.size()) - 1;
  } else if (state_ == DataSetState::Edit) {
    data_->Rows[order_[static_cast<size_t>(pos_)]] = editBackup_;
  } else {
    return;
  }
  editBackup_.clear();
  state_ = DataSetState::Browse;
  bof_ = false;
  eof_ = order_.empty();
}

void TClientDataSet::Delete() {
  CheckActive();
  if (state_ == DataSetState::Insert) {
    Cancel();
    return;
  }
  if (state_ == DataSetState::Edit) Cancel();
  if (order_.empty()) Fail("Cannot perform this operation on an empty dataset");
  size_t row = order_[static_cast<size_t>(pos_)];
  data_->Rows.erase(data_->Rows.begin() + static_cast<long>(row));
  order_.erase(order_.begin() + pos_);
  for (size_t& r : order_)
    if (r > row) --r;
  if (static_cast<size_t>(pos_) >= order_.size()) {
    // The last row went: the row before it becomes current.
    pos_ = order_.empty() ? 0 : static_cast<long>(order_.size()) - 1;
  }
  bof_ = pos_ == 0;
  eof_ = order_.empty();
}

void TClientDataSet::EmptyDataSet() {
  CheckActive();
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) Cancel();
  data_->Rows.clear();
  order_.clear();
  pos_ = 0;
  bof_ = eof_ = true;
}

// ---- search ----

bool TClientDataSet::Locate(const AnsiString& keyFields, const Variant& keyValues) {
  CheckBrowseMode();
  std::vector<AnsiString> names = SplitNames(keyFields);
  if (names.empty()) Fail("Locate needs at least one key field");
  std::vector<int> cols;
  for (const auto& n : names) cols.push_back(FieldIndexOrFail(n));
  std::vector<Variant> keys;
  if (keyValues.IsArray()) {
    keys = keyValues.Items();
  } else {
    keys.push_back(keyValues);
  }
  if (keys.size() != cols.size())
    Fail("Locate on " + IntToStr(static_cast<int64_t>(cols.size())) + " fields got " +
         IntToStr(static_cast<int64_t>(keys.size())) + " values");
  for (size_t p = 0; p < order_.size(); ++p) {
    const auto& row = data_->Rows[order_[p]];
    bool all = true;
    for (size_t k = 0; k < cols.size() && all; ++k) {
      size_t c = static_cast<size_t>(cols[k]);
      all = CellMatches(data_->Fields[c], row[c], keys[k]);
    }
    if (all) {
      pos_ = static_cast<long>(p);
      bof_ = eof_ = false;
      return true;
    }
  }
  return false;
}

}  // namespace plat
