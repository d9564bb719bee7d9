// SPDX-License-Identifier: Apache-2.0
// Reading the demo host's scenario files into steps, dataset blocks built into datasets.
#include "tools/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/codepage.h"
#include "platform/exceptions.h"

namespace scenario {
namespace {

plat::AnsiString Ansi(const std::string& utf8) {
  return plat::Utf8ToAnsi(utf8);
}

bool Digits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A finite number written whole in decimal with '.' (an exponent allowed): "12abc", "0x10",
// "inf" and "nan" are none.
bool WholeNumber(const std::string& text, double& value) {
  const bool decimalOnly = std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
  });
  if (text.empty() || !decimalOnly) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && errno != ERANGE && std::isfinite(value);
}

// NAME:S[size] | NAME:F | NAME:I | NAME:B | NAME:D
plat::FieldDef ParseField(const std::string& fieldText) {
  const size_t colon = fieldText.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= fieldText.size()) {
    throw Error("field '" + fieldText + "' must be NAME:TYPE (S, S40, F, I, B, D)");
  }
  plat::FieldDef f;
  f.Name = Ansi(fieldText.substr(0, colon));
  const std::string t = fieldText.substr(colon + 1);
  if (t[0] != 'S' && t.size() > 1) throw Error("unknown field type in '" + fieldText + "'");
  switch (t[0]) {
    case 'S':
      f.Type = plat::FieldType::String;
      if (t.size() > 1) {
        const std::string size = t.substr(1);
        if (!Digits(size) || size.size() > 6 || std::stoi(size) == 0) {
          throw Error("bad string size in '" + fieldText + "'");
        }
        f.Size = std::stoi(size);
      }
      break;
    case 'F':
      f.Type = plat::FieldType::Float;
      break;
    case 'I':
      f.Type = plat::FieldType::Integer;
      break;
    case 'B':
      f.Type = plat::FieldType::Boolean;
      break;
    case 'D':
      f.Type = plat::FieldType::DateTime;
      break;
    default:
      throw Error("unknown field type in '" + fieldText + "'");
  }
  return f;
}

// Values in dataset rows are written with '.'; they are stored as numbers, not texts.
plat::Variant Cell(const plat::FieldDef& f, const std::string& text) {
  if (text == "null") return plat::Variant::Null();
  double number = 0;
  switch (f.Type) {
    case plat::FieldType::String:
      return plat::Variant(Ansi(text));
    case plat::FieldType::Boolean:
      return plat::Variant(text == "S" || text == "true");
    case plat::FieldType::Float:
      if (WholeNumber(text, number)) return plat::Variant(number);
      break;
    case plat::FieldType::Integer:
      if (WholeNumber(text, number) && number >= std::numeric_limits<int>::min() &&
          number <= std::numeric_limits<int>::max() && number == std::trunc(number)) {
        return plat::Variant(static_cast<int>(number));
      }
      break;
    case plat::FieldType::DateTime:
      if (WholeNumber(text, number)) return plat::Variant::FromDate(number);
      break;
  }
  throw Error("value '" + text + "' does not fit field " + plat::AnsiToUtf8(f.Name));
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Tokenize(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  bool inQuotes = false, have = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inQuotes) {
      if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
        cur += '"';
        ++i;
      } else if (c == '"') {
        inQuotes = false;
      } else {
        cur += c;
      }
    } else if (c == '"') {
      inQuotes = true;
      have = true;
    } else if (c == ' ' || c == '\t') {
      if (have) out.push_back(cur);
      cur.clear();
      have = false;
    } else {
      cur += c;
      have = true;
    }
  }
  if (inQuotes) throw Error("unterminated quote");
  if (have) out.push_back(cur);
  return out;
}

Args ParseArgs(const std::vector<std::string>& tokens, size_t from) {
  Args args;
  for (size_t i = from; i < tokens.size(); ++i) {
    const size_t eq = tokens[i].find('=');
    if (eq == std::string::npos || eq == 0) {
      throw Error("expected KEY=VALUE, found '" + tokens[i] + "'");
    }
    args[tokens[i].substr(0, eq)] = tokens[i].substr(eq + 1);
  }
  return args;
}

plat::AnsiString Text(const Args& a, const std::string& key, const std::string& def) {
  auto it = a.find(key);
  return Ansi(it == a.end() ? def : it->second);
}

bool Flag(const Args& a, const std::string& key, bool def) {
  auto it = a.find(key);
  if (it == a.end()) return def;
  if (it->second == "S" || it->second == "yes" || it->second == "true") return true;
  if (it->second == "N" || it->second == "no" || it->second == "false") return false;
  throw Error("'" + key + "' must be S or N, found '" + it->second + "'");
}

double Number(const Args& a, const std::string& key, double def) {
  auto it = a.find(key);
  if (it == a.end()) return def;
  double v = 0;
  if (!WholeNumber(it->second, v)) {
    throw Error("'" + key + "' must be a number written with '.', found '" + it->second + "'");
  }
  return v;
}

std::optional<Step> Parser::Line(const std::string& raw) {
  ++line_;
  try {
    const std::vector<std::string> t = Tokenize(raw);
    if (t.empty() || t[0].starts_with('#')) return std::nullopt;
    if (inDataset_) {
      DatasetLine(t);
      if (inDataset_) return std::nullopt;
      Step step;
      step.kind = Step::Kind::Dataset;
      step.line = datasetLine_;
      step.name = datasetName_;
      step.dataset = std::move(dataset_);
      return step;
    }
    Step step;
    step.line = line_;
    const std::string& cmd = t[0];
    if (cmd == "echo") {
      step.kind = Step::Kind::Echo;
      for (size_t i = 1; i < t.size(); ++i) step.text += (i > 1 ? " " : "") + t[i];
    } else if (cmd == "decimal") {
      if (t.size() != 2 || (t[1] != "." && t[1] != ",")) throw Error("decimal takes '.' or ','");
      step.kind = Step::Kind::Decimal;
      step.text = t[1];
    } else if (cmd == "answers") {
      step.kind = Step::Kind::Answers;
      for (size_t i = 1; i < t.size(); ++i) {
        if (t[i] != "yes" && t[i] != "no") throw Error("answers are 'yes' or 'no'");
        step.answers.push_back(t[i] == "yes");
      }
    } else if (cmd == "dataset") {
      if (t.size() != 2) throw Error("dataset takes one name");
      inDataset_ = true;
      datasetLine_ = line_;
      datasetName_ = t[1];
      dataset_ = std::make_shared<plat::TClientDataSet>(Ansi(t[1]));
      fields_.clear();
      return std::nullopt;
    } else if (cmd == "savefile") {
      if (t.size() != 3) throw Error("savefile takes a dataset and a file name");
      step.kind = Step::Kind::SaveFile;
      step.name = t[1];
      step.text = t[2];
    } else if (cmd == "removefile" || cmd == "dump") {
      if (t.size() != 2) throw Error(cmd + " takes a file name");
      step.kind = cmd == "dump" ? Step::Kind::Dump : Step::Kind::RemoveFile;
      step.text = t[1];
    } else if (cmd == "settings") {
      step.kind = Step::Kind::Settings;
      step.args = ParseArgs(t, 1);
    } else {
      step.kind = Step::Kind::Call;
      step.name = cmd;
      step.args = ParseArgs(t, 1);
      step.text = raw.substr(std::min(raw.find_first_not_of(" \t"), raw.size()));
    }
    return step;
  } catch (Error& e) {
    if (e.line == 0) e.line = line_;
    throw;
  }
}

void Parser::DatasetLine(const std::vector<std::string>& t) {
  try {
    if (t[0] == "fields") {
      if (t.size() < 2) throw Error("'fields' needs at least one NAME:TYPE");
      fields_.clear();
      for (size_t i = 1; i < t.size(); ++i) fields_.push_back(ParseField(t[i]));
      dataset_->ClearFieldDefs();
      for (const auto& f : fields_) dataset_->AddFieldDef(f.Name, f.Type, f.Size);
      dataset_->CreateDataSet();
    } else if (t[0] == "row") {
      if (fields_.empty()) throw Error("'row' before 'fields'");
      if (t.size() - 1 != fields_.size()) {
        throw Error("row has " + std::to_string(t.size() - 1) + " values for " +
                    std::to_string(fields_.size()) + " fields");
      }
      std::vector<plat::Variant> cells;
      for (size_t i = 0; i < fields_.size(); ++i) cells.push_back(Cell(fields_[i], t[i + 1]));
      dataset_->Append();
      for (size_t i = 0; i < fields_.size(); ++i) {
        dataset_->FieldByName(fields_[i].Name).SetValue(cells[i]);
      }
      dataset_->Post();
    } else if (t[0] == "end") {
      if (fields_.empty()) throw Error("dataset '" + datasetName_ + "' has no fields");
      dataset_->First();
      inDataset_ = false;
    } else {
      throw Error("inside a dataset only 'fields', 'row' and 'end' are allowed");
    }
  } catch (const plat::Exception& e) {
    // What the dataset refuses (two fields of one name, a field name of blanks) is the
    // scenario's fault too.
    throw Error(plat::AnsiToUtf8(e.Message()));
  }
}

void Parser::End() const {
  if (inDataset_) throw Error("dataset '" + datasetName_ + "' has no 'end'", datasetLine_);
}

}  // namespace scenario
