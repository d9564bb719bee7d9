// SPDX-License-Identifier: Apache-2.0
// The demo host: does what a point-of-sale host does. It loads the driver package through the
// platform's loader, looks each entry point up by its plain name and runs a scenario of host
// calls from a file (docs/demo-scenarios.md). For each call it shows the call, its result and
// by-reference outputs, what the printer printed and the log lines the call wrote.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "driver/Arfis770.h"
#include "platform/codepage.h"
#include "platform/dataset.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/loader.h"
#include "platform/os.h"
#include "platform/support.h"
#include "printer/emulator.h"
#include "program/command_line.h"
#include "tools/scenario.h"

namespace {

using plat::AnsiString;
using plat::Variant;

// The key with which hosts encipher the settings file's fields for this driver.
constexpr int kSettingsKey = 7;

using scenario::Args;
using scenario::Step;

std::string U(const AnsiString& s) {
  return plat::AnsiToUtf8(s);
}
AnsiString Ansi(const std::string& utf8) {
  return plat::Utf8ToAnsi(utf8);
}

std::string VariantText(const Variant& v) {
  switch (v.Type()) {
    case plat::VarType::Empty:
      return "(empty)";
    case plat::VarType::Null:
      return "(null)";
    case plat::VarType::Array: {
      std::string s = "[";
      for (int i = 0; i < v.Count(); ++i) {
        if (i) s += ", ";
        s += VariantText(v[i]);
      }
      return s + "]";
    }
    case plat::VarType::Packet:
      return "(dataset data)";
    case plat::VarType::String:
    case plat::VarType::WideStr:
      return "\"" + U(v.AsString()) + "\"";
    default:
      return U(v.AsString());
  }
}

std::string BundleText(const Variant& bundle) {
  if (!bundle.IsArray()) return VariantText(bundle);
  std::string s = "{";
  for (int i = 0; i < bundle.Count(); ++i) {
    if (i) s += ", ";
    const Variant& pair = bundle[i];
    if (pair.IsArray() && pair.Count() == 2) {
      s += U(pair[0].AsString()) + "=" + VariantText(pair[1]);
    } else {
      s += VariantText(pair);
    }
  }
  return s + "}";
}

std::string Bool(bool b) {
  return b ? "True" : "False";
}

class Demo {
 public:
  explicit Demo(std::string scenarioPath) : path_(std::move(scenarioPath)) {}

  int Run() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
      std::cerr << "demo: cannot read scenario '" << path_ << "'\n";
      return cli::kUsage;
    }
    std::stringstream text;
    text << in.rdbuf();
    const std::vector<std::string> lines = scenario::SplitLines(text.str());
    // The package and the dialog handler.
    emulator_ = plat::DefaultEmulator();
    plat::SetMensagemHandler([this](const plat::MensagemCall& c) { return Dialog(c); });
    try {
      package_ = plat::Package::Load(plat::DefaultDriverPackagePath());
    } catch (const plat::Exception& e) {
      std::cerr << "demo: " << U(e.Message()) << "\n";
      return cli::kUsage;
    }
    std::cout << "Driver package: " << package_->Path() << "\n";
    std::cout << "Host folder:    " << HostDir() << "\n\n";
    scenario::Parser parser;
    size_t at = 0;  // the line being read, or the line of the step being run
    try {
      for (size_t i = 0; i < lines.size(); ++i) {
        at = i + 1;
        if (std::optional<Step> step = parser.Line(lines[i])) {
          at = step->line;
          RunStep(*step);
        }
      }
      parser.End();
    } catch (const scenario::Error& e) {
      return Refused(e.line != 0 ? e.line : at, e.what());
    } catch (const plat::Exception& e) {
      // A host step the platform refused (a file that cannot be written or removed).
      return Refused(at, U(e.Message()));
    } catch (const std::exception& e) {
      return Refused(at, e.what());
    }
    std::cout << "Scenario done: " << calls_ << " calls, " << raised_ << " raised to the host.\n";
    return cli::kDone;
  }

 private:
  std::string HostDir() const { return plat::ExtractFileDir(plat::ExecutablePath()); }

  template <class F>
  F* Fn(const char* name) {
    return package_->Get<F>(name);
  }

  bool Dialog(const plat::MensagemCall& c) {
    if (c.Kind == plat::tmPergunta) {
      bool yes = false;
      if (!answers_.empty()) {
        yes = answers_.front();
        answers_.pop_front();
      }
      std::cout << "  question [scheme " << U(c.Scheme) << "]: " << U(c.Text) << " -> "
                << (yes ? "yes" : "no") << "\n";
      return yes;
    }
    std::cout << "  dialog (kind " << c.Kind << ", scheme " << U(c.Scheme) << "): " << U(c.Text)
              << "\n";
    return false;
  }

  static Variant Bundle(const Args& a) {
    std::vector<std::pair<AnsiString, Variant>> pairs;
    for (const auto& [k, v] : a) pairs.emplace_back(Ansi(k), Variant(Ansi(v)));
    return plat::MakeBundle(pairs);
  }

  plat::TClientDataSet* Dataset(const Args& a, const std::string& key) {
    auto it = a.find(key);
    if (it == a.end()) return &EmptyDataset();
    auto ds = datasets_.find(it->second);
    if (ds == datasets_.end()) throw scenario::Error("no dataset named '" + it->second + "'");
    return ds->second.get();
  }
  plat::TClientDataSet& EmptyDataset() {
    auto& ds = datasets_["(empty)"];
    if (!ds) {
      // A host dataset with no rows (the table needs one field to exist).
      ds = std::make_shared<plat::TClientDataSet>("empty");
      ds->AddFieldDef("ID", plat::FieldType::Integer);
      ds->CreateDataSet();
    }
    return *ds;
  }

  int Refused(size_t line, const std::string& what) const {
    std::cerr << path_ << ":" << line << ": " << what << "\n";
    return cli::kFailed;
  }

  void RunStep(const Step& step) {
    switch (step.kind) {
      case Step::Kind::Echo:
        std::cout << "\n=== " << step.text << " ===\n\n";
        break;
      case Step::Kind::Decimal:
        plat::FormatSettings().DecimalSeparator = step.text[0];
        std::cout << "(decimal separator now '" << step.text << "')\n";
        break;
      case Step::Kind::Answers:
        answers_.insert(answers_.end(), step.answers.begin(), step.answers.end());
        break;
      case Step::Kind::Dataset:
        datasets_[step.name] = step.dataset;
        break;
      case Step::Kind::SaveFile: {
        auto it = datasets_.find(step.name);
        if (it == datasets_.end()) throw scenario::Error("no dataset named '" + step.name + "'");
        it->second->SaveToFile(HostDir() + "/" + Ansi(step.text));
        std::cout << "(host saved " << step.text << ")\n";
        break;
      }
      case Step::Kind::RemoveFile:
        plat::DeleteFile(HostDir() + "/" + Ansi(step.text));
        break;
      case Step::Kind::Settings:
        Settings(step.args);
        break;
      case Step::Kind::Dump:
        Dump(step.text);
        break;
      case Step::Kind::Call:
        Call(step.name, step.args, step.text);
        break;
    }
  }

  void Settings(const Args& a) {
    plat::TClientDataSet ds("Quorilo");
    ds.AddFieldDef("NRECFCAIXA", plat::FieldType::String, 40);
    ds.AddFieldDef("NRSERIEECF", plat::FieldType::String, 40);
    ds.CreateDataSet();
    ds.Append();
    ds.FieldByName("NRECFCAIXA").SetAsString(plat::Cripto(scenario::Text(a, "ECF"), kSettingsKey));
    ds.FieldByName("NRSERIEECF")
        .SetAsString(plat::Cripto(scenario::Text(a, "SERIE"), kSettingsKey));
    ds.Post();
    ds.SaveToFile(HostDir() + "/Quorilo.cds");
    std::cout << "(host wrote its settings file Quorilo.cds)\n";
  }

  void Dump(const std::string& file) {
    const std::string tool = plat::ExtractFileDir(plat::ExecutablePath()) + "/cdsdump";
    const std::string target = HostDir() + "/" + file;
    std::cout << "--- " << file << " ---\n" << std::flush;
    // Run directly, not through a shell: a file name is passed as it is, quotes and all.
    std::vector<char*> argv{const_cast<char*>(tool.c_str()), const_cast<char*>(target.c_str()),
                            nullptr};
    pid_t child = 0;
    int status = 0;
    const bool ran =
        ::posix_spawn(&child, tool.c_str(), nullptr, nullptr, argv.data(), environ) == 0 &&
        ::waitpid(child, &status, 0) == child;
    if (!ran || !WIFEXITED(status) || WEXITSTATUS(status) != 0) std::cout << "(cdsdump failed)\n";
    std::cout << "\n";
  }

  // What the call printed and logged, since the marks taken before it.
  struct Marks {
    size_t paper = 0;
    size_t log = 0;
  };
  // The paper printed so far: the built-in emulator's, or with FISCAL_DEMO_PAPER the lines of
  // that file (the paper file of the printer-emulator program behind a serial line).
  std::vector<AnsiString> Paper() {
    const char* file = std::getenv("FISCAL_DEMO_PAPER");
    if (file == nullptr || *file == '\0') return emulator_->Paper();
    std::vector<AnsiString> out;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) out.push_back(Ansi(line));
    return out;
  }
  Marks Mark() {
    Marks m;
    m.paper = Paper().size();
    m.log = LogLines().size();
    return m;
  }
  std::vector<std::string> LogLines() {
    std::vector<std::string> out;
    const std::string path = HostDir() + "/" + plat::DriverLogName(plat::Now());
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out.push_back(line);
    }
    return out;
  }
  void ShowSince(const Marks& m) {
    const auto paper = Paper();
    if (paper.size() > m.paper) {
      std::cout << "  printer:\n";
      std::cout << "    +" << std::string(40, '-') << "+\n";
      for (size_t i = m.paper; i < paper.size(); ++i) {
        std::string line = U(paper[i]);
        std::cout << "    |" << line;
        const size_t width = plat::AnsiToWide(paper[i]).size();
        if (width < 40) std::cout << std::string(40 - width, ' ');
        std::cout << "|\n";
      }
      std::cout << "    +" << std::string(40, '-') << "+\n";
    }
    const auto log = LogLines();
    if (log.size() > m.log) {
      std::cout << "  log:\n";
      for (size_t i = m.log; i < log.size(); ++i) std::cout << "    " << U(log[i]) << "\n";
    }
    std::cout << "\n";
  }

  void Call(const std::string& name, const Args& a, const std::string& raw) {
    auto it = Calls().find(name);
    if (it == Calls().end()) throw scenario::Error("unknown command or entry point '" + name + "'");
    std::string shown = raw;
    while (!shown.empty() && (shown[0] == ' ' || shown[0] == '\t')) shown.erase(0, 1);
    std::cout << "> " << shown << "\n";
    const Marks m = Mark();
    ++calls_;
    try {
      it->second(*this, a);
    } catch (const scenario::Error&) {
      throw;  // a bad argument in the scenario, not an answer of the package
    } catch (const plat::Exception& e) {
      ++raised_;
      std::cout << "  raised to the host: " << U(e.Message()) << "\n";
    } catch (const std::exception& e) {
      ++raised_;
      std::cout << "  raised to the host: " << e.what() << "\n";
    }
    ShowSince(m);
  }

  using Handler = std::function<void(Demo&, const Args&)>;
  static const std::map<std::string, Handler>& Calls();

  // Builds the positional array of a sale's closing.
  ArfisOpenArray ClosingArray(const Args& a) {
    ArfisOpenArray ar(43, Variant(AnsiString()));
    ar[2] = Variant(scenario::Text(a, "ESQUEMA"));
    ar[3] = Variant(0);
    ar[4] = Variant(false);
    ar[5] = Variant(false);
    ar[6] = Variant(scenario::Number(a, "DESCONTO"));
    ar[7] = Variant(0.0);
    ar[8] = Variant(0.0);
    ar[11] = Variant(false);
    ar[13] = Dataset(a, "MOVCAIXA")->Data();
    ar[14] = Dataset(a, "RECEB")->Data();
    ar[30] = Variant(scenario::Text(a, "TIPOTICKET"));
    ar[32] = EmptyDataset().Data();
    ar[33] = EmptyDataset().Data();
    ar[34] = EmptyDataset().Data();
    ar[37] = Variant(0.0);
    ar[38] = Variant(0.0);
    ar[42] = Variant(scenario::Text(a, "NRCUPOM"));
    return ar;
  }

  std::string path_;
  std::unique_ptr<plat::Package> package_;
  std::shared_ptr<plat::FiscalEmulator> emulator_;
  std::deque<bool> answers_;
  std::map<std::string, std::shared_ptr<plat::TClientDataSet>> datasets_;
  int calls_ = 0;
  int raised_ = 0;
};

#define FN(Name) d.Fn<decltype(Name)>(#Name)

const std::map<std::string, Demo::Handler>& Demo::Calls() {
  static const std::map<std::string, Handler> calls = {
      {"StartImpFiscal",
       [](Demo& d, const Args& a) {
         std::cout << "  result: " << Bool(FN(StartImpFiscal)(Bundle(a))) << "\n";
       }},
      {"AbreCupom",
       [](Demo& d, const Args& a) {
         Variant params = Bundle(a);
         const bool r = FN(AbreCupom)(params);
         std::cout << "  result: " << Bool(r) << "\n  Params: " << BundleText(params) << "\n";
       }},
      {"VendaItem",
       [](Demo& d, const Args& a) {
         std::cout << "  result: " << Bool(FN(VendaItem)(Bundle(a))) << "\n";
       }},
      {"Cancela_ItGenerico",
       [](Demo& d, const Args& a) {
         auto w = [&](const char* k, const char* def = "") {
           return plat::AnsiToWide(scenario::Text(a, k, def));
         };
         const bool r = FN(Cancela_ItGenerico)(
             scenario::Text(a, "ESQUEMA"), "", w("NMPROD"), w("TAXAIVA"), w("QUALIFICADOR", "m"),
             w("QTDECULTOS", "0"), w("IMPOSINTERPERC", "0"), w("IMPOSTOINTERFIXO", "0"),
             w("TIPOTICKET"), scenario::Number(a, "QTDE"), scenario::Number(a, "VALOR"));
         std::cout << "  result: " << Bool(r) << "\n";
       }},
      {"FechaCupom",
       [](Demo& d, const Args& a) {
         Variant answer = plat::VarArrayOf({Variant(-1), Variant("?"), Variant("?")});
         plat::TStringList voucher;
         const bool r = FN(FechaCupom)(d.ClosingArray(a), &voucher, answer);
         std::cout << "  result: " << Bool(r) << "\n  oleRetorno: " << VariantText(answer) << "\n";
       }},
      {"Cancela_Cupom_Imp",
       [](Demo& d, const Args&) {
         Variant answer;
         std::cout << "  result: " << Bool(FN(Cancela_Cupom_Imp)({}, answer)) << "\n";
       }},
      {"Abre_Gaveta_Imp",
       [](Demo& d, const Args&) {
         std::cout << "  result: " << Bool(FN(Abre_Gaveta_Imp)("", false)) << "\n";
       }},
      {"Estado_Imp",
       [](Demo& d, const Args&) {
         std::cout << "  result: " << Bool(FN(Estado_Imp)("", false, false)) << "\n";
       }},
      {"VerificaData",
       [](Demo& d, const Args& a) {
         plat::TDateTime dt = 0;
         const bool r = FN(VerificaData)(scenario::Text(a, "ESQUEMA"), dt, "", "", false);
         std::cout << "  result: " << Bool(r) << "\n  dtDate: " << U(plat::DateTimeToStr(dt))
                   << "\n";
       }},
      {"Carrega_Dados_Impressora",
       [](Demo& d, const Args& a) {
         Variant params = Bundle(a);
         const bool r = FN(Carrega_Dados_Impressora)(params);
         std::cout << "  result: " << Bool(r) << "\n  Params: " << BundleText(params) << "\n";
       }},
      {"Nr_Cupom",
       [](Demo& d, const Args&) {
         std::cout << "  result: \"" << U(FN(Nr_Cupom)("", "")) << "\"\n";
       }},
      {"Suprimento",
       [](Demo& d, const Args& a) {
         const bool r = FN(Suprimento)("", scenario::Text(a, "ESQUEMA"),
                                       scenario::Number(a, "VALOR"), scenario::Flag(a, "ABERTURA"));
         std::cout << "  result: " << Bool(r) << "\n";
       }},
      {"Leitura_X_Imp",
       [](Demo& d, const Args& a) {
         std::cout << "  result: " << Bool(FN(Leitura_X_Imp)("", scenario::Text(a, "ESQUEMA"), ""))
                   << "\n";
       }},
      {"Reducao_Z_Imp",
       [](Demo& d, const Args& a) {
         std::cout << "  result: " << Bool(FN(Reducao_Z_Imp)("", scenario::Text(a, "ESQUEMA"), ""))
                   << "\n";
       }},
      {"BuscaDadosReducaoZ",
       [](Demo& d, const Args&) {
         std::cout << "  result: \"" << U(FN(BuscaDadosReducaoZ)()) << "\"\n";
       }},
      {"GetValue",
       [](Demo& d, const Args& a) {
         std::cout << "  result: " << U(plat::FloatToStr(FN(GetValue)(scenario::Text(a, "VALOR"))))
                   << "\n";
       }},
      {"Relatorio_Produto",
       [](Demo& d, const Args& a) {
         AnsiString cupomDia = scenario::Text(a, "CUPOMDIA");
         bool ctrl = scenario::Flag(a, "CTRLCUPOM", true);
         FN(Relatorio_Produto)
         ("", "", "", "", "", cupomDia, d.Dataset(a, "PROD"), scenario::Text(a, "EMIRELPROD", "N"),
          scenario::Text(a, "TRIBRELPRO", "N"), scenario::Text(a, "ESQUEMA"), ctrl);
         std::cout << "  boCtrlCupom: " << Bool(ctrl) << "\n";
       }},
      {"GeraReciboSangria",
       [](Demo& d, const Args& a) {
         AnsiString cupomDia = scenario::Text(a, "CUPOMDIA");
         plat::TClientDataSet* redz = nullptr;
         plat::TClientDataSet* formRedz = nullptr;
         plat::TClientDataSet* impRedz = nullptr;
         plat::TClientDataSet* totNFis = nullptr;
         bool reduziu = false;
         const bool r = FN(GeraReciboSangria)(
             scenario::Text(a, "PORTA", "COM1"), scenario::Text(a, "SERIE"),
             scenario::Text(a, "FILIAL"), scenario::Text(a, "CAIXA"), "", 0, cupomDia,
             d.Dataset(a, "MOVFECHA"), d.Dataset(a, "SANGRIADS"), d.Dataset(a, "PROD"),
             d.Dataset(a, "OPERSUP"), d.Dataset(a, "MOVTOT"), d.Dataset(a, "MOVABERTURA"),
             d.Dataset(a, "PRODFECH"), plat::Now(), scenario::Flag(a, "IMPRELSAN", true),
             scenario::Flag(a, "IMPRIMEREDZ", true), false, redz, formRedz, impRedz, totNFis,
             reduziu, d.Dataset(a, "TIPORECE"), scenario::Text(a, "EMIRELPROD", "N"),
             scenario::Text(a, "TRIBRELPRO", "N"), scenario::Text(a, "LEITURAX", "N"),
             scenario::Text(a, "ENVELOPE", "N"), scenario::Text(a, "ESQUEMA"),
             scenario::Flag(a, "SANGRIA"), false, scenario::Flag(a, "ACCESSREDZ", true),
             scenario::Text(a, "TIPOSANGRIA"), scenario::Text(a, "DESCSANGRIA"));
         std::cout << "  result: " << Bool(r) << "\n  boReduziu: " << Bool(reduziu) << "\n";
       }},
      {"DataMoviFiscal",
       [](Demo& d, const Args&) {
         std::cout << "  result: " << U(plat::DateTimeToStr(FN(DataMoviFiscal)(""))) << "\n";
       }},
      {"Codigo_Nacional_ECF",
       [](Demo& d, const Args&) {
         std::cout << "  result: \"" << U(FN(Codigo_Nacional_ECF)(0, "")) << "\"\n";
       }},
      {"Estado_Gaveta_Imp",
       [](Demo& d, const Args&) {
         std::cout << "  result: \"" << U(FN(Estado_Gaveta_Imp)("")) << "\"\n";
       }},
      {"Sangria",
       [](Demo& d, const Args& a) {
         std::cout << "  result: " << Bool(FN(Sangria)("", "", scenario::Number(a, "VALOR")))
                   << "\n";
       }},
      {"DadosUltimaRedZ",
       [](Demo& d, const Args&) {
         Variant ret;
         plat::TClientDataSet* ds = nullptr;
         std::cout << "  result: " << Bool(FN(DadosUltimaRedZ)({}, ret, ds)) << "\n";
       }},
  };
  return calls;
}

const char kUsage[] =
    "usage: demo [SCENARIO]\n"
    "       demo --version\n\n"
    "Runs a scenario of host calls against the fiscal printer driver package and\n"
    "the built-in printer emulator. Without SCENARIO, runs the bundled default\n"
    "scenario. The format is described in docs/demo-scenarios.md.\n";

}  // namespace

int main(int argc, char** argv) {
  std::string scenario = DEMO_DEFAULT_SCENARIO;
  CLI::App app("Runs a scenario of host calls against the driver package.", "demo");
  app.add_option("SCENARIO", scenario);
  if (const auto end = cli::Parse(app, argc, argv, kUsage)) return *end;
  return Demo(scenario).Run();
}
