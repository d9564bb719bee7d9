// SPDX-License-Identifier: Apache-2.0
// The journal's database file in the state folder: opened with its settings (write-ahead log,
// every commit flushed, this process alone), its schema, the import of a JSON-lines journal
// written by an earlier version, the integrity check, and the repair of a damaged file.
#pragma once

#include <memory>
#include <string>

#include "journal_options.h"
#include "sqlite.h"

namespace fpd {

inline constexpr const char* kJournalFile = "journal.db";
inline constexpr const char* kOldJournalFile = "journal.jsonl";

// Opens <folder>/journal.db ready for use: created with its schema when missing; an existing
// journal.jsonl imported into it in one transaction and renamed journal.jsonl.imported; checked
// whole after a start that did not follow a clean stop, or when the last check is older than
// CheckIntervalSeconds; entries left "started" put in doubt; marked in use until
// MarkClosedCleanly. A damaged database, or a damaged line of the JSON-lines journal other
// than a torn last one, raises std::runtime_error naming the file (and the line), unless
// options.Repair is set: then what can be read is kept, the key of an unreadable entry in
// doubt when it can be read, the damaged file kept beside it, and what was done logged.
std::unique_ptr<Database> OpenJournalDatabase(const JournalOptions& options);

// Records that this process stopped cleanly, so that the next start may skip the whole check.
void MarkClosedCleanly(Database& db);

}  // namespace fpd
