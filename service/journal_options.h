// SPDX-License-Identifier: Apache-2.0
// How the journal is opened and kept: its folder, how long finished entries stay, whether a
// damaged file is salvaged, and how often the database is checked whole.
#pragma once

#include <cstdint>
#include <string>

namespace fpd {

struct JournalOptions {
  std::string Folder;  // the state folder: journal.db, and a journal.jsonl to import once
  int KeepDays = 30;   // finished entries older than this are deleted by Prune()
  // With --journal-repair: a damaged database or JSON-lines journal is salvaged instead of
  // stopping the start (journal_file.h).
  bool Repair = false;
  // How long a database checked whole at start stays trusted by the next starts that follow a
  // clean stop; 0 checks at every start. A start after a crash always checks.
  int64_t CheckIntervalSeconds = 86400;
};

}  // namespace fpd
