// SPDX-License-Identifier: Apache-2.0
// The driver's own work per host call, through the package loaded by its plain names, against
// the in-process printer emulator: single printer commands, whole ticket sales and the till
// closing. Each group also runs the same printer commands straight against the emulator, so the
// emulator's share can be told apart from the driver's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_host.h"
#include "platform/dataset.h"
#include "platform/variant.h"

namespace {

using benchhost::Direct;
using benchhost::Host;
using plat::FiscalPrinterModel;
using plat::Variant;
using plat::WideString;

Variant OpenBundle(const char* kind) {
  return testhost::OpenBundle(kind);
}

Variant ItemBundle(const char* kind) {
  return testhost::ItemBundle("Empanada de carne", 1.0, 1.21, kind);
}

// FechaCupom's array for a ticket of total, paid in cash and by card.
ArfisOpenArray CloseArray(double total) {
  const double cash = static_cast<double>(static_cast<long long>(total * 40.0)) / 100.0;
  auto movs = benchhost::MakeDataSet(
      {{"IDTIPOMOVIVE", plat::FieldType::String, 1},
       {"CDBANCARTCR", plat::FieldType::String, 10},
       {"CDTIPORECE", plat::FieldType::String, 5},
       {"CDTIPORECEORIG", plat::FieldType::String, 5},
       {"VRMOVIVEND", plat::FieldType::Float, 0}},
      {{Variant("E"), Variant(""), Variant("1"), Variant(""), Variant(cash)},
       {Variant("E"), Variant("VISA"), Variant("9"), Variant("2"), Variant(total - cash)}});
  auto receb = benchhost::MakeDataSet(
      {{"CDTIPORECE", plat::FieldType::String, 5}, {"NMTIPORECE", plat::FieldType::String, 30}},
      {{Variant("1"), Variant("Efectivo")},
       {Variant("2"), Variant("Tarjeta")},
       {Variant("9"), Variant("Visa")}});
  ArfisOpenArray ar(43);
  ar[2] = Variant("AZUL");
  ar[6] = Variant(0.0);
  ar[13] = movs->Data();
  ar[14] = receb->Data();
  ar[30] = Variant("T");
  ar[42] = Variant("00000042");
  return ar;
}

// Leaves the printer idle: an open document is cancelled.
void ToIdle(Host& host) {
  auto& emu = host.Emu();
  switch (emu.Model().State()) {
    case FiscalPrinterModel::DocState::Ticket:
      Direct(emu, "SendTicketPayment", {u"Anulado", u"1", u"C"});
      break;
    case FiscalPrinterModel::DocState::Invoice:
      Direct(emu, "SendInvoicePayment", {u"Anulado", u"1", u"C"});
      break;
    case FiscalPrinterModel::DocState::NonFiscal:
      Direct(emu, "CloseNoFiscal", {});
      break;
    case FiscalPrinterModel::DocState::Idle:
      break;
  }
}

// Documents are refreshed every so many items, outside the timed region, so that neither the
// document nor the journal grows without end.
constexpr int kItemsPerDocument = 200;

// ---- One printer command per call --------------------------------------------------------

void BM_VendaItem(benchmark::State& state, const char* kind) {
  Host host;
  auto* abre = BENCH_CALL(host, AbreCupom);
  auto* venda = BENCH_CALL(host, VendaItem);
  const Variant item = ItemBundle(kind);
  int onDocument = kItemsPerDocument;
  for (auto _ : state) {
    if (onDocument == kItemsPerDocument) {
      state.PauseTiming();
      ToIdle(host);
      host.Tidy();
      Variant open = OpenBundle(kind);
      if (!abre(open)) {
        state.SkipWithError("the document was not opened");
        break;
      }
      onDocument = 0;
      state.ResumeTiming();
    }
    if (!venda(item)) {
      state.SkipWithError("the item was refused");
      break;
    }
    ++onDocument;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_VendaItem, ticket, "T");
BENCHMARK_CAPTURE(BM_VendaItem, invoice, "A");

// The same item line sent straight to the emulator: the emulator's share of one VendaItem.
void BM_EmulatorTicketItem(benchmark::State& state) {
  Host host;
  auto& emu = host.Emu();
  int onDocument = kItemsPerDocument;
  for (auto _ : state) {
    if (onDocument == kItemsPerDocument) {
      state.PauseTiming();
      ToIdle(host);
      host.Tidy();
      Direct(emu, "OpenTicket", {u"G"});
      onDocument = 0;
      state.ResumeTiming();
    }
    if (!Direct(emu, "SendTicketItem",
                {u"Empanada de carne", u"000001.00", u"000001.21", u"000021.00", u"M", u"0", u"0",
                 u"0"})) {
      state.SkipWithError("the item was refused");
      break;
    }
    ++onDocument;
  }
}
BENCHMARK(BM_EmulatorTicketItem);

// One diagnostic log line: open, append, close.
void BM_ImpFisDebug(benchmark::State& state) {
  Host host;
  auto* log = BENCH_CALL(host, ImpFisDebug);
  const plat::AnsiString line =
      "VendaItem:  - Empanada de carne - 000001.00 - 000001.21 - "
      "000021.00 - M";
  int written = 0;
  for (auto _ : state) {
    log(line);
    if (++written == 100000) {
      state.PauseTiming();
      host.Tidy();
      written = 0;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_ImpFisDebug);

// Two log lines and the drawer command.
void BM_Abre_Gaveta_Imp(benchmark::State& state) {
  Host host;
  auto* gaveta = BENCH_CALL(host, Abre_Gaveta_Imp);
  int calls = 0;
  for (auto _ : state) {
    if (!gaveta("", false)) {
      state.SkipWithError("the drawer command was refused");
      break;
    }
    if (++calls == 10000) {
      state.PauseTiming();
      host.Tidy();
      calls = 0;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_Abre_Gaveta_Imp);

// ---- A whole ticket sale: AbreCupom, n x VendaItem, FechaCupom with two payments ----------

void BM_TicketSale(benchmark::State& state) {
  const int items = static_cast<int>(state.range(0));
  Host host;
  auto* abre = BENCH_CALL(host, AbreCupom);
  auto* venda = BENCH_CALL(host, VendaItem);
  auto* fecha = BENCH_CALL(host, FechaCupom);
  const Variant item = ItemBundle("T");
  const ArfisOpenArray close = CloseArray(1.21 * items);
  for (auto _ : state) {
    state.PauseTiming();
    host.Tidy();
    Variant open = OpenBundle("T");
    Variant answer = plat::VarArrayOf({Variant(), Variant(), Variant()});
    state.ResumeTiming();

    bool ok = abre(open);
    for (int i = 0; i < items && ok; ++i) ok = venda(item);
    ok = ok && fecha(close, nullptr, answer);
    if (!ok) {
      state.SkipWithError("the sale did not go through");
      break;
    }
  }
  state.SetComplexityN(items);
  state.SetItemsProcessed(state.iterations() * items);
}
BENCHMARK(BM_TicketSale)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

// The same sale's printer commands straight against the emulator.
void BM_EmulatorTicketSale(benchmark::State& state) {
  const int items = static_cast<int>(state.range(0));
  Host host;
  auto& emu = host.Emu();
  const double total = 1.21 * items;
  const double cash = static_cast<double>(static_cast<long long>(total * 40.0)) / 100.0;
  char cashText[32], cardText[32];
  std::snprintf(cashText, sizeof cashText, "%09.2f", cash);
  std::snprintf(cardText, sizeof cardText, "%09.2f", total - cash);
  const WideString cashW(cashText, cashText + std::strlen(cashText));
  const WideString cardW(cardText, cardText + std::strlen(cardText));
  for (auto _ : state) {
    state.PauseTiming();
    host.Tidy();
    state.ResumeTiming();

    bool ok = Direct(emu, "OpenTicket", {u"G"});
    for (int i = 0; i < items && ok; ++i) {
      ok = Direct(
          emu, "SendTicketItem",
          {u"Empanada de carne", u"000001.00", u"000001.21", u"000021.00", u"M", u"0", u"0", u"0"});
    }
    ok = ok && Direct(emu, "GetTicketSubtotal", {u"P", u"Subtotal"});
    ok = ok && Direct(emu, "SendTicketPayment", {u"Efectivo", cashW, u"T"});
    ok = ok && Direct(emu, "SendTicketPayment", {u"Visa", cardW, u"T"});
    ok = ok && Direct(emu, "CloseTicket", {});
    if (!ok) {
      state.SkipWithError("the sale did not go through");
      break;
    }
  }
  state.SetComplexityN(items);
  state.SetItemsProcessed(state.iterations() * items);
}
BENCHMARK(BM_EmulatorTicketSale)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

// ---- Till closing: every report in the tax-category layout, answers no / yes / yes --------

// A printer that accepts every command at once: what is left of the closing is the driver's own
// work, its log lines included.
class AcceptingPrinter : public plat::PrinterBackend {
 public:
  plat::PrinterAnswer Execute(int, const char*, const std::vector<WideString*>&) override {
    ++commands;
    plat::PrinterAnswer a;
    a.Result = 1;
    return a;
  }
  size_t commands = 0;
};

// One closing per iteration, against the emulator or, with printer, against a printer that
// accepts everything at once.
void RunTillClosing(benchmark::State& state, std::shared_ptr<AcceptingPrinter> printer) {
  const int products = static_cast<int>(state.range(0));
  const int movements = products / 10;
  Host host;
  if (printer) plat::SetPrinterBackend(printer);
  auto* gera = BENCH_CALL(host, GeraReciboSangria);
  auto movFecha = benchhost::MovFecha(movements);
  auto sangria = benchhost::OneColumn();
  auto prod = benchhost::Products(products);
  auto operSup = benchhost::OperSup();
  auto movTot = benchhost::Movements(movements);
  auto movAbertura = benchhost::Movements(movements);
  auto prodFech = benchhost::Products(products);
  auto tipoRece = benchhost::OneColumn();
  plat::TClientDataSet* redz = nullptr;
  plat::TClientDataSet* formRedz = nullptr;
  plat::TClientDataSet* impostoRedz = nullptr;
  plat::TClientDataSet* totNFis = nullptr;
  plat::AnsiString cupomDia = "000123";
  size_t commands = 0;
  for (auto _ : state) {
    state.PauseTiming();
    host.Tidy();
    host.Script({false, true, true});
    if (printer) printer->commands = 0;
    bool reduziu = false;
    state.ResumeTiming();

    const bool reopened =
        gera("COM1", "SER123", "01", "02", "ECF", 1, cupomDia, movFecha.get(), sangria.get(),
             prod.get(), operSup.get(), movTot.get(), movAbertura.get(), prodFech.get(), 46000.0,
             true, true, false, redz, formRedz, impostoRedz, totNFis, reduziu, tipoRece.get(), "N",
             "S", "S", "S", "ESQ", false, false, true, "RETIRO", "Fin del dia");

    state.PauseTiming();
    commands = printer ? printer->commands : host.Emu().Journal().size();
    const bool ok = !reopened && reduziu && host.Errors() == 0 &&
                    (printer || host.Emu().Model().State() == FiscalPrinterModel::DocState::Idle);
    state.ResumeTiming();
    if (!ok) {
      state.SkipWithError(("the closing did not go through: " + host.LastError()).c_str());
      break;
    }
  }
  state.counters["commands"] = static_cast<double>(commands);
  state.SetComplexityN(products);
  state.SetItemsProcessed(state.iterations() * products);
  plat::SetPrinterBackend(host.EmuPtr());
}

void BM_TillClosing(benchmark::State& state) {
  RunTillClosing(state, nullptr);
}
BENCHMARK(BM_TillClosing)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_TillClosingDriverOnly(benchmark::State& state) {
  RunTillClosing(state, std::make_shared<AcceptingPrinter>());
}
BENCHMARK(BM_TillClosingDriverOnly)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
