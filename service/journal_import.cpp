// SPDX-License-Identifier: Apache-2.0
#include "journal_import.h"

#include <fstream>
#include <optional>
#include <regex>
#include <stdexcept>

#include "journal_entry.h"
#include "log.h"

namespace fpd {

namespace {

std::string JsonText(const Json& line, const char* member) {
  if (!line.contains(member)) return "null";
  return line[member].dump(-1, ' ', false, Json::error_handler_t::replace);
}

// What a line of the old journal says: a step of one key, or why it cannot be read.
struct Step {
  std::string Key, Error;
  JournalState State = JournalState::Started;
  Json Line;
};

Step ReadStep(const std::string& text) {
  Step s;
  s.Line = Json::parse(text, nullptr, false);
  if (s.Line.is_discarded() || !s.Line.is_object()) {
    s.Error = "not a JSON object";
  } else if (!s.Line.contains("key") || !s.Line["key"].is_string() ||
             s.Line["key"].get<std::string>().empty()) {
    s.Error = "no key";
  } else if (!s.Line.contains("state") || !s.Line["state"].is_string() ||
             !ParseState(s.Line["state"].get<std::string>()) || s.Line["state"] == "queued") {
    s.Error = "no known state";
  } else {
    s.Key = s.Line["key"].get<std::string>();
    s.State = *ParseState(s.Line["state"].get<std::string>());
  }
  return s;
}

// The key a damaged line names, when it can still be read from its text.
std::optional<std::string> KeyOf(const std::string& text) {
  static const std::regex key(R"re("key"\s*:\s*"([A-Za-z0-9_.:-]{1,128})")re");
  std::smatch m;
  if (!std::regex_search(text, m, key)) return std::nullopt;
  return m[1].str();
}

class Importer {
 public:
  explicit Importer(Database& db)
      : remove_(db, "DELETE FROM entries WHERE till = ?1 AND key = ?2"),
        start_(db,
               "INSERT INTO entries (till, key, hash, path, state, request, started_at, "
               "started_epoch) VALUES (?1, ?2, ?3, ?4, 'started', ?5, ?6, ?7)"),
        outcome_(db,
                 "UPDATE entries SET state = ?3, status = ?4, answer = ?5, finished_at = ?6, "
                 "finished_epoch = ?7, hash = CASE hash WHEN '' THEN ?8 ELSE hash END "
                 "WHERE till = ?1 AND key = ?2"),
        resolve_(db,
                 "UPDATE entries SET state = 'resolved', resolution = ?3, finished_at = ?4, "
                 "finished_epoch = ?5 WHERE till = ?1 AND key = ?2"),
        doubt_(db,
               "INSERT INTO entries (till, key, hash, path, state) VALUES (?1, ?2, '', '', "
               "'in_doubt') ON CONFLICT (key, till) DO UPDATE SET state = 'in_doubt'"),
        db_(db) {}

  void Apply(const Step& s) {
    const Json& l = s.Line;
    const std::string at = l.value("at", "");
    const int64_t ts = l.contains("ts") && l["ts"].is_number_integer() ? l["ts"].get<int64_t>() : 0;
    const std::string hash = l.value("hash", "");
    switch (s.State) {
      case JournalState::Started:
        // A key started again (after a retryable failure) is the newest entry.
        remove_.Bind(kLocalTill, s.Key).Run();
        start_.Bind(kLocalTill, s.Key, hash, l.value("path", ""), JsonText(l, "request"), at, ts)
            .Run();
        break;
      case JournalState::Done:
      case JournalState::InDoubt:
      case JournalState::Retryable:
        outcome_
            .Bind(kLocalTill, s.Key, std::string(StateName(s.State)), l.value("status", 500),
                  JsonText(l, "answer"), at, ts, hash)
            .Run();
        break;
      case JournalState::Resolved:
        resolve_.Bind(kLocalTill, s.Key, JsonText(l, "resolution"), at, ts).Run();
        break;
      case JournalState::Queued:
        break;
    }
  }

  void Doubt(const std::string& key) { doubt_.Bind(kLocalTill, key).Run(); }

  size_t Entries() {
    Statement count(db_, "SELECT count(*) FROM entries WHERE till = ''");
    count.Step();
    return static_cast<size_t>(count.Int(0));
  }

 private:
  Statement remove_, start_, outcome_, resolve_, doubt_;
  Database& db_;
};

}  // namespace

ImportCount ImportJsonLines(Database& db, const std::string& path, bool repair) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the journal '" + path + "'");
  Importer importer(db);
  ImportCount count;
  // A damaged line is known to be the torn last one only once nothing follows it.
  struct Damaged {
    size_t Number;
    std::string Text, Error;
  };
  std::optional<Damaged> pending;
  const auto settle = [&](const Damaged& d) {
    const std::string where = "the journal '" + path + "', line " + std::to_string(d.Number);
    if (!repair) {
      throw std::runtime_error(where + ", is damaged (" + d.Error +
                               "); start once with --journal-repair to import every readable "
                               "line and put the key of a damaged one in doubt");
    }
    ++count.Damaged;
    if (const auto key = KeyOf(d.Text)) {
      importer.Doubt(*key);
      ++count.Doubted;
      Log(LogLevel::Warn,
          where + ", is damaged (" + d.Error + "): its key " + *key + " is put in doubt");
    } else {
      Log(LogLevel::Warn, where + ", is damaged (" + d.Error + ") and names no readable key");
    }
  };
  std::string text;
  size_t number = 0;
  while (std::getline(in, text)) {
    ++number;
    const bool ended = !in.eof();  // a line without its end was cut by a crash
    if (text.empty()) continue;
    ++count.Lines;
    if (pending) {
      settle(*pending);
      pending.reset();
    }
    if (!ended) {
      count.TornLast = true;
      break;
    }
    const Step step = ReadStep(text);
    if (!step.Error.empty()) {
      pending = Damaged{number, text, step.Error};
      continue;
    }
    importer.Apply(step);
  }
  if (in.bad()) throw std::runtime_error("cannot read the journal '" + path + "'");
  // The last line, damaged and followed by nothing, is the append a crash cut short.
  if (pending) count.TornLast = true;
  count.Entries = importer.Entries();
  return count;
}

}  // namespace fpd
