// SPDX-License-Identifier: Apache-2.0
// A benchmark host: loads the driver package by its plain names into a temporary host folder,
// with the in-process printer emulator and a dialog handler that answers from a script.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver/Arfis770.h"
#include "platform/dataset.h"
#include "platform/loader.h"
#include "platform/variant.h"
#include "printer/emulator.h"
#include "tests/support/host_data.h"

namespace benchhost {

class Host {
 public:
  // Creates the host folder, points the executable path into it (so the log lands there),
  // installs a fresh emulator and the scripted dialog handler, loads the package and starts
  // the printer on COM1.
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  template <class F>
  F* Fn(const char* name) const {
    return package_->Get<F>(name);
  }

  plat::FiscalEmulator& Emu() { return *emulator_; }
  std::shared_ptr<plat::FiscalEmulator> EmuPtr() { return emulator_; }
  const std::string& Dir() const { return dir_; }

  // The operator's answers to the questions, in order, from the start of the script; once the
  // script is used up every further question is answered no. Errors are counted.
  void Script(std::vector<bool> answers);
  int Errors() const { return errors_; }
  const std::string& LastError() const { return lastError_; }

  // Empties what grows with every command (journal, paper, log file); call it outside the
  // timed region.
  void Tidy();

 private:
  std::string dir_;
  std::shared_ptr<plat::FiscalEmulator> emulator_;
  std::unique_ptr<plat::Package> package_;
  std::vector<bool> script_;
  size_t next_ = 0;
  int errors_ = 0;
  std::string lastError_;
};

#define BENCH_CALL(host, Name) ((host).Fn<decltype(Name)>(#Name))

// Sends one command straight to the emulator, as the printer control would, and answers
// whether it was accepted.
bool Direct(plat::FiscalEmulator& emu, const char* method, std::vector<plat::WideString> args);

// The host's datasets used by the benchmarks.
using testhost::MakeDataSet;
// Product rows over a handful of tax categories.
std::unique_ptr<plat::TClientDataSet> Products(int rows);
// Movement rows of the kinds a closing reads (payment types, vouchers, supply).
std::unique_ptr<plat::TClientDataSet> Movements(int rows);
// Closing amounts per payment type (cash-out receipt detail).
std::unique_ptr<plat::TClientDataSet> MovFecha(int rows);
std::unique_ptr<plat::TClientDataSet> OperSup();
std::unique_ptr<plat::TClientDataSet> OneColumn();

}  // namespace benchhost
