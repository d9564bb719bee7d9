// SPDX-License-Identifier: Apache-2.0
// One request in the journal: its till and key, its state, what was asked and what was
// answered; the request hash and the key rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "codec.h"

namespace fpd {

// The till of a service without a tills file: every request belongs to it, and so does every
// entry imported from a journal written before tills existed.
inline const std::string kLocalTill;

enum class JournalState {
  Queued,     // accepted, waiting for the worker (held in memory only)
  Started,    // being printed by this process
  Done,       // answered; a replay answers the same
  InDoubt,    // may or may not have been printed: the till resolves it
  Resolved,   // the till's decision on an entry in doubt
  Retryable,  // failed before anything reached the printer: the key may run again
};

// "queued", "started", "done", "in_doubt", "resolved", "retryable": the names in JSON and in
// the database.
std::string_view StateName(JournalState s);
std::optional<JournalState> ParseState(std::string_view name);

struct JournalEntry {
  std::string Till, Key, Hash, Path;
  Json Request;
  JournalState State = JournalState::Queued;
  std::string StartedAt, FinishedAt;
  int64_t StartedEpoch = 0, FinishedEpoch = 0;
  int Status = 0;
  Json Answer;      // the outcome's answer; an entry the printer link left in doubt has one too
  Json Resolution;  // {"printed": bool, ...} once resolved
  uint64_t Order = 0;
};

// A hash of a request: its path and its body written with sorted members, as 32 hex digits
// (two 64-bit hashes).
std::string RequestHash(const std::string& path, const Json& body);
// A key the till may use: 1 to 128 of letters, digits and "-_.:".
bool ValidKey(const std::string& key);

// Local time "YYYY-MM-DDTHH:MM:SS" of a time in seconds since 1970, as entries show it.
std::string LocalTimeText(int64_t epoch);

}  // namespace fpd
