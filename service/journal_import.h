// SPDX-License-Identifier: Apache-2.0
// The JSON-lines journal of earlier versions (journal.jsonl: one object per step of a request,
// {"key", "hash", "path", "request", "state", "status", "answer", "resolution", "at", "ts"}),
// read into the database's entries of the local till.
#pragma once

#include <cstddef>
#include <string>

#include "sqlite.h"

namespace fpd {

struct ImportCount {
  size_t Lines = 0;       // lines read
  size_t Entries = 0;     // entries the database holds from them
  size_t Damaged = 0;     // damaged lines passed over (only with repair)
  size_t Doubted = 0;     // keys of damaged lines put in doubt (only with repair)
  bool TornLast = false;  // a torn last line was dropped
};

// Imports the file into db, inside the caller's transaction. A damaged line other than a torn
// last one raises std::runtime_error naming the file and the line, unless repair is set: then
// the key it names, when it can be read, is put in doubt, and the line is logged.
ImportCount ImportJsonLines(Database& db, const std::string& path, bool repair);

}  // namespace fpd
