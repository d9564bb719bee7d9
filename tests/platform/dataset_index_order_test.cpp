// SPDX-License-Identifier: Apache-2.0
// Choosing an index puts the rows in key order, equal keys in stored order, whatever the number
// of distinct keys, texts sharing long beginnings, and the same index chosen again over data
// that changed in between.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/dataset.h"

using namespace plat;

namespace {

struct Row {
  int id;
  std::string code;
  double rate;
};

// The rows as the index must list them: by code (bytes compared unsigned), then by rate, equal
// keys by id (the stored order here).
std::vector<int> Expected(std::vector<Row> rows) {
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    const auto ua = std::basic_string<unsigned char>(a.code.begin(), a.code.end());
    const auto ub = std::basic_string<unsigned char>(b.code.begin(), b.code.end());
    return std::tie(ua, a.rate) < std::tie(ub, b.rate);
  });
  std::vector<int> ids;
  for (const Row& r : rows) ids.push_back(r.id);
  return ids;
}

std::vector<int> Listed(TClientDataSet& ds) {
  std::vector<int> ids;
  for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("ID").AsInteger());
  return ids;
}

void Load(TClientDataSet& ds, const std::vector<Row>& rows) {
  ds.Close();
  ds.ClearFieldDefs();
  ds.AddFieldDef("ID", FieldType::Integer);
  ds.AddFieldDef("CODE", FieldType::String, 30);
  ds.AddFieldDef("RATE", FieldType::Float);
  ds.CreateDataSet();
  for (const Row& r : rows) {
    ds.Append();
    ds.FieldByName("ID").SetAsInteger(r.id);
    ds.FieldByName("CODE").SetAsString(r.code);
    ds.FieldByName("RATE").SetAsFloat(r.rate);
    ds.Post();
  }
}

TEST(DataSetIndexOrder, AnyNumberOfDistinctKeysGivesTheStableKeyOrder) {
  // Codes that differ only after their eighth byte, an empty one and one with a high byte.
  const std::vector<std::string> codes = {"CATEGORY_B", "CATEGORY_A", "",  "T", "\xC1rea",
                                          "CATEGORY",   "F",          "N", "I"};
  std::mt19937 random(7);
  for (int distinct : {1, 2, 5, 15, 16, 17, 40, 1000}) {
    std::vector<Row> rows;
    for (int i = 0; i < 600; ++i) {
      const int k = static_cast<int>(random() % static_cast<unsigned>(distinct));
      const std::string code = codes[static_cast<size_t>(k) % codes.size()];
      rows.push_back({i + 1, code, static_cast<double>(k / static_cast<int>(codes.size())) * 0.5});
    }
    TClientDataSet ds("ds");
    ds.AddIndex("idx", "CODE;RATE");
    Load(ds, rows);
    ds.SetIndexName("idx");
    EXPECT_EQ(Listed(ds), Expected(rows)) << distinct << " distinct keys";

    // Chosen again, the order stands; after a change of data it follows the new data.
    ds.SetIndexName("idx");
    EXPECT_EQ(Listed(ds), Expected(rows)) << distinct << " distinct keys, chosen again";
    ds.SetIndexName("");
    ds.First();
    ds.Edit();
    ds.FieldByName("CODE").SetAsString("A");
    ds.Post();
    rows.front().code = "A";
    ds.SetIndexName("idx");
    EXPECT_EQ(Listed(ds), Expected(rows)) << distinct << " distinct keys, after an edit";

    // Changes made under the index keep its order, chosen again or not.
    ds.Last();
    ds.Edit();
    ds.FieldByName("CODE").SetAsString("B");
    const int edited = ds.FieldByName("ID").AsInteger();
    ds.Post();
    ds.Append();
    ds.FieldByName("ID").SetAsInteger(1000);
    ds.FieldByName("CODE").SetAsString("CATEGORY_A");
    ds.FieldByName("RATE").SetAsFloat(0.0);
    ds.Post();
    for (Row& r : rows)
      if (r.id == edited) r.code = "B";
    rows.push_back({1000, "CATEGORY_A", 0.0});
    EXPECT_EQ(Listed(ds), Expected(rows)) << distinct << " distinct keys, changed under the index";
    ds.SetIndexName("IDX");  // the same index, named in other case
    EXPECT_EQ(Listed(ds), Expected(rows)) << distinct << " distinct keys, chosen again";
  }
}

}  // namespace
