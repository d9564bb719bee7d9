// SPDX-License-Identifier: Apache-2.0
// fiscalctl: the fiscal printer from the command line, for an integrator at a till: the
// printer's status decoded, its self-description (probe), an X reading, its clock read or set,
// and one command with every frame on the line shown. It goes through the same backends as the
// driver package: the one FISCAL_PRINTER names (with the FISCAL_PRINTER_* line settings), or the
// serial line to
// --device.
#include <algorithm>
#include <array>
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
#include "program/command_line.h"

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

// The fiscal word's reasons; a refused opening leads with the roll whose low paper keeps it
// closed.
void Refusal(const plat::PrinterAnswer& a, bool opening = false) {
  std::vector<std::string> why;
  const plat::PrinterState state = plat::ReadState(a.PrinterStatus, a.FiscalStatus);
  if (opening && state.OpeningBlocked()) {
    const auto all = plat::RefusalReasons(a.PrinterStatus, a.FiscalStatus, true);
    const auto rolls =
        std::ranges::count(std::array{state.Journal, state.Receipt}, plat::PaperState::Low);
    why.assign(all.begin(), all.begin() + rolls);
  }
  for (auto& r : plat::DecodeFiscalStatus(a.FiscalStatus)) why.push_back(std::move(r));
  std::cerr << "fiscalctl: the printer refused the command: " << Join(why, "no reason given")
            << "\n";
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

// The document being issued, from the status request's mode D ("ticket open").
std::string DocumentOpen(Session& s, const plat::PrinterAnswer& words) {
  if (!plat::ReadState(words.PrinterStatus, words.FiscalStatus).DocumentOpen())
    return "no document open";
  const plat::PrinterAnswer d = s.Run("Status", {u"D"});
  const std::string kind = Field(d, plat::status_d::kKind);
  const std::string letter = Field(d, plat::status_d::kLetter);
  const std::string with = letter.empty() || letter == "N" ? "" : " " + letter;
  if (kind == "K") return "ticket open";
  if (kind == "T") return "ticket-invoice" + with + " open";
  if (kind == "O") return "non-fiscal document open";
  if (kind == "H" || kind == "M") return "homologated non-fiscal document open";
  return "a document is open";
}

int Status(Session& s) {
  const plat::PrinterAnswer a = s.Run("Status", {u"N"});
  std::cout << "printer status " << Word(a.PrinterStatus) << ": "
            << Join(plat::DecodePrinterStatus(a.PrinterStatus), "ready") << "\n"
            << "fiscal status  " << Word(a.FiscalStatus) << ": "
            << Join(plat::DecodeFiscalStatus(a.FiscalStatus), "no condition") << "\n";
  const plat::PrinterState state = plat::ReadState(a.PrinterStatus, a.FiscalStatus);
  std::cout << "fiscalisation  " << plat::Name(state.Fiscal) << "\n";
  std::cout << "paper          journal roll " << plat::Name(state.Journal) << ", receipt roll "
            << plat::Name(state.Receipt) << "\n";
  std::cout << "document       " << DocumentOpen(s, a) << "\n";
  std::cout << "warnings       "
            << Join(plat::StatusWarnings(a.PrinterStatus, a.FiscalStatus), "none") << "\n";
  if (a.Result)
    std::cout << "last ticket    " << Field(a, plat::status_n::kLastTicket) << ", last Z "
              << Field(a, plat::status_n::kLastZ) << "\n";
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
  if (fields.size() != info->Args) {
    std::cerr << "fiscalctl: " << method << " takes " << info->Args << " fields, not "
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
  return a.Result ? kDone : (Refusal(a, plat::OpensDocument(info->Id)), kRefused);
}

// The printer's self-description: every mode of the status request that prints nothing, each
// answer field named as the printer documents it.
struct ProbeMode {
  const char* letter;
  const char* title;
  std::vector<const char*> fields;
};

const std::vector<ProbeMode>& ProbeModes() {
  static const std::vector<ProbeMode> modes = {
      {"P",
       "printer characteristics",
       {"invoice columns at 10 cpi", "invoice columns at 12 cpi", "invoice columns at 17 cpi",
        "ticket columns", "validation lines", "issues tickets", "issues ticket-invoices",
        "issues slip invoices", "cent digits", "main station", "model"}},
      {"C",
       "taxpayer",
       {"tax number", "point of sale", "VAT category", "standard VAT rate",
        "highest ticket-invoice amount", "company name"}},
      {"A",
       "document counters",
       {"last Z closing", "last ticket or B/C completed", "last ticket or B/C printed",
        "last A completed", "last A printed", "last non-fiscal document",
        "last homologated non-fiscal", "last non-fiscal reference", "last credit note A",
        "last credit note B/C", "last delivery note"}},
      {"N",
       "fiscal day",
       {"last ticket or B/C document", "first document of the day, date",
        "first document of the day, time", "last Z closing", "partial audit figure",
        "total audit figure", "audit text", "second audit text"}},
      {"D", "document being issued", {"kind", "letter"}},
  };
  return modes;
}

int Probe(Session& s) {
  int refused = 0, answered = 0, fieldsAsDocumented = 0;
  bool refusalOnQuery = false, openMismatch = false, modeDTold = false;
  for (const ProbeMode& mode : ProbeModes()) {
    const plat::PrinterAnswer a = s.Run("Status", {plat::Utf8ToWide(mode.letter)});
    std::cout << "status request " << mode.letter << " (" << mode.title << "): printer status "
              << Word(a.PrinterStatus) << ", fiscal status " << Word(a.FiscalStatus);
    if (!a.Result) {
      ++refused;
      refusalOnQuery = true;
      std::cout << ", refused: " << Join(plat::DecodeFiscalStatus(a.FiscalStatus), "no reason")
                << "\n";
      continue;
    }
    ++answered;
    std::cout << ", " << a.Fields.size() << " fields\n";
    fieldsAsDocumented += a.Fields.size() == mode.fields.size();
    for (size_t i = 0; i < std::max(a.Fields.size(), mode.fields.size()); ++i) {
      const std::string name = i < mode.fields.size() ? mode.fields[i] : "(not documented)";
      std::cout << "  " << name << std::string(name.size() < 34 ? 34 - name.size() : 1, ' ')
                << (i < a.Fields.size() ? Field(a, i) : "(not answered)") << "\n";
    }
    if (std::string(mode.letter) == "D" && !a.Fields.empty()) {
      const bool open = plat::ReadState(a.PrinterStatus, a.FiscalStatus).DocumentOpen();
      const std::string kind = Field(a, 0);
      modeDTold = kind.size() == 1 && std::string("KTOHM").find(kind) != std::string::npos;
      openMismatch = open && !modeDTold;
    }
  }
  const auto verdict = [](const std::string& fact, const std::string& v) {
    std::cout << "  " << fact << std::string(fact.size() < 40 ? 40 - fact.size() : 1, ' ') << v
              << "\n";
  };
  const plat::CommandInfo& status = plat::Info(plat::Command::Status);
  std::cout << "assumed facts the answers check:\n";
  const auto* serial = dynamic_cast<const plat::SerialBackend*>(s.backend.get());
  const std::string line = "not checked: the printer is not on a serial line";
  const bool framed = serial && serial->GetStats().BytesReceived > 0;
  verdict("frame layout and checksum",
          framed ? "confirmed: every reply framed and its checksum held" : line);
  verdict("sequence number repeated in the reply",
          framed ? "confirmed: each reply carried its command's number" : line);
  verdict("status request command byte " + std::string("0x") + Word(status.Cmd).substr(2),
          !framed        ? line
          : answered > 0 ? "confirmed: the printer answered it"
                         : "not confirmed: the printer refused every mode");
  verdict("mode letters and reply fields",
          fieldsAsDocumented == static_cast<int>(ProbeModes().size())
              ? "agree: every mode answered the documented number of fields"
              : "differ: " +
                    std::to_string(static_cast<int>(ProbeModes().size()) - fieldsAsDocumented) +
                    " modes answered another number of fields than documented");
  verdict("refusal bits of the fiscal status",
          refusalOnQuery ? "doubtful: a status request, always allowed, read as refused"
                         : "consistent: no status request read as refused");
  verdict("document-open bits of the fiscal status",
          openMismatch ? "doubtful: the words say a document is open, mode D names none"
          : modeDTold  ? "consistent: mode D names the document the words show open"
                       : "not checked: no document is open");
  return refused ? kRefused : kDone;
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
  auto* probe = app.add_subcommand(
      "probe", "the printer's self-description, and what it confirms of the assumed link facts");
  auto* trace = app.add_subcommand("trace", "one command, with every frame on the line shown");
  trace->add_option("method", method, "the control's method (Status, SetGetDateTime, ...)")
      ->required();
  trace->add_option("fields", fields, "its fields");
  if (const auto end = cli::Parse(app, argc, argv)) return *end;
  try {
    if (trace->parsed()) return Trace(s, method, fields);
    s.Connect();
    if (status->parsed()) return Status(s);
    if (probe->parsed()) return Probe(s);
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
