// SPDX-License-Identifier: Apache-2.0
// Field objects and Locate find their fields by name: a dataset whose fields change (new data
// in another layout, new definitions, no data) is read by name again, never through a column
// of the fields it had before.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dataset.h"

using namespace plat;

namespace {

// A packet with the given fields (strings) and one row whose cells are "<field>1".
Variant OneRow(const std::vector<std::string>& names) {
  auto packet = std::make_shared<DataPacket>();
  std::vector<Variant> row;
  for (const auto& n : names) {
    packet->Fields.push_back(FieldDef{n, FieldType::String, 10});
    row.push_back(Variant(n + "1"));
  }
  packet->Rows.push_back(row);
  return Variant(std::shared_ptr<const DataPacket>(packet));
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EDatabaseError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(DataSetFields, FieldObjectFollowsTheDatasetsFields) {
  TClientDataSet ds("cds");
  TField b(ds, "B");  // declared before the dataset has any data
  EXPECT_EQ(ErrorOf([&] { b.AsString(); }), "cds: Field 'B' not found");

  ds.SetData(OneRow({"A", "B", "C"}));
  TField c = ds.FieldByName("C");
  EXPECT_EQ(b.AsString(), "B1");
  EXPECT_EQ(c.AsString(), "C1");

  // The same names in other columns.
  ds.SetData(OneRow({"C", "B", "X", "A"}));
  EXPECT_EQ(b.AsString(), "B1");
  EXPECT_EQ(c.AsString(), "C1");

  // A field the new data lacks fails at the read with the usual text, also when setting.
  ds.SetData(OneRow({"A", "B"}));
  EXPECT_EQ(ErrorOf([&] { c.AsString(); }), "cds: Field 'C' not found");
  ds.Edit();
  EXPECT_EQ(ErrorOf([&] { c.SetAsString("z"); }), "cds: Field 'C' not found");
  ds.Cancel();

  // No data: only the definitions are left, and they are looked at again.
  ds.SetData(Variant::Null());
  ds.ClearFieldDefs();
  EXPECT_EQ(ErrorOf([&] { b.IsNull(); }), "cds: Field 'B' not found");
  ds.AddFieldDef("Q", FieldType::String);
  ds.AddFieldDef("B", FieldType::Integer);
  ds.CreateDataSet();
  ds.Append();
  b.SetAsInteger(7);
  ds.Post();
  EXPECT_EQ(b.AsInteger(), 7);
  EXPECT_EQ(ds.Fields(0).FieldName(), "Q");
  EXPECT_TRUE(ds.Fields(0).IsNull());
}

TEST(DataSetFields, LocateFollowsTheDatasetsFields) {
  TClientDataSet ds("cds");
  ds.SetData(OneRow({"A", "B"}));
  EXPECT_TRUE(ds.Locate("A;B", VarArrayOf({Variant("A1"), Variant("B1")})));
  EXPECT_FALSE(ds.Locate("A;B", VarArrayOf({Variant("B1"), Variant("A1")})));

  ds.SetData(OneRow({"B", "A"}));
  EXPECT_TRUE(ds.Locate("A;B", VarArrayOf({Variant("A1"), Variant("B1")})));
  EXPECT_TRUE(ds.Locate("B", Variant("B1")));

  ds.SetData(OneRow({"A"}));
  EXPECT_EQ(ErrorOf([&] {
              ds.Locate("A;B", VarArrayOf({Variant("A1"), Variant("B1")}));
            }),
            "cds: Field 'B' not found");
  EXPECT_EQ(ErrorOf([&] {
              ds.Locate("A;B", VarArrayOf({Variant("A1"), Variant("B1")}));
            }),
            "cds: Field 'B' not found");
  EXPECT_EQ(ErrorOf([&] { ds.Locate(" ; ", Variant("A1")); }),
            "cds: Locate needs at least one key field");
  EXPECT_EQ(ErrorOf([&] {
              ds.Locate("A", VarArrayOf({Variant("A1"), Variant("B1")}));
            }),
            "cds: Locate on 1 fields got 2 values");
  EXPECT_TRUE(ds.Locate("A", Variant("A1")));
}

// A key is compared as a value of the field's type; a key that does not convert matches no row,
// and a null key only null cells, whatever the row order.
TEST(DataSetFields, LocateComparesKeysAsTheFieldsType) {
  TClientDataSet ds("cds");
  ds.AddFieldDef("L", FieldType::String, 2);
  ds.AddFieldDef("R", FieldType::Float);
  ds.CreateDataSet();
  const struct {
    const char* letter;
    Variant rate;
  } rows[] = {
      {"T", Variant::Null()}, {"T", Variant(21.0)}, {"F", Variant(0.0)}, {"T", Variant(10.5)}};
  for (const auto& r : rows) {
    ds.Append();
    ds.FieldByName("L").SetAsString(r.letter);
    ds.FieldByName("R").SetValue(r.rate);
    ds.Post();
  }
  const struct {
    Variant letter, rate;
    int recNo;  // 0: not found
  } cases[] = {
      {Variant("T"), Variant("21"), 2},    {Variant("T"), Variant(10.5), 4},
      {Variant("T"), Variant("10,5x"), 0}, {Variant("T"), Variant::Null(), 1},
      {Variant("F"), Variant("0"), 3},     {Variant("F"), Variant::Null(), 0},
      {Variant::Null(), Variant("21"), 0}, {Variant("TT"), Variant("21"), 0},
  };
  for (const auto& c : cases) {
    ds.Last();
    const bool found = ds.Locate("L;R", VarArrayOf({c.letter, c.rate}));
    EXPECT_EQ(found, c.recNo != 0) << c.letter.AsString() << " " << c.rate.AsString();
    EXPECT_EQ(ds.RecNo(), found ? c.recNo : 4);
  }
}
