// SPDX-License-Identifier: Apache-2.0
#include "tests/support/harness.h"

#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/codepage.h"
#include "platform/os.h"
#include "platform/testing/hooks.h"
#include "printer/printer.h"

namespace testhost {

namespace fs = std::filesystem;

namespace {
// 08/12/2026 10:00:00.
plat::TDateTime FixedNow() {
  return plat::EncodeDate(2026, 12, 8) + plat::EncodeTime(10, 0, 0);
}
}  // namespace

DriverHost::DriverHost(bool start) {
  char tmpl[] = "/tmp/fiscal-host-XXXXXX";
  const char* made = mkdtemp(tmpl);
  if (made == nullptr) throw std::runtime_error("cannot create a temporary host folder");
  dir_ = made;
  savedFormat_ = plat::FormatSettings();
  plat::FormatSettings() = plat::TFormatSettings{};
  plat::SetHostFolder(dir_);
  const plat::TDateTime now = FixedNow();
  plat::SetClockForTesting([now] { return now; });
  emulator_ = std::make_shared<plat::FiscalEmulator>();
  plat::SetPrinterBackend(emulator_);
  plat::SetMensagemHandler([this](const plat::MensagemCall& call) {
    dialogs.push_back(call);
    if (call.Kind != plat::tmPergunta) return false;
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  });
  package_ = plat::Package::Load(ARFIS_PACKAGE_PATH);
  if (start && !Start()) throw std::runtime_error("StartImpFiscal answered False");
}

DriverHost::~DriverHost() {
  package_.reset();
  plat::SetMensagemHandler(nullptr);
  plat::SetPrinterBackend(nullptr);
  plat::SetClockForTesting(nullptr);
  plat::SetHostFolder("");
  plat::FormatSettings() = savedFormat_;
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

bool DriverHost::Start(const plat::AnsiString& port, const plat::AnsiString& scheme) {
  return CALL(*this, StartImpFiscal)(plat::MakeBundle({{"CDFILIAL", "1"},
                                                       {"CDCAIXA", "1"},
                                                       {"NRSERIEIMP", "SERIE"},
                                                       {"ESQUEMA", scheme},
                                                       {"CDPORTAIMPFIS", port}}));
}

std::vector<plat::ExecutedCommand> DriverHost::Commands(const std::string& method) const {
  std::vector<plat::ExecutedCommand> out;
  for (const auto& e : emulator_->Journal()) {
    if (e.Method == method) out.push_back(e);
  }
  return out;
}

std::vector<std::string> DriverHost::CommandTexts() const {
  std::vector<std::string> out;
  for (const auto& e : emulator_->Journal()) {
    std::string s = e.Method + "(";
    for (size_t i = 0; i < e.Args.size(); ++i) {
      if (i) s += "|";
      s += plat::WideToUtf8(e.Args[i]);
    }
    out.push_back(s + ")");
  }
  return out;
}

std::string DriverHost::LogPath() const {
  return dir_ + "/impdebug" + plat::FormatDateTime("mmyy", plat::Now()) + ".txt";
}

std::vector<std::string> DriverHost::RawLogLines() const {
  std::vector<std::string> out;
  std::ifstream in(LogPath(), std::ios::binary);
  if (!in) return out;
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      out.push_back(text.substr(start));  // an unterminated tail would be a fault
      break;
    }
    out.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return out;
}

std::vector<plat::AnsiString> DriverHost::Log() const {
  std::vector<plat::AnsiString> out;
  for (const auto& line : RawLogLines()) {
    const size_t sep = line.find(" - ");
    out.push_back(sep == std::string::npos ? line : line.substr(sep + 3));
  }
  return out;
}

void DriverHost::ClearLog() {
  std::error_code ec;
  fs::remove(LogPath(), ec);
}

void DriverHost::BreakLog() {
  ClearLog();
  fs::create_directory(LogPath());
}

void DriverHost::RepairLog() {
  std::error_code ec;
  fs::remove_all(LogPath(), ec);
}

void DriverHost::SetDecimalSeparator(char c) {
  plat::FormatSettings().DecimalSeparator = c;
}

void DriverHost::SetClock(plat::TDateTime now) {
  plat::SetClockForTesting([now] { return now; });
}

plat::WideString W(const std::string& utf8) {
  return plat::Utf8ToWide(utf8);
}
plat::AnsiString A(const std::string& utf8) {
  return plat::Utf8ToAnsi(utf8);
}

}  // namespace testhost
