// SPDX-License-Identifier: Apache-2.0
#include "platform/dataset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/format.h"

using namespace plat;

namespace {

// Restores the process-wide decimal separator after a test that changes it.
struct SeparatorGuard {
  char saved = FormatSettings().DecimalSeparator;
  ~SeparatorGuard() { FormatSettings().DecimalSeparator = saved; }
};

// A products table in the shape the product report walks.
void MakeProducts(TClientDataSet& ds) {
  ds.ClearFieldDefs();
  ds.AddFieldDef("CDPRODUTO", FieldType::String, 10);
  ds.AddFieldDef("IDTPIMPOSFIS", FieldType::String, 1);
  ds.AddFieldDef("VRPEALIMPFIS", FieldType::Float);
  ds.AddFieldDef("QTPRODVEND", FieldType::Integer);
  ds.CreateDataSet();
}

void AddProduct(TClientDataSet& ds, const char* code, Variant letter, Variant rate, int qty = 1) {
  ds.Append();
  ds.FieldByName("CDPRODUTO").SetAsString(code);
  ds.FieldByName("IDTPIMPOSFIS").SetValue(letter);
  ds.FieldByName("VRPEALIMPFIS").SetValue(rate);
  ds.FieldByName("QTPRODVEND").SetAsInteger(qty);
  ds.Post();
}

std::vector<std::string> Walk(TClientDataSet& ds, const char* field = "CDPRODUTO") {
  std::vector<std::string> out;
  for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName(field).AsString());
  return out;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(DataSetCursor, WalksInOrderAndEndsPastTheLastRow) {
  TClientDataSet ds("cdsProd");
  MakeProducts(ds);
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecNo(), 0);
  ds.First();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("CDPRODUTO").AsString(), "");  // no row: fields read as null

  AddProduct(ds, "A", "T", 21.0);
  AddProduct(ds, "B", "T", 21.0);
  AddProduct(ds, "C", "T", 21.0);
  EXPECT_EQ(Walk(ds), (Names{"A", "B", "C"}));
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecordCount(), 3);
  ds.First();
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), 1);
  ds.Next();
  EXPECT_FALSE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), 2);
}

TEST(DataSetCursor, NullsReadAsEmptyAndZero) {
  TClientDataSet ds("cds");
  ds.AddFieldDef("S", FieldType::String);
  ds.AddFieldDef("F", FieldType::Float);
  ds.AddFieldDef("I", FieldType::Integer);
  ds.AddFieldDef("D", FieldType::DateTime);
  ds.AddFieldDef("B", FieldType::Boolean);
  ds.CreateDataSet();
  ds.Append();
  ds.Post();
  for (const char* f : {"S", "F", "I", "D", "B"}) EXPECT_TRUE(ds.FieldByName(f).IsNull()) << f;
  EXPECT_EQ(ds.FieldByName("S").AsString(), "");
  EXPECT_EQ(ds.FieldByName("F").AsFloat(), 0.0);
  EXPECT_EQ(ds.FieldByName("F").AsString(), "");
  EXPECT_EQ(ds.FieldByName("I").AsInteger(), 0);
  EXPECT_EQ(ds.FieldByName("D").AsDateTime(), 0.0);
  EXPECT_FALSE(ds.FieldByName("B").AsBoolean());
}

TEST(DataSetEditing, InsertGoesBeforeTheCurrentRowSoNewGroupsComeOutReversed) {
  // Totals per (letter, rate) group, kept the way the tax report keeps them: find the group, or
  // insert a row at the current position.
  TClientDataSet tot("cdsAliqProduto");
  tot.AddFieldDef("IDTPIMPOSFIS", FieldType::String);
  tot.AddFieldDef("VRPERCSITTRIB", FieldType::Float);
  tot.AddFieldDef("VRTOTALALIQ", FieldType::Float);
  tot.CreateDataSet();
  struct Sale {
    const char* letter;
    const char* rate;
    double value;
  };
  const Sale sales[] = {{"F", "0", 1},  {"I", "0", 2},  {"I", "0", 3},
                        {"T", "21", 4}, {"T", "21", 5}, {"T", "10.56", 6}};
  for (const Sale& s : sales) {
    if (tot.Locate("IDTPIMPOSFIS;VRPERCSITTRIB", VarArrayOf({s.letter, s.rate}))) {
      tot.Edit();
      tot.FieldByName("VRTOTALALIQ").SetAsFloat(tot.FieldByName("VRTOTALALIQ").AsFloat() + s.value);
    } else {
      tot.Insert();
      tot.FieldByName("VRPERCSITTRIB").SetAsString(s.rate);
      tot.FieldByName("VRTOTALALIQ").SetAsFloat(s.value);
      tot.FieldByName("IDTPIMPOSFIS").SetAsString(s.letter);
    }
    tot.Post();
  }
  Names got;
  for (tot.First(); !tot.Eof(); tot.Next())
    got.push_back(tot.FieldByName("IDTPIMPOSFIS").AsString() + " " +
                  tot.FieldByName("VRPERCSITTRIB").AsString() + " " +
                  tot.FieldByName("VRTOTALALIQ").AsString());
  EXPECT_EQ(got, (Names{"T 10.56 6", "T 21 9", "I 0 5", "F 0 1"}));
  // The stored order (what a packet or a file keeps) is the same.
  auto packet = tot.Data().AsPacket();
  ASSERT_EQ(packet->Rows.size(), 4u);
  EXPECT_EQ(packet->Rows[0][0].AsString(), "T");
  EXPECT_EQ(packet->Rows[3][0].AsString(), "F");
}

TEST(DataSetEditing, InsertAppendCancelAndDelete) {
  TClientDataSet ds("cds");
  MakeProducts(ds);
  ds.Insert();  // empty table: at the start
  ds.FieldByName("CDPRODUTO").SetAsString("B");
  ds.Post();
  ds.Insert();
  ds.FieldByName("CDPRODUTO").SetAsString("A");
  ds.Post();
  ds.Append();
  ds.FieldByName("CDPRODUTO").SetAsString("C");
  ds.Post();
  EXPECT_EQ(Walk(ds), (Names{"A", "B", "C"}));

  ds.First();
  ds.Next();  // on B
  ds.Insert();
  ds.FieldByName("CDPRODUTO").SetAsString("X");
  EXPECT_EQ(ds.RecordCount(), 4);
  // A pending row is not part of what the dataset hands out.
  EXPECT_EQ(ds.Data().AsPacket()->Rows.size(), 3u);
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("CDPRODUTO").AsString(), "B");
  EXPECT_EQ(Walk(ds), (Names{"A", "B", "C"}));

  ds.First();
  ds.Edit();
  ds.FieldByName("CDPRODUTO").SetAsString("Z");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("CDPRODUTO").AsString(), "A");

  ds.Edit();
  ds.FieldByName("CDPRODUTO").SetAsString("Z");
  ds.Next();  // moving the cursor stores the change
  EXPECT_EQ(ds.State(), DataSetState::Browse);
  EXPECT_EQ(Walk(ds), (Names{"Z", "B", "C"}));

  ds.Last();
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("CDPRODUTO").AsString(), "B");
  ds.First();
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("CDPRODUTO").AsString(), "B");
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_THROW(ds.Delete(), EDatabaseError);
}

TEST(DataSetEditing, StateAndFieldErrorsNameTheDataset) {
  TClientDataSet ds("cdsMovTot");
  MakeProducts(ds);
  AddProduct(ds, "A", "T", 21.0);
  struct Case {
    const char* what;
    std::function<void()> run;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"set in browse", [&] { ds.FieldByName("CDPRODUTO").SetAsString("x"); },
       "cdsMovTot: Dataset not in edit or insert mode"},
      {"post in browse", [&] { ds.Post(); }, "cdsMovTot: Dataset not in edit or insert mode"},
      {"missing field", [&] { ds.FieldByName("VRSAIDA"); }, "cdsMovTot: Field 'VRSAIDA' not found"},
      {"missing key field", [&] { ds.Locate("NOPE", "x"); }, "cdsMovTot: Field 'NOPE' not found"},
      {"unknown index", [&] { ds.SetIndexName("IDX"); }, "cdsMovTot: Index 'IDX' not found"},
  };
  for (const Case& c : cases) {
    try {
      c.run();
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), c.message) << c.what;
    }
  }
  EXPECT_EQ(ds.FieldByName("CDPRODUTO").AsString(), "A");  // nothing changed
  // A field object made before the data exists is resolved at each access.
  TClientDataSet late("late");
  TField f(late, "CDPRODUTO");
  late.AddFieldDef("CDPRODUTO", FieldType::String);
  late.CreateDataSet();
  late.Append();
  f.SetAsString("ok");
  late.Post();
  EXPECT_EQ(f.AsString(), "ok");
  late.Close();
  EXPECT_THROW(f.AsString(), EDatabaseError);
}

TEST(DataSetEditing, ValuesAreConvertedToTheFieldType) {
  SeparatorGuard guard;
  TClientDataSet ds("cdsReducaoZ");
  ds.AddFieldDef("NRECFREDZ", FieldType::String, 4);
  ds.AddFieldDef("LONGO", FieldType::String);  // default size 20
  ds.AddFieldDef("VALOR", FieldType::Float);
  ds.AddFieldDef("QTD", FieldType::Integer);
  ds.AddFieldDef("DT", FieldType::DateTime);
  ds.CreateDataSet();
  EXPECT_EQ(ds.FieldDefs()[1].Size, 20);
  ds.Append();
  ds.FieldByName("NRECFREDZ").SetAsString("123456");
  ds.FieldByName("LONGO").SetAsString(std::string(30, 'x'));
  ds.FieldByName("VALOR").SetAsString("10.56");
  ds.FieldByName("QTD").SetAsString("7");
  ds.FieldByName("DT").SetAsDateTime(45000.5);
  EXPECT_THROW(ds.FieldByName("VALOR").SetAsString("abc"), EConvertError);
  ds.Post();
  EXPECT_EQ(ds.FieldByName("NRECFREDZ").AsString(), "1234");
  EXPECT_EQ(ds.FieldByName("LONGO").AsString(), std::string(20, 'x'));
  EXPECT_EQ(ds.FieldByName("VALOR").AsFloat(), 10.56);  // the failed set left it
  EXPECT_EQ(ds.FieldByName("QTD").Value().Type(), VarType::Integer);
  EXPECT_EQ(ds.FieldByName("DT").Value().Type(), VarType::Date);

  FormatSettings().DecimalSeparator = ',';
  ds.Edit();
  ds.FieldByName("VALOR").SetAsString("2,5");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("VALOR").AsFloat(), 2.5);
  EXPECT_EQ(ds.FieldByName("VALOR").AsString(), "2,5");

  // Data that arrives as a packet is taken as it is, long texts included.
  auto packet = std::make_shared<DataPacket>();
  packet->Fields = {{"NRECFREDZ", FieldType::String, 4}};
  packet->Rows = {{Variant("ABCDEFG")}};
  TClientDataSet copy("copy");
  copy.SetData(Variant(std::shared_ptr<const DataPacket>(packet)));
  EXPECT_EQ(copy.FieldByName("NRECFREDZ").AsString(), "ABCDEFG");
}

TEST(DataSetLocate, OneAndTwoFieldsWithRatesGivenAsText) {
  SeparatorGuard guard;
  TClientDataSet ds("cdsAliq");
  MakeProducts(ds);
  AddProduct(ds, "P1", "I", 0.0);
  AddProduct(ds, "P2", "T", 21.0);
  AddProduct(ds, "P3", "T", 10.56);
  AddProduct(ds, "P4", "T", 21.0);
  AddProduct(ds, "P5", Variant::Null(), Variant::Null());
  struct Case {
    char sep;
    const char* fields;
    Variant keys;
    const char* found;  // nullptr: no match
  };
  const Case cases[] = {
      {'.', "CDPRODUTO", Variant("P3"), "P3"},
      {'.', "CDPRODUTO", Variant("p3"), nullptr},  // exact, case included
      {'.', "CDPRODUTO", Variant("P3 "), nullptr},
      {'.', "IDTPIMPOSFIS;VRPEALIMPFIS", VarArrayOf({"T", "21"}), "P2"},  // first in order
      {'.', "IDTPIMPOSFIS;VRPEALIMPFIS", VarArrayOf({"T", "21.00"}), "P2"},
      {'.', "IDTPIMPOSFIS;VRPEALIMPFIS", VarArrayOf({"T", "10.56"}), "P3"},
      {'.', "IDTPIMPOSFIS;VRPEALIMPFIS", VarArrayOf({"T", 10.56}), "P3"},
      {'.', "IDTPIMPOSFIS;VRPEALIMPFIS", VarArrayOf({"T", "10,56"}), nullptr},
      {',', "IDTPIMPOSFIS;VRPEALIMPFIS", VarArrayOf({"T", "10,56"}), "P3"},
      {'.', "IDTPIMPOSFIS;VRPEALIMPFIS", VarArrayOf({"T", "abc"}), nullptr},
      {'.', "IDTPIMPOSFIS;VRPEALIMPFIS", VarArrayOf({"I", "0"}), "P1"},
      {'.', "IDTPIMPOSFIS;VRPEALIMPFIS", VarArrayOf({"I", "21"}), nullptr},
      {'.', "IDTPIMPOSFIS;VRPEALIMPFIS", VarArrayOf({Variant::Null(), Variant::Null()}), "P5"},
      {'.', "QTPRODVEND", Variant("1.5"), nullptr},  // no rounding onto an integer
      {'.', "QTPRODVEND", Variant("1"), "P1"},
  };
  for (const Case& c : cases) {
    FormatSettings().DecimalSeparator = c.sep;
    ds.First();
    ds.Next();  // on P2: a failed search must leave the cursor here
    bool ok = ds.Locate(c.fields, c.keys);
    EXPECT_EQ(ok, c.found != nullptr) << c.fields << " " << (c.found ? c.found : "-");
    EXPECT_EQ(ds.FieldByName("CDPRODUTO").AsString(), c.found ? c.found : "P2") << c.fields;
  }
  EXPECT_THROW(ds.Locate("IDTPIMPOSFIS;VRPEALIMPFIS", Variant("T")), EDatabaseError);
}

TEST(DataSetIndex, OrdersByTwoFieldsStablyWithNullsFirst) {
  TClientDataSet ds("cdsProdVend");
  MakeProducts(ds);
  ds.AddIndex("IDXCDPRODUTO", "CDPRODUTO");
  ds.AddIndex("idxTributacao", "IDTPIMPOSFIS;VRPEALIMPFIS");
  AddProduct(ds, "p1", "T", 21.0);
  AddProduct(ds, "p2", "T", 10.0);
  AddProduct(ds, "p3", "I", 0.0);
  AddProduct(ds, "p4", "T", 2.0);  // numeric, not textual: 2 before 10
  AddProduct(ds, "p5", "T", 10.0);
  AddProduct(ds, "p6", Variant::Null(), 5.0);
  AddProduct(ds, "p7", "T", Variant::Null());
  AddProduct(ds, "p8", "T", 10.0);
  ds.SetIndexName("IDXTRIBUTACAO");  // index names are not case-sensitive
  EXPECT_EQ(ds.IndexName(), "idxTributacao");
  EXPECT_EQ(Walk(ds), (Names{"p6", "p3", "p7", "p4", "p2", "p5", "p8", "p1"}));

  // Strings compare byte-wise: upper case before lower case, accented letters last.
  ds.Append();
  ds.FieldByName("CDPRODUTO").SetAsString("P0");
  ds.Post();
  ds.Append();
  ds.FieldByName("CDPRODUTO").SetAsString("\xC9tiqueta");
  ds.Post();
  ds.SetIndexName("IDXCDPRODUTO");
  EXPECT_EQ(Walk(ds), (Names{"P0", "p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8", "\xC9tiqueta"}));

  // A posted row takes its place in the index order and stays current.
  ds.First();
  ds.Insert();
  ds.FieldByName("CDPRODUTO").SetAsString("p45");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("CDPRODUTO").AsString(), "p45");
  EXPECT_EQ(ds.RecNo(), 6);
  ds.SetIndexName("");
  EXPECT_EQ(Walk(ds)[8], "p45");  // stored before the row that was current (P0)
}

TEST(DataSetIndex, SurvivesNewDataAndChecksItsFields) {
  TClientDataSet host("cdsProdAux");
  MakeProducts(host);
  AddProduct(host, "b", "T", 21.0);
  AddProduct(host, "a", "I", 0.0);

  TClientDataSet ds("cdsProdVend");
  ds.AddIndex("idxTributacao", "IDTPIMPOSFIS;VRPEALIMPFIS");
  ds.SetIndexName("idxTributacao");  // no data yet: checked when data arrives
  ds.SetData(host.Data());
  EXPECT_EQ(Walk(ds), (Names{"a", "b"}));
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.FieldByName("CDPRODUTO").AsString(), "a");

  auto other = std::make_shared<DataPacket>();
  other->Fields = {{"CDPRODUTO", FieldType::String, 10}};
  other->Rows = {{Variant("z")}};
  try {
    ds.SetData(Variant(std::shared_ptr<const DataPacket>(other)));
    ADD_FAILURE() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("cdsProdVend: Field 'IDTPIMPOSFIS'"), std::string::npos)
        << e.Message();
  }
  EXPECT_EQ(Walk(ds), (Names{"a", "b"}));  // the refused data changed nothing

  ds.SetIndexName("");
  ds.SetData(Variant(std::shared_ptr<const DataPacket>(other)));
  EXPECT_THROW(ds.SetIndexName("idxTributacao"), EDatabaseError);
  EXPECT_EQ(ds.IndexName(), "");
}

TEST(DataSetPacket, CopyIsIndependentOfTheGiver) {
  TClientDataSet host("cdsMovFechaAux");
  MakeProducts(host);
  AddProduct(host, "A", "T", 1.0);
  AddProduct(host, "B", "T", 2.0);
  AddProduct(host, "C", "T", 3.0);
  host.First();
  host.Next();  // the host stands on B

  TClientDataSet copy("cdsMovFecha");
  copy.SetData(host.Data());
  EXPECT_EQ(copy.State(), DataSetState::Browse);
  EXPECT_EQ(copy.FieldByName("CDPRODUTO").AsString(), "A");  // opens at the first row
  EXPECT_EQ(Walk(copy), (Names{"A", "B", "C"}));
  EXPECT_EQ(host.FieldByName("CDPRODUTO").AsString(), "B");  // the giver did not move

  copy.First();
  copy.Edit();
  copy.FieldByName("CDPRODUTO").SetAsString("changed");
  copy.Post();
  copy.Append();
  copy.Post();
  EXPECT_EQ(host.RecordCount(), 3);
  EXPECT_EQ(Walk(host), (Names{"A", "B", "C"}));

  // A packet handed out earlier is a snapshot: later changes to the giver do not reach it.
  Variant snap = copy.Data();
  copy.EmptyDataSet();
  EXPECT_TRUE(copy.IsEmpty());
  EXPECT_TRUE(copy.Active());
  EXPECT_EQ(snap.AsPacket()->Rows.size(), 4u);

  EXPECT_THROW(copy.SetData(Variant("not a packet")), EDatabaseError);
  auto ragged = std::make_shared<DataPacket>();
  ragged->Fields = {{"A", FieldType::String, 0}, {"B", FieldType::String, 0}};
  ragged->Rows = {{Variant("only one")}};
  EXPECT_THROW(copy.SetData(Variant(std::shared_ptr<const DataPacket>(ragged))), EDatabaseError);
}

TEST(DataSetOpen, CloseKeepsDataAndOpenNeedsAProvider) {
  TClientDataSet ds("cdsPers");
  try {
    ds.Open();
    ADD_FAILURE() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "cdsPers: Missing data provider or data packet");
  }
  EXPECT_TRUE(ds.Eof());
  EXPECT_THROW(ds.First(), EDatabaseError);

  MakeProducts(ds);
  AddProduct(ds, "A", "T", 1.0);
  AddProduct(ds, "B", "T", 1.0);
  ds.Next();
  ds.Insert();  // an unposted row is dropped by Close
  ds.Close();
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_TRUE(ds.Eof());
  ds.SetActive(true);
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.FieldByName("CDPRODUTO").AsString(), "A");

  // CreateDataSet on an open table starts empty again.
  ds.CreateDataSet();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.FieldCount(), 4);
}
