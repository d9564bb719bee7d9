// SPDX-License-Identifier: Apache-2.0
// The client dataset at the sizes a till's day reaches: file save and load, data packet copy,
// building rows, and walking an index, each over 1,000 to 100,000 rows.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "bench/bench_host.h"
#include "platform/dataset.h"

namespace {

using plat::FieldType;
using plat::TClientDataSet;
using plat::Variant;

// A temporary folder removed at the end of the program.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/fiscal-bench-ds-XXXXXX";
    const char* made = mkdtemp(tmpl);
    path_ = made != nullptr ? made : "/tmp";
  }
  ~TempDir() {
    std::error_code ec;
    if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

TempDir& Temp() {
  static TempDir dir;
  return dir;
}

void Rows(benchmark::State& state, int rows) {
  state.SetComplexityN(rows);
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_SaveToFile(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  auto ds = benchhost::Products(rows);
  const std::string path = Temp().File("save.cds");
  for (auto _ : state) ds->SaveToFile(path);
  Rows(state, rows);
}

void BM_LoadFromFile(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  const std::string path = Temp().File("load.cds");
  benchhost::Products(rows)->SaveToFile(path);
  TClientDataSet ds("load");
  for (auto _ : state) {
    ds.LoadFromFile(path);
    if (ds.RecordCount() != rows) {
      state.SkipWithError("rows lost on the way");
      break;
    }
  }
  Rows(state, rows);
}

// The host's packet into a form dataset, as the closing copies its datasets.
void BM_DataPacketCopy(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  auto source = benchhost::Products(rows);
  TClientDataSet target("target");
  for (auto _ : state) {
    target.SetData(source->Data());
    benchmark::DoNotOptimize(target.RecordCount());
  }
  Rows(state, rows);
}

// A packet copy followed by one edit, which must not cost more than copying the rows once.
void BM_DataPacketCopyAndEdit(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  auto source = benchhost::Products(rows);
  TClientDataSet target("target");
  for (auto _ : state) {
    target.SetData(source->Data());
    target.Edit();
    target.FieldByName("VRTOTAL").SetAsFloat(1.0);
    target.Post();
  }
  Rows(state, rows);
}

const std::vector<plat::FieldDef> kFields = {
    {"CODE", FieldType::String, 10}, {"RATE", FieldType::Float}, {"TOTAL", FieldType::Float}};

void Fill(TClientDataSet& ds, int rows, bool insert) {
  for (int i = 0; i < rows; ++i) {
    insert ? ds.Insert() : ds.Append();
    ds.FieldByName("CODE").SetAsString(std::to_string(i % 97));
    ds.FieldByName("RATE").SetAsFloat((i * 7919) % 1000 / 10.0);
    ds.FieldByName("TOTAL").SetAsFloat(i);
    ds.Post();
  }
}

TClientDataSet& Fresh(TClientDataSet& ds) {
  ds.Close();
  ds.ClearFieldDefs();
  for (const auto& f : kFields) ds.AddFieldDef(f.Name, f.Type, f.Size);
  ds.CreateDataSet();
  return ds;
}

// Rows added one by one: appended, inserted at the current row, and appended under an index.
void BM_Append(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  TClientDataSet ds("append");
  for (auto _ : state) Fill(Fresh(ds), rows, false);
  Rows(state, rows);
}

void BM_Insert(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  TClientDataSet ds("insert");
  for (auto _ : state) Fill(Fresh(ds), rows, true);
  Rows(state, rows);
}

void BM_AppendIndexed(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  TClientDataSet ds("indexed");
  for (auto _ : state) {
    Fresh(ds);
    ds.AddIndex("idx", "CODE;RATE");
    ds.SetIndexName("idx");
    Fill(ds, rows, false);
  }
  Rows(state, rows);
}

// Every row edited in turn while an index is selected.
void BM_EditIndexed(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  TClientDataSet ds("edit");
  Fill(Fresh(ds), rows, false);
  ds.AddIndex("idx", "CODE;RATE");
  ds.SetIndexName("idx");
  for (auto _ : state) {
    for (ds.First(); !ds.Eof(); ds.Next()) {
      ds.Edit();
      plat::TField total = ds.FieldByName("TOTAL");
      total.SetAsFloat(total.AsFloat() + 1);
      ds.Post();
    }
  }
  Rows(state, rows);
}

// The product report's walk: select the index, read every row by field name.
void BM_IndexWalk(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  auto source = benchhost::Products(rows);
  TClientDataSet ds("walk");
  ds.AddIndex("idxTributacao", "IDTPIMPOSFIS;VRPEALIMPFIS");
  ds.SetData(source->Data());
  double sum = 0;
  for (auto _ : state) {
    ds.SetIndexName("");
    ds.SetIndexName("idxTributacao");
    for (ds.First(); !ds.Eof(); ds.Next()) sum += ds.FieldByName("VRTOTAL").AsFloat();
  }
  benchmark::DoNotOptimize(sum);
  Rows(state, rows);
}

#define ROWS(bm)                      \
  BENCHMARK(bm)                       \
      ->Arg(1000)                     \
      ->Arg(10000)                    \
      ->Arg(100000)                   \
      ->Unit(benchmark::kMillisecond) \
      ->Complexity(benchmark::oN)

ROWS(BM_SaveToFile);
ROWS(BM_LoadFromFile);
ROWS(BM_DataPacketCopy);
ROWS(BM_DataPacketCopyAndEdit);
ROWS(BM_Append);
// Each insert moves the rows stored after it, so inserting every row before the first one grows
// with the square of the rows; 100,000 would take about a minute per run.
BENCHMARK(BM_Insert)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oNSquared);
ROWS(BM_AppendIndexed);
ROWS(BM_EditIndexed);
ROWS(BM_IndexWalk);

}  // namespace

BENCHMARK_MAIN();
