// The demo host: does what a point-of-sale host does. It loads the driver package through the
// platform's loader, looks each entry point up by its plain name and runs a scenario of host
// calls from a file (docs/demo-scenarios.md). For each call it shows the call, its result and
// by-reference outputs, what the printer printed and the log lines the call wrote.
#include <sys/stat.h>
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

namespace {

using plat::AnsiString;
using plat::Variant;

// The key with which hosts encipher the settings file's fields for this driver.
constexpr int kSettingsKey = 7;

struct ScenarioError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string U(const AnsiString& s) {
  return plat::AnsiToUtf8(s);
}
AnsiString Ansi(const std::string& utf8) {
  return plat::Utf8ToAnsi(utf8);
}

// Splits a line into tokens; double quotes group blanks ("a b"), \" inside quotes is a quote.
std::vector<std::string> Tokenize(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  bool inQuotes = false, have = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inQuotes) {
      if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
        cur += '"';
        ++i;
      } else if (c == '"') {
        inQuotes = false;
      } else {
        cur += c;
      }
    } else if (c == '"') {
      inQuotes = true;
      have = true;
    } else if (c == ' ' || c == '\t') {
      if (have) out.push_back(cur);
      cur.clear();
      have = false;
    } else {
      cur += c;
      have = true;
    }
  }
  if (inQuotes) throw ScenarioError("unterminated quote");
  if (have) out.push_back(cur);
  return out;
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
    std::ifstream in(path_);
    if (!in) {
      std::cerr << "demo: cannot read scenario '" << path_ << "'\n";
      return 2;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    // The package and the dialog handler.
    emulator_ = plat::DefaultEmulator();
    plat::SetMensagemHandler([this](const plat::MensagemCall& c) { return Dialog(c); });
    try {
      package_ = plat::Package::Load(plat::DefaultDriverPackagePath());
    } catch (const plat::Exception& e) {
      std::cerr << "demo: " << U(e.Message()) << "\n";
      return 2;
    }
    std::cout << "Driver package: " << package_->Path() << "\n";
    std::cout << "Host folder:    " << HostDir() << "\n\n";
    for (lineNo_ = 1; lineNo_ <= lines.size(); ++lineNo_) {
      try {
        Line(lines[lineNo_ - 1], lines);
      } catch (const ScenarioError& e) {
        std::cerr << path_ << ":" << lineNo_ << ": " << e.what() << "\n";
        return 1;
      }
    }
    if (inDataset_) {
      std::cerr << path_ << ": dataset '" << currentDataset_ << "' has no 'end'\n";
      return 1;
    }
    std::cout << "Scenario done: " << calls_ << " calls, " << raised_ << " raised to the host.\n";
    return 0;
  }

 private:
  using Args = std::map<std::string, std::string>;

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

  // Arguments: KEY=VALUE tokens after the command.
  static Args ParseArgs(const std::vector<std::string>& tokens, size_t from) {
    Args args;
    for (size_t i = from; i < tokens.size(); ++i) {
      const size_t eq = tokens[i].find('=');
      if (eq == std::string::npos || eq == 0) {
        throw ScenarioError("expected KEY=VALUE, found '" + tokens[i] + "'");
      }
      args[tokens[i].substr(0, eq)] = tokens[i].substr(eq + 1);
    }
    return args;
  }

  static AnsiString Get(const Args& a, const std::string& key, const std::string& def = "") {
    auto it = a.find(key);
    return Ansi(it == a.end() ? def : it->second);
  }
  static bool Flag(const Args& a, const std::string& key, bool def = false) {
    auto it = a.find(key);
    if (it == a.end()) return def;
    if (it->second == "S" || it->second == "yes" || it->second == "true") return true;
    if (it->second == "N" || it->second == "no" || it->second == "false") return false;
    throw ScenarioError("'" + key + "' must be S or N, found '" + it->second + "'");
  }
  static double Number(const Args& a, const std::string& key, double def = 0) {
    auto it = a.find(key);
    if (it == a.end()) return def;
    try {
      size_t used = 0;
      const double v = std::stod(it->second, &used);
      if (used != it->second.size()) throw std::invalid_argument("trailing");
      return v;
    } catch (const std::exception&) {
      throw ScenarioError("'" + key + "' must be a number written with '.', found '" + it->second +
                          "'");
    }
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
    if (ds == datasets_.end()) throw ScenarioError("no dataset named '" + it->second + "'");
    return ds->second.get();
  }
  plat::TClientDataSet& EmptyDataset() {
    auto& ds = datasets_["(empty)"];
    if (!ds) {
      // A host dataset with no rows (the table needs one field to exist).
      ds = std::make_unique<plat::TClientDataSet>("empty");
      ds->AddFieldDef("ID", plat::FieldType::Integer);
      ds->CreateDataSet();
    }
    return *ds;
  }

  static plat::FieldDef ParseField(const std::string& fieldText) {
    // NAME:S[size] | NAME:F | NAME:I | NAME:B | NAME:D
    const size_t colon = fieldText.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= fieldText.size()) {
      throw ScenarioError("field '" + fieldText + "' must be NAME:TYPE (S, S40, F, I, B, D)");
    }
    plat::FieldDef f;
    f.Name = Ansi(fieldText.substr(0, colon));
    const std::string t = fieldText.substr(colon + 1);
    switch (t[0]) {
      case 'S':
        f.Type = plat::FieldType::String;
        if (t.size() > 1) {
          try {
            f.Size = std::stoi(t.substr(1));
          } catch (const std::exception&) {
            throw ScenarioError("bad string size in '" + fieldText + "'");
          }
        }
        break;
      case 'F':
        f.Type = plat::FieldType::Float;
        break;
      case 'I':
        f.Type = plat::FieldType::Integer;
        break;
      case 'B':
        f.Type = plat::FieldType::Boolean;
        break;
      case 'D':
        f.Type = plat::FieldType::DateTime;
        break;
      default:
        throw ScenarioError("unknown field type in '" + fieldText + "'");
    }
    return f;
  }

  // Values in dataset rows are written with '.'; they are stored as numbers, not texts.
  static Variant Cell(const plat::FieldDef& f, const std::string& text) {
    if (text == "null") return Variant::Null();
    try {
      switch (f.Type) {
        case plat::FieldType::String:
          return Variant(Ansi(text));
        case plat::FieldType::Float:
          return Variant(std::stod(text));
        case plat::FieldType::Integer:
          return Variant(std::stoi(text));
        case plat::FieldType::Boolean:
          return Variant(text == "S" || text == "true");
        case plat::FieldType::DateTime:
          return Variant::FromDate(std::stod(text));
      }
    } catch (const std::exception&) {
    }
    throw ScenarioError("value '" + text + "' does not fit field " + U(f.Name));
  }

  void DatasetLine(const std::vector<std::string>& t) {
    auto& ds = datasets_[currentDataset_];
    if (t[0] == "fields") {
      fields_.clear();
      for (size_t i = 1; i < t.size(); ++i) fields_.push_back(ParseField(t[i]));
      ds->ClearFieldDefs();
      for (const auto& f : fields_) ds->AddFieldDef(f.Name, f.Type, f.Size);
      ds->CreateDataSet();
    } else if (t[0] == "row") {
      if (fields_.empty()) throw ScenarioError("'row' before 'fields'");
      if (t.size() - 1 != fields_.size()) {
        throw ScenarioError("row has " + std::to_string(t.size() - 1) + " values for " +
                            std::to_string(fields_.size()) + " fields");
      }
      ds->Append();
      for (size_t i = 0; i < fields_.size(); ++i) {
        ds->FieldByName(fields_[i].Name).SetValue(Cell(fields_[i], t[i + 1]));
      }
      ds->Post();
    } else if (t[0] == "end") {
      if (fields_.empty()) throw ScenarioError("dataset '" + currentDataset_ + "' has no fields");
      ds->First();
      inDataset_ = false;
    } else {
      throw ScenarioError("inside a dataset only 'fields', 'row' and 'end' are allowed");
    }
  }

  void Line(const std::string& raw, const std::vector<std::string>&) {
    std::vector<std::string> t = Tokenize(raw);
    if (t.empty() || t[0][0] == '#') return;
    if (inDataset_) return DatasetLine(t);
    const std::string& cmd = t[0];
    if (cmd == "echo") {
      std::string text;
      for (size_t i = 1; i < t.size(); ++i) text += (i > 1 ? " " : "") + t[i];
      std::cout << "\n=== " << text << " ===\n\n";
    } else if (cmd == "decimal") {
      if (t.size() != 2 || (t[1] != "." && t[1] != ",")) {
        throw ScenarioError("decimal takes '.' or ','");
      }
      plat::FormatSettings().DecimalSeparator = t[1][0];
      std::cout << "(decimal separator now '" << t[1] << "')\n";
    } else if (cmd == "answers") {
      for (size_t i = 1; i < t.size(); ++i) {
        if (t[i] != "yes" && t[i] != "no") throw ScenarioError("answers are 'yes' or 'no'");
        answers_.push_back(t[i] == "yes");
      }
    } else if (cmd == "dataset") {
      if (t.size() != 2) throw ScenarioError("dataset takes one name");
      currentDataset_ = t[1];
      datasets_[t[1]] = std::make_unique<plat::TClientDataSet>(Ansi(t[1]));
      fields_.clear();
      inDataset_ = true;
    } else if (cmd == "savefile") {
      if (t.size() != 3) throw ScenarioError("savefile takes a dataset and a file name");
      auto it = datasets_.find(t[1]);
      if (it == datasets_.end()) throw ScenarioError("no dataset named '" + t[1] + "'");
      it->second->SaveToFile(HostDir() + "/" + Ansi(t[2]));
      std::cout << "(host saved " << t[2] << ")\n";
    } else if (cmd == "removefile") {
      if (t.size() != 2) throw ScenarioError("removefile takes a file name");
      plat::DeleteFile(HostDir() + "/" + Ansi(t[1]));
    } else if (cmd == "settings") {
      Settings(ParseArgs(t, 1));
    } else if (cmd == "dump") {
      if (t.size() != 2) throw ScenarioError("dump takes a file name");
      Dump(t[1]);
    } else {
      Call(cmd, ParseArgs(t, 1), raw);
    }
  }

  void Settings(const Args& a) {
    plat::TClientDataSet ds("Quorilo");
    ds.AddFieldDef("NRECFCAIXA", plat::FieldType::String, 40);
    ds.AddFieldDef("NRSERIEECF", plat::FieldType::String, 40);
    ds.CreateDataSet();
    ds.Append();
    ds.FieldByName("NRECFCAIXA").SetAsString(plat::Cripto(Get(a, "ECF"), kSettingsKey));
    ds.FieldByName("NRSERIEECF").SetAsString(plat::Cripto(Get(a, "SERIE"), kSettingsKey));
    ds.Post();
    ds.SaveToFile(HostDir() + "/Quorilo.cds");
    std::cout << "(host wrote its settings file Quorilo.cds)\n";
  }

  void Dump(const std::string& file) {
    const std::string tool = plat::ExtractFileDir(plat::ExecutablePath()) + "/cdsdump";
    const std::string target = HostDir() + "/" + file;
    std::cout << "--- " << file << " ---\n" << std::flush;
    const std::string command = "'" + tool + "' '" + target + "'";
    const int rc = std::system(command.c_str());
    if (rc != 0) std::cout << "(cdsdump failed)\n";
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
    const std::string path =
        HostDir() + "/impdebug" + plat::FormatDateTime("mmyy", plat::Now()) + ".txt";
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
    if (it == Calls().end()) throw ScenarioError("unknown command or entry point '" + name + "'");
    std::string shown = raw;
    while (!shown.empty() && (shown[0] == ' ' || shown[0] == '\t')) shown.erase(0, 1);
    std::cout << "> " << shown << "\n";
    const Marks m = Mark();
    ++calls_;
    try {
      it->second(*this, a);
    } catch (const ScenarioError&) {
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
    ar[2] = Variant(Get(a, "ESQUEMA"));
    ar[3] = Variant(0);
    ar[4] = Variant(false);
    ar[5] = Variant(false);
    ar[6] = Variant(Number(a, "DESCONTO"));
    ar[7] = Variant(0.0);
    ar[8] = Variant(0.0);
    ar[11] = Variant(false);
    ar[13] = Dataset(a, "MOVCAIXA")->Data();
    ar[14] = Dataset(a, "RECEB")->Data();
    ar[30] = Variant(Get(a, "TIPOTICKET"));
    ar[32] = EmptyDataset().Data();
    ar[33] = EmptyDataset().Data();
    ar[34] = EmptyDataset().Data();
    ar[37] = Variant(0.0);
    ar[38] = Variant(0.0);
    ar[42] = Variant(Get(a, "NRCUPOM"));
    return ar;
  }

  std::string path_;
  size_t lineNo_ = 0;
  std::unique_ptr<plat::Package> package_;
  std::shared_ptr<plat::FiscalEmulator> emulator_;
  std::deque<bool> answers_;
  std::map<std::string, std::unique_ptr<plat::TClientDataSet>> datasets_;
  std::vector<plat::FieldDef> fields_;
  std::string currentDataset_;
  bool inDataset_ = false;
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
           return plat::AnsiToWide(Get(a, k, def));
         };
         const bool r = FN(Cancela_ItGenerico)(
             Get(a, "ESQUEMA"), "", w("NMPROD"), w("TAXAIVA"), w("QUALIFICADOR", "m"),
             w("QTDECULTOS", "0"), w("IMPOSINTERPERC", "0"), w("IMPOSTOINTERFIXO", "0"),
             w("TIPOTICKET"), Number(a, "QTDE"), Number(a, "VALOR"));
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
         const bool r = FN(VerificaData)(Get(a, "ESQUEMA"), dt, "", "", false);
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
         const bool r =
             FN(Suprimento)("", Get(a, "ESQUEMA"), Number(a, "VALOR"), Flag(a, "ABERTURA"));
         std::cout << "  result: " << Bool(r) << "\n";
       }},
      {"Leitura_X_Imp",
       [](Demo& d, const Args& a) {
         std::cout << "  result: " << Bool(FN(Leitura_X_Imp)("", Get(a, "ESQUEMA"), "")) << "\n";
       }},
      {"Reducao_Z_Imp",
       [](Demo& d, const Args& a) {
         std::cout << "  result: " << Bool(FN(Reducao_Z_Imp)("", Get(a, "ESQUEMA"), "")) << "\n";
       }},
      {"BuscaDadosReducaoZ",
       [](Demo& d, const Args&) {
         std::cout << "  result: \"" << U(FN(BuscaDadosReducaoZ)()) << "\"\n";
       }},
      {"GetValue",
       [](Demo& d, const Args& a) {
         std::cout << "  result: " << U(plat::FloatToStr(FN(GetValue)(Get(a, "VALOR")))) << "\n";
       }},
      {"Relatorio_Produto",
       [](Demo& d, const Args& a) {
         AnsiString cupomDia = Get(a, "CUPOMDIA");
         bool ctrl = Flag(a, "CTRLCUPOM", true);
         FN(Relatorio_Produto)
         ("", "", "", "", "", cupomDia, d.Dataset(a, "PROD"), Get(a, "EMIRELPROD", "N"),
          Get(a, "TRIBRELPRO", "N"), Get(a, "ESQUEMA"), ctrl);
         std::cout << "  boCtrlCupom: " << Bool(ctrl) << "\n";
       }},
      {"GeraReciboSangria",
       [](Demo& d, const Args& a) {
         AnsiString cupomDia = Get(a, "CUPOMDIA");
         plat::TClientDataSet* redz = nullptr;
         plat::TClientDataSet* formRedz = nullptr;
         plat::TClientDataSet* impRedz = nullptr;
         plat::TClientDataSet* totNFis = nullptr;
         bool reduziu = false;
         const bool r = FN(GeraReciboSangria)(
             Get(a, "PORTA", "COM1"), Get(a, "SERIE"), Get(a, "FILIAL"), Get(a, "CAIXA"), "", 0,
             cupomDia, d.Dataset(a, "MOVFECHA"), d.Dataset(a, "SANGRIADS"), d.Dataset(a, "PROD"),
             d.Dataset(a, "OPERSUP"), d.Dataset(a, "MOVTOT"), d.Dataset(a, "MOVABERTURA"),
             d.Dataset(a, "PRODFECH"), plat::Now(), Flag(a, "IMPRELSAN", true),
             Flag(a, "IMPRIMEREDZ", true), false, redz, formRedz, impRedz, totNFis, reduziu,
             d.Dataset(a, "TIPORECE"), Get(a, "EMIRELPROD", "N"), Get(a, "TRIBRELPRO", "N"),
             Get(a, "LEITURAX", "N"), Get(a, "ENVELOPE", "N"), Get(a, "ESQUEMA"),
             Flag(a, "SANGRIA"), false, Flag(a, "ACCESSREDZ", true), Get(a, "TIPOSANGRIA"),
             Get(a, "DESCSANGRIA"));
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
         std::cout << "  result: " << Bool(FN(Sangria)("", "", Number(a, "VALOR"))) << "\n";
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

void Usage() {
  std::cout << "usage: demo [SCENARIO]\n\n"
               "Runs a scenario of host calls against the fiscal printer driver package and\n"
               "the built-in printer emulator. Without SCENARIO, runs the bundled default\n"
               "scenario. The format is described in docs/demo-scenarios.md.\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string scenario = DEMO_DEFAULT_SCENARIO;
  CLI::App app("Runs a scenario of host calls against the driver package.", "demo");
  app.add_option("SCENARIO", scenario);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    Usage();
    return 0;
  } catch (const CLI::ParseError&) {
    Usage();
    return 2;
  }
  return Demo(scenario).Run();
}
