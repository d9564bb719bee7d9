// SPDX-License-Identifier: Apache-2.0
// The built-in fiscal printer: the in-process backend around the printer model, with its journal
// and scripting. docs/emulator.md describes the behaviour.
#include "printer/emulator.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "printer/internal/model_ops.h"

namespace plat {

FiscalEmulator::FiscalEmulator() = default;

PrinterAnswer FiscalEmulator::Execute(int portNumber, const char* method,
                                      const std::vector<WideString*>& args) {
  std::lock_guard<std::mutex> lock(mu_);
  lastPort_ = portNumber;
  ExecutedCommand entry;
  entry.Method = method ? method : "";
  entry.Args.reserve(args.size());
  for (auto* p : args) entry.Args.push_back(p ? *p : WideString());
  KeepTail(journal_);
  journal_.push_back(std::move(entry));
  const size_t index = journal_.size() - 1;
  const std::string& name = journal_[index].Method;  // nothing below adds to the journal

  auto raise = [&](auto&& exception) {
    journal_[index].Raised = true;
    throw exception;
  };
  auto silence = [portNumber] {
    return ELinkError("the printer does not answer on port " + std::to_string(portNumber));
  };
  if (switchedOff_) raise(silence());

  // Every matching rule counts the command; the first one due applies.
  std::optional<Rule> fired;
  for (auto it = rules_.begin(); it != rules_.end();) {
    bool matches = it->Method.empty() || it->Method == name;
    if (matches) ++it->seen;
    bool due = matches && (it->Occurrence == 0 || it->seen == it->Occurrence);
    if (due && !fired) {
      fired = *it;
      if (it->Occurrence != 0) {
        it = rules_.erase(it);
        continue;
      }
    }
    ++it;
  }

  if (fired) {
    switch (fired->What) {
      case Action::Refuse: {
        PrinterAnswer a = ModelOps::Refuse(model_, status::kInvalidState);
        journal_[index].Result = a.Result;
        return a;
      }
      case Action::Raise:
        raise(Exception(fired->Message));
        break;
      case Action::Silent:
        raise(silence());
        break;
      case Action::SetFields:
      case Action::WriteArg:
        break;
    }
  }

  PrinterAnswer answer;
  try {
    answer = Run(name, args);
  } catch (...) {
    journal_[index].Raised = true;
    throw;
  }
  if (fired && fired->What == Action::SetFields) answer.Fields = fired->Fields;
  if (fired && fired->What == Action::WriteArg && fired->ArgIndex >= 0 &&
      static_cast<size_t>(fired->ArgIndex) < args.size() && args[fired->ArgIndex] != nullptr)
    *args[fired->ArgIndex] = fired->ArgValue;
  journal_[index].Result = answer.Result;
  return answer;
}

PrinterAnswer FiscalEmulator::Run(const std::string& method, const std::vector<WideString*>& args) {
  const CommandInfo* info = FindCommand(method);
  // The model refuses what has no command or misses arguments, as a printer would.
  if (info == nullptr || args.size() != info->Args ||
      std::find(args.begin(), args.end(), nullptr) != args.end())
    return model_.Execute(method, args);
  translator_.SetVariant(model_.GetVariant());
  const auto requests = translator_.ToPrinter(*info, args);
  if (!requests) return ModelOps::BadField(model_);
  PrinterAnswer answer;
  for (const wire::Request& r : *requests) {
    std::vector<WideString> fields;
    fields.reserve(r.Fields.size());
    for (const auto& f : r.Fields) fields.push_back(AnsiToWide(f));
    std::vector<WideString*> ptrs;
    for (auto& f : fields) ptrs.push_back(&f);
    // The model answers its variant's layout; the control, the common one.
    answer = variants::ToCommon(model_.GetVariant(), r.Id, r.Fields,
                                model_.Execute(Info(r.Id).Method, ptrs));
    if (answer.Result == 0) break;
  }
  return wire::Translator::ToAnswer(*info, std::move(answer));
}

variants::Told FiscalEmulator::TellVariant() {
  std::lock_guard<std::mutex> lock(mu_);
  auto ask = [&](const char* mode) {
    WideString field = AnsiToWide(mode);
    return model_.Execute("Status", {&field});
  };
  return variants::Tell({ask("P"), ask("A"), ask("C")});
}

std::vector<std::string> FiscalEmulator::Methods() const {
  std::vector<std::string> out;
  out.reserve(journal_.size());
  for (const auto& e : journal_) out.push_back(e.Method);
  return out;
}

void FiscalEmulator::AddRule(Rule rule) {
  std::lock_guard<std::mutex> lock(mu_);
  rule.seen = 0;
  rules_.push_back(std::move(rule));
}

void FiscalEmulator::ClearRules() {
  std::lock_guard<std::mutex> lock(mu_);
  rules_.clear();
}

void FiscalEmulator::Refuse(const std::string& method, int occurrence) {
  Rule r;
  r.Method = method;
  r.Occurrence = occurrence;
  r.What = Action::Refuse;
  AddRule(std::move(r));
}

void FiscalEmulator::RaiseOn(const std::string& method, const AnsiString& message, int occurrence) {
  Rule r;
  r.Method = method;
  r.Occurrence = occurrence;
  r.What = Action::Raise;
  r.Message = message;
  AddRule(std::move(r));
}

void FiscalEmulator::SetFieldsAfter(const std::string& method, std::vector<WideString> fields,
                                    int occurrence) {
  Rule r;
  r.Method = method;
  r.Occurrence = occurrence;
  r.What = Action::SetFields;
  r.Fields = std::move(fields);
  AddRule(std::move(r));
}

void FiscalEmulator::WriteArgAfter(const std::string& method, int argIndex, WideString value,
                                   int occurrence) {
  Rule r;
  r.Method = method;
  r.Occurrence = occurrence;
  r.What = Action::WriteArg;
  r.ArgIndex = argIndex;
  r.ArgValue = std::move(value);
  AddRule(std::move(r));
}

void FiscalEmulator::RefuseNth(int n) {
  if (n <= 0) return;  // the 0th command never comes; a rule for it would refuse them all
  Refuse("", n);
}

void FiscalEmulator::RaiseNth(int n, const AnsiString& message) {
  if (n <= 0) return;
  RaiseOn("", message, n);
}

void FiscalEmulator::SetSwitchedOff(bool off) {
  std::lock_guard<std::mutex> lock(mu_);
  switchedOff_ = off;
}

std::shared_ptr<FiscalEmulator> DefaultEmulator() {
  static const std::shared_ptr<FiscalEmulator> instance = [] {
    auto e = std::make_shared<FiscalEmulator>();
    const char* model = std::getenv("FISCAL_PRINTER_MODEL");
    if (const auto* v = variants::Find(model ? model : "")) e->Model().SetVariant(*v);
    return e;
  }();
  return instance;
}

namespace {

// The process's emulator is the backend "emulator", the one used when FISCAL_PRINTER is unset.
[[maybe_unused]] const bool kRegistered = [] {
  RegisterPrinterBackend("emulator", [] { return DefaultEmulator(); });
  return true;
}();

}  // namespace

}  // namespace plat