// SPDX-License-Identifier: Apache-2.0
// The request decoder and the journal, without a running service.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "platform/exceptions.h"
#include "service/codec.h"
#include "service/entry_points.h"
#include "service/journal.h"
#include "service/server.h"
#include "service/tasks.h"
#include "service/worker.h"
#include "tests/service/service_process.h"

namespace {

using fpd::Json;
using fpd::RequestError;

struct BadBody {
  const char* name;
  const char* entry;  // an entry point, or "sales" for the sale body
  const char* body;
  const char* code;
  const char* field;
};

// Every body here is refused before anything reaches the driver, naming the field.
TEST(RequestDecoder, RefusesBadBodiesNamingTheField) {
  const BadBody cases[] = {
      {"text of the wrong type", "Suprimento", R"({"stEsquemaCor":5})", "bad_field",
       "stEsquemaCor"},
      {"not in the code page", "VendaItem", R"({"Params":{"NMPROD":"Caf\u00e9 \u2713"}})",
       "unencodable_text", "Params.NMPROD"},
      {"wide text not in the code page", "Cancela_ItGenerico", R"({"NmProd":"\u4e2d"})",
       "unencodable_text", "NmProd"},
      {"bundle not an object", "AbreCupom", R"({"Params":[1,2]})", "bad_field", "Params"},
      {"Boolean as text", "Suprimento", R"({"boEntraCaixa":"S"})", "bad_field", "boEntraCaixa"},
      {"integer with decimals", "Codigo_Nacional_ECF", R"({"IdTipoImpFis":1.5})", "bad_field",
       "IdTipoImpFis"},
      {"unknown member", "Suprimento", R"({"doValorr":1})", "bad_field", "doValorr"},
      {"dataset row too short", "Relatorio_Produto",
       R"({"cdsProdAux":{"fields":[{"name":"A"},{"name":"B"}],"rows":[["x"]]}})", "bad_field",
       "cdsProdAux.rows[0]"},
      {"dataset cell of the wrong type", "Relatorio_Produto",
       R"({"cdsProdAux":{"fields":[{"name":"Q","type":"float"}],"rows":[["x"]]}})", "bad_field",
       "cdsProdAux.rows[0][0]"},
      {"unknown field type", "Relatorio_Produto",
       R"({"cdsProdAux":{"fields":[{"name":"Q","type":"money"}]}})", "bad_field",
       "cdsProdAux.fields[0].type"},
      {"a dataset in an array position, broken", "FechaCupom",
       R"({"arParams":[null,{"fields":"x"}]})", "bad_field", "arParams[1].fields"},
      {"bad date-time", "VerificaData", R"({"dtDate":"2026-02-30T10:00:00"})", "bad_field",
       "dtDate"},
      {"29 February of a common year", "VerificaData", R"({"dtDate":"2023-02-29"})", "bad_field",
       "dtDate"},
      {"outside the code page, past the basic plane", "VendaItem",
       R"({"Params":{"NMPROD":"ok \ud83d\ude00"}})", "unencodable_text", "Params.NMPROD"},
      {"a host file that is not one", "Cancela_Cupom_Imp",
       R"({"hostFiles":{"../etc/passwd":{"fields":[]}}})", "bad_field", "hostFiles.../etc/passwd"},
      {"answers not Booleans", "GeraReciboSangria", R"({"answers":[1]})", "bad_field",
       "answers[0]"},
      {"sale without kind", "sales", R"({"items":[],"payments":[]})", "bad_field", "kind"},
      {"sale of another kind", "sales", R"({"kind":"t","items":[],"payments":[]})", "bad_field",
       "kind"},
      {"invoice without buyer", "sales",
       R"({"kind":"A","items":[{"description":"X","quantity":1,"price":1,"vat":21}],"payments":[{"description":"E","amount":1}]})",
       "bad_field", "buyer"},
      {"ticket with buyer", "sales", R"({"kind":"T","buyer":{}})", "bad_field", "buyer"},
      {"no items", "sales", R"({"kind":"T","items":[],"payments":[]})", "bad_field", "items"},
      {"price as text", "sales",
       R"({"kind":"T","items":[{"description":"X","quantity":1,"price":"1","vat":21}]})",
       "bad_field", "items[0].price"},
      {"zero quantity", "sales",
       R"({"kind":"T","items":[{"description":"X","quantity":0,"price":1,"vat":21}]})", "bad_field",
       "items[0].quantity"},
      {"misspelt item member", "sales",
       R"({"kind":"T","items":[{"description":"X","quantity":1,"price":1,"vat":21,"cancelled":true}]})",
       "bad_field", "items[0].cancelled"},
      {"payment of nothing", "sales",
       R"({"kind":"T","items":[{"description":"X","quantity":1,"price":1,"vat":21}],"payments":[{"description":"E","amount":0}]})",
       "bad_field", "payments[0].amount"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Json body = fpd::ParseBody(c.body);
    try {
      if (std::string(c.entry) == "sales") {
        fpd::PrepareSale(body, "");
      } else {
        fpd::DecodeCall(*fpd::FindEntryPoint(c.entry), body);
      }
      ADD_FAILURE() << "accepted";
    } catch (const RequestError& e) {
      if (*c.code) {
        EXPECT_EQ(e.Code(), c.code) << e.what();
        EXPECT_EQ(e.Field(), c.field) << e.what();
      } else {
        EXPECT_EQ(e.Code(), "bad_field") << e.what();
      }
    }
  }
}

// The body is the first level: 32 are taken, the 33rd is refused where it starts; arrays within
// arrays become variant arrays down to the last level.
TEST(RequestDecoder, NestingIsBoundedAndDecodedToTheLastLevel) {
  const auto nested = [](int levels) {
    return "{\"v\":" + std::string(static_cast<size_t>(levels - 1), '[') + "7" +
           std::string(static_cast<size_t>(levels - 1), ']') + "}";
  };
  const Json body = fpd::ParseBody(nested(32));
  plat::Variant v = fpd::ToVariant(body["v"], "v");
  for (int level = 2; level <= 32; ++level) {
    ASSERT_TRUE(v.IsArray()) << level;
    const plat::Variant inner = v[0];
    v = inner;
  }
  EXPECT_EQ(v.AsInteger(), 7);
  try {
    fpd::ParseBody(nested(33));
    ADD_FAILURE() << "accepted";
  } catch (const RequestError& e) {
    EXPECT_EQ(e.Code(), "bad_json");
    std::string where = "v";
    for (int level = 2; level < 33; ++level) where += "[0]";  // the arrays around the 33rd
    EXPECT_EQ(e.Field(), where);
  }
  try {
    fpd::ToVariant(Json::parse(R"([1,[2,{"x":1}]])"), "arParams");
    ADD_FAILURE() << "accepted";
  } catch (const RequestError& e) {
    EXPECT_EQ(e.Field(), "arParams[1][1]");
  }
}

// A text that reaches the driver from elsewhere than a parsed body (the command line's scheme)
// is checked as UTF-8 too: a bad continuation, a cut sequence, a lone continuation byte and an
// encoded surrogate are refused, not passed on as question marks.
TEST(RequestDecoder, TextThatIsNotUtf8IsRefused) {
  for (const char* bad : {"a\xC3\x28", "\xE2\x82", "\x80", "\xED\xA0\x80"})
    EXPECT_THROW(fpd::ToAnsi(Json(bad), "scheme"), fpd::RequestError) << bad;
  EXPECT_EQ(fpd::ToAnsi(Json("Ma\xC3\xB1"
                             "ana"),
                        "scheme"),
            "Ma\xF1"
            "ana");
}

TEST(RequestDecoder, BodiesThatAreNotObjects) {
  for (const char* body : {"", "[", "[]", "42", "\"x\"", "{\"a\":1,}"}) {
    SCOPED_TRACE(body);
    try {
      fpd::ParseBody(body);
      ADD_FAILURE() << "accepted";
    } catch (const RequestError& e) {
      EXPECT_EQ(e.Code(), "bad_json");
    }
  }
}

TEST(RequestDecoder, ValuesReachTheDriverInItsTypes) {
  const Json body = fpd::ParseBody(R"({
    "Params": {"NMPROD": "Ñoquis €", "QTDE": 2, "VALOR": 9.9, "FLAG": true, "X": null}})");
  fpd::CallArgs call = fpd::DecodeCall(*fpd::FindEntryPoint("AbreCupom"), body);
  const plat::Variant& b = call.Args[0].Value;
  ASSERT_EQ(b.Count(), 5);
  EXPECT_EQ(b[0][1].AsString(), "\xD1oquis \x80");  // Windows-1252 bytes
  EXPECT_EQ(b[1][1].Type(), plat::VarType::Integer);
  EXPECT_EQ(b[2][1].Type(), plat::VarType::Double);
  EXPECT_EQ(b[3][1].Type(), plat::VarType::Boolean);
  EXPECT_TRUE(b[4][1].IsEmpty());
  // The answer converts back: the bundle as an object, in order.
  EXPECT_EQ(fpd::FromBundle(b).dump(),
            R"({"NMPROD":"Ñoquis €","QTDE":2,"VALOR":9.9,"FLAG":true,"X":null})");

  // A dataset in an open array becomes a data packet with its cells typed.
  const Json close = fpd::ParseBody(R"({"arParams": [null, {"fields": [
      {"name": "V", "type": "float"}, {"name": "D", "type": "datetime"}],
      "rows": [[1.5, "2026-12-08T10:30:00"], [null, null]]}]})");
  call = fpd::DecodeCall(*fpd::FindEntryPoint("FechaCupom"), close);
  const auto packet = call.Args[0].Array[1].AsPacket();
  ASSERT_EQ(packet->Rows.size(), 2u);
  EXPECT_DOUBLE_EQ(packet->Rows[0][0].AsDouble(), 1.5);
  EXPECT_EQ(fpd::DateText(packet->Rows[0][1].AsDateTime()), "2026-12-08T10:30:00");
  EXPECT_TRUE(packet->Rows[1][0].IsNull());
  // FechaCupom's answer array defaults to three elements, as the driver needs.
  EXPECT_EQ(call.Args[2].Value.Count(), 3);
}

TEST(RequestDecoder, EveryEntryPointTakesAnEmptyBody) {
  EXPECT_EQ(fpd::EntryPoints().size(), 40u);
  for (const auto& e : fpd::EntryPoints()) {
    SCOPED_TRACE(e.Name);
    EXPECT_NO_THROW(fpd::DecodeCall(e, Json::object()));
  }
  EXPECT_EQ(fpd::FindEntryPoint("Initialize"), nullptr);
  EXPECT_EQ(fpd::FindEntryPoint("abrecupom"), nullptr);
}

TEST(RequestHash, IgnoresLayoutButNotContent) {
  const Json a = fpd::ParseBody(R"({"a":1,"b":[1,2]})");
  const Json b = fpd::ParseBody("{ \"b\" : [1,2],\n \"a\" : 1 }");
  const Json c = fpd::ParseBody(R"({"a":1,"b":[2,1]})");
  EXPECT_EQ(fpd::RequestHash("/v1/x", a), fpd::RequestHash("/v1/x", b));
  EXPECT_NE(fpd::RequestHash("/v1/x", a), fpd::RequestHash("/v1/x", c));
  EXPECT_NE(fpd::RequestHash("/v1/x", a), fpd::RequestHash("/v1/z", a));
}

class JournalTest : public ::testing::Test {
 protected:
  servicetest::TempDir dir_;
  std::string Path() const { return dir_.Path() + "/journal.jsonl"; }
  static void Run(fpd::Journal& j, const std::string& key, const std::string& hash) {
    ASSERT_EQ(j.Claim(key, hash, "/v1/x", Json::object(), nullptr), fpd::Journal::Verdict::New);
    j.Started(key);
    j.Finished(key, 200, Json{{"ok", true}, {"key", key}});
  }
};

TEST_F(JournalTest, VerdictsSurviveARestartAndATornLastLine) {
  {
    fpd::Journal j(Path(), 30);
    Run(j, "done-1", "h1");
    ASSERT_EQ(j.Claim("died", "h2", "/v1/sales", Json::object(), nullptr),
              fpd::Journal::Verdict::New);
    j.Started("died");  // the service dies here
    EXPECT_EQ(j.Claim("died", "h2", "/v1/sales", Json::object(), nullptr),
              fpd::Journal::Verdict::InProgress);
  }
  // A crash in the middle of the next line's write.
  std::ofstream(Path(), std::ios::app) << R"({"key":"torn","hash":"h3","sta)";
  {
    fpd::Journal j(Path(), 30);
    fpd::JournalEntry e;
    EXPECT_EQ(j.Claim("done-1", "h1", "/v1/x", Json::object(), &e), fpd::Journal::Verdict::Replay);
    EXPECT_EQ(e.Answer["key"], "done-1");
    EXPECT_EQ(j.Claim("done-1", "other", "/v1/x", Json::object(), nullptr),
              fpd::Journal::Verdict::Conflict);
    EXPECT_EQ(j.Claim("died", "h2", "/v1/sales", Json::object(), nullptr),
              fpd::Journal::Verdict::InDoubt);
    EXPECT_EQ(j.InDoubt(), std::vector<std::string>{"died"});
    EXPECT_FALSE(j.Find("torn"));
    Run(j, "after-tear", "h4");  // starts on a line of its own
    j.Resolve("died", Json{{"printed", false}});
  }
  fpd::Journal j(Path(), 30);
  EXPECT_EQ(j.Claim("after-tear", "h4", "/v1/x", Json::object(), nullptr),
            fpd::Journal::Verdict::Replay);
  EXPECT_EQ(j.Claim("died", "h2", "/v1/sales", Json::object(), nullptr),
            fpd::Journal::Verdict::Resolved);
  EXPECT_TRUE(j.InDoubt().empty());
}

TEST_F(JournalTest, CompactionDropsOldFinishedEntriesAndKeepsTheInDoubt) {
  const int64_t old = static_cast<int64_t>(std::time(nullptr)) - 40 * 86400;
  {
    std::ofstream out(Path());
    for (const char* key : {"old-done", "old-doubt"}) {
      out << Json{{"key", key}, {"hash", "h"}, {"state", "started"}, {"ts", old}}.dump() << "\n";
    }
    out << Json{{"key", "old-done"},        {"hash", "h"}, {"state", "done"}, {"status", 200},
                {"answer", Json::object()}, {"ts", old}}
               .dump()
        << "\n";
  }
  {
    fpd::Journal j(Path(), 30);
    Run(j, "new-done", "h");
    j.Compact();
    EXPECT_FALSE(j.Find("old-done"));
  }
  fpd::Journal j(Path(), 30);  // what the rewritten file holds
  EXPECT_FALSE(j.Find("old-done"));
  EXPECT_EQ(j.Find("old-doubt")->State, "in_doubt");
  EXPECT_EQ(j.Find("new-done")->State, "done");
}

TEST_F(JournalTest, ACompactionThatCannotFinishLeavesTheOldJournalInUse) {
  {
    fpd::Journal j(Path(), 30);
    Run(j, "before", "h");
    j.SetFreeSpace([](const std::string&) { return uint64_t{4096}; });  // a nearly full disk
    EXPECT_THROW(j.Compact(), std::runtime_error);
    Run(j, "no-room", "h");
    j.SetFreeSpace(nullptr);
    // The rewrite cannot be created: its temporary's name is taken by a folder.
    std::filesystem::create_directory(Path() + ".tmp." + std::to_string(::getpid()));
    EXPECT_THROW(j.Compact(), std::runtime_error);
    Run(j, "cannot-write", "h");
    std::filesystem::remove(Path() + ".tmp." + std::to_string(::getpid()));
    j.Compact();
    Run(j, "after-compaction", "h");  // appended to the new file
    // Newest first, the order the requests came in, across the rewrite.
    std::vector<std::string> keys;
    for (const auto& e : j.Last(3)) keys.push_back(e.Key);
    EXPECT_EQ(keys, (std::vector<std::string>{"after-compaction", "cannot-write", "no-room"}));
  }
  fpd::Journal j(Path(), 30);
  for (const char* key : {"before", "no-room", "cannot-write", "after-compaction"}) {
    EXPECT_EQ(j.Claim(key, "h", "/v1/x", Json::object(), nullptr), fpd::Journal::Verdict::Replay)
        << key;
  }
}

TEST_F(JournalTest, ARequestInDoubtOnTheLinkStaysInDoubtWithItsAnswer) {
  {
    fpd::Journal j(Path(), 30);
    ASSERT_EQ(j.Claim("k", "h", "/v1/sales", Json::object(), nullptr), fpd::Journal::Verdict::New);
    j.Started("k");
    j.FinishedInDoubt("k", 409, Json{{"ok", false}});
    EXPECT_EQ(j.Claim("k", "h", "/v1/sales", Json::object(), nullptr),
              fpd::Journal::Verdict::InDoubt);
    j.Compact();
  }
  fpd::Journal j(Path(), 30);
  EXPECT_EQ(j.InDoubt(), std::vector<std::string>{"k"});
  EXPECT_EQ(j.Find("k")->Answer["ok"], false);
}

// A failure before anything reached the printer keeps its answer but not its key: the next
// request with it runs, with the same body or another, also after a restart and a rewrite.
TEST_F(JournalTest, ARetryableKeyRunsAgain) {
  {
    fpd::Journal j(Path(), 30);
    for (const char* key : {"same", "other"}) {
      ASSERT_EQ(j.Claim(key, "h", "/v1/sales", Json::object(), nullptr),
                fpd::Journal::Verdict::New);
      j.Started(key);
      j.FinishedRetryable(key, 200, Json{{"ok", false}, {"retryable", true}});
    }
    EXPECT_EQ(j.Find("same")->State, "retryable");
    EXPECT_EQ(j.Find("same")->Answer["ok"], false);
    EXPECT_EQ(j.Claim("same", "h", "/v1/sales", Json::object(), nullptr),
              fpd::Journal::Verdict::New);
    j.Started("same");
    j.Finished("same", 200, Json{{"ok", true}});
    j.Compact();
  }
  fpd::Journal j(Path(), 30);
  EXPECT_EQ(j.Claim("same", "h", "/v1/sales", Json::object(), nullptr),
            fpd::Journal::Verdict::Replay);
  EXPECT_EQ(j.Find("other")->State, "retryable");
  EXPECT_EQ(j.Claim("other", "h2", "/v1/x", Json::object(), nullptr), fpd::Journal::Verdict::New);
  EXPECT_TRUE(j.InDoubt().empty());
}

// Whatever a task throws, the request gets an error code and the journal its outcome.
TEST_F(JournalTest, EveryFailureOfATaskIsAnsweredAndJournaled) {
  struct Case {
    const char* key;
    std::function<fpd::Outcome()> task;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"int", []() -> fpd::Outcome { throw 42; }, 500, "internal"},
      {"std", []() -> fpd::Outcome { throw std::logic_error("bug"); }, 500, "internal"},
      {"driver", []() -> fpd::Outcome { throw plat::EConvertError("bad value"); }, 500,
       "driver_raised"},
      {"doubt",
       [] {
         return fpd::Outcome{200, Json{{"ok", false}}, true};
       },
       409, "in_doubt"},
  };
  fpd::Journal j(Path(), 30);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    ASSERT_EQ(j.Claim(c.key, "h", "/v1/x", Json::object(), nullptr), fpd::Journal::Verdict::New);
    const fpd::Outcome o = fpd::RunJournaled(j, c.key, c.task);
    EXPECT_EQ(o.Status, c.status);
    EXPECT_EQ(o.Body["error"]["code"], c.code);
    EXPECT_FALSE(o.Body["error"]["message"].get<std::string>().empty());
    EXPECT_EQ(j.Find(c.key)->State, c.status == 409 ? "in_doubt" : "done");
  }
}

TEST(Worker, AJobThatThrowsDoesNotEndTheWorker) {
  fpd::Worker w(8, nullptr, std::chrono::milliseconds(1000));
  std::promise<void> ran;
  ASSERT_TRUE(w.TrySubmit([] { throw 7; }));
  ASSERT_TRUE(w.TrySubmit([] { throw std::runtime_error("x"); }));
  ASSERT_TRUE(w.TrySubmit([&] { ran.set_value(); }));
  EXPECT_EQ(ran.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_EQ(w.Escaped(), 2u);
}

}  // namespace
