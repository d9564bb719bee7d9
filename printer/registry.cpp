// SPDX-License-Identifier: Apache-2.0
// The printer backends by name, and the backend that a host installed.
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/exceptions.h"
#include "printer/backend.h"

namespace plat {

namespace {

struct Registry {
  std::mutex mu;
  std::map<std::string, PrinterBackendFactory> factories;
  std::shared_ptr<PrinterBackend> installed;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

}  // namespace

void RegisterPrinterBackend(const std::string& name, PrinterBackendFactory factory) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  r.factories[name] = std::move(factory);
}

std::vector<std::string> PrinterBackendNames() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  std::vector<std::string> names;
  for (const auto& [name, factory] : r.factories) names.push_back(name);
  return names;
}

void SetPrinterBackend(std::shared_ptr<PrinterBackend> backend) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  r.installed = std::move(backend);
}

std::shared_ptr<PrinterBackend> CurrentPrinterBackend() {
  Registry& r = TheRegistry();
  PrinterBackendFactory factory;
  {
    std::lock_guard<std::mutex> lock(r.mu);
    if (r.installed) return r.installed;
    const char* env = std::getenv("FISCAL_PRINTER");
    const std::string name = env && *env ? env : "emulator";
    auto it = r.factories.find(name);
    if (it == r.factories.end()) {
      std::string known;
      for (const auto& [n, f] : r.factories) known += (known.empty() ? "" : ", ") + n;
      throw ELinkError("FISCAL_PRINTER: '" + name + "' names no printer backend (known: " + known +
                       ")");
    }
    factory = it->second;
  }
  // Made outside the lock: a factory may read its own configuration, or fail.
  return factory();
}

}  // namespace plat
