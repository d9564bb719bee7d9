// SPDX-License-Identifier: Apache-2.0
// One ticket sale over the serial link against the printer-emulator program on a
// pseudo-terminal: open, three items, subtotal, payment, close. A pseudo-terminal carries bytes
// at once, so the time measured is what the link itself costs (framing, system calls, the
// printer model, the round trips); the counters set it against the time the same bytes take
// on a 9600 baud line (10 bits per byte with start and stop bit).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "printer/printer.h"
#include "printer/serial_backend.h"
#include "tests/support/printer_pty.h"

namespace {

bool Sale(plat::TPrinterFiscal& p) {
  plat::WideString g = u"G";
  bool ok = p.OpenTicket(g) != 0;
  for (int i = 0; i < 3 && ok; ++i) {
    plat::WideString d = u"Empanada de carne", q = u"000002.00", pr = u"000012.50",
                     rate = u"000021.00", m = u"M", z1 = u"0", z2 = u"0", z3 = u"";
    ok = p.SendTicketItem(d, q, pr, rate, m, z1, z2, z3) != 0;
  }
  plat::WideString s1 = u"P", s2 = u"Subtotal";
  ok = ok && p.GetTicketSubtotal(s1, s2) != 0;
  plat::WideString pay = u"Efectivo", amount = u"000100.00", t = u"T";
  ok = ok && p.SendTicketPayment(pay, amount, t) != 0;
  ok = ok && p.CloseTicket() != 0;
  return ok;
}

void BM_TicketSaleOverTheLine(benchmark::State& state) {
  const testhost::PrinterPty program({PRINTER_EMULATOR_PATH});
  plat::SerialConfig config;
  config.Ports[1] = program.Pty();
  config.Baud = 9600;
  auto backend = std::make_shared<plat::SerialBackend>(config);
  plat::SetPrinterBackend(backend);
  plat::TPrinterFiscal printer;
  printer.SetPortNumber(plat::Variant(1));
  long sales = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!Sale(printer)) {
      state.SkipWithError("the printer refused a command of the sale");
      break;
    }
    ++sales;
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  plat::SetPrinterBackend(nullptr);
  if (sales == 0) return;
  const auto stats = backend->GetStats();
  const double bytes = static_cast<double>(stats.BytesSent + stats.BytesReceived) / sales;
  const double wireSeconds = bytes * 10.0 / 9600.0;
  const double measuredSeconds = elapsed.count() / sales;
  state.counters["bytes"] = bytes;
  state.counters["commands"] = static_cast<double>(stats.Frames) / sales;
  state.counters["wire_ms_9600"] = wireSeconds * 1000.0;
  // How many times longer the bytes take on a 9600 baud line than the link's own work.
  state.counters["wire_per_link"] = wireSeconds / measuredSeconds;
}
BENCHMARK(BM_TicketSaleOverTheLine)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
