// SPDX-License-Identifier: Apache-2.0
#include "door_job.h"

#include <algorithm>
#include <map>

#include "chain/times.h"
#include "entry_points.h"

namespace fpd {

namespace {

// The HTTP API's route of each operation but "call" and "resolve".
const std::map<std::string, std::string> kPaths = {{"sale", "/v1/sales"},
                                                   {"supply", "/v1/cash/supply"},
                                                   {"x", "/v1/x"},
                                                   {"z", "/v1/z"},
                                                   {"closing", "/v1/closing"},
                                                   {"report", "/v1/reports/fiscal-memory"},
                                                   {"call", ""},
                                                   {"resolve", ""}};

bool Alnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// A key (up to 128) or a till (up to 64): letters, digits and "._:-".
bool Name(const Json& v, size_t longest) {
  if (!v.is_string()) return false;
  const auto& s = v.get_ref<const std::string&>();
  if (s.empty() || s.size() > longest) return false;
  for (const char c : s) {
    if (!Alnum(c) && c != '.' && c != '_' && c != ':' && c != '-') return false;
  }
  return true;
}

bool EntryPointName(const std::string& s) {
  if (s.empty() || s.size() > 64 || !Alnum(s.front()) || (s.front() >= '0' && s.front() <= '9')) {
    return false;
  }
  for (const char c : s) {
    if (!Alnum(c) && c != '_') return false;
  }
  return true;
}

Json Error(const std::string& code, const std::string& message, const std::string& field) {
  return {{"code", code}, {"message", message}, {"field", field.empty() ? Json() : Json(field)}};
}

// The body of a resolution: {"key", "printed", "cancelOpenTicket"}; a refusal or nothing.
std::optional<Json> ReadResolution(const Json& body, DoorResolution& r) {
  for (const auto& [name, value] : body.items()) {
    if (name != "key" && name != "printed" && name != "cancelOpenTicket") {
      return Error("bad_field", "body." + name + ": not a member of a resolution", "body." + name);
    }
  }
  if (!Name(body.value("key", Json()), 128)) {
    return Error("bad_field", "body.key: required, 1 to 128 letters, digits and ._:-", "body.key");
  }
  if (!body.contains("printed") || !body["printed"].is_boolean()) {
    return Error("bad_field", "body.printed: required, true or false", "body.printed");
  }
  const Json cancel = body.value("cancelOpenTicket", Json(false));
  if (!cancel.is_boolean()) {
    return Error("bad_field", "body.cancelOpenTicket: true or false", "body.cancelOpenTicket");
  }
  r.Target = body["key"];
  r.Printed = body["printed"];
  r.CancelOpenTicket = cancel;
  return std::nullopt;
}

std::optional<Json> Check(const Json& j, DoorRequest& out) {
  static const char* const kMembers[] = {"key",       "till",       "expires", "sentAt",
                                         "operation", "entryPoint", "body"};
  for (const auto& [name, value] : j.items()) {
    if (std::find(std::begin(kMembers), std::end(kMembers), name) == std::end(kMembers)) {
      return Error("bad_field", name + ": not a member of a job", name);
    }
  }
  if (!Name(j.value("key", Json()), 128)) {
    return Error("bad_field", "key: required, 1 to 128 letters, digits and ._:-", "key");
  }
  if (!Name(j.value("till", Json()), 64)) {
    return Error("bad_field", "till: required, 1 to 64 letters, digits and ._:-", "till");
  }
  const Json expires = j.value("expires", Json());
  const auto expiresAt = expires.is_string() ? chain::EpochSeconds(expires) : std::nullopt;
  if (!expiresAt) {
    return Error("bad_field", "expires: required, a date and time with its offset (RFC 3339)",
                 "expires");
  }
  if (j.contains("sentAt") && !(j["sentAt"].is_string() && chain::EpochSeconds(j["sentAt"]))) {
    return Error("bad_field", "sentAt: a date and time with its offset (RFC 3339)", "sentAt");
  }
  const Json operation = j.value("operation", Json());
  const auto route = operation.is_string() ? kPaths.find(operation) : kPaths.end();
  if (route == kPaths.end()) {
    return Error("bad_field",
                 "operation: required, one of sale, supply, x, z, closing, call, report, resolve",
                 "operation");
  }
  out.Operation = operation;
  const std::string op = operation;
  if (j.contains("entryPoint") != (op == "call")) {
    return Error("bad_field",
                 op == "call" ? "entryPoint: required for a call"
                              : "entryPoint: only a call names an entry point",
                 "entryPoint");
  }
  if (!j.contains("body") || !j["body"].is_object()) {
    return Error("bad_field", "body: required, an object", "body");
  }
  DoorJob& job = out.Job;
  job.Till = j["till"];
  job.Key = j["key"];
  job.Operation = op;
  job.Body = j["body"];
  job.ExpiresAt = *expiresAt;
  job.Path = route->second;
  if (op == "call") {
    const Json& name = j["entryPoint"];
    if (!name.is_string() || !EntryPointName(name)) {
      return Error("bad_field", "entryPoint: a name of letters, digits and _", "entryPoint");
    }
    if (FindEntryPoint(name) == nullptr) {
      return Error("unknown_entry_point", "no entry point named '" + name.get<std::string>() + "'",
                   "entryPoint");
    }
    job.Path = "/v1/call/" + name.get<std::string>();
  }
  if (op == "resolve") {
    DoorResolution r;
    r.Till = job.Till;
    r.Key = job.Key;
    if (auto refusal = ReadResolution(job.Body, r)) return refusal;
    job.Path = "/v1/journal/" + r.Target + "/resolve";
    out.Resolve = r;
  }
  return std::nullopt;
}

}  // namespace

DoorRequest ReadDoorJob(const std::string& payload) {
  DoorRequest out;
  const Json j = Json::parse(payload, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    out.Refusal = Error("bad_json", "the job is not a JSON object", "");
    return out;
  }
  // What can be read is named in a refusal too.
  if (Name(j.value("key", Json()), 128)) out.Key = j["key"];
  if (Name(j.value("till", Json()), 64)) out.Till = j["till"];
  if (j.value("operation", Json()).is_string() && kPaths.count(j["operation"])) {
    out.Operation = j["operation"];
  }
  out.Refusal = Check(j, out);
  return out;
}

}  // namespace fpd
