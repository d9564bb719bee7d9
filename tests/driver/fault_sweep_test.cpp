// SPDX-License-Identifier: Apache-2.0
// Fault sweep over every entry point that talks to the printer. Each scenario runs once
// cleanly, then once for every command it sends with that command refused, once with it
// raising, and once for every log line it writes with that write failing half-way. Each run
// checks how the failure surfaced (error dialog with the call's colour scheme, or an exception
// with its message for the entry points without a handler), what still runs after the handler,
// that the log holds whole lines only, that the commands sent are a part of the clean run's, and
// that the same call works again afterwards on the same driver.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/dataset.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/os.h"
#include "platform/support.h"
#include "platform/testing/hooks.h"
#include "tests/closing/day_closing_support.h"
#include "tests/support/harness.h"
#include "tests/support/host_data.h"

namespace {

using plat::AnsiString;
using plat::FieldType;
using plat::Variant;
using testhost::DriverHost;
using Texts = std::vector<std::string>;

// ---- Host-side material ---------------------------------------------------------------------

// The sale's bundles, each call with a colour scheme of its own.
Variant OpenBundle(const AnsiString& kind) {
  return testhost::OpenBundle(kind, {{"ESQUEMACOR", "SCH-OPEN"}, {"INTTEFERRO", "7"}});
}

Variant ItemBundle(const AnsiString& kind) {
  return testhost::ItemBundle("Item", 2.0, 25.0, kind, "21", {{"ESQUEMACOR", "SCH-ITEM"}});
}

// Opens a document of the kind and sells 2 x 25 on it.
void OpenWithItem(DriverHost& host, const AnsiString& kind) {
  Variant open = OpenBundle(kind);
  ASSERT_TRUE(CALL(host, AbreCupom)(open));
  ASSERT_TRUE(CALL(host, VendaItem)(ItemBundle(kind)));
}

// The closing array: a discount of 5 and two payments, 20 and 25, for a sale of 50.
ArfisOpenArray CloseArray(const AnsiString& kind) {
  const Variant movements =
      testhost::MoneyMovements(
          {{"E", "", "1", "", 20.0}, {"S", "", "1", "", 99.0}, {"E", "VISA", "9", "2", 25.0}})
          ->Data();
  return testhost::CloseArray(
      "SCH-CLOSE", kind, 5, movements,
      testhost::ReceiptTypes({{"1", "Efectivo"}, {"2", "Tarjeta"}})->Data());
}

Variant EmptyAnswer() {
  return plat::VarArrayOf({Variant(), Variant(), Variant()});
}

Variant QueryBundle() {
  return plat::MakeBundle({{"ESQUEMA", "SCH-DATA"},
                           {"DATAATUIMP", "S"},
                           {"ECFIMP", "0003"},
                           {"REDIMP", "12"},
                           {"SERIEIMP", "SER-1"},
                           {"DATAIMP", "01/01/26 00:00"}});
}

void WriteSettings(DriverHost& host) {
  testhost::MakeDataSet(
      {{"NRECFCAIXA", FieldType::String, 40}, {"NRSERIEECF", FieldType::String, 40}},
      {{plat::Cripto("0042", 7), plat::Cripto("SERIE-9", 7)}})
      ->SaveToFile(host.PathOf("Quorilo.cds"));
}

void WriteSale(DriverHost& host) {
  testhost::MakeDataSet({{"NRITEM", FieldType::Integer, 0}, {"VRPRECCOMVEN", FieldType::Float, 0}},
                        {{1, 30.5}, {2, 19.5}})
      ->SaveToFile(host.PathOf("cdsVenda.cds"));
}

std::unique_ptr<plat::TClientDataSet> ProductRows() {
  return closingtest::Products({{"1", "AGUA", 2.0, 20.0, 1.0, 0.5, "T", 21.0},
                                {"2", "PAN", 1.0, 5.0, 0.0, 0.0, "I", 0.0},
                                {"3", "VINO", 1.0, 30.0, 0.0, 1.0, "T", 21.0}});
}

// Keys of a bundle, in order, and the value under one key.
Texts BundleKeys(const Variant& bundle) {
  Texts keys;
  if (!bundle.IsArray()) return keys;
  for (int i = 0; i < bundle.Count(); ++i) keys.push_back(bundle[i][0].AsString());
  return keys;
}
AnsiString BundleValue(const Variant& bundle, const AnsiString& key) {
  return plat::RecebeParams(bundle, key).AsString();
}

// ---- What a run gives and what is expected of it --------------------------------------------

enum class Fault { Refuse, Raise, Log };

const char* FaultName(Fault f) {
  switch (f) {
    case Fault::Refuse:
      return "refused command";
    case Fault::Raise:
      return "raising command";
    case Fault::Log:
      return "failing log write";
  }
  return "";
}

// Values a call hands over and gets back, kept for the checks after it.
struct Ctx {
  Variant bundle;
  Variant answer;
  bool flag = false;
  plat::TDateTime date = 0;
  std::shared_ptr<closingtest::Closing> closing;
};

struct Outcome {
  std::optional<bool> answer;  // none for entry points without a result, or when it raised
  bool raised = false;
  AnsiString message;
};

// How a failure surfaces.
enum class Surface {
  None,     // no exception, no error dialog
  Caught,   // one error dialog with the call's colour scheme; nothing escapes
  Escapes,  // the failure reaches the host as an exception; no error dialog
};

struct Expect {
  Surface surface = Surface::None;
  std::optional<bool> answer;  // checked when set
  bool anyMessage = false;     // the failure's text is not the injected one (a later step)
};

Expect Clean(std::optional<bool> answer) {
  return {Surface::None, answer, false};
}
Expect Caught(std::optional<bool> answer) {
  return {Surface::Caught, answer, false};
}
Expect Escapes() {
  return {Surface::Escapes, std::nullopt, false};
}

// Entry points with one handler around their printer steps.
Expect GuardedPolicy(Fault f, int) {
  return f == Fault::Refuse ? Clean(false) : Caught(false);
}
// Entry points without a handler.
Expect UnguardedPolicy(Fault f, int) {
  return f == Fault::Refuse ? Clean(false) : Escapes();
}

struct Scenario {
  std::string name;
  AnsiString scheme;  // colour scheme of the error dialog
  bool started = true;
  std::function<void(DriverHost&)> setup;  // run cleanly before the call; not counted
  std::function<std::optional<bool>(DriverHost&, Ctx&)> call;
  std::optional<bool> cleanAnswer;
  std::function<Expect(Fault, int)> expect;
  // Checks that hold after every call that did not raise (what runs after the handler); k is 0
  // for the clean run.
  std::function<void(DriverHost&, const Ctx&, const Outcome&, Fault, int k)> after;
  // Commands sent when the k-th (1-based) is refused, given the clean count; unset = unchecked.
  std::function<size_t(int k, size_t clean)> refusedCommands;
  // A raising command ends the call there (false where inner handlers let the flow go on).
  bool stopsAtRaise = true;
};

// ---- Running ---------------------------------------------------------------------------------

struct Recording {
  Outcome outcome;
  Texts commands;
  std::vector<AnsiString> log;
  std::string rawLog;  // the log file's bytes
  std::vector<plat::MensagemCall> errors;
  size_t questions = 0;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Resets the host to a fresh printer with an empty log, then runs the setup cleanly.
void Prepare(DriverHost& host, const Scenario& s) {
  plat::SetAppendFailureForTesting(0);
  host.Emu().ClearRules();
  host.Emu().Model() = plat::FiscalPrinterModel();
  if (s.setup) s.setup(host);
  host.Emu().ClearJournal();
  host.ClearLog();
  host.dialogs.clear();
  host.answers.clear();
}

Recording Run(DriverHost& host, const Scenario& s, Ctx& ctx) {
  Recording r;
  try {
    r.outcome.answer = s.call(host, ctx);
  } catch (const plat::Exception& e) {
    r.outcome.raised = true;
    r.outcome.message = e.Message();
  } catch (const std::exception& e) {
    r.outcome.raised = true;
    r.outcome.message = std::string("non-platform exception: ") + e.what();
  }
  plat::SetAppendFailureForTesting(0);
  host.Emu().ClearRules();
  r.commands = host.CommandTexts();
  r.log = host.Log();
  r.rawLog = ReadFile(host.LogPath());
  for (const auto& d : host.dialogs) {
    if (d.Kind == plat::tmErro)
      r.errors.push_back(d);
    else
      ++r.questions;
  }
  return r;
}

bool IsSubsequence(const Texts& part, const Texts& whole) {
  size_t j = 0;
  for (const auto& p : part) {
    while (j < whole.size() && whole[j] != p) ++j;
    if (j == whole.size()) return false;
    ++j;
  }
  return true;
}

// Every line of the log file is whole: the date prefix, and CR LF at its end.
void ExpectWholeLines(const std::string& raw, const std::string& where) {
  if (raw.empty()) return;
  const plat::TFormatSettings& fs = plat::FormatSettings();
  const plat::TDateTime now = plat::Now();
  const std::string prefix = plat::FormatDateTime(fs.ShortDateFormat, now) + " " +
                             plat::FormatDateTime(fs.LongTimeFormat, now) + " - ";
  EXPECT_EQ(raw.substr(raw.size() >= 2 ? raw.size() - 2 : 0), "\r\n")
      << where << ": the log ends in a partial line";
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find("\r\n", start);
    if (end == std::string::npos) end = raw.size();
    EXPECT_EQ(raw.compare(start, prefix.size(), prefix), 0)
        << where << ": log line without its date prefix: "
        << raw.substr(start, std::min<size_t>(end - start, 80));
    start = end + 2;
  }
}

void CheckFaultyRun(const Scenario& s, Fault f, int k, const Recording& clean, const Recording& r,
                    const Ctx& ctx, DriverHost& host) {
  const std::string where = s.name + ", " + FaultName(f) + " " + std::to_string(k);
  const Expect e = s.expect(f, k);
  const AnsiString injected = "boom " + std::to_string(k);

  auto messageMatches = [&](const AnsiString& m) {
    if (e.anyMessage || f == Fault::Refuse) return !m.empty();
    if (f == Fault::Raise) return m == injected;
    return m.find("forced failure") != AnsiString::npos;
  };

  switch (e.surface) {
    case Surface::None:
      EXPECT_FALSE(r.outcome.raised) << where << ": " << r.outcome.message;
      EXPECT_TRUE(r.errors.empty()) << where << ": " << r.errors.front().Text;
      break;
    case Surface::Caught:
      EXPECT_FALSE(r.outcome.raised) << where << ": escaped with " << r.outcome.message;
      ASSERT_EQ(r.errors.size(), 1u) << where;
      EXPECT_TRUE(messageMatches(r.errors[0].Text)) << where << ": " << r.errors[0].Text;
      EXPECT_EQ(r.errors[0].Scheme, s.scheme) << where;
      EXPECT_EQ(r.errors[0].Arg3, "N") << where;
      EXPECT_EQ(r.errors[0].Arg4, "N") << where;
      break;
    case Surface::Escapes:
      EXPECT_TRUE(r.outcome.raised) << where;
      EXPECT_TRUE(messageMatches(r.outcome.message)) << where << ": " << r.outcome.message;
      EXPECT_TRUE(r.errors.empty()) << where;
      break;
  }
  if (e.answer && !r.outcome.raised) {
    EXPECT_EQ(r.outcome.answer, e.answer) << where;
  }
  if (!r.outcome.raised && s.after) s.after(host, ctx, r.outcome, f, k);

  // Commands: never one the clean run would not send, in the same order; up to the failing
  // command exactly the clean run's.
  EXPECT_TRUE(IsSubsequence(r.commands, clean.commands)) << where;
  if (f != Fault::Log) {
    const size_t upTo = std::min<size_t>(static_cast<size_t>(k), clean.commands.size());
    ASSERT_GE(r.commands.size(), upTo) << where;
    EXPECT_TRUE(
        std::equal(clean.commands.begin(), clean.commands.begin() + upTo, r.commands.begin()))
        << where;
  }
  if (f == Fault::Raise && s.stopsAtRaise) {
    EXPECT_EQ(r.commands.size(), size_t(k)) << where;
  }
  if (f == Fault::Refuse && s.refusedCommands) {
    EXPECT_EQ(r.commands.size(), s.refusedCommands(k, clean.commands.size())) << where;
  }

  // Log: whole lines; a failing write leaves the lines before it and not itself.
  ExpectWholeLines(r.rawLog, where);
  if (f != Fault::Refuse) {
    EXPECT_TRUE(IsSubsequence(r.log, clean.log)) << where;
  }
  if (f == Fault::Log) {
    ASSERT_GE(r.log.size(), size_t(k - 1)) << where;
    EXPECT_TRUE(std::equal(clean.log.begin(), clean.log.begin() + (k - 1), r.log.begin())) << where;
  }
}

// The same call again on the same driver, with a fresh printer: nothing of the failure stays.
void CheckRecovery(DriverHost& host, const Scenario& s, const Recording& clean,
                   const std::string& where) {
  Prepare(host, s);
  Ctx ctx;
  const Recording again = Run(host, s, ctx);
  EXPECT_FALSE(again.outcome.raised) << where << " then again: " << again.outcome.message;
  EXPECT_EQ(again.outcome.answer, clean.outcome.answer) << where << " then again";
  EXPECT_EQ(again.commands, clean.commands) << where << " then again";
  EXPECT_EQ(again.log, clean.log) << where << " then again";
  EXPECT_TRUE(again.errors.empty()) << where << " then again";
  EXPECT_EQ(again.questions, clean.questions) << where << " then again";
}

void Sweep(const Scenario& s) {
  SCOPED_TRACE(s.name);
  Recording clean;
  {
    DriverHost host(s.started);
    Prepare(host, s);
    Ctx ctx;
    clean = Run(host, s, ctx);
    ASSERT_FALSE(clean.outcome.raised) << s.name << " clean: " << clean.outcome.message;
    ASSERT_TRUE(clean.errors.empty()) << s.name << " clean: " << clean.errors.front().Text;
    EXPECT_EQ(clean.outcome.answer, s.cleanAnswer) << s.name << " clean";
    ExpectWholeLines(clean.rawLog, s.name + " clean");
    if (s.after) s.after(host, ctx, clean.outcome, Fault::Refuse, 0);
    ASSERT_FALSE(clean.commands.empty() && clean.log.empty()) << s.name << ": nothing to sweep";
  }

  auto runOne = [&](Fault f, int k) {
    DriverHost host(s.started);
    Prepare(host, s);
    switch (f) {
      case Fault::Refuse:
        host.Emu().RefuseNth(k);
        break;
      case Fault::Raise:
        host.Emu().RaiseNth(k, "boom " + std::to_string(k));
        break;
      case Fault::Log:
        plat::SetAppendFailureForTesting(k);
        break;
    }
    Ctx ctx;
    const Recording r = Run(host, s, ctx);
    CheckFaultyRun(s, f, k, clean, r, ctx, host);
    CheckRecovery(host, s, clean, s.name + ", " + FaultName(f) + " " + std::to_string(k));
  };

  const int commands = static_cast<int>(clean.commands.size());
  const int lines = static_cast<int>(clean.log.size());
  for (int k = 1; k <= commands; ++k) {
    runOne(Fault::Refuse, k);
    runOne(Fault::Raise, k);
  }
  for (int k = 1; k <= lines; ++k) runOne(Fault::Log, k);
}

// ---- The scenarios ---------------------------------------------------------------------------

void ExpectSixPairs(const Ctx& ctx) {
  EXPECT_EQ(BundleKeys(ctx.bundle), (Texts{"INTTEFERRO", "INCLUICPF", "INCLUINOME",
                                           "INCLUIENDERECO", "CUPNR", "CONTCUPOM"}));
  if (BundleKeys(ctx.bundle).size() == 6) {
    EXPECT_EQ(ctx.bundle[0][1], Variant(7));
    EXPECT_EQ(BundleValue(ctx.bundle, "INCLUINOME"), "Juan");
  }
}

Scenario OpenScenario(const AnsiString& kind) {
  Scenario s;
  s.name = "AbreCupom " + kind;
  s.scheme = "SCH-OPEN";
  s.call = [kind](DriverHost& host, Ctx& ctx) -> std::optional<bool> {
    ctx.bundle = OpenBundle(kind);
    return CALL(host, AbreCupom)(ctx.bundle);
  };
  s.cleanAnswer = true;
  s.expect = GuardedPolicy;
  s.after = [](DriverHost&, const Ctx& ctx, const Outcome&, Fault, int) { ExpectSixPairs(ctx); };
  return s;
}

Scenario ItemScenario(const AnsiString& kind) {
  Scenario s;
  s.name = "VendaItem " + kind;
  s.scheme = "SCH-ITEM";
  s.setup = [kind](DriverHost& host) {
    Variant open = OpenBundle(kind);
    ASSERT_TRUE(CALL(host, AbreCupom)(open));
  };
  s.call = [kind](DriverHost& host, Ctx&) -> std::optional<bool> {
    return CALL(host, VendaItem)(ItemBundle(kind));
  };
  s.cleanAnswer = true;
  s.expect = GuardedPolicy;
  return s;
}

Scenario CancelItemScenario() {
  Scenario s;
  s.name = "Cancela_ItGenerico";
  s.scheme = "SCH-CANCEL-ITEM";
  s.setup = [](DriverHost& host) { OpenWithItem(host, "T"); };
  s.call = [](DriverHost& host, Ctx&) -> std::optional<bool> {
    return CALL(host, Cancela_ItGenerico)("SCH-CANCEL-ITEM", "", u"Item", u"21", u"m", u"0", u"0",
                                          u"0", u"T", 1, 25);
  };
  s.cleanAnswer = true;
  s.expect = GuardedPolicy;
  return s;
}

Scenario CloseScenario(const AnsiString& kind) {
  Scenario s;
  s.name = "FechaCupom " + kind;
  s.scheme = "SCH-CLOSE";
  s.setup = [kind](DriverHost& host) { OpenWithItem(host, kind); };
  s.call = [kind](DriverHost& host, Ctx& ctx) -> std::optional<bool> {
    ctx.answer = EmptyAnswer();
    return CALL(host, FechaCupom)(CloseArray(kind), nullptr, ctx.answer);
  };
  s.cleanAnswer = true;
  s.expect = [](Fault f, int k) {
    // "FechaCupom" is logged before the handler.
    if (f == Fault::Log && k == 1) return Escapes();
    if (f == Fault::Refuse) {
      // A refused subtotal is replaced by the discount's answer; with the first payment
      // refused the second is still sent, but the printer will not close an unpaid document.
      return Clean(k == 1);
    }
    return Caught(false);
  };
  s.after = [](DriverHost&, const Ctx& ctx, const Outcome&, Fault, int) {
    EXPECT_EQ(ctx.answer, plat::VarArrayOf({Variant(0), Variant("00000042"), Variant("")}));
  };
  // Subtotal, discount, two payments, closing: a refused discount or last payment stops the
  // sequence; a refused subtotal or first payment does not.
  s.refusedCommands = [](int k, size_t) -> size_t {
    switch (k) {
      case 2:
        return 2;
      case 4:
        return 4;
      default:
        return 5;
    }
  };
  return s;
}

Scenario CancelScenario() {
  Scenario s;
  s.name = "Cancela_Cupom_Imp";
  s.scheme = "";
  s.setup = [](DriverHost& host) {
    OpenWithItem(host, "T");
    WriteSale(host);
  };
  s.call = [](DriverHost& host, Ctx& ctx) -> std::optional<bool> {
    ctx.answer = plat::VarArrayOf({Variant("keep")});
    return CALL(host, Cancela_Cupom_Imp)(ArfisOpenArray(43), ctx.answer);
  };
  s.cleanAnswer = true;
  s.expect = UnguardedPolicy;
  s.after = [](DriverHost& host, const Ctx& ctx, const Outcome&, Fault, int) {
    EXPECT_EQ(ctx.answer, plat::VarArrayOf({Variant("keep")}));
    EXPECT_TRUE(host.Log().empty());
  };
  return s;
}

Scenario DrawerScenario() {
  Scenario s;
  s.name = "Abre_Gaveta_Imp";
  s.call = [](DriverHost& host, Ctx&) -> std::optional<bool> {
    return CALL(host, Abre_Gaveta_Imp)("", true);
  };
  s.cleanAnswer = true;
  s.expect = UnguardedPolicy;
  return s;
}

Scenario StatusScenario() {
  Scenario s;
  s.name = "Estado_Imp";
  s.call = [](DriverHost& host, Ctx&) -> std::optional<bool> {
    return CALL(host, Estado_Imp)("", true, true);
  };
  s.cleanAnswer = true;
  s.expect = UnguardedPolicy;
  return s;
}

Scenario ClockScenario() {
  Scenario s;
  s.name = "VerificaData";
  s.scheme = "SCH-DATE";
  s.call = [](DriverHost& host, Ctx& ctx) -> std::optional<bool> {
    return CALL(host, VerificaData)("SCH-DATE", ctx.date, "", "01/02/26 03:04", false);
  };
  s.cleanAnswer = true;
  s.expect = [](Fault f, int) {
    // A refused clock read leaves " ", which is no date: that conversion reaches the host.
    if (f == Fault::Refuse) return Expect{Surface::Escapes, std::nullopt, true};
    // The clock read has its own handler; the host's own text is converted then.
    return Caught(true);
  };
  s.after = [](DriverHost&, const Ctx& ctx, const Outcome& o, Fault, int) {
    if (o.answer != true) return;
    const plat::TDateTime clock = plat::EncodeDate(2026, 12, 8) + plat::EncodeTime(10, 0, 0);
    const plat::TDateTime host = plat::EncodeDate(2026, 2, 1) + plat::EncodeTime(3, 4, 0);
    EXPECT_TRUE(std::abs(ctx.date - clock) < 1e-6 || std::abs(ctx.date - host) < 1e-6) << ctx.date;
  };
  return s;
}

Scenario IdentityScenario() {
  Scenario s;
  s.name = "Carrega_Dados_Impressora";
  s.scheme = "SCH-DATA";
  s.setup = WriteSettings;
  s.call = [](DriverHost& host, Ctx& ctx) -> std::optional<bool> {
    ctx.bundle = QueryBundle();
    return CALL(host, Carrega_Dados_Impressora)(ctx.bundle);
  };
  s.cleanAnswer = true;
  // The clock read has its own handler: the answer stays True and the bundle comes back.
  s.expect = [](Fault f, int) { return f == Fault::Refuse ? Clean(true) : Caught(true); };
  s.after = [](DriverHost& host, const Ctx& ctx, const Outcome&, Fault f, int k) {
    EXPECT_EQ(BundleKeys(ctx.bundle),
              (Texts{"DATAATUIMP", "ECFIMP", "REDIMP", "SERIEIMP", "DATAIMP"}));
    EXPECT_EQ(BundleValue(ctx.bundle, "ECFIMP"), "0042");
    EXPECT_EQ(BundleValue(ctx.bundle, "SERIEIMP"), "SERIE-9");
    // The printer's clock; the host's own value after a failure inside the clock read; what
    // the control left in the arguments after a refusal.
    const AnsiString date = BundleValue(ctx.bundle, "DATAIMP");
    if (k == 0) {
      EXPECT_EQ(date, "08/12/26 10:00");
    } else {
      EXPECT_EQ(date, f == Fault::Refuse ? " " : "01/01/26 00:00");
    }
    EXPECT_EQ(*host.Package().Get<AnsiString>("nrECF"), "0042");
  };
  return s;
}

Scenario NumberScenario() {
  Scenario s;
  s.name = "Nr_Cupom";
  // The X reading answers its number (a ticket's opening answers none).
  s.setup = [](DriverHost& host) { ASSERT_TRUE(CALL(host, Leitura_X_Imp)("", "ESQ", "")); };
  s.call = [](DriverHost& host, Ctx&) -> std::optional<bool> {
    return CALL(host, Nr_Cupom)("", "") == "00001";
  };
  s.cleanAnswer = true;
  s.expect = UnguardedPolicy;
  return s;
}

Scenario SupplyScenario() {
  Scenario s;
  s.name = "Suprimento";
  s.scheme = "SCH-SUP";
  s.call = [](DriverHost& host, Ctx&) -> std::optional<bool> {
    return CALL(host, Suprimento)("", "SCH-SUP", 150, false);
  };
  s.cleanAnswer = true;
  s.expect = GuardedPolicy;
  return s;
}

Scenario XScenario() {
  Scenario s;
  s.name = "Leitura_X_Imp";
  s.scheme = "SCH-X";
  s.call = [](DriverHost& host, Ctx&) -> std::optional<bool> {
    return CALL(host, Leitura_X_Imp)("COM1", "SCH-X", "");
  };
  s.cleanAnswer = true;
  s.expect = GuardedPolicy;
  return s;
}

// The Z data file, when there is one, is whole: it loads and holds one row.
void ExpectZFileWhole(DriverHost& host) {
  const std::string path = host.PathOf("REDUCAOZ_MP35.CDS");
  if (!plat::FileExists(path)) return;
  plat::TClientDataSet cds("z");
  EXPECT_NO_THROW(cds.LoadFromFile(path));
  EXPECT_EQ(cds.RecordCount(), 1);
}

Scenario ZScenario() {
  Scenario s;
  s.name = "Reducao_Z_Imp";
  s.scheme = "SCH-Z";
  s.call = [](DriverHost& host, Ctx&) -> std::optional<bool> {
    return CALL(host, Reducao_Z_Imp)("COM1", "SCH-Z", "");
  };
  s.cleanAnswer = true;
  s.expect = [](Fault f, int) {
    // A refused reduction captures nothing: False, with no dialog.
    if (f == Fault::Refuse) return Clean(false);
    return Caught(false);
  };
  s.after = [](DriverHost& host, const Ctx&, const Outcome&, Fault f, int k) {
    ExpectZFileWhole(host);
    if (f == Fault::Refuse && k > 0) {  // k 0: the clean run
      EXPECT_FALSE(plat::FileExists(host.PathOf("REDUCAOZ_MP35.CDS")));
    }
  };
  return s;
}

Scenario ProductScenario(const AnsiString& layout) {
  Scenario s;
  s.name = "Relatorio_Produto " + layout;
  s.scheme = "SCH-PROD";
  s.call = [layout](DriverHost& host, Ctx& ctx) -> std::optional<bool> {
    AnsiString cupomDia = "000123";
    auto products = ProductRows();
    ctx.flag = false;
    CALL(host, Relatorio_Produto)
    ("COM1", "", "SER", "01", "02", cupomDia, products.get(), "N", layout, "SCH-PROD", ctx.flag);
    EXPECT_EQ(cupomDia, "000123");
    return std::nullopt;
  };
  s.expect = [](Fault f, int k) {
    if (f == Fault::Log && k == 1) return Escapes();  // logged before the handler
    return f == Fault::Refuse ? Clean(std::nullopt) : Caught(std::nullopt);
  };
  s.after = [](DriverHost&, const Ctx& ctx, const Outcome&, Fault f, int k) {
    // The flag turns True once the caller's document is closed, before the report's own.
    const bool beforeFlag = (f == Fault::Raise && k == 1) || (f == Fault::Log && k == 2);
    EXPECT_EQ(ctx.flag, k == 0 || !beforeFlag);
  };
  // Printer answers are never looked at: every line is sent whatever the printer said.
  s.refusedCommands = [](int, size_t clean) { return clean; };
  return s;
}

Scenario ClosingScenario() {
  Scenario s;
  s.name = "GeraReciboSangria";
  s.scheme = "ESQ";
  s.call = [](DriverHost& host, Ctx& ctx) -> std::optional<bool> {
    auto c = std::make_shared<closingtest::Closing>();
    ctx.closing = c;
    c->boSangria = false;
    c->boImpRelSan = true;
    c->impLeituraX = "S";
    c->emiRelProd = "N";
    c->tribRelPro = "S";
    c->envelope = "S";
    c->tipoSangria = "Fin de turno";
    c->descSangria = "Caja 2";
    c->movFecha = closingtest::MovFecha(
        {{"001", "000001", "DINHEIRO", 150.5, 140.0}, {"002", "000002", "TARJETA", 80.0, 80.0}});
    c->prod = ProductRows();
    c->prodFech = ProductRows();
    c->movAbertura = closingtest::Movements(
        {{"1", "DINHEIRO", 500.0}, {"2", "", 20.0}, {"3", "", 100.0}, {"4", "", 50.0}});
    c->movTot = closingtest::Movements({{"1", "DINHEIRO", 500.0}, {"5", "TARJETA", 300.0}});
    // Not open the till again; take the Z reduction; print the closing reports.
    host.answers = {false, true, true};
    const bool r = c->Run(host);
    return r;
  };
  s.cleanAnswer = false;
  s.expect = [](Fault f, int k) {
    if (f == Fault::Log && k == 1) return Escapes();  // logged before the handler
    return f == Fault::Refuse ? Clean(false) : Caught(false);
  };
  s.after = [](DriverHost&, const Ctx& ctx, const Outcome&, Fault, int) {
    EXPECT_EQ(ctx.closing->cupomDia, "000123");
    EXPECT_EQ(ctx.closing->redz, reinterpret_cast<plat::TClientDataSet*>(0x10));
    EXPECT_EQ(ctx.closing->formRedz, nullptr);
  };
  s.refusedCommands = [](int, size_t clean) { return clean; };
  // The X reading and the product reports have handlers of their own: the closing goes on.
  s.stopsAtRaise = false;
  return s;
}

Scenario StartScenario() {
  Scenario s;
  s.name = "StartImpFiscal";
  s.scheme = "SCH-START";
  s.started = false;
  s.call = [](DriverHost& host, Ctx&) -> std::optional<bool> {
    return host.Start("COM3", "SCH-START");
  };
  s.cleanAnswer = true;
  s.expect = GuardedPolicy;
  return s;
}

// One test per scenario, so that a fault names its entry point.
// A scenario is built inside its own test, so that its host-side objects live there.
struct ScenarioMaker {
  const char* name;
  std::function<Scenario()> make;
};
void PrintTo(const ScenarioMaker& m, std::ostream* os) {
  *os << m.name;
}

class FaultSweep : public ::testing::TestWithParam<ScenarioMaker> {};

TEST_P(FaultSweep, EveryCommandAndLogLineFailingInTurn) {
  Sweep(GetParam().make());
}

INSTANTIATE_TEST_SUITE_P(
    EntryPoints, FaultSweep,
    ::testing::Values(
        ScenarioMaker{"StartImpFiscal", StartScenario},
        ScenarioMaker{"AbreCupom_T", [] { return OpenScenario("T"); }},
        ScenarioMaker{"AbreCupom_A", [] { return OpenScenario("A"); }},
        ScenarioMaker{"VendaItem_T", [] { return ItemScenario("T"); }},
        ScenarioMaker{"VendaItem_A", [] { return ItemScenario("A"); }},
        ScenarioMaker{"Cancela_ItGenerico", CancelItemScenario},
        ScenarioMaker{"FechaCupom_T", [] { return CloseScenario("T"); }},
        ScenarioMaker{"FechaCupom_A", [] { return CloseScenario("A"); }},
        ScenarioMaker{"Cancela_Cupom_Imp", CancelScenario},
        ScenarioMaker{"Abre_Gaveta_Imp", DrawerScenario},
        ScenarioMaker{"Estado_Imp", StatusScenario}, ScenarioMaker{"VerificaData", ClockScenario},
        ScenarioMaker{"Carrega_Dados_Impressora", IdentityScenario},
        ScenarioMaker{"Nr_Cupom", NumberScenario}, ScenarioMaker{"Suprimento", SupplyScenario},
        ScenarioMaker{"Leitura_X_Imp", XScenario}, ScenarioMaker{"Reducao_Z_Imp", ZScenario},
        ScenarioMaker{"Relatorio_Produto_plain", [] { return ProductScenario("N"); }},
        ScenarioMaker{"Relatorio_Produto_tax", [] { return ProductScenario("S"); }},
        ScenarioMaker{"GeraReciboSangria", ClosingScenario}),
    [](const ::testing::TestParamInfo<ScenarioMaker>& info) {
      return std::string(info.param.name);
    });

}  // namespace
