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
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "printer/backend.h"
#include "printer/commands.h"
#include "printer/emulator.h"
#include "printer/link_decision.h"
#include "printer/link_trace.h"
#include "printer/serial_backend.h"
#include "printer/status.h"
#include "printer/variants.h"
#include "program/command_line.h"

namespace {

using cli::kDone;
using cli::kNoPrinter;
using cli::kUsage;
constexpr int kRefused = cli::kFailed;  // the printer answered and refused the command
constexpr int kHeld = cli::kFailed;     // another program (the print service) holds the printer

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
  std::cout << "X reading " << Field(a, plat::z_field::kNumber) << " printed\n";
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
  const std::string d = Field(a, plat::clock_field::kDate), t = Field(a, plat::clock_field::kTime);
  if (d.size() != 6 || t.size() != 6) {
    std::cerr << "fiscalctl: the printer's clock answer does not read: '" << d << "' '" << t
              << "'\n";
    return kNoPrinter;
  }
  std::cout << "20" << d.substr(0, 2) << "-" << d.substr(2, 2) << "-" << d.substr(4, 2) << " "
            << t.substr(0, 2) << ":" << t.substr(2, 2) << ":" << t.substr(4, 2) << "\n";
  return kDone;
}

// "YYYY-MM-DD" as the printer takes a date, YYMMDD; empty for anything else.
std::string PrinterDate(const std::string& text) {
  int y, mo, d;
  char end;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &end) != 3 || y < 2000 || y > 2099 ||
      mo < 1 || mo > 12 || d < 1 || d > 31)
    return "";
  char out[16];
  std::snprintf(out, sizeof out, "%02d%02d%02d", y % 100, mo, d);
  return out;
}

// A fiscal-memory report: the Z closings from one date to another, or from one Z number to
// another, as totals or closing by closing.
int Report(Session& s, const std::vector<std::string>& dates, const std::vector<int>& zs,
           bool detail) {
  const std::string kind(1, detail ? plat::report_kind::kDetailed : plat::report_kind::kTotals);
  const char* what = detail ? "closing by closing" : "totals";
  if (dates.empty() && zs.empty()) {
    std::cerr << "fiscalctl: report takes --dates FROM TO or --z FIRST LAST\n";
    return kUsage;
  }
  plat::PrinterAnswer a;
  std::string range;
  if (!dates.empty()) {
    const std::string from = PrinterDate(dates[0]), to = PrinterDate(dates[1]);
    if (from.empty() || to.empty() || from > to) {
      std::cerr << "fiscalctl: --dates takes two dates YYYY-MM-DD (years 2000 to 2099), the "
                   "first not after the second\n";
      return kUsage;
    }
    range = "by dates " + dates[0] + " to " + dates[1];
    a = s.Run("FiscalMemoryReportByDate",
              {plat::Utf8ToWide(from), plat::Utf8ToWide(to), plat::Utf8ToWide(kind)});
  } else {
    if (zs[0] > zs[1]) {
      std::cerr << "fiscalctl: --z takes the first Z number, then the last\n";
      return kUsage;
    }
    range = "by Z numbers " + std::to_string(zs[0]) + " to " + std::to_string(zs[1]);
    a = s.Run("FiscalMemoryReportByZ",
              {plat::Utf8ToWide(std::to_string(zs[0])), plat::Utf8ToWide(std::to_string(zs[1])),
               plat::Utf8ToWide(kind)});
  }
  if (!a.Result) return Refusal(a), kRefused;
  std::cout << "fiscal-memory report " << range << " (" << what << ") printed\n";
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
  // The frames go to the same stream as the answer lines: a second opening of standard output
  // would write over them when it is a file.
  s.Connect(plat::link::StreamTrace(stdout));
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

// The variant of the printer family the backend drives the printer as, and how it told.
std::optional<plat::variants::Told> ToldVariant(Session& s) {
  if (auto* serial = dynamic_cast<plat::SerialBackend*>(s.backend.get()))
    return serial->Variant(s.port);
  if (auto* emulator = dynamic_cast<plat::FiscalEmulator*>(s.backend.get()))
    return emulator->TellVariant();
  return std::nullopt;
}

// How many fields a mode answers in the variant's layout, as the control answers it.
size_t FieldsOf(const plat::variants::ModelVariant* v, const ProbeMode& mode) {
  const auto reply = plat::variants::ReplyOf(plat::Command::Status, {mode.letter});
  if (v == nullptr || !reply) return mode.fields.size();
  size_t n = 0;
  for (int place : v->Layout(*reply).Places) n += place >= 0;
  return n;
}

// The variant: which, why, the reply layouts it was told by, and what of it rests on an
// assumption.
void ProbeVariant(const std::optional<plat::variants::Told>& told) {
  if (!told || told->Variant == nullptr) {
    std::cout << "model variant: not told (the backend does not say)\n";
    return;
  }
  const plat::variants::ModelVariant& v = *told->Variant;
  std::cout << "model variant: " << v.Name
            << (told->Matched        ? ""
                : told->Seen.empty() ? " (not told)"
                                     : " (mismatch)")
            << ", " << v.About << "\n  told: " << told->Why << "\n";
  for (const auto& seen : told->Seen) std::cout << "  seen: " << seen << "\n";
  using plat::variants::Source;
  // Each fact with its source, and whether this probe checked it against the printer: only
  // the status replies print nothing; the rest shows on a document.
  const auto mark = [](const std::string& what, Source from, const std::string& value,
                       const char* checked = "not checked here: a document shows it") {
    std::cout << "  " << what << std::string(what.size() < 38 ? 38 - what.size() : 1, ' ') << value
              << " (" << plat::facts::Name(from) << "; " << checked << ")\n";
  };
  std::cout << "the variant's facts, with their sources:\n";
  mark("item description, ticket", v.TicketItemText.From, std::to_string(v.TicketItemText.Value));
  mark("item description, invoice", v.InvoiceItemText.From,
       std::to_string(v.InvoiceItemText.Value));
  mark("payment description", v.PaymentText.From, std::to_string(v.PaymentText.Value));
  mark("ticket payment amount digits", v.TicketAmountDigits.From,
       std::to_string(v.TicketAmountDigits.Value));
  mark("invoice payment amount digits", v.InvoiceAmountDigits.From,
       std::to_string(v.InvoiceAmountDigits.Value));
  mark("payments per document", v.MaxPayments.From, std::to_string(v.MaxPayments.Value));
  std::string names;
  for (const char* n : v.KnownNames.Value)
    names += (names.empty() ? "'" : ", '") + std::string(n) + "'";
  const bool named = told->Why.rfind("status mode P names it", 0) == 0;
  mark("names in status mode P", v.KnownNames.From, names,
       told->Seen.empty() ? "not checked: the printer was not asked"
       : named            ? "checked: the printer gives one"
                          : "checked: the printer gives none of them");
  for (size_t r = 0; r < plat::variants::kReplies; ++r) {
    const auto reply = static_cast<plat::variants::Reply>(r);
    const std::string name = plat::variants::ReplyName(reply);
    const bool seen = std::any_of(told->Seen.begin(), told->Seen.end(), [&](const auto& line) {
      return line.rfind(name + ": ", 0) == 0 && line.find("refused") == std::string::npos;
    });
    mark(name + " reply", v.Layout(reply).From, std::to_string(v.Layout(reply).Fields) + " fields",
         seen ? (told->Matched ? "checked: as answered" : "checked: see told")
         : reply == plat::variants::Reply::StatusD ? "checked above: mode D"
         : reply == plat::variants::Reply::Closing ? "not checked here: a closing prints"
                                                   : "not checked here: a document shows it");
  }
}

int Probe(Session& s) {
  int refused = 0, answered = 0, fieldsAsDocumented = 0;
  // The first answer reaches the printer; the link has told its variant by then.
  std::optional<plat::variants::Told> told;
  bool refusalOnQuery = false, openMismatch = false, modeDTold = false;
  for (const ProbeMode& mode : ProbeModes()) {
    const plat::PrinterAnswer a = s.Run("Status", {plat::Utf8ToWide(mode.letter)});
    if (!told) told = ToldVariant(s);
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
    fieldsAsDocumented += a.Fields.size() == FieldsOf(told ? told->Variant : nullptr, mode);
    for (size_t i = 0; i < std::max(a.Fields.size(), mode.fields.size()); ++i) {
      const std::string name = i < mode.fields.size() ? mode.fields[i] : "(not documented)";
      std::cout << "  " << name << std::string(name.size() < 34 ? 34 - name.size() : 1, ' ')
                << (i < a.Fields.size() ? Field(a, i) : "(not answered)") << "\n";
    }
    if (std::string(mode.letter) == "D" && !a.Fields.empty()) {
      const bool open = plat::ReadState(a.PrinterStatus, a.FiscalStatus).DocumentOpen();
      const std::string kind = Field(a, plat::status_d::kKind);
      modeDTold =
          kind.size() == 1 && plat::status_d::kKinds.find(kind[0]) != std::string_view::npos;
      openMismatch = open && !modeDTold;
    }
  }
  const auto verdict = [](const std::string& fact, const std::string& v) {
    std::cout << "  " << fact << std::string(fact.size() < 40 ? 40 - fact.size() : 1, ' ') << v
              << "\n";
  };
  const plat::CommandInfo& status = plat::Info(plat::Command::Status);
  std::cout << "facts the answers check against the printer:\n";
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
  ProbeVariant(told);
  return refused ? kRefused : kDone;
}

// The name and command line of a running process, from /proc; empty when it is gone.
std::string ProcFile(const std::string& pid, const char* file) {
  std::ifstream in("/proc/" + pid + "/" + file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  return text;
}

// Where a print service listens, from its command line (--listen HOST:PORT), else its default.
std::string ServiceAddress(const std::string& pid) {
  std::vector<std::string> args;
  std::istringstream in(ProcFile(pid, "cmdline"));
  for (std::string a; std::getline(in, a, '\0');) args.push_back(a);
  std::string listen = "127.0.0.1:8520";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--listen" && i + 1 < args.size()) listen = args[i + 1];
    if (args[i].rfind("--listen=", 0) == 0) listen = args[i].substr(9);
  }
  if (listen.rfind("0.0.0.0:", 0) == 0) listen = "127.0.0.1" + listen.substr(7);
  return listen;
}

// Another program holds the printer's line: nothing was sent. When it is the print service, the
// printer is asked through the service instead.
int HeldByAnother(const std::string& message) {
  const std::string marker = "in use by process ";
  const size_t at = message.find(marker);
  const std::string pid =
      at == std::string::npos
          ? ""
          : message.substr(at + marker.size(),
                           message.find(' ', at + marker.size()) - at - marker.size());
  if (!pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos &&
      ProcFile(pid, "comm") == "fiscal-printd") {
    std::cerr << "fiscalctl: the print service fiscal-printd (process " << pid
              << ") holds the printer; ask the service instead:\n"
              << "  curl -s http://" << ServiceAddress(pid) << "/v1/status\n"
              << "(with -H 'Authorization: Bearer <token>' when it has a token), or stop the "
                 "service while using fiscalctl\n";
  } else {
    std::cerr << "fiscalctl: " << message << "; nothing was sent\n";
  }
  return kHeld;
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
      "Exit status: 0 done, 1 the printer refused or another program (the print service)\n"
      "holds it, 2 a wrong command line, 3 the printer cannot be reached.",
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
      "probe", "the printer's self-description, and which of the link facts its answers confirm");
  std::vector<std::string> dates;
  std::vector<int> zs;
  bool detail = false;
  auto* report = app.add_subcommand(
      "report", "a fiscal-memory report of the Z closings in a range of dates or of Z numbers");
  auto* byDates = report->add_option("--dates", dates, "from one date to another")
                      ->expected(2)
                      ->type_name("YYYY-MM-DD YYYY-MM-DD");
  report->add_option("--z", zs, "from one Z number to another")
      ->expected(2)
      ->check(CLI::Range(1, 9999))
      ->type_name("FIRST LAST")
      ->excludes(byDates);
  report->add_flag("--detail", detail, "each Z closing, not only the totals");
  report->require_option(1, 2);
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
    if (report->parsed()) return Report(s, dates, zs, detail);
  } catch (const plat::ELinkError& e) {
    if (e.Kind() == plat::LinkFault::DeviceInUse)
      return HeldByAnother(plat::AnsiToUtf8(e.Message()));
    std::cerr << "fiscalctl: " << plat::AnsiToUtf8(e.Message()) << "\n";
    return kNoPrinter;
  } catch (const plat::Exception& e) {
    std::cerr << "fiscalctl: " << plat::AnsiToUtf8(e.Message()) << "\n";
    return kNoPrinter;
  }
  return kUsage;
}
