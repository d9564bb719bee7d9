// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include <unistd.h>

#include "platform/dataset.h"
#include "platform/os.h"

using namespace plat;
namespace fs = std::filesystem;

namespace {

// A packet with one field of every type and rows that reach the edges of each encoding.
DataPacket EveryType() {
  DataPacket p;
  p.Fields = {{"NMTIPORECE", FieldType::String, 40},
              {"QTD", FieldType::Integer, 0},
              {"VRSAIDA", FieldType::Float, 0},
              {"ATIVO", FieldType::Boolean, 0},
              {"DTGRAVSBECF", FieldType::DateTime, 0}};
  p.Rows.push_back({Variant("Caf\xE9 & p\xE3o"), Variant(42), Variant(10.56), Variant(true),
                    Variant::FromDate(46000.75)});
  p.Rows.push_back(
      {Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()});
  p.Rows.push_back({Variant(std::string("a\0b\xFF", 4)), Variant(std::numeric_limits<int>::min()),
                    Variant(-0.0), Variant(false), Variant::FromDate(-1.25)});
  p.Rows.push_back({Variant(""), Variant(std::numeric_limits<int>::max()), Variant(1e300),
                    Variant(false), Variant::FromDate(0.0)});
  return p;
}

std::string Valid() {
  return SavePacketToBytes(EveryType());
}

// Offsets in the file of EveryType(): the header is the magic (8), the version (2) and the
// field count (4).
constexpr size_t kVersionAt = 8;
constexpr size_t kFieldCountAt = 10;
constexpr size_t kFirstFieldAt = 14;

void PutU32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

size_t RowCountAt() {
  size_t at = kFirstFieldAt;
  for (const auto& f : EveryType().Fields) at += 2 + f.Name.size() + 1 + 4;
  return at;
}

std::string LoadError(const std::string& bytes, const std::string& source = "x.cds") {
  try {
    LoadPacketFromBytes(bytes, source);
  } catch (const EDatabaseError& e) {
    return e.Message();
  }
  return "(loaded)";
}

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("dataset_file_test_" + std::to_string(::getpid()) + "_" + std::to_string(++count_));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const char* name) const { return (path_ / name).string(); }
  std::vector<std::string> Entries() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(path_)) out.push_back(e.path().filename());
    return out;
  }

 private:
  fs::path path_;
  static inline int count_ = 0;
};

}  // namespace

TEST(DataSetFile, RoundTripKeepsEveryTypeAndNulls) {
  DataPacket in = EveryType();
  auto out = LoadPacketFromBytes(SavePacketToBytes(in));
  ASSERT_EQ(out->Fields.size(), in.Fields.size());
  for (size_t i = 0; i < in.Fields.size(); ++i) {
    EXPECT_EQ(out->Fields[i].Name, in.Fields[i].Name);
    EXPECT_EQ(out->Fields[i].Type, in.Fields[i].Type);
    EXPECT_EQ(out->Fields[i].Size, in.Fields[i].Size);
  }
  ASSERT_EQ(out->Rows.size(), in.Rows.size());
  for (size_t r = 0; r < in.Rows.size(); ++r)
    for (size_t c = 0; c < in.Fields.size(); ++c)
      EXPECT_TRUE(out->Rows[r][c] == in.Rows[r][c]) << "row " << r << " field " << c;
  EXPECT_TRUE(std::signbit(out->Rows[2][2].AsDouble()));  // -0.0 keeps its sign

  // NaN does not compare equal to itself, so it is checked apart.
  DataPacket nan;
  nan.Fields = {{"F", FieldType::Float, 0}};
  nan.Rows = {{Variant(std::nan(""))}};
  EXPECT_TRUE(std::isnan(LoadPacketFromBytes(SavePacketToBytes(nan))->Rows[0][0].AsDouble()));

  // An empty table, and a table without fields.
  DataPacket empty;
  empty.Fields = {{"A", FieldType::String, 20}};
  EXPECT_TRUE(LoadPacketFromBytes(SavePacketToBytes(empty))->Rows.empty());
  EXPECT_TRUE(LoadPacketFromBytes(SavePacketToBytes(DataPacket{}))->Fields.empty());
}

TEST(DataSetFile, FixedLittleEndianLayout) {
  DataPacket p;
  p.Fields = {{"AB", FieldType::Integer, 0}};
  p.Rows = {{Variant(0x01020304)}, {Variant::Null()}};
  const std::string expected =
      std::string("FPDS\r\n\x1A\n", 8) + std::string("\x01\x00", 2) +   // version 1
      std::string("\x01\x00\x00\x00", 4) +                              // one field
      std::string("\x02\x00", 2) + "AB" + std::string("\x01", 1) +      // name, Integer
      std::string("\x00\x00\x00\x00", 4) +                              // size
      std::string("\x02\x00\x00\x00", 4) +                              // two rows
      std::string("\x00\x04\x03\x02\x01", 5) + std::string("\x01", 1);  // value, null
  EXPECT_EQ(SavePacketToBytes(p), expected);
}

TEST(DataSetFile, CellsOfAnotherKindAreConvertedOrRefused) {
  DataPacket p;
  p.Fields = {{"VRSAIDA", FieldType::Float, 0}};
  p.Rows = {{Variant("12")}};
  EXPECT_EQ(LoadPacketFromBytes(SavePacketToBytes(p))->Rows[0][0].AsDouble(), 12.0);
  p.Rows = {{Variant("doze")}};
  EXPECT_THROW(SavePacketToBytes(p), EDatabaseError);
  p.Rows = {{Variant(1.0), Variant(2.0)}};  // more cells than fields
  EXPECT_THROW(SavePacketToBytes(p), EDatabaseError);
}

TEST(DataSetFile, EveryTruncationIsRefused) {
  const std::string bytes = Valid();
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::string msg = LoadError(bytes.substr(0, n));
    EXPECT_TRUE(msg == "'x.cds' is truncated" || (n == 0 && msg == "'x.cds' is not a dataset file"))
        << "length " << n << ": " << msg;
  }
  EXPECT_EQ(LoadError(bytes + "!"), "'x.cds' is corrupt: 1 bytes after the last row");
}

TEST(DataSetFile, DamagedHeadersAndCountsAreRefused) {
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"foreign magic", [](std::string& b) { b[0] = 'X'; }, "'x.cds' is not a dataset file"},
      {"text file", [](std::string& b) { b = "NMTIPORECE;VRSAIDA\n"; },
       "'x.cds' is not a dataset file"},
      {"newer version", [](std::string& b) { b[kVersionAt] = 2; },
       "'x.cds' has an unsupported version 2"},
      {"huge field count", [](std::string& b) { PutU32(b, kFieldCountAt, 0xFFFFFFFFu); },
       "'x.cds' is truncated"},
      {"huge row count", [](std::string& b) { PutU32(b, RowCountAt(), 0x7FFFFFFFu); },
       "'x.cds' is truncated"},
      {"huge text length", [](std::string& b) { PutU32(b, RowCountAt() + 5, 0xFFFFFFF0u); },
       "'x.cds' is truncated"},
      {"unknown type", [](std::string& b) { b[kFirstFieldAt + 2 + 10] = 9; },
       "'x.cds' is corrupt: field 'NMTIPORECE' has the unknown type 9"},
      {"bad null flag", [](std::string& b) { b[RowCountAt() + 4] = 7; },
       "'x.cds' is corrupt: row 1 has a bad null flag in field 'NMTIPORECE'"},
      {"empty field name", [](std::string& b) { b[kFirstFieldAt] = 0; },
       "'x.cds' is corrupt: field 1 has no name"},
  };
  for (const Case& c : cases) {
    std::string b = Valid();
    c.damage(b);
    EXPECT_EQ(LoadError(b), c.message) << c.what;
  }
  // Rows without fields would cost nothing to claim and everything to allocate.
  std::string noFields = SavePacketToBytes(DataPacket{});
  PutU32(noFields, kFieldCountAt + 4, 0xFFFFFFFFu);
  EXPECT_EQ(LoadError(noFields), "'x.cds' is corrupt: rows without fields");
  // Without a source name the messages still say what is wrong.
  EXPECT_THROW(LoadPacketFromBytes("junk"), EDatabaseError);
}

TEST(DataSetFile, SaveIsAtomicAndLoadOpensAtTheFirstRow) {
  TempDir dir;
  const std::string path = dir.File("REDUCAOZ_MP35.CDS");
  TClientDataSet z("cdsReducaoZ");
  z.AddFieldDef("NRECFREDZ", FieldType::String, 4);
  z.AddFieldDef("VRVENBRUREDZ", FieldType::Float);
  z.CreateDataSet();
  for (const char* ecf : {"0001", "0002"}) {
    z.Append();
    z.FieldByName("NRECFREDZ").SetAsString(ecf);
    z.FieldByName("VRVENBRUREDZ").SetAsFloat(12345.67);
    z.Post();
  }
  z.SaveToFile(path);
  z.EmptyDataSet();
  z.SaveToFile(path);  // replaces the file
  z.Append();
  z.FieldByName("NRECFREDZ").SetAsString("0003");
  z.Post();
  z.Append();  // a pending row is not saved
  z.SaveToFile(path);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"REDUCAOZ_MP35.CDS"});

  TClientDataSet host("cdsHost");
  host.FileName = path;
  host.Open();
  EXPECT_EQ(host.RecordCount(), 1);
  EXPECT_EQ(host.FieldByName("NRECFREDZ").AsString(), "0003");
  EXPECT_TRUE(host.FieldByName("VRVENBRUREDZ").IsNull());

  // A damaged file names itself and leaves the dataset as it was.
  std::ofstream(dir.File("bad.cds"), std::ios::binary) << Valid().substr(0, 20);
  try {
    host.LoadFromFile(dir.File("bad.cds"));
    ADD_FAILURE() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "'" + dir.File("bad.cds") + "' is truncated");
  }
  EXPECT_EQ(host.FieldByName("NRECFREDZ").AsString(), "0003");
  EXPECT_THROW(host.LoadFromFile(dir.File("missing.cds")), Exception);
  TClientDataSet nothing("nothing");
  EXPECT_THROW(nothing.SaveToFile(dir.File("n.cds")), EDatabaseError);
}
