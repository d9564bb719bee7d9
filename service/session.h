// SPDX-License-Identifier: Apache-2.0
// The driver as the service holds it: the loaded package started on the printer, the dialogs
// and log lines of each call captured, and the printer's state asked with a status query.
// Everything but the snapshot readers runs on the worker thread only.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "codec.h"
#include "events.h"
#include "platform/loader.h"
#include "platform/support.h"
#include "printer/printer.h"
#include "printer_view.h"

namespace fpd {

struct SessionOptions {
  std::string PackagePath;
  std::string StateDir;  // the driver's host folder
  std::string Port = "COM1";
  std::string Scheme;
};

// Readable reasons for the set bits of the two status words, printer word first.
std::vector<std::string> StatusReasons(uint16_t printerStatus, uint16_t fiscalStatus);

class DriverSession {
 public:
  // Points the driver's host folder at the state folder, installs the dialog handler, loads
  // the package and calls StartImpFiscal. Raises plat::Exception when the package cannot load.
  explicit DriverSession(SessionOptions options);
  ~DriverSession();

  const plat::Package& Package() const { return *package_; }
  const SessionOptions& Options() const { return options_; }
  std::string HostFile(const std::string& name) const { return options_.StateDir + "/" + name; }

  // What the calls between Begin and End showed and wrote.
  struct Capture {
    Json Dialogs = Json::array();
    Json Log = Json::array();
  };
  void Begin(std::vector<bool> answers);
  Capture End();

  // Where the printer's state changes are told (PrinterChanged, on the worker): set before the
  // first status query; none by default.
  void SetEvents(const Events* events) { events_ = events; }

  // Asks the printer its status now and answers the printer's part of /v1/status.
  Json Probe();
  // The idle task: asks again when a call ran since the last query or the interval passed
  // (longer while the printer does not answer).
  void Idle(std::chrono::milliseconds interval);
  // The printer as last asked (any thread).
  PrinterView View() const;
  // The printer's part of /v1/status as last asked (any thread): View() with "strayDocument".
  Json Snapshot() const;
  // The emulator's paper from line from on (any thread); null on a serial line. The last
  // kPaperKept lines at least are kept.
  Json Paper(size_t from) const;
  static constexpr size_t kPaperKept = 20000;

  // What the printer link did between Begin and End: a command it left in doubt (it may or may
  // not have run on the printer), a command that changes the printer which the printer took, the
  // last failure to reach the printer, and the last command the printer refused with the reasons
  // its status words give.
  struct LinkEvents {
    bool InDoubt = false;
    bool Changed = false;
    std::string Failure;
    std::string Refused;
  };
  LinkEvents Link() const;

  // The request whose document the printer holds open on purpose (a till finishing it with
  // entry point calls, an invoice left for the till); empty when none. A document open with
  // none here is no request's (a command in doubt opened it) and the service deals with it.
  // It is kept in the state folder ("held-document.json"), so that a restarted service leaves
  // a till's document alone too.
  const std::string& HeldBy() const { return heldBy_; }
  void SetHeldBy(std::string key);
  // The same for the status (any thread): {"key", "since"}, or null when no request holds one.
  Json HeldDocument() const;
  // The last such document the service dealt with, shown in the snapshot as "strayDocument".
  void NoteStray(const Json& record);

  // The service's own control on the driver's port: the status queries, and the printer's
  // commands that no entry point sends (the fiscal-memory reports). Worker only.
  plat::TPrinterFiscal& Control() { return control_; }

  // The port a StartImpFiscal call set, for the status queries.
  void SetPort(const plat::AnsiString& portName);
  // A document number the service saw (Nr_Cupom's answer).
  void NoteDocumentNumber(const plat::AnsiString& number);

 private:
  bool OnDialog(const plat::MensagemCall& call);
  class Watch;
  void CopyPaper();
  void ReadCounters();  // a serial printer's document counters
  void LoadHeldBy();

  SessionOptions options_;
  std::unique_ptr<plat::Package> package_;
  std::shared_ptr<Watch> watch_;  // between the driver and the printer
  plat::TPrinterFiscal control_;  // the service's own control: status queries and reports
  bool emulated_ = true;
  bool capturing_ = false;
  std::deque<bool> answers_;
  Capture capture_;
  std::string logPath_;
  uint64_t logOffset_ = 0;
  bool called_ = true;
  std::chrono::steady_clock::time_point probedAt_{};
  std::string heldBy_;
  int silentProbes_ = 0;  // idle queries in a row the printer did not answer
  // When a request's status query last went unanswered; reset by any answer.
  std::optional<std::chrono::steady_clock::time_point> silentAt_;
  std::chrono::milliseconds interval_{5000};  // between idle status queries
  bool KnownSilent();
  Json SnapshotLocked() const;  // mu_ held
  const Events* events_ = nullptr;

  mutable std::mutex mu_;  // guards what other threads read
  PrinterView view_;
  std::vector<std::string> paper_;  // lines paperBase_ on; older ones are dropped
  size_t paperBase_ = 0;
  size_t paperCopied_ = 0;
  std::string lastNumber_;
  Json stray_ = nullptr;
  Json held_ = nullptr;  // what HeldDocument() answers
  // As last seen: the ticket or B/C series and the A series; on a serial line -1 before the
  // printer told them.
  int counters_[2] = {0, 0};
  int lastKind_ = 0;
};

}  // namespace fpd
