// SPDX-License-Identifier: Apache-2.0
// cdsdump: prints a dataset file as UTF-8 text: the fields, then every row.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "platform/codepage.h"
#include "platform/dataset.h"
#include "platform/format.h"
#include "platform/os.h"
#include "program/command_line.h"

namespace {

const char kUsage[] =
    "Usage: cdsdump FILE\n"
    "  or:  cdsdump --version\n"
    "Prints a dataset file as text: the fields (name, type, size), then every row with its\n"
    "cells separated by \" | \". Null cells show as (null), numbers use a point as the decimal\n"
    "separator, dates show as dd/mm/yyyy hh:nn:ss.\n"
    "Exit status: 0 when the file was printed, 1 when it is missing or not a valid dataset\n"
    "file, 2 for a wrong command line.\n";

std::string FloatText(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  return plat::FloatToStr(v);
}

std::string DateText(double v) {
  // Years 1 to 9999; anything else (only a damaged or foreign writer makes it) as the number.
  if (!std::isfinite(v) || v < -693593.0 || v >= 2958466.0) return FloatText(v);
  return plat::FormatDateTime("dd/mm/yyyy hh:nn:ss", v);
}

std::string CellText(const plat::FieldDef& f, const plat::Variant& cell) {
  if (cell.IsNull() || cell.IsEmpty()) return "(null)";
  switch (f.Type) {
    case plat::FieldType::Float:
      return FloatText(cell.AsDouble());
    case plat::FieldType::DateTime:
      return DateText(cell.AsDateTime());
    case plat::FieldType::Boolean:
      return cell.AsBoolean() ? "True" : "False";
    case plat::FieldType::Integer:
      return plat::IntToStr(cell.AsInteger());
    case plat::FieldType::String:
      break;
  }
  return plat::AnsiToUtf8(cell.AsString());
}

int Dump(const std::string& path) {
  std::string bytes = plat::ReadWholeFile(plat::Utf8ToAnsi(path));
  auto packet = plat::LoadPacketFromBytes(bytes, plat::Utf8ToAnsi(path));

  std::string out;
  out += "fields: " + std::to_string(packet->Fields.size()) + "\n";
  for (const auto& f : packet->Fields) {
    out += "  " + plat::AnsiToUtf8(f.Name) + " " + plat::FieldTypeName(f.Type) + " " +
           std::to_string(f.Size) + "\n";
  }
  out += "rows: " + std::to_string(packet->Rows.size()) + "\n";
  for (const auto& row : packet->Rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i > 0) out += " | ";
      out += CellText(packet->Fields[i], row[i]);
    }
    out += "\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? cli::kDone : cli::kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  CLI::App app("Prints a dataset file as text.", "cdsdump");
  app.add_option("FILE", file)->required();
  if (const auto end = cli::Parse(app, argc, argv, kUsage)) return *end;
  // The output must not depend on the regional settings of whoever runs the tool.
  plat::TFormatSettings& fs = plat::FormatSettings();
  fs.DecimalSeparator = '.';
  fs.DateSeparator = '/';
  fs.TimeSeparator = ':';
  try {
    return Dump(file);
  } catch (const plat::Exception& e) {
    std::cerr << "cdsdump: " << plat::AnsiToUtf8(e.Message()) << "\n";
  } catch (const std::exception& e) {
    std::cerr << "cdsdump: " << e.what() << "\n";
  }
  return cli::kFailed;
}
