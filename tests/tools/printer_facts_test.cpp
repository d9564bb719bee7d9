// SPDX-License-Identifier: Apache-2.0
// The documents that list the printer's facts mark each one as the table of facts does.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "printer/facts.h"

namespace {

// The rows of the document's tables whose last cell is a source mark: fact name to mark.
std::map<std::string, std::string> MarkedRows(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::map<std::string, std::string> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 4 || line.rfind("| ", 0) != 0 || line.substr(line.size() - 2) != " |")
      continue;
    const std::string body = line.substr(2, line.size() - 4);
    const size_t first = body.find(" | "), last = body.rfind(" | ");
    if (first == std::string::npos) continue;
    const std::string mark = body.substr(last + 3);
    if (mark == "documented" || mark == "described" || mark == "assumed")
      rows[body.substr(0, first)] = mark;
  }
  return rows;
}

TEST(PrinterFacts, TheDocumentsMarkEachFactAsTheTableDoes) {
  std::map<std::string, std::string> table;
  for (const auto& f : plat::facts::kFacts) table[f.Name] = plat::facts::Name(f.Mark);
  for (const char* doc : {"/docs/printer-link.md", "/docs/real-printer.md"})
    EXPECT_EQ(MarkedRows(std::string(FISCAL_SOURCE_DIR) + doc), table) << doc;
}

}  // namespace
