// SPDX-License-Identifier: Apache-2.0
#include "door_result.h"

#include <cstdio>
#include <ctime>
#include <set>

#include "chain/times.h"

namespace fpd {

namespace {

// Error codes of a job the service did not take: nothing was, or will be, printed for it.
const std::set<std::string> kRefusals = {"bad_json",
                                         "bad_field",
                                         "unencodable_text",
                                         "unknown_entry_point",
                                         "idempotency_conflict",
                                         "queue_full",
                                         "not_in_doubt",
                                         "not_found",
                                         "forbidden",
                                         "unauthorized",
                                         "in_progress",
                                         "too_large",
                                         "missing_idempotency_key",
                                         "bad_idempotency_key"};

Json Head(const ResultHeader& h, bool replayed, const std::string& at) {
  return {{"shop", h.Shop},           {"printer", h.Printer}, {"key", h.Key}, {"till", h.Till},
          {"operation", h.Operation}, {"replayed", replayed}, {"at", at}};
}

Json Text(const Json& v) {
  return v.is_string() ? v : Json();
}

// {"code", "message", "field"} from an answer's error, with what it lacks filled in.
Json ErrorOf(const Json& e, const std::string& fallbackCode, const std::string& fallbackText) {
  const Json code = e.is_object() ? Text(e.value("code", Json())) : Json();
  const Json message = e.is_object() ? Text(e.value("message", Json())) : Json();
  return {{"code", code.is_null() ? Json(fallbackCode) : code},
          {"message", message.is_null() ? Json(fallbackText) : message},
          {"field", e.is_object() ? Text(e.value("field", Json())) : Json()}};
}

// The answer without the members the result carries on its own.
Json AnswerPart(const Json& body) {
  Json a = body;
  a.erase("error");
  a.erase("journal");
  return a;
}

// The first error the driver showed in a dialog, if any.
std::string ShownError(const Json& body) {
  const Json dialogs = body.value("dialogs", Json::array());
  if (!dialogs.is_array()) return "";
  for (const auto& d : dialogs) {
    if (d.is_object() && d.value("question", false) == false) {
      const Json text = d.value("text", Json(""));
      return text.is_string() && !text.get<std::string>().empty() ? text.get<std::string>()
                                                                  : "the driver showed an error";
    }
  }
  return "";
}

}  // namespace

std::string LinkTime(const std::string& text) {
  if (const auto epoch = chain::EpochSeconds(text)) {
    return chain::UtcText(std::chrono::system_clock::from_time_t(static_cast<std::time_t>(*epoch)));
  }
  std::tm tm{};
  char rest = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &rest) != 6) {
    return "";
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  return t == -1 ? "" : chain::UtcText(std::chrono::system_clock::from_time_t(t));
}

namespace {

Json OneOf(const Json& v, const std::set<std::string>& allowed) {
  return v.is_string() && allowed.count(v.get<std::string>()) ? v : Json();
}

Json Word(const Json& v) {
  if (!v.is_string()) return nullptr;
  const std::string& s = v.get_ref<const std::string&>();
  const bool hex = s.size() == 4 && s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
  return hex ? v : Json();
}

}  // namespace

Json LinkPrinterState(const Json& p) {
  const Json in = p.is_object() ? p : Json::object();
  const std::set<std::string> paper = {"ok", "low", "out"};
  const Json rolls = in.value("paper", Json::object());
  Json reasons = Json::array();
  for (const auto& r : in.value("reasons", Json::array())) {
    if (r.is_string()) reasons.push_back(r);
  }
  const Json checked = in.value("checkedAt", Json());
  const std::string checkedUtc = checked.is_string() ? LinkTime(checked) : "";
  const auto boolOrNull = [&](const char* name) {
    const Json v = in.value(name, Json());
    return v.is_boolean() ? v : Json();
  };
  return {
      {"backend", in.value("backend", "") == "serial" ? "serial" : "emulator"},
      {"reachable", boolOrNull("reachable")},
      {"checkedAt", checkedUtc.empty() ? Json() : Json(checkedUtc)},
      {"printerStatus", Word(in.value("printerStatus", Json()))},
      {"fiscalStatus", Word(in.value("fiscalStatus", Json()))},
      {"reasons", reasons},
      {"documentOpen", boolOrNull("documentOpen")},
      {"document", OneOf(in.value("document", Json()), {"ticket", "invoice A", "invoice B",
                                                        "invoice C", "fiscal", "non-fiscal"})},
      {"lastDocumentNumber", Text(in.value("lastDocumentNumber", Json()))},
      {"paper",
       {{"journal", rolls.is_object() ? OneOf(rolls.value("journal", Json()), paper) : Json()},
        {"receipt", rolls.is_object() ? OneOf(rolls.value("receipt", Json()), paper) : Json()}}},
      {"fiscalisation", OneOf(in.value("fiscalisation", Json()),
                              {"not-certified", "training", "de-fiscalised", "fiscalised"})},
      {"error", Text(in.value("error", Json()))}};
}

Json DoorRefusal(const ResultHeader& h, const Json& error, const std::string& at) {
  Json r = Head(h, false, at);
  r["outcome"] = "refused";
  r["error"] = ErrorOf(error, "bad_field", "the job was refused");
  return r;
}

Json DoorResult(const ResultHeader& h, const DoorAnswer& a, const std::string& at,
                const Json& stateNow) {
  Json r = Head(h, a.Replayed, at);
  const Json body = a.Body.is_object() ? a.Body : Json::object();
  const Json error = body.value("error", Json());
  const std::string code =
      error.is_object() && error.value("code", Json()).is_string() ? error["code"] : "";
  if (code == "expired") {
    r["outcome"] = "expired";
    r["error"] = ErrorOf(error, "expired", "the job expired before it was started");
  } else if (code == "in_doubt") {
    r["outcome"] = "in_doubt";
    r["error"] = ErrorOf(error, "in_doubt", "");
    r["state"] = LinkPrinterState(body.contains("printer") ? body["printer"] : stateNow);
    if (body.contains("calls")) r["answer"] = AnswerPart(body);
  } else if (code == "resolved") {
    // A key in doubt that its till resolved: done when it counts as printed, else failed.
    const Json given = body.value("resolution", Json::object());
    Json resolution = {{"printed", given.value("printed", false) == true},
                       {"cancelled", given.value("cancelled", false) == true},
                       {"at", at}};
    if (given.value("at", Json()).is_string()) {
      const std::string when = LinkTime(given["at"]);
      if (!when.empty()) resolution["at"] = when;
    }
    r["outcome"] = resolution["printed"] == true ? "done" : "failed";
    r["resolution"] = resolution;
    if (resolution["printed"] == false) r["error"] = ErrorOf(error, "resolved", "");
  } else if (kRefusals.count(code)) {
    r["outcome"] = "refused";
    r["error"] = ErrorOf(error, code, "");
  } else if (!code.empty() || a.Status >= 400) {
    r["outcome"] = "failed";
    r["error"] = ErrorOf(error, "failed",
                         "the service answered with the status " + std::to_string(a.Status));
    if (body.size() > (error.is_null() ? 0u : 1u)) r["answer"] = AnswerPart(body);
  } else if (body.value("ok", true) == false && body.contains("reason")) {
    // A task the printer or the driver did not let through.
    r["outcome"] = "failed";
    r["error"] = ErrorOf(Json{{"message", Text(body["reason"])}}, "printer_refused",
                         "the task was not carried out");
    r["answer"] = body;
  } else if (body.value("result", Json()) == false && !ShownError(body).empty()) {
    r["outcome"] = "failed";
    r["error"] = ErrorOf(Json{{"message", ShownError(body)}}, "driver_error", "");
    r["answer"] = body;
  } else {
    r["outcome"] = "done";
    r["answer"] = body;
  }
  return r;
}

}  // namespace fpd
