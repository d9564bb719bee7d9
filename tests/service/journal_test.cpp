// SPDX-License-Identifier: Apache-2.0
// The journal's database: verdicts across restarts, keys of several tills, retryable failures,
// retention, the import of an earlier version's JSON-lines journal, and damaged files.
#include <gtest/gtest.h>

#include <dirent.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/exceptions.h"
#include "service/journal.h"
#include "service/pipeline.h"
#include "tests/service/service_process.h"

namespace {

using fpd::Journal;
using fpd::JournalState;
using fpd::Json;
using Verdict = fpd::Journal::Verdict;
namespace fs = std::filesystem;

class JournalTest : public ::testing::Test {
 protected:
  servicetest::TempDir dir_;
  std::string File(const std::string& name) const { return dir_.Path() + "/" + name; }
  std::unique_ptr<Journal> Open(bool repair = false, int keepDays = 30) const {
    return std::make_unique<Journal>(fpd::JournalOptions{dir_.Path(), keepDays, repair, 0});
  }
  static Verdict Claim(Journal& j, const std::string& key, const std::string& hash = "h",
                       const std::string& till = "") {
    return j.Claim(till, key, hash, "/v1/x", Json::object(), nullptr);
  }
  static void Run(Journal& j, const std::string& key, const std::string& till = "") {
    ASSERT_EQ(Claim(j, key, "h", till), Verdict::New) << key;
    j.Started(till, key);
    j.Finished(till, key, 200, Json{{"ok", true}, {"key", key}});
  }
  static std::vector<std::string> Keys(const std::vector<fpd::JournalEntry>& entries) {
    std::vector<std::string> keys;
    for (const auto& e : entries) keys.push_back(e.Key);
    return keys;
  }
  // An old journal's lines: key, state, and its time in days before now.
  void WriteOldJournal(const std::vector<std::string>& lines) const {
    std::ofstream out(File("journal.jsonl"), std::ios::binary);
    for (const auto& l : lines) out << l;
  }
  static std::string Line(const std::string& key, const std::string& state, int daysAgo = 0) {
    const int64_t ts = static_cast<int64_t>(std::time(nullptr)) - int64_t{daysAgo} * 86400;
    Json j = {{"key", key}, {"hash", "h"}, {"state", state}, {"ts", ts}};
    if (state == "started") j["request"] = {{"n", key}};
    if (state == "done") j["status"] = 200, j["answer"] = {{"ok", true}};
    return j.dump() + "\n";
  }
};

TEST_F(JournalTest, VerdictsSurviveARestart) {
  {
    auto j = Open();
    Run(*j, "done-1");
    ASSERT_EQ(Claim(*j, "died", "h2"), Verdict::New);
    j->Started("", "died");  // the service dies here
    EXPECT_EQ(Claim(*j, "died", "h2"), Verdict::InProgress);
    EXPECT_EQ(Claim(*j, "queued"), Verdict::New);
    EXPECT_EQ(Claim(*j, "queued"), Verdict::InProgress);
    EXPECT_EQ(j->Find("", "queued")->State, JournalState::Queued);
  }
  {
    auto j = Open();
    fpd::JournalEntry e;
    EXPECT_EQ(j->Claim("", "done-1", "h", "/v1/x", Json::object(), &e), Verdict::Replay);
    EXPECT_EQ(e.Answer["key"], "done-1");
    EXPECT_EQ(Claim(*j, "done-1", "other"), Verdict::Conflict);
    EXPECT_EQ(Claim(*j, "died", "h2"), Verdict::InDoubt);
    EXPECT_EQ(j->InDoubt(), (std::vector<fpd::JournalKey>{{"", "died"}}));
    EXPECT_FALSE(j->Find("", "queued"));  // never started: nothing of it was kept
    j->Resolve("", "died", Json{{"printed", false}});
  }
  auto j = Open();
  EXPECT_EQ(Claim(*j, "died", "h2"), Verdict::Resolved);
  EXPECT_TRUE(j->InDoubt().empty());
  EXPECT_EQ(j->Count(), 2u);
}

TEST_F(JournalTest, TheSameKeyFromTwoTillsIsTwoRequests) {
  auto j = Open();
  Run(*j, "sale-1", "till-a");
  EXPECT_EQ(Claim(*j, "sale-1", "h", "till-a"), Verdict::Replay);
  EXPECT_EQ(Claim(*j, "sale-1", "other", "till-b"), Verdict::New);
  j->Started("till-b", "sale-1");
  j->FinishedInDoubt("till-b", "sale-1", 409, Json{{"ok", false}});
  Run(*j, "sale-2", "till-a");
  EXPECT_EQ(Claim(*j, "sale-3", "h", "till-b"), Verdict::New);  // waits for the worker

  EXPECT_EQ(Keys(j->Last(10)), (std::vector<std::string>{"sale-3", "sale-2", "sale-1", "sale-1"}));
  EXPECT_EQ(Keys(j->Last(10, "till-a")), (std::vector<std::string>{"sale-2", "sale-1"}));
  EXPECT_EQ(Keys(j->Last(1, "till-b")), std::vector<std::string>{"sale-3"});
  EXPECT_EQ(j->InDoubt("till-b"), (std::vector<fpd::JournalKey>{{"till-b", "sale-1"}}));
  EXPECT_TRUE(j->InDoubt("till-a").empty());
  EXPECT_EQ(j->Find("till-a", "sale-1")->State, JournalState::Done);
  EXPECT_FALSE(j->Find("", "sale-1"));
}

TEST_F(JournalTest, ARetryableFailureLetsItsKeyRunAgain) {
  {
    auto j = Open();
    ASSERT_EQ(Claim(*j, "k"), Verdict::New);
    j->Started("", "k");
    j->FinishedRetryable("", "k", 503, Json{{"ok", false}, {"retryable", true}});
    Run(*j, "later");
    EXPECT_EQ(j->Find("", "k")->State, JournalState::Retryable);
  }
  auto j = Open();
  // Another body too: nothing of the first one reached the printer.
  ASSERT_EQ(Claim(*j, "k", "other"), Verdict::New);
  j->Release("", "k");  // the queue was full: the retryable entry stays
  EXPECT_EQ(j->Find("", "k")->Status, 503);
  ASSERT_EQ(Claim(*j, "k", "other"), Verdict::New);
  j->Started("", "k");
  j->Finished("", "k", 200, Json{{"ok", true}});
  EXPECT_EQ(Claim(*j, "k", "other"), Verdict::Replay);
  EXPECT_EQ(Keys(j->Last(2)), (std::vector<std::string>{"k", "later"}));  // newest run first
}

TEST_F(JournalTest, RetentionDeletesOldFinishedEntriesAndKeepsTheInDoubt) {
  WriteOldJournal({Line("old-done", "started", 40), Line("old-done", "done", 40),
                   Line("old-doubt", "started", 40), Line("new-done", "started", 1),
                   Line("new-done", "done", 1)});
  {
    auto j = Open();
    EXPECT_EQ(j->Count(), 3u);
    EXPECT_EQ(j->LastPruned(), 0);
    j->Prune();
    EXPECT_GT(j->LastPruned(), 0);
  }
  auto j = Open();
  EXPECT_FALSE(j->Find("", "old-done"));
  EXPECT_EQ(j->Find("", "old-doubt")->State, JournalState::InDoubt);
  EXPECT_EQ(j->Find("", "new-done")->State, JournalState::Done);
}

// An earlier version's journal is imported once; only a torn last line may be dropped unasked.
TEST_F(JournalTest, AnOldJournalIsImportedOnceAndADamagedLineStopsTheStart) {
  const std::string ok = Line("a", "started") + Line("a", "done") + Line("b", "started");
  struct Case {
    const char* name;
    std::string text;
    bool repair;
    std::string error;                       // empty: it opens
    std::vector<std::string> done, inDoubt;  // what the journal then holds
  };
  const Case cases[] = {
      {"whole", ok, false, "", {"a"}, {"b"}},
      {"torn last line", ok + R"({"key":"c","hash":"h","sta)", false, "", {"a"}, {"b"}},
      {"damaged last line", ok + "{\"key\":\"c\",\x01garbage\n", false, "", {"a"}, {"b"}},
      {"damaged line",
       Line("a", "started") + "{\"key\":\"a\",\"sta\x01\n" + Line("b", "started"),
       false,
       "journal.jsonl', line 2, is damaged",
       {},
       {}},
      {"repaired: its key in doubt",
       Line("a", "started") + "{\"key\":\"a\",\"sta\x01\n" + Line("b", "started") +
           "nothing readable\n" + Line("b", "done"),
       true,
       "",
       {"b"},
       {"a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_.Path());
    fs::create_directory(dir_.Path());
    WriteOldJournal({c.text});
    if (!c.error.empty()) {
      try {
        Open(c.repair);
        ADD_FAILURE() << "opened";
      } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
      }
      EXPECT_TRUE(fs::exists(File("journal.jsonl")));  // left as it was, for the repair
      continue;
    }
    for (int start = 0; start < 2; ++start) {  // the second start finds nothing to import
      auto j = Open(c.repair);
      for (const auto& k : c.done) EXPECT_EQ(j->Find("", k)->State, JournalState::Done) << k;
      std::vector<fpd::JournalKey> doubt;
      for (const auto& k : c.inDoubt) {
        doubt.push_back({"", k});
        EXPECT_TRUE(j->Find("", k)->Request.is_object()) << k;  // also one that was unreadable
      }
      EXPECT_EQ(j->InDoubt(), doubt);
      EXPECT_EQ(j->Count(), c.done.size() + c.inDoubt.size());
    }
    EXPECT_FALSE(fs::exists(File("journal.jsonl")));
    EXPECT_TRUE(fs::exists(File("journal.jsonl.imported")));
  }
}

size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST_F(JournalTest, ADamagedDatabaseStopsTheStartUnlessRepairedAndLeaksNoDescriptor) {
  {
    auto j = Open();
    for (int i = 0; i < 300; ++i) Run(*j, "sale-" + std::to_string(i));
  }
  // Bytes of a page in the middle of the file overwritten, as a failing disk would.
  {
    std::fstream f(File("journal.db"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(fs::file_size(File("journal.db")) / 2));
    f << std::string(3000, '\x5a');
  }
  const size_t before = OpenDescriptors();
  try {
    Open();
    ADD_FAILURE() << "a damaged database opened";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("journal.db' is damaged"), std::string::npos) << e.what();
  }
  EXPECT_EQ(OpenDescriptors(), before);

  auto j = Open(true);
  size_t kept = 0;
  for (int i = 0; i < 300; ++i) {
    const auto e = j->Find("", "sale-" + std::to_string(i));
    kept += e && e->State == JournalState::Done;
  }
  EXPECT_GT(kept, 200u);
  EXPECT_LT(kept, 300u);
  bool copy = false;
  for (const auto& f : fs::directory_iterator(dir_.Path())) {
    copy = copy || f.path().filename().string().rfind("journal.db.damaged-", 0) == 0;
  }
  EXPECT_TRUE(copy);
  Run(*j, "after-repair");
}

// A durable claim is on disk before the job runs: one that never started is retryable at the
// next start (nothing was printed); one released leaves nothing behind.
TEST_F(JournalTest, ADurableClaimThatNeverStartedIsRetryableAtTheNextStart) {
  {
    auto j = Open();
    for (const char* key : {"durable-1", "durable-2"}) {
      ASSERT_EQ(j->Claim("", key, "h", "/v1/x", Json::object(), nullptr, true), Verdict::New);
    }
    j->Release("", "durable-2");
    EXPECT_EQ(Keys(j->Last(10)), std::vector<std::string>{"durable-1"});
    EXPECT_EQ(j->Count(), 1u);
  }
  auto j = Open();
  ASSERT_TRUE(j->Find("", "durable-1"));
  EXPECT_EQ(j->Find("", "durable-1")->State, JournalState::Retryable);
  EXPECT_FALSE(j->Find("", "durable-2"));
  Run(*j, "durable-1");
}

// Whatever a task throws, the request gets an error code and the journal its outcome.
TEST_F(JournalTest, EveryFailureOfATaskIsAnsweredAndJournaled) {
  struct Case {
    const char* key;
    std::function<fpd::TaskResult()> task;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"int", []() -> fpd::TaskResult { throw 42; }, 500, "internal"},
      {"std", []() -> fpd::TaskResult { throw std::logic_error("bug"); }, 500, "internal"},
      {"driver", []() -> fpd::TaskResult { throw plat::EConvertError("bad value"); }, 500,
       "driver_raised"},
      {"doubt",
       [] {
         return fpd::TaskResult{200, Json{{"ok", false}}, true};
       },
       409, "in_doubt"},
  };
  auto j = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    ASSERT_EQ(Claim(*j, c.key, "h", "till"), Verdict::New);
    const fpd::TaskResult o = fpd::RunJournaled(*j, "till", c.key, c.task);
    EXPECT_EQ(o.Status, c.status);
    EXPECT_EQ(o.Body["error"]["code"], c.code);
    EXPECT_FALSE(o.Body["error"]["message"].get<std::string>().empty());
    EXPECT_EQ(j->Find("till", c.key)->State,
              c.status == 409 ? JournalState::InDoubt : JournalState::Done);
  }
}

}  // namespace
