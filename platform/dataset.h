// SPDX-License-Identifier: Apache-2.0
// The client dataset: an in-memory table with named fields, a cursor, indexes, a data packet
// that copies into another dataset, and a binary file form (docs/dataset-file.md).
// Thread safety: nothing in a dataset is locked, so a dataset and its field objects belong to
// one thread at a time; distinct datasets may be used from distinct threads. A packet handed out
// by Data() never changes and may be shared between threads.
#pragma once

#include <memory>
#include <vector>

#include "platform/exceptions.h"
#include "platform/export.h"
#include "platform/variant.h"

namespace plat {

enum class FieldType { String, Integer, Float, Boolean, DateTime };

struct FieldDef {
  AnsiString Name;
  FieldType Type = FieldType::String;
  int Size = 0;  // string fields: characters; 0 means the default size of 20
};

// The whole content of a dataset: field definitions and rows (each cell a Variant; a null
// cell is Variant::Null()). Immutable once handed out through TClientDataSet::Data().
struct DataPacket {
  std::vector<FieldDef> Fields;
  std::vector<std::vector<Variant>> Rows;
};

// Serialises a packet to the file form and back. Load raises EDatabaseError for a truncated,
// corrupt or foreign file and never reads out of bounds.
PLAT_API std::string SavePacketToBytes(const DataPacket& packet);
PLAT_API std::shared_ptr<const DataPacket> LoadPacketFromBytes(const std::string& bytes);
// The same, naming the source (a file path) in the error messages: "'<name>' is truncated".
PLAT_API std::shared_ptr<const DataPacket> LoadPacketFromBytes(const std::string& bytes,
                                                               const AnsiString& sourceName);
// "String", "Integer", "Float", "Boolean", "DateTime".
PLAT_API const char* FieldTypeName(FieldType t);

class TClientDataSet;

// A field of a dataset, found by name at every access, so a field object can be declared
// before the dataset's data is loaded (as the form's persistent fields are). A name that the
// dataset does not hold raises EDatabaseError "<dataset>: Field 'X' not found".
class PLAT_API TField {
 public:
  TField(TClientDataSet& ds, AnsiString name) : ds_(&ds), name_(std::move(name)) {}

  const AnsiString& FieldName() const { return name_; }
  bool IsNull() const;
  Variant Value() const;        // the cell (Null when null)
  AnsiString AsString() const;  // null reads as ""; floats in general format
  WideString AsWideString() const;
  double AsFloat() const;        // null reads as 0
  int32_t AsInteger() const;     // null reads as 0
  bool AsBoolean() const;        // null reads as false
  TDateTime AsDateTime() const;  // null reads as 0

  // Setting needs the dataset in edit or insert state (EDatabaseError otherwise). The value is
  // converted to the field's type; a text longer than a string field is cut to its size.
  void SetValue(const Variant& v);
  void SetAsString(const AnsiString& v) { SetValue(Variant(v)); }
  void SetAsFloat(double v) { SetValue(Variant(v)); }
  void SetAsInteger(int32_t v) { SetValue(Variant(static_cast<int>(v))); }
  void SetAsDateTime(TDateTime v) { SetValue(Variant::FromDate(v)); }
  void Clear() { SetValue(Variant::Null()); }

 private:
  TClientDataSet* ds_;
  AnsiString name_;
};

enum class DataSetState { Inactive, Browse, Edit, Insert };

class PLAT_API TClientDataSet {
 public:
  explicit TClientDataSet(AnsiString name = "ClientDataSet");
  TClientDataSet(const TClientDataSet&) = delete;
  TClientDataSet& operator=(const TClientDataSet&) = delete;

  const AnsiString& Name() const { return name_; }

  // Field definitions, used by CreateDataSet.
  void AddFieldDef(const AnsiString& name, FieldType type, int size = 0);
  void ClearFieldDefs();
  const std::vector<FieldDef>& FieldDefs() const;

  // Creates an empty table from the field definitions and opens it (an open dataset is closed
  // and its rows dropped first).
  void CreateDataSet();
  // Open works on a dataset that has data (from CreateDataSet, Data or a file) or a FileName.
  void Open();
  void Close();  // keeps the data; a later Open shows it again from the first row
  bool Active() const { return state_ != DataSetState::Inactive; }
  void SetActive(bool on) { on ? Open() : Close(); }
  DataSetState State() const { return state_; }
  // Aggregates are not computed: the switch changes nothing.
  void SetAggregatesActive(bool /*on*/) {}

  // Files. Open() with a FileName loads it. SaveToFile writes atomically.
  AnsiString FileName;
  void LoadFromFile(const AnsiString& path);
  void SaveToFile(const AnsiString& path) const;

  // The data packet: a full copy. Setting replaces fields and rows, opens the dataset and puts
  // the cursor on the first row; the giver's cursor never moves.
  Variant Data() const;
  void SetData(const Variant& packet);

  // Cursor, in the order of the selected index (or insertion order without one).
  void First();
  void Next();
  void Last();
  bool Eof() const;
  bool Bof() const;
  int RecordCount() const;
  bool IsEmpty() const { return RecordCount() == 0; }
  int RecNo() const;  // 1-based, 0 when empty

  // Fields.
  int FieldCount() const;
  TField FieldByName(const AnsiString& name);  // EDatabaseError when missing
  TField Fields(int index);

  // Editing. Insert adds an empty row before the current one (at the start of an empty table),
  // Append after the last; both make it current. Post stores it; Cancel drops an unposted row.
  void Insert();
  void Append();
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  // Removes every row; keeps the fields; stays open.
  void EmptyDataSet();

  // Finds the first row (in the current order) whose fields equal the values, exactly; moves the
  // cursor there and answers true, or answers false and leaves the cursor. keyFields is one
  // name or several joined by ';' with an array of values. Values are converted to each
  // field's type before comparing (a text "21" matches a float 21).
  bool Locate(const AnsiString& keyFields, const Variant& keyValues);

  // Named indexes over one or more fields ("IDTPIMPOSFIS;VRPEALIMPFIS"), ascending, stable;
  // strings compare byte-wise, nulls first. Selecting one ("" for none) puts the cursor on the
  // first row.
  void AddIndex(const AnsiString& name, const AnsiString& fields);
  void SetIndexName(const AnsiString& name);
  const AnsiString& IndexName() const { return indexName_; }

 private:
  friend class TField;
  struct IndexDef;
  [[noreturn]] void Fail(const AnsiString& message) const;  // EDatabaseError "<name>: ..."
  void CheckActive() const;
  void CheckBrowseMode();                        // posts a pending edit or insert
  int FieldIndex(const AnsiString& name) const;  // -1 when missing
  int FieldIndexOrFail(const AnsiString& name) const;
  const std::vector<FieldDef>& CurrentFields() const;
  Variant& Cell(int field);
  const Variant& Cell(int field) const;
  const IndexDef* FindIndex(const AnsiString& name) const;
  std::vector<int> IndexColumns(const IndexDef& index, const DataPacket& data) const;
  void RebuildOrder();
  void PlaceCurrentRow();  // the current row to its place in the selected index's order
  void Adopt(std::shared_ptr<DataPacket> data);        // new content: open at the first row
  std::shared_ptr<const DataPacket> Snapshot() const;  // stored rows, pending edits left out
  void SetCursorToRow(size_t row);  // the cursor onto a row given by its storage index

  AnsiString name_;
  std::vector<FieldDef> defs_;
  std::shared_ptr<DataPacket> data_;  // fields + rows, insertion order
  std::vector<size_t> order_;         // cursor order: indices into data_->Rows
  struct IndexDef {
    AnsiString name;
    std::vector<AnsiString> fields;
  };
  std::vector<IndexDef> indexes_;
  AnsiString indexName_;
  long pos_ = 0;  // position in order_
  bool eof_ = true;
  bool bof_ = true;
  DataSetState state_ = DataSetState::Inactive;
  std::vector<Variant> editBackup_;  // row before Edit, restored by Cancel
};

}  // namespace plat
