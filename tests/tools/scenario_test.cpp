// SPDX-License-Identifier: Apache-2.0
// The demo host's scenario reader, without the package: what each line becomes, and every
// broken line refused with its line number.
#include "tools/scenario.h"

#include <gtest/gtest.h>

namespace {

using scenario::Step;

// Reads a whole scenario text; the steps it gives, or the first error.
std::vector<Step> Read(const std::string& text) {
  scenario::Parser parser;
  std::vector<Step> steps;
  for (const std::string& line : scenario::SplitLines(text)) {
    if (auto step = parser.Line(line)) steps.push_back(std::move(*step));
  }
  parser.End();
  return steps;
}

TEST(Scenario, BrokenLinesAreRefusedWithTheirLine) {
  const struct {
    const char* text;
    size_t line;
    const char* message;
  } cases[] = {
      {"dataset d\n  fields\nend\n", 2, "'fields' needs at least one NAME:TYPE"},
      {"dataset d\n  fields A:I a:F\nend\n", 2, "d: Duplicate field name 'a'"},
      {"dataset d\n  fields \" \":I\nend\n", 2, "d: A field definition has no name"},
      {"dataset d\n  fields A:S-5\nend\n", 2, "bad string size in 'A:S-5'"},
      {"dataset d\n  fields A:S0\nend\n", 2, "bad string size in 'A:S0'"},
      {"dataset d\n  fields A:S99999999999\nend\n", 2, "bad string size in 'A:S99999999999'"},
      {"dataset d\n  fields A:FX\nend\n", 2, "unknown field type in 'A:FX'"},
      {"dataset d\n  fields A:I\n  row 12abc\nend\n", 3, "value '12abc' does not fit field A"},
      {"dataset d\n  fields A:I\n  row 1.5\nend\n", 3, "value '1.5' does not fit field A"},
      {"dataset d\n  fields A:I\n  row 1e10\nend\n", 3, "value '1e10' does not fit field A"},
      {"dataset d\n  fields A:F\n  row nan\nend\n", 3, "value 'nan' does not fit field A"},
      {"dataset d\n  fields A:D\n  row 1e999\nend\n", 3, "value '1e999' does not fit field A"},
      {"dataset d\n  row 1\nend\n", 2, "'row' before 'fields'"},
      {"dataset d\nend\n", 2, "dataset 'd' has no fields"},
      {"echo\n\ndataset d\n  fields A:I\n", 3, "dataset 'd' has no 'end'"},
      {"dataset d\n  echo x\n", 2, "inside a dataset only 'fields', 'row' and 'end' are allowed"},
      {"dataset\n", 1, "dataset takes one name"},
      {"# note\nsavefile d\n", 2, "savefile takes a dataset and a file name"},
      {"dump\n", 1, "dump takes a file name"},
      {"answers yes maybe\n", 1, "answers are 'yes' or 'no'"},
      {"AbreCupom =T\n", 1, "expected KEY=VALUE, found '=T'"},
      {"echo \"open\n", 1, "unterminated quote"},
  };
  for (const auto& c : cases) {
    try {
      Read(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const scenario::Error& e) {
      EXPECT_EQ(e.line, c.line) << c.text;
      EXPECT_STREQ(e.what(), c.message) << c.text;
    }
  }
}

TEST(Scenario, LinesBecomeStepsAndBlocksBecomeDatasets) {
  const std::vector<Step> steps = Read(
      "# a day\r\n"
      "dataset venda\n"
      "  fields NOME:S40 VALOR:F QT:I OK:B DIA:D\n"
      "  row \"Agua \\\"mineral\\\"\" 1.5 -2 S 46000\n"
      "  row null 2e1 0 N 0.5\n"
      "end\n"
      "  VendaItem NMPROD=\"a b\" QTDE=1\n"
      "answers yes no\n");
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].kind, Step::Kind::Dataset);
  EXPECT_EQ(steps[0].line, 2u);
  plat::TClientDataSet& ds = *steps[0].dataset;
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.FieldDefs()[0].Size, 40);
  EXPECT_EQ(ds.FieldByName("NOME").AsString(), "Agua \"mineral\"");  // the cursor on the first row
  EXPECT_DOUBLE_EQ(ds.FieldByName("VALOR").AsFloat(), 1.5);
  EXPECT_EQ(ds.FieldByName("QT").AsInteger(), -2);
  EXPECT_TRUE(ds.FieldByName("OK").AsBoolean());
  ds.Next();
  EXPECT_TRUE(ds.FieldByName("NOME").IsNull());
  EXPECT_DOUBLE_EQ(ds.FieldByName("VALOR").AsFloat(), 20);

  EXPECT_EQ(steps[1].kind, Step::Kind::Call);
  EXPECT_EQ(steps[1].line, 7u);
  EXPECT_EQ(steps[1].name, "VendaItem");
  EXPECT_EQ(steps[1].text, "VendaItem NMPROD=\"a b\" QTDE=1");
  EXPECT_EQ(steps[1].args, (scenario::Args{{"NMPROD", "a b"}, {"QTDE", "1"}}));
  EXPECT_EQ(steps[2].answers, (std::vector<bool>{true, false}));
}

TEST(Scenario, NumberArgumentsAreWholeDecimals) {
  const scenario::Args a{{"A", "12.50"}, {"B", "-1e2"}, {"C", "12,5"}, {"D", "0x10"}, {"E", " 1"}};
  EXPECT_DOUBLE_EQ(scenario::Number(a, "A"), 12.5);
  EXPECT_DOUBLE_EQ(scenario::Number(a, "B"), -100);
  EXPECT_DOUBLE_EQ(scenario::Number(a, "missing", 7), 7);
  for (const char* bad : {"C", "D", "E"}) EXPECT_THROW(scenario::Number(a, bad), scenario::Error);
}

}  // namespace
