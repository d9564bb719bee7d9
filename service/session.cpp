// SPDX-License-Identifier: Apache-2.0
#include "session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <utility>

#include "errors.h"
#include "log.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/os.h"
#include "platform/support.h"
#include "printer/backend.h"
#include "printer/commands.h"
#include "printer/emulator.h"
#include "printer/link_decision.h"
#include "printer/link_frame.h"
#include "printer/status.h"

namespace fpd {

namespace {

// "COM1" to "COM12" give the port numbers 1 to 12, anything else 0, as the driver maps them.
int PortNumber(const plat::AnsiString& name) {
  for (int n = 1; n <= 12; ++n) {
    if (name == "COM" + std::to_string(n)) return n;
  }
  return 0;
}

// Where the request holding the printer's open document is kept, in the state folder.
constexpr const char* kHeldFile = "/held-document.json";

std::string NowText() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  return buf;
}

std::string Number8(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08d", n);
  return buf;
}

// The driver's log of this month.
std::string DriverLogPath(const std::string& dir) {
  return dir + "/" + plat::DriverLogName(plat::Now());
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Whether the command, run, changes what the printer holds or prints; a method the command table
// does not know counts as one that does.
bool ChangesPrinter(const char* method, const std::vector<plat::WideString*>& args) {
  const plat::CommandInfo* command = plat::FindCommand(method);
  if (command == nullptr) return true;
  std::vector<plat::AnsiString> fields;
  for (const plat::WideString* a : args) fields.push_back(a ? plat::WideToAnsi(*a) : "");
  return plat::link::Changes(*command, fields);
}

}  // namespace

// Every command on its way to the printer: what the link reports is kept for the request.
class DriverSession::Watch final : public plat::PrinterBackend {
 public:
  explicit Watch(std::shared_ptr<plat::PrinterBackend> inner) : inner_(std::move(inner)) {}
  plat::PrinterAnswer Execute(int portNumber, const char* method,
                              const std::vector<plat::WideString*>& args) override {
    try {
      plat::PrinterAnswer a = inner_->Execute(portNumber, method, args);
      answered_ = true;
      if (a.Result != 0 && ChangesPrinter(method, args)) {
        std::lock_guard lock(mu_);
        events_.Changed = true;
      }
      if (a.Result == 0) {
        const plat::CommandInfo* command = plat::FindCommand(method);
        const bool opening = command != nullptr && plat::OpensDocument(command->Id);
        std::string why;
        for (const auto& r : plat::RefusalReasons(a.PrinterStatus, a.FiscalStatus, opening)) {
          why += (why.empty() ? "" : ", ") + r;
        }
        std::lock_guard lock(mu_);
        events_.Refused = std::string("the printer refused ") + method +
                          (why.empty() ? std::string() : ": " + why);
      }
      return a;
    } catch (const plat::ELinkError& e) {
      std::lock_guard lock(mu_);
      if (e.Kind() == plat::LinkFault::InDoubt) events_.InDoubt = true;
      events_.Failure = FromAnsi(e.Message());
      throw;
    }
  }
  // Whether the printer answered a command since the last call (worker thread only).
  bool TakeAnswered() { return std::exchange(answered_, false); }
  LinkEvents Take() {
    std::lock_guard lock(mu_);
    return std::exchange(events_, LinkEvents{});
  }
  LinkEvents Peek() const {
    std::lock_guard lock(mu_);
    return events_;
  }

 private:
  std::shared_ptr<plat::PrinterBackend> inner_;
  mutable std::mutex mu_;
  LinkEvents events_;
  bool answered_ = false;
};

std::vector<std::string> StatusReasons(uint16_t printerStatus, uint16_t fiscalStatus) {
  std::vector<std::string> out = plat::link::DecodePrinterStatus(printerStatus);
  for (auto& r : plat::link::DecodeFiscalStatus(fiscalStatus)) out.push_back(std::move(r));
  return out;
}

DriverSession::DriverSession(SessionOptions options) : options_(std::move(options)) {
  // The state folder is the driver's host folder.
  plat::SetHostFolder(options_.StateDir);
  LoadHeldBy();
  plat::SetMensagemHandler([this](const plat::MensagemCall& c) { return OnDialog(c); });
  package_ = plat::Package::Load(options_.PackagePath);
  try {
    const auto backend = plat::CurrentPrinterBackend();
    emulated_ = backend.get() == plat::DefaultEmulator().get();
    watch_ = std::make_shared<Watch>(backend);
    plat::SetPrinterBackend(watch_);
  } catch (const plat::Exception&) {
    emulated_ = false;  // the first command tells the printer's trouble
  }
  if (!emulated_) std::fill(std::begin(counters_), std::end(counters_), -1);
  view_.Backend = emulated_ ? "emulator" : "serial";
  const auto start = package_->Get<decltype(::StartImpFiscal)>("StartImpFiscal");
  Begin({});
  const bool started = start(plat::MakeBundle({{"CDFILIAL", ""},
                                               {"CDCAIXA", ""},
                                               {"NRSERIEIMP", ""},
                                               {"ESQUEMA", plat::Variant(options_.Scheme)},
                                               {"CDPORTAIMPFIS", plat::Variant(options_.Port)}}));
  const Capture c = End();
  if (!started) {
    std::string why = "StartImpFiscal answered False";
    for (const auto& d : c.Dialogs) why += ": " + d.value("text", "");
    throw plat::Exception(why);
  }
  SetPort(options_.Port);
}

DriverSession::~DriverSession() {
  plat::SetMensagemHandler({});
  if (watch_) plat::SetPrinterBackend(nullptr);
}

DriverSession::LinkEvents DriverSession::Link() const {
  return watch_ ? watch_->Peek() : LinkEvents{};
}

bool DriverSession::OnDialog(const plat::MensagemCall& call) {
  Json d = {{"kind", static_cast<int>(call.Kind)},
            {"text", FromAnsi(call.Text)},
            {"scheme", FromAnsi(call.Scheme)},
            {"question", call.Kind == plat::tmPergunta}};
  bool yes = false;
  if (call.Kind == plat::tmPergunta) {
    if (!answers_.empty()) {
      yes = answers_.front();
      answers_.pop_front();
    } else {
      d["unanswered"] = true;
    }
    d["answer"] = yes;
  }
  capture_.Dialogs.push_back(std::move(d));
  return yes;
}

void DriverSession::Begin(std::vector<bool> answers) {
  if (watch_) watch_->Take();
  answers_.assign(answers.begin(), answers.end());
  capture_ = Capture{};
  capturing_ = true;
  called_ = true;
  logPath_ = DriverLogPath(options_.StateDir);
  logOffset_ = FileSize(logPath_);
}

DriverSession::Capture DriverSession::End() {
  capturing_ = false;
  answers_.clear();
  // The lines appended since Begin; a month that turned meanwhile starts a new file, whose
  // lines follow.
  std::vector<std::pair<std::string, uint64_t>> files = {{logPath_, logOffset_}};
  const std::string now = DriverLogPath(options_.StateDir);
  if (now != logPath_) files.emplace_back(now, 0);
  for (const auto& [path, offset] : files) {
    std::ifstream in(path, std::ios::binary);
    if (!in) continue;
    in.seekg(static_cast<std::streamoff>(offset));
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      capture_.Log.push_back(FromAnsi(line));
    }
  }
  CopyPaper();
  return std::move(capture_);
}

void DriverSession::SetPort(const plat::AnsiString& portName) {
  control_.SetPortNumber(plat::Variant(PortNumber(portName)));
}

void DriverSession::NoteDocumentNumber(const plat::AnsiString& number) {
  std::lock_guard lock(mu_);
  lastNumber_ = FromAnsi(number);
  if (!emulated_) view_.LastDocumentNumber = lastNumber_;
}

void DriverSession::SetHeldBy(std::string key) {
  if (key == heldBy_) return;
  heldBy_ = std::move(key);
  const Json held = heldBy_.empty() ? Json(nullptr) : Json{{"key", heldBy_}, {"since", NowText()}};
  {
    std::lock_guard lock(mu_);
    held_ = held;
  }
  const std::string path = options_.StateDir + kHeldFile;
  try {
    if (heldBy_.empty()) {
      if (plat::FileExists(path) && !plat::DeleteFile(path))
        throw std::runtime_error("it cannot be removed");
    } else {
      plat::WriteFileAtomic(path, held.dump() + "\n");
    }
  } catch (...) {
    // The service goes on knowing it; only a restart before the next write forgets it.
    Log(LogLevel::Error, "the open document's request cannot be kept in " + path + ": " +
                             FailureText(std::current_exception()) + " key=" + LogValue(heldBy_));
  }
}

void DriverSession::LoadHeldBy() {
  const std::string path = options_.StateDir + kHeldFile;
  if (!plat::FileExists(path)) return;
  Json held;
  try {
    held = Json::parse(plat::ReadWholeFile(path), nullptr, false);
  } catch (...) {
    held = nullptr;  // unreadable: taken as no holder, said below
  }
  if (held.is_object() && held.contains("key") && held["key"].is_string() &&
      !held["key"].get<std::string>().empty()) {
    heldBy_ = held["key"];
    held_ = {
        {"key", heldBy_},
        {"since", held.contains("since") && held["since"].is_string() ? held["since"] : Json()}};
    Log(LogLevel::Info, "the printer's open document is held by key=" + LogValue(heldBy_));
  } else {
    // Without it a document left open counts as no request's, as after a crash mid-sale.
    Log(LogLevel::Warn, path + " does not read as the open document's request; it is ignored");
  }
}

Json DriverSession::HeldDocument() const {
  std::lock_guard lock(mu_);
  return held_;
}

void DriverSession::NoteStray(const Json& record) {
  std::lock_guard lock(mu_);
  stray_ = record;
}

void DriverSession::CopyPaper() {
  if (!emulated_) return;
  const auto emulator = plat::DefaultEmulator();
  const auto& paper = emulator->Paper();
  std::lock_guard lock(mu_);
  if (paper.size() < paperCopied_) paperCopied_ = 0;  // the tape was cleared
  for (size_t i = paperCopied_; i < paper.size(); ++i) paper_.push_back(FromAnsi(paper[i]));
  // The emulator keeps what it printed and every command it received, which the service never
  // reads back: both go once the paper is copied, so that memory stays flat over a long day.
  // Only the worker makes the emulator work, and this runs on the worker.
  emulator->ClearPaper();
  emulator->ClearJournal();
  paperCopied_ = 0;
  if (paper_.size() > 2 * kPaperKept) {  // a long day: the oldest lines go
    const size_t drop = paper_.size() - kPaperKept;
    paper_.erase(paper_.begin(), paper_.begin() + static_cast<std::ptrdiff_t>(drop));
    paperBase_ += drop;
  }
}

bool DriverSession::KnownSilent() {
  // A command the printer answered since shows it back at once.
  if (watch_ && watch_->TakeAnswered()) silentAt_.reset();
  return silentAt_ && std::chrono::steady_clock::now() - *silentAt_ < interval_;
}

Json DriverSession::Probe() {
  // A printer that did not answer the status query of a request moments ago is not waited for
  // again by every request: until the next check is due (or a command it answers, or the idle
  // check's query) the state stands, and the printer link refuses the commands at once.
  const bool idleCheck = plat::QuickStatusQueries::Active();
  if (!idleCheck && KnownSilent()) {
    std::lock_guard lock(mu_);
    called_ = false;
    return SnapshotLocked();
  }
  PrinterView v;
  v.Backend = emulated_ ? "emulator" : "serial";
  v.CheckedAt = NowText();
  plat::WideString mode = u"N";
  try {
    control_.Status(mode);
    const auto ps = static_cast<uint16_t>(control_.PrinterStatus().AsInteger());
    const auto fs = static_cast<uint16_t>(control_.FiscalStatus().AsInteger());
    v.Reachable = true;
    v.PrinterStatus = ps;
    v.FiscalStatus = fs;
    v.Reasons = StatusReasons(ps, fs);
    const plat::PrinterState state = plat::ReadState(ps, fs);
    v.DocumentOpen = state.DocumentOpen();
    if (const char* document = plat::Name(state.Document)) v.Document = document;
    v.Journal = state.Journal;
    v.Receipt = state.Receipt;
    v.Fiscal = state.Fiscal;
    silentAt_.reset();
    silentProbes_ = 0;
  } catch (const std::exception& e) {
    if (!idleCheck) {
      silentAt_ = std::chrono::steady_clock::now();
      if (watch_) watch_->TakeAnswered();
    }
    v.Reachable = false;
    v.Error = FailureText(e);
  }
  if (emulated_) {
    const auto& model = plat::DefaultEmulator()->Model();
    using St = plat::FiscalPrinterModel::DocState;
    switch (model.State()) {
      case St::Idle:
        v.Document.reset();
        break;
      case St::Ticket:
        v.Document = "ticket";
        break;
      case St::Invoice:
        v.Document = std::string("invoice ") + model.InvoiceLetter();
        break;
      case St::NonFiscal:
        v.Document = "non-fiscal";
        break;
    }
    // The two series the printer numbers, as on a serial line: tickets with B and C documents,
    // and A documents.
    const auto& c = model.GetCounters();
    v.LastTicket = Number8(c.LastTicket);
    v.LastInvoiceA = Number8(c.LastInvoiceA);
    // The last document is the one whose counter moved last.
    const int now[2] = {c.LastTicket, c.LastInvoiceA};
    for (int k = 0; k < 2; ++k) {
      if (now[k] != counters_[k]) lastKind_ = k;
      counters_[k] = now[k];
    }
    v.LastDocumentNumber = Number8(now[lastKind_]);
  }
  if (!emulated_ && called_ && v.Reachable == true) ReadCounters();
  CopyPaper();
  PrinterView before;
  Json snapshot;
  {
    std::lock_guard lock(mu_);
    if (!emulated_) {
      if (!lastNumber_.empty()) v.LastDocumentNumber = lastNumber_;
      if (counters_[0] >= 0 && counters_[1] >= 0) {
        v.LastTicket = Number8(counters_[0]);
        v.LastInvoiceA = Number8(counters_[1]);
      }
    }
    before = std::exchange(view_, v);
    snapshot = SnapshotLocked();
  }
  called_ = false;
  probedAt_ = std::chrono::steady_clock::now();
  if (events_ != nullptr && StateChanged(before, v)) events_->Emit(PrinterChanged{before, v});
  return snapshot;
}

void DriverSession::ReadCounters() {
  // The document counters (status mode A): field 2 the last ticket or B/C document completed,
  // field 4 the last A document completed, 8 digits each. A reply that does not read so
  // changes nothing.
  plat::WideString mode = u"A";
  int now[2] = {-1, -1};
  try {
    if (control_.Status(mode) == 0) return;
    // Answer field 3 is the reply's first field.
    const int fields[2] = {static_cast<int>(plat::status_a::kTicketDone) + 3,
                           static_cast<int>(plat::status_a::kADone) + 3};
    for (int k = 0; k < 2; ++k) {
      const std::string f = plat::WideToUtf8(control_.AnswerField(fields[k]).AsWideString());
      if (f.size() != plat::status_a::kLayout[plat::status_a::kTicketDone].Width ||
          f.find_first_not_of("0123456789") != std::string::npos)
        return;
      now[k] = std::stoi(f);
    }
  } catch (const std::exception&) {
    return;  // the status query of mode N answered: its state stands
  }
  std::lock_guard lock(mu_);
  // The last document is the one whose counter moved; at start, the ticket or B/C series
  // unless only A documents were ever completed.
  int last = counters_[0] < 0 ? (now[0] == 0 && now[1] > 0 ? 1 : 0) : -1;
  for (int k = 0; k < 2; ++k) {
    if (counters_[k] >= 0 && now[k] != counters_[k]) last = k;
    counters_[k] = now[k];
  }
  if (last >= 0) lastNumber_ = Number8(now[last]);
}

void DriverSession::Idle(std::chrono::milliseconds interval) {
  // The idle check holds the worker for one quick status query at most (one try, one reply
  // timeout), and a request that comes meanwhile waits for no more. A printer that does not
  // answer is asked again after twice the time each time, up to a minute, so that a request
  // rarely finds the worker waiting for it at all.
  interval_ = interval;
  auto wait = interval;
  for (int i = 0; i < silentProbes_ && wait < std::chrono::minutes(1); ++i) wait *= 2;
  wait = std::min<std::chrono::milliseconds>(
      wait, std::max<std::chrono::milliseconds>(interval, std::chrono::minutes(1)));
  if (called_ || std::chrono::steady_clock::now() - probedAt_ >= wait) {
    const plat::QuickStatusQueries quick;
    Probe();
    if (View().Reachable == false) ++silentProbes_;
  }
}

PrinterView DriverSession::View() const {
  std::lock_guard lock(mu_);
  return view_;
}

Json DriverSession::Snapshot() const {
  std::lock_guard lock(mu_);
  return SnapshotLocked();
}

Json DriverSession::SnapshotLocked() const {
  Json s = ToJson(view_);
  s["strayDocument"] = stray_;
  return s;
}

Json DriverSession::Paper(size_t from) const {
  if (!emulated_) return nullptr;
  std::lock_guard lock(mu_);
  from = std::max(from, paperBase_);
  const size_t end = paperBase_ + paper_.size();
  Json lines = Json::array();
  for (size_t i = from; i < end; ++i) lines.push_back(paper_[i - paperBase_]);
  return Json{{"from", from}, {"next", std::max(from, end)}, {"lines", lines}};
}

}  // namespace fpd
