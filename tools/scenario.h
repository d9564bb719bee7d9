// SPDX-License-Identifier: Apache-2.0
// The demo host's scenario files (docs/demo-scenarios.md): each line read into a step that the
// demo then runs. Reading needs the platform library only, not the driver package, so a
// scenario can be checked, and the reader tried on any input, without a printer.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dataset.h"
#include "platform/types.h"

namespace scenario {

// What is wrong with a line of the scenario. line is the 1-based line it names; 0 leaves it
// to the caller (a value found wrong while the step runs names the step's own line).
struct Error : std::runtime_error {
  explicit Error(const std::string& what, size_t line = 0) : std::runtime_error(what), line(line) {}
  size_t line;
};

using Args = std::map<std::string, std::string>;

// The lines of a file's text, without their line ends (LF or CR LF).
std::vector<std::string> SplitLines(const std::string& text);
// Splits a line into tokens; double quotes group blanks ("a b"), \" inside quotes is a quote.
std::vector<std::string> Tokenize(const std::string& line);
// KEY=VALUE tokens from tokens[from] on.
Args ParseArgs(const std::vector<std::string>& tokens, size_t from);

// Argument values of a step: the text (Windows-1252) of a key, a flag (S/N, yes/no,
// true/false) and a number written with '.'; a missing key gives def.
plat::AnsiString Text(const Args& a, const std::string& key, const std::string& def = "");
bool Flag(const Args& a, const std::string& key, bool def = false);
double Number(const Args& a, const std::string& key, double def = 0);

struct Step {
  enum class Kind { Echo, Decimal, Answers, Dataset, SaveFile, RemoveFile, Settings, Dump, Call };
  Kind kind = Kind::Echo;
  size_t line = 0;
  // Dataset and SaveFile: the dataset's name; Call: the entry point's.
  std::string name;
  // Echo: the heading; Decimal: the separator; SaveFile, RemoveFile, Dump: the file name;
  // Call: the line as written, leading blanks removed.
  std::string text;
  std::vector<bool> answers;                      // Answers
  Args args;                                      // Settings and Call
  std::shared_ptr<plat::TClientDataSet> dataset;  // Dataset: what its block defined, open
};

// Reads a scenario line by line. Every fault of a line raises Error naming that line; nothing
// else escapes.
class Parser {
 public:
  // Reads the next line. Answers the step the line completes: a command, or a dataset block at
  // its 'end'; nothing for blank lines, comments and the lines inside a block.
  std::optional<Step> Line(const std::string& raw);
  // The file has ended: a dataset block without 'end' names the line it began on.
  void End() const;

 private:
  void DatasetLine(const std::vector<std::string>& t);

  size_t line_ = 0;
  // The dataset block being read, if any.
  bool inDataset_ = false;
  size_t datasetLine_ = 0;
  std::string datasetName_;
  std::shared_ptr<plat::TClientDataSet> dataset_;
  std::vector<plat::FieldDef> fields_;
};

}  // namespace scenario
