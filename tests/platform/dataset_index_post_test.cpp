// SPDX-License-Identifier: Apache-2.0
// Posting rows while an index is selected: the posted row moves to its place without a full
// re-sort, and the cursor order must stay exactly the one a full sort gives (keys first, equal
// keys in stored order), with the posted row current.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/dataset.h"

using namespace plat;

namespace {

void Create(TClientDataSet& ds) {
  ds.AddFieldDef("ID", FieldType::Integer);
  ds.AddFieldDef("CODE", FieldType::String, 4);
  ds.AddFieldDef("RATE", FieldType::Float);
  ds.CreateDataSet();
  ds.AddIndex("idx", "CODE;RATE");
  ds.SetIndexName("idx");
}

std::vector<int> Ids(TClientDataSet& ds) {
  std::vector<int> out;
  for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName("ID").AsInteger());
  return out;
}

// The cursor order of a fresh dataset sorted once from the same data.
std::vector<int> SortedOnce(const TClientDataSet& ds) {
  TClientDataSet fresh("fresh");
  fresh.AddIndex("idx", "CODE;RATE");
  fresh.SetData(ds.Data());
  fresh.SetIndexName("idx");
  return Ids(fresh);
}

void Set(TClientDataSet& ds, int id, const Variant& code, const Variant& rate) {
  ds.FieldByName("ID").SetAsInteger(id);
  ds.FieldByName("CODE").SetValue(code);
  ds.FieldByName("RATE").SetValue(rate);
}

TEST(DataSetIndexPost, SmallCasesKeepTheSortedOrder) {
  struct Step {
    char op;  // 'a' append, 'i' insert at the row with id `at`, 'e' edit the row with id `at`
    int at;
    int id;
    Variant code, rate;
    std::vector<int> order;
  };
  const std::vector<Step> steps = {
      {'a', 0, 1, "B", 1.0, {1}},
      {'a', 0, 2, "A", 5.0, {2, 1}},
      {'a', 0, 3, "B", 1.0, {2, 1, 3}},  // equal keys: stored order
      {'a', 0, 4, "C", Variant::Null(), {2, 1, 3, 4}},
      {'a', 0, 5, Variant::Null(), 0.0, {5, 2, 1, 3, 4}},  // nulls first
      {'i', 1, 6, "B", 1.0, {5, 2, 6, 1, 3, 4}},           // stored before 1: sorts before it
      {'e', 2, 2, "Z", 0.0, {5, 6, 1, 3, 4, 2}},           // moves to the end
      {'e', 4, 4, "A", 9.0, {5, 4, 6, 1, 3, 2}},           // moves to the front part
      {'e', 1, 1, "B", 1.0, {5, 4, 6, 1, 3, 2}},           // keys unchanged: stays
  };
  TClientDataSet ds("ds");
  Create(ds);
  for (const auto& s : steps) {
    SCOPED_TRACE(std::string(1, s.op) + std::to_string(s.id));
    if (s.op == 'a') {
      ds.Append();
    } else {
      ASSERT_TRUE(ds.Locate("ID", Variant(s.at)));
      s.op == 'i' ? ds.Insert() : ds.Edit();
    }
    Set(ds, s.id, s.code, s.rate);
    ds.Post();
    EXPECT_EQ(ds.FieldByName("ID").AsInteger(), s.id);  // the posted row is current
    EXPECT_FALSE(ds.Eof());
    const std::vector<int> order = Ids(ds);
    EXPECT_EQ(order, s.order);
    EXPECT_EQ(order, SortedOnce(ds));
  }
}

TEST(DataSetIndexPost, RandomEditsMatchAFullSort) {
  std::mt19937 rng(7);
  TClientDataSet ds("ds");
  Create(ds);
  const char* codes[] = {"A", "B", "C", "D"};
  int nextId = 1;
  for (int step = 0; step < 400; ++step) {
    const int op = static_cast<int>(rng() % 5);
    if (ds.IsEmpty() || op == 0) {
      ds.Append();
    } else {
      ds.First();
      for (unsigned n = rng() % static_cast<unsigned>(ds.RecordCount()); n > 0; --n) ds.Next();
      if (op == 1) {
        ds.Insert();
      } else if (op == 4) {
        ds.Delete();
        ASSERT_EQ(Ids(ds), SortedOnce(ds));
        continue;
      } else {
        ds.Edit();
      }
    }
    const int id = ds.State() == DataSetState::Edit ? ds.FieldByName("ID").AsInteger() : nextId++;
    Set(ds, id, codes[rng() % 4], static_cast<double>(rng() % 3));
    if (rng() % 10 == 0) {
      ds.Cancel();
    } else {
      ds.Post();
      ASSERT_EQ(ds.FieldByName("ID").AsInteger(), id) << "step " << step;
    }
    ASSERT_EQ(Ids(ds), SortedOnce(ds)) << "step " << step;
  }
}

}  // namespace
