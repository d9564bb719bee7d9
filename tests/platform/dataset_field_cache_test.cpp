// Field objects and Locate keep the columns they found; a dataset whose fields change (new data
// in another layout, new definitions, no data) must be read by name again, never through a
// stale column.
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

TEST(DataSetFieldCache, FieldObjectFollowsTheDatasetsFields) {
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

TEST(DataSetFieldCache, LocateFollowsTheDatasetsFields) {
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

// The key is converted once per Locate; a key that does not convert matches no row, and a null
// key only null cells, whatever the row order.
TEST(DataSetFieldCache, LocateKeyConvertedOnce) {
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

// SetDataFrom gives what SetData(source.Data()) gives: stored rows only (a pending edit or
// insert of the source left out), the source's cursor unmoved, no data for a source without.
TEST(DataSetFieldCache, SetDataFromMatchesACopyThroughThePacket) {
  TClientDataSet source("src");
  source.AddFieldDef("K", FieldType::Integer);
  source.CreateDataSet();
  for (int k : {1, 2, 3}) {
    source.Append();
    source.FieldByName("K").SetAsInteger(k);
    source.Post();
  }
  auto keys = [](TClientDataSet& ds) {
    std::vector<int> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName("K").AsInteger());
    return out;
  };
  source.First();
  source.Next();
  source.Edit();
  source.FieldByName("K").SetAsInteger(20);  // pending
  TClientDataSet viaPacket("a"), direct("b");
  viaPacket.SetData(source.Data());
  direct.SetDataFrom(source);
  EXPECT_EQ(keys(direct), keys(viaPacket));
  EXPECT_EQ(keys(direct), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(source.State(), DataSetState::Edit);
  EXPECT_EQ(source.RecNo(), 2);
  source.Cancel();

  source.Append();  // pending insert
  direct.SetDataFrom(source);
  EXPECT_EQ(keys(direct), (std::vector<int>{1, 2, 3}));
  source.Cancel();

  direct.SetDataFrom(direct);  // onto itself
  EXPECT_EQ(keys(direct), (std::vector<int>{1, 2, 3}));

  TClientDataSet empty("none");
  direct.SetDataFrom(empty);
  EXPECT_FALSE(direct.Active());
  EXPECT_TRUE(direct.Data().IsNull());
}

// Datasets filled with SetDataFrom share their rows until one of them changes them: whichever
// side changes, by any kind of change, the other keeps what it had.
TEST(DataSetFieldCache, SharedRowsNeverLeakAChangeToTheOtherDataset) {
  using Change = void (*)(TClientDataSet&);
  const struct {
    const char* name;
    Change change;
    std::vector<int> changed;  // the changed side's keys afterwards
  } changes[] = {
      {"edit",
       [](TClientDataSet& ds) {
         ds.First();
         ds.Edit();
         ds.FieldByName("K").SetAsInteger(10);
         ds.Post();
       },
       {10, 2, 3}},
      {"edit then cancel",
       [](TClientDataSet& ds) {
         ds.First();
         ds.Edit();
         ds.FieldByName("K").SetAsInteger(10);
         ds.Cancel();
       },
       {1, 2, 3}},
      {"insert",
       [](TClientDataSet& ds) {
         ds.First();
         ds.Insert();
         ds.FieldByName("K").SetAsInteger(0);
         ds.Post();
       },
       {0, 1, 2, 3}},
      {"append",
       [](TClientDataSet& ds) {
         ds.Append();
         ds.FieldByName("K").SetAsInteger(4);
         ds.Post();
       },
       {1, 2, 3, 4}},
      {"delete",
       [](TClientDataSet& ds) {
         ds.First();
         ds.Delete();
       },
       {2, 3}},
      {"empty", [](TClientDataSet& ds) { ds.EmptyDataSet(); }, {}},
  };
  auto keys = [](TClientDataSet& ds) {
    std::vector<int> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName("K").AsInteger());
    return out;
  };
  for (const auto& c : changes) {
    for (bool changeSource : {true, false}) {
      TClientDataSet source("src"), copy("copy"), second("second");
      source.AddFieldDef("K", FieldType::Integer);
      source.CreateDataSet();
      for (int k : {1, 2, 3}) {
        source.Append();
        source.FieldByName("K").SetAsInteger(k);
        source.Post();
      }
      copy.SetDataFrom(source);
      second.SetDataFrom(copy);  // three datasets on the same rows
      c.change(changeSource ? source : copy);
      TClientDataSet& changed = changeSource ? source : copy;
      TClientDataSet& other = changeSource ? copy : source;
      EXPECT_EQ(keys(changed), c.changed) << c.name;
      EXPECT_EQ(keys(other), (std::vector<int>{1, 2, 3})) << c.name;
      EXPECT_EQ(keys(second), (std::vector<int>{1, 2, 3})) << c.name;
      // The other side can change afterwards without touching the first.
      c.change(other);
      EXPECT_EQ(keys(changed), c.changed) << c.name << ", the other side changed after";
      EXPECT_EQ(keys(second), (std::vector<int>{1, 2, 3})) << c.name;
    }
  }
}
