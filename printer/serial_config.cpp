// SPDX-License-Identifier: Apache-2.0
// The backend "serial" that FISCAL_PRINTER selects, configured from the environment
// (printer/serial_settings.cpp).
#include <cstdlib>
#include <mutex>

#include "platform/exceptions.h"
#include "printer/serial_backend.h"

namespace plat {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The serial backend of the environment's configuration, kept while the environment stays.
std::shared_ptr<PrinterBackend> EnvironmentSerialBackend() {
  static std::mutex mu;
  static std::string key;
  static std::shared_ptr<PrinterBackend> backend;
  std::string now;
  for (const char* name : {"FISCAL_PRINTER_PORTS", "FISCAL_PRINTER_BAUD", "FISCAL_PRINTER_FLOW",
                           "FISCAL_PRINTER_TIMEOUT_MS", "FISCAL_PRINTER_RETRIES",
                           "FISCAL_PRINTER_TRACE", "FISCAL_PRINTER_MODEL"})
    now += Env(name) + '\n';
  std::lock_guard<std::mutex> lock(mu);
  if (!backend || key != now) {
    backend = std::make_shared<SerialBackend>(SerialConfigFromEnvironment());
    key = now;
  }
  return backend;
}

[[maybe_unused]] const bool kRegistered = [] {
  RegisterPrinterBackend("serial", EnvironmentSerialBackend);
  return true;
}();

}  // namespace

void ConfigureSerialPrinter(SerialConfig config) {
  SetPrinterBackend(std::make_shared<SerialBackend>(std::move(config)));
}

void UseSerialPrinterFromEnvironment() {
  ConfigureSerialPrinter(SerialConfigFromEnvironment());
}

}  // namespace plat
