// fiscalctl: the fiscal printer from the command line, for an integrator at a till: the
// printer's status decoded, an X reading, its clock read or set, and one command with every
// frame on the line shown. It goes through the same backends as the driver package: the one
// FISCAL_PRINTER names (with the FISCAL_PRINTER_* line settings), or the serial line to
// --device.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "printer/backend.h"
#include "printer/link_decision.h"
#include "printer/link_trace.h"
#include "printer/serial_backend.h"
#include "printer/status.h"
#include "tools/command_line.h"

namespace {

using cli::kDone;
using cli::kNoPrinter;
using cli::kUsage;
constexpr int kRefused = cli::kFailed;  // the printer answered and refused the command

std::string Join(const std::vector<std::string>& reasons, const char* none) {
  std::string out;
  for (const auto& r : reasons) out += (out.empty() ? "" : ", ") + r;
  return out.empty() ? none : out;
}

std::string Word(uint16_t w) {
  return plat::link::HexWord(w);
}

std::string Field(const plat::PrinterAnswer& a, size_t i) {
  return i < a.Fields.size() ? plat::WideToUtf8(a.Fields[i]) : "";
}

void Refusal(const plat::PrinterAnswer& a) {
  std::cerr << "fiscalctl: the printer refused the command: "
            << Join(plat::DecodeFiscalStatus(a.FiscalStatus), "no reason given") << "\n";
}

struct Session {
  std::string device;
  int port = 1;
  std::shared_ptr<plat::PrinterBackend> backend;

  void Connect(plat::LinkTrace trace = {}) {
    if (device.empty() && !trace) {
      backend = plat::CurrentPrinterBackend();
      return;
    }
    plat::SerialConfig config = plat::SerialConfigFromEnvironment();
    if (!device.empty()) config.Ports[port] = device;
    if (trace) config.Trace = std::move(trace);
    backend = std::make_shared<plat::SerialBackend>(config);
  }

  plat::PrinterAnswer Run(const std::string& method, std::vector<plat::WideString> args) {
    std::vector<plat::WideString*> ptrs;
    for (auto& a : args) ptrs.push_back(&a);
    return backend->Execute(port, method.c_str(), ptrs);
  }
};

int Status(Session& s) {
  const plat::PrinterAnswer a = s.Run("Status", {u"N"});
  std::cout << "printer status " << Word(a.PrinterStatus) << ": "
            << Join(plat::DecodePrinterStatus(a.PrinterStatus), "ready") << "\n"
            << "fiscal status  " << Word(a.FiscalStatus) << ": "
            << Join(plat::DecodeFiscalStatus(a.FiscalStatus), "no condition") << "\n";
  const bool open =
      a.FiscalStatus & (plat::status::kDocumentOpen | plat::status::kFiscalDocumentOpen);
  const auto state = plat::link::StateFromStatus(a);
  std::cout << "document       "
            << (state ? plat::link::Describe(*state)
                      : std::string(open ? "a document is open" : "no document open"))
            << "\n";
  return a.Result ? kDone : (Refusal(a), kRefused);
}

int XReading(Session& s) {
  const plat::PrinterAnswer a = s.Run("CloseJournal", {u"X", u"P"});
  if (!a.Result) return Refusal(a), kRefused;
  std::cout << "X reading " << Field(a, 0) << " printed\n";
  return kDone;
}

int Date(Session& s, const std::string& set) {
  plat::PrinterAnswer a;
  if (set.empty()) {
    a = s.Run("SetGetDateTime", {u"G", u"", u""});
  } else {
    int y, mo, d, h, mi, sec;
    char sep;
    if (std::sscanf(set.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &sec) !=
            7 ||
        (sep != ' ' && sep != 'T') || y < 2000 || y > 2099) {
      std::cerr << "fiscalctl: --set takes 'YYYY-MM-DD HH:MM:SS' (years 2000 to 2099)\n";
      return kUsage;
    }
    char date[16], time[16];
    std::snprintf(date, sizeof date, "%02d%02d%02d", y % 100, mo % 100, d % 100);
    std::snprintf(time, sizeof time, "%02d%02d%02d", h % 100, mi % 100, sec % 100);
    a = s.Run("SetGetDateTime", {u"S", plat::Utf8ToWide(date), plat::Utf8ToWide(time)});
  }
  if (!a.Result) return Refusal(a), kRefused;
  const std::string d = Field(a, 0), t = Field(a, 1);
  if (d.size() != 6 || t.size() != 6) {
    std::cerr << "fiscalctl: the printer's clock answer does not read: '" << d << "' '" << t
              << "'\n";
    return kNoPrinter;
  }
  std::cout << "20" << d.substr(0, 2) << "-" << d.substr(2, 2) << "-" << d.substr(4, 2) << " "
            << t.substr(0, 2) << ":" << t.substr(2, 2) << ":" << t.substr(4, 2) << "\n";
  return kDone;
}

int Trace(Session& s, const std::string& method, const std::vector<std::string>& fields) {
  const plat::CommandInfo* info = plat::FindCommand(method);
  if (info == nullptr) {
    std::cerr << "fiscalctl: no printer command '" << method << "'\n";
    return kUsage;
  }
  if (fields.size() != info->Fields) {
    std::cerr << "fiscalctl: " << method << " takes " << info->Fields << " fields, not "
              << fields.size() << "\n";
    return kUsage;
  }
  s.Connect(plat::link::FileTrace("/dev/stdout"));
  std::vector<plat::WideString> args;
  for (const auto& f : fields) args.push_back(plat::Utf8ToWide(f));
  const plat::PrinterAnswer a = s.Run(method, args);
  std::cout << "answer " << a.Result << ", printer status " << Word(a.PrinterStatus)
            << ", fiscal status " << Word(a.FiscalStatus) << "\n";
  for (size_t i = 0; i < a.Fields.size(); ++i)
    std::cout << "AnswerField_" << i + 3 << " " << Field(a, i) << "\n";
  return a.Result ? kDone : (Refusal(a), kRefused);
}

}  // namespace

int main(int argc, char** argv) {
  Session s;
  std::string set;
  std::string method;
  std::vector<std::string> fields;
  CLI::App app(
      "The fiscal printer from the command line. The printer is the one FISCAL_PRINTER names\n"
      "(the built-in emulator unless set; FISCAL_PRINTER=serial with FISCAL_PRINTER_PORTS,\n"
      "_BAUD, _FLOW, _TIMEOUT_MS, _RETRIES), or the serial line to --device.\n"
      "Exit status: 0 done, 1 the printer refused, 2 a wrong command line, 3 the printer\n"
      "cannot be reached.",
      "fiscalctl");
  app.add_option("--device", s.device, "the printer's serial device")->type_name("PATH");
  app.add_option("--port", s.port, "the port number the host uses (COM1 is 1)")
      ->check(CLI::Range(1, 255))
      ->capture_default_str();
  app.require_subcommand(1);
  auto* status = app.add_subcommand("status", "the status words decoded, the document open");
  auto* x = app.add_subcommand("x", "an X reading");
  auto* date = app.add_subcommand("date", "the printer's clock");
  date->add_option("--set", set, "set it first, between documents")
      ->type_name("'YYYY-MM-DD HH:MM:SS'");
  auto* trace = app.add_subcommand("trace", "one command, with every frame on the line shown");
  trace->add_option("method", method, "the control's method (Status, SetGetDateTime, ...)")
      ->required();
  trace->add_option("fields", fields, "its fields");
  if (const auto end = cli::Parse(app, argc, argv)) return *end;
  try {
    if (trace->parsed()) return Trace(s, method, fields);
    s.Connect();
    if (status->parsed()) return Status(s);
    if (x->parsed()) return XReading(s);
    if (date->parsed()) return Date(s, set);
  } catch (const plat::ELinkError& e) {
    std::cerr << "fiscalctl: " << plat::AnsiToUtf8(e.Message()) << "\n";
    return kNoPrinter;
  } catch (const plat::Exception& e) {
    std::cerr << "fiscalctl: " << plat::AnsiToUtf8(e.Message()) << "\n";
    return kNoPrinter;
  }
  return kUsage;
}
