// SPDX-License-Identifier: Apache-2.0
// A test host: loads the driver package by its plain names, as a point-of-sale host does, with
// a temporary host folder, a fixed clock, a fresh printer emulator and a dialog recorder.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "driver/Arfis770.h"
#include "platform/format.h"
#include "platform/loader.h"
#include "platform/support.h"
#include "printer/emulator.h"
#include "tests/support/host_data.h"

namespace testhost {

// Calls an entry point of the loaded package by its plain name: CALL(host, AbreCupom)(params).
#define CALL(host, Name) ((host).Fn<decltype(Name)>(#Name))

class DriverHost {
 public:
  // Creates the host folder, sets the executable path into it, fixes the clock at
  // 08/12/2026 10:00:00 and the decimal separator at '.', installs a fresh emulator and the
  // dialog recorder, and loads the package. With start, calls StartImpFiscal on COM1.
  explicit DriverHost(bool start = true);
  ~DriverHost();
  DriverHost(const DriverHost&) = delete;
  DriverHost& operator=(const DriverHost&) = delete;

  template <class F>
  F* Fn(const char* name) const {
    return package_->Get<F>(name);
  }
  plat::Package& Package() { return *package_; }

  // StartImpFiscal with the port and the colour scheme.
  bool Start(const plat::AnsiString& port = "COM1", const plat::AnsiString& scheme = "ESQ");

  plat::FiscalEmulator& Emu() { return *emulator_; }
  std::shared_ptr<plat::FiscalEmulator> EmuPtr() { return emulator_; }
  // Journal entries of one method, in order.
  std::vector<plat::ExecutedCommand> Commands(const std::string& method) const;
  // "Method(arg1|arg2|...)" for every journal entry, UTF-8, for whole-sequence comparisons.
  std::vector<std::string> CommandTexts() const;

  // The host folder (no trailing '/'); the driver's DsDirCad is this plus '/'.
  const std::string& Dir() const { return dir_; }
  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

  // The current month's log file, and its messages (the text after "<date> <time> - ").
  std::string LogPath() const;
  std::vector<plat::AnsiString> Log() const;
  std::vector<std::string> RawLogLines() const;  // whole lines, CR LF removed
  void ClearLog();
  // Puts a folder where the log file should be, so that every log write fails.
  void BreakLog();
  void RepairLog();

  // Dialogs shown so far, and the operator's answers to the next questions (missing = no).
  std::vector<plat::MensagemCall> dialogs;
  std::deque<bool> answers;

  void SetDecimalSeparator(char c);
  void SetClock(plat::TDateTime now);

 private:
  std::string dir_;
  std::unique_ptr<plat::Package> package_;
  std::shared_ptr<plat::FiscalEmulator> emulator_;
  plat::TFormatSettings savedFormat_;
};

// A wide text from UTF-8 source text (for readable test tables with accents).
plat::WideString W(const std::string& utf8);
// Windows-1252 bytes from UTF-8 source text.
plat::AnsiString A(const std::string& utf8);

}  // namespace testhost
