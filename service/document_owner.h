// SPDX-License-Identifier: Apache-2.0
// The one owner of the document the printer holds open. Before a job and after a failed or
// in-doubt step it decides whether an open document belongs to a job (a till finishing it with
// entry point calls, an invoice left for the till) and deals with a stray one: a ticket no job
// holds is cancelled, any other is reported and left for the till. Every decision is journaled
// and logged. Worker only, but for HeldDocument().
#pragma once

#include <optional>
#include <string>

#include "journal.h"
#include "session.h"
#include "tasks.h"

namespace fpd {

class DocumentOwner {
 public:
  DocumentOwner(DriverSession& session, Journal& journal);

  // Before a job: a sale starts on a printer with no document no job holds (answers the stray
  // document dealt with, or null); every job notes whether a document was open before it.
  Json BeforeJob(const std::string& path);
  // After a job: who holds a document left open. Only the job that opened it (none was open
  // before it) may hold it, and never a ticket sale; after a step in doubt or a printer that
  // could not be reached, an open document is no job's. Answers the stray document dealt with,
  // or null.
  Json AfterJob(const std::string& till, const std::string& key, const TaskResult& r);
  // Before a job that prints only between documents (what names it): a refusal while the
  // printer holds a document open, which is left untouched (409 document_open with the printer's
  // state, retryable: nothing was sent); null when none is open.
  std::optional<TaskResult> RefuseWhileOpen(const std::string& what);
  // Whether the till's key holds the printer's open document.
  bool Holds(const std::string& till, const std::string& key) const;
  // The key lets the document go, and it is dealt with as one no job holds. Answers the
  // release's answer.
  Json Release(const JournalEntry& e);

 private:
  // The printer's open document, as its last status query told it: null while unknown. The only
  // place that reads it.
  std::optional<bool> DocumentOpen() const;
  // What the printer holds open, as the status names it ("fiscal" when it tells no more).
  std::string DocumentKind() const;
  Json Reconcile();

  DriverSession& session_;
  Journal& journal_;
  bool openBefore_ = false;
  int strays_ = 0;
};

// How a till's key names the holder of the open document (a till's name has no "/").
std::string HolderName(const std::string& till, const std::string& key);

}  // namespace fpd
