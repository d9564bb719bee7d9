// SPDX-License-Identifier: Apache-2.0
#include "bench/bench_host.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "platform/format.h"
#include "platform/os.h"
#include "platform/support.h"
#include "platform/testing/hooks.h"
#include "printer/printer.h"

namespace benchhost {

namespace fs = std::filesystem;

Host::Host() {
  char tmpl[] = "/tmp/fiscal-bench-XXXXXX";
  const char* made = mkdtemp(tmpl);
  if (made == nullptr) throw std::runtime_error("cannot create a temporary host folder");
  dir_ = made;
  plat::FormatSettings() = plat::TFormatSettings{};
  plat::SetExecutablePathForTesting(dir_ + "/posHost");
  emulator_ = std::make_shared<plat::FiscalEmulator>();
  plat::SetPrinterBackend(emulator_);
  plat::SetMensagemHandler([this](const plat::MensagemCall& call) {
    if (call.Kind != plat::tmPergunta) {
      ++errors_;
      lastError_ = call.Text;
      return false;
    }
    return next_ < script_.size() ? bool(script_[next_++]) : false;
  });
  package_ = plat::Package::Load(ARFIS_PACKAGE_PATH);
  const bool started =
      BENCH_CALL(*this, StartImpFiscal)(plat::MakeBundle({{"CDFILIAL", "1"},
                                                          {"CDCAIXA", "1"},
                                                          {"NRSERIEIMP", "SERIE"},
                                                          {"ESQUEMA", "ESQ"},
                                                          {"CDPORTAIMPFIS", "COM1"}}));
  if (!started) throw std::runtime_error("StartImpFiscal answered False");
}

Host::~Host() {
  package_.reset();
  plat::SetMensagemHandler(nullptr);
  plat::SetPrinterBackend(nullptr);
  plat::SetExecutablePathForTesting("");
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

void Host::Script(std::vector<bool> answers) {
  script_ = std::move(answers);
  next_ = 0;
}

void Host::Tidy() {
  emulator_->ClearJournal();
  emulator_->ClearPaper();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir_, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("impdebug", 0) == 0) fs::remove(entry.path(), ec);
  }
}

bool Direct(plat::FiscalEmulator& emu, const char* method, std::vector<plat::WideString> args) {
  std::vector<plat::WideString*> refs;
  refs.reserve(args.size());
  for (auto& a : args) refs.push_back(&a);
  return emu.Execute(1, method, refs).Result != 0;
}

using plat::FieldType;
using plat::Variant;

std::unique_ptr<plat::TClientDataSet> Products(int rows) {
  // (letter, rate): two taxed rates and the three zero-rate categories.
  static const struct {
    const char* letter;
    double rate;
  } kCategories[] = {{"T", 21.0}, {"T", 10.5}, {"F", 0.0}, {"N", 0.0}, {"I", 0.0}};
  std::vector<std::vector<Variant>> data;
  data.reserve(static_cast<size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    const auto& cat = kCategories[i % 5];
    data.push_back({Variant(std::to_string(100000 + i)), Variant("PRODUTO " + std::to_string(i)),
                    Variant(1.0 + i % 7), Variant(10.0 + (i % 100) * 0.25), Variant(0.1),
                    Variant(0.05), Variant(cat.letter), Variant(cat.rate)});
  }
  return MakeDataSet({{"CDPRODUTO", FieldType::String},
                      {"NMPRODUTO", FieldType::String, 40},
                      {"QTPRODVEND", FieldType::Float},
                      {"VRTOTAL", FieldType::Float},
                      {"VRACRE", FieldType::Float},
                      {"VRDESC", FieldType::Float},
                      {"IDTPIMPOSFIS", FieldType::String, 1},
                      {"VRPEALIMPFIS", FieldType::Float}},
                     data);
}

std::unique_ptr<plat::TClientDataSet> Movements(int rows) {
  static const char* const kKinds[] = {"1", "5", "A", "1", "5", "A", "2", "3", "4", "9"};
  std::vector<std::vector<Variant>> data;
  data.reserve(static_cast<size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    data.push_back({Variant(kKinds[i % 10]), Variant("001"), Variant(5.0 + i % 50),
                    Variant("TIPO " + std::to_string(i % 40))});
  }
  return MakeDataSet({{"IDTIPOREG", FieldType::String, 1},
                      {"CDTIPORECE", FieldType::String, 3},
                      {"VRSAIDA", FieldType::Float},
                      {"NMTIPORECE", FieldType::String, 40}},
                     data);
}

std::unique_ptr<plat::TClientDataSet> MovFecha(int rows) {
  std::vector<std::vector<Variant>> data;
  data.reserve(static_cast<size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    data.push_back({Variant("001"), Variant(std::to_string(i)), Variant("DINHEIRO"),
                    Variant(150.5 + i), Variant(140.0 + i)});
  }
  return MakeDataSet({{"CDTIPORECE", FieldType::String, 3},
                      {"NRENVELOPE", FieldType::String, 6},
                      {"NMTIPORECE", FieldType::String, 40},
                      {"VRFECHADIG", FieldType::Float},
                      {"VRFECHAINF", FieldType::Float}},
                     data);
}

std::unique_ptr<plat::TClientDataSet> OperSup() {
  return MakeDataSet({{"CDSUPERVISOR", FieldType::String},
                      {"NMSUPERVISOR", FieldType::String, 80},
                      {"CDOPERADOR", FieldType::String},
                      {"NMOPERADOR", FieldType::String, 80}},
                     {{Variant("01"), Variant("JOAO"), Variant("02"), Variant("MARIA")}});
}

std::unique_ptr<plat::TClientDataSet> OneColumn() {
  return MakeDataSet({{"X", FieldType::String}}, {{Variant("x")}});
}

}  // namespace benchhost
