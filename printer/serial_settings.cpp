// SPDX-License-Identifier: Apache-2.0
// The serial line's settings from the environment, each checked with an error that names the
// variable and what it takes.
#include <cstdlib>

#include "platform/exceptions.h"
#include "printer/facts.h"
#include "printer/link_trace.h"
#include "printer/serial_backend.h"
#include "printer/variants.h"

namespace plat {

namespace {

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// A whole decimal number within [low, high], or nothing.
bool ReadInt(const std::string& text, long low, long high, int& out) {
  const std::string t = Trim(text);
  if (t.empty() || t.size() > 9) return false;
  for (char c : t)
    if (c < '0' || c > '9') return false;
  const long v = std::strtol(t.c_str(), nullptr, 10);
  if (v < low || v > high) return false;
  out = static_cast<int>(v);
  return true;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The rates the printer documents, as "4800, 9600, 19200, 38400".
std::string Rates() {
  std::string out;
  for (int rate : facts::kLineRates) out += (out.empty() ? "" : ", ") + std::to_string(rate);
  return out;
}

}  // namespace

SerialConfig SerialConfigFromEnvironment() {
  SerialConfig c;
  const std::string ports = Env("FISCAL_PRINTER_PORTS");
  size_t start = 0;
  while (start <= ports.size()) {
    const size_t comma = ports.find(',', start);
    const std::string entry =
        Trim(ports.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!entry.empty()) {
      const size_t eq = entry.find('=');
      int port = 0;
      const std::string device = eq == std::string::npos ? "" : Trim(entry.substr(eq + 1));
      if (eq == std::string::npos || !ReadInt(entry.substr(0, eq), 1, 255, port) || device.empty())
        throw ELinkError(
            "FISCAL_PRINTER_PORTS: '" + entry + "' is not PORT=DEVICE (as 1=/dev/ttyUSB0)",
            LinkFault::BadSettings);
      c.Ports[port] = device;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  const std::string baud = Env("FISCAL_PRINTER_BAUD");
  if (!baud.empty() && (!ReadInt(baud, 1, 1000000, c.Baud) || !SupportedBaud(c.Baud)))
    throw ELinkError("FISCAL_PRINTER_BAUD: '" + baud +
                         "' is not one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 "
                         "(the printer's own are " +
                         Rates() + ")",
                     LinkFault::BadSettings);
  const std::string flow = Trim(Env("FISCAL_PRINTER_FLOW"));
  if (flow == "dtrdsr")
    c.Flow = FlowControl::DtrDsr;
  else if (flow == "rtscts")
    c.Flow = FlowControl::RtsCts;
  else if (flow == "xonxoff")
    c.Flow = FlowControl::XonXoff;
  else if (!flow.empty() && flow != "none")
    throw ELinkError("FISCAL_PRINTER_FLOW: '" + flow + "' is not none, dtrdsr, rtscts or xonxoff",
                     LinkFault::BadSettings);
  const std::string timeout = Env("FISCAL_PRINTER_TIMEOUT_MS");
  if (!timeout.empty() && !ReadInt(timeout, 1, 600000, c.TimeoutMs))
    throw ELinkError("FISCAL_PRINTER_TIMEOUT_MS: '" + timeout +
                         "' is not a number of milliseconds from 1 to 600000",
                     LinkFault::BadSettings);
  const std::string retries = Env("FISCAL_PRINTER_RETRIES");
  if (!retries.empty() && !ReadInt(retries, 0, 10, c.Retries))
    throw ELinkError(
        "FISCAL_PRINTER_RETRIES: '" + retries + "' is not a number of resends from 0 to 10",
        LinkFault::BadSettings);
  const std::string model = Trim(Env("FISCAL_PRINTER_MODEL"));
  if (!model.empty() && variants::Find(model) == nullptr)
    throw ELinkError("FISCAL_PRINTER_MODEL: '" + model + "' is not one of " + variants::Names(),
                     LinkFault::BadSettings);
  c.Model = model;
  const std::string trace = Trim(Env("FISCAL_PRINTER_TRACE"));
  if (!trace.empty()) c.Trace = link::FileTrace(trace);
  return c;
}

}  // namespace plat
