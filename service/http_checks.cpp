// SPDX-License-Identifier: Apache-2.0
#include "http_checks.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

#include "connections.h"
#include "journal_entry.h"
#include "tasks.h"

namespace fpd {

namespace {

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool Loopback(const std::string& host) {
  return host.rfind("127.", 0) == 0 || host == "::1" || SameText(host, "localhost");
}

const char* DefaultCode(int status) {
  switch (status) {
    case 400:
      return "bad_json";
    case 401:
      return "unauthorized";
    case 403:
      return "origin_not_allowed";
    case 404:
      return "not_found";
    case 405:
      return "method_not_allowed";
    case 408:
      return "timeout";
    case 411:
      return "length_required";
    case 413:
      return "too_large";
    case 414:
      return "uri_too_long";
    case 421:
      return "misdirected";
    case 431:
      return "header_too_large";
    case 503:
      return "queue_full";
    default:
      return "error";
  }
}

const char* DefaultMessage(int status) {
  switch (status) {
    case 408:
      return "the request did not arrive in time";
    case 413:
      return "the body is larger than allowed";
    case 414:
      return "the request line is longer than allowed";
    case 431:
      return "the request's headers are larger than allowed";
    default:
      return "no such endpoint or method";
  }
}

void Refuse(httplib::Response& res, int status, const std::string& message) {
  Send(res, status, ErrorBody(DefaultCode(status), message));
}

}  // namespace

void Send(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
}

std::string HeaderValue(const httplib::Request& req, const std::string& name) {
  const auto it = req.headers.find(name);
  return it == req.headers.end() ? std::string() : it->second;
}

bool HostAllowed(const std::string& host, const HttpRules& rules) {
  const std::string& listen = rules.Host;
  if (listen.empty() || listen == "0.0.0.0" || listen == "::") return true;
  const bool v6 = listen.find(':') != std::string::npos;
  std::vector<std::string> names = {v6 ? "[" + listen + "]" : listen};
  if (Loopback(listen)) names.emplace_back("localhost");
  const std::string port = ":" + std::to_string(rules.Port);
  return std::any_of(names.begin(), names.end(), [&](const std::string& n) {
    return SameText(host, n + port) || (rules.Port == 80 && SameText(host, n));
  });
}

bool RefuseEarly(const httplib::Request& req, httplib::Response& res, const HttpRules& rules) {
  RequestReading* reading = GuardedServer::Current();
  const auto closing = [&] {
    if (reading) reading->CloseAfterAnswer = true;
    res.set_header("Connection", "close");
    return true;
  };
  if (req.get_header_value_count("Host") != 1 || !HostAllowed(HeaderValue(req, "Host"), rules)) {
    Refuse(res, 421,
           "the Host header must name the service's address (" + rules.Host + ":" +
               std::to_string(rules.Port) + ")");
    return closing();
  }
  if (req.method != "POST") return false;
  const bool chunked = SameText(HeaderValue(req, "Transfer-Encoding"), "chunked");
  if (!chunked && !req.has_header("Content-Length")) {
    Refuse(res, 411, "a POST needs a Content-Length header and a JSON object body");
    return closing();
  }
  if (!chunked) {
    const std::string length = HeaderValue(req, "Content-Length");
    const bool digits = !length.empty() && length.size() <= 19 &&
                        std::all_of(length.begin(), length.end(), ::isdigit);
    if (!digits || std::stoull(length) > rules.MaxBody) {
      Refuse(res, digits ? 413 : 400,
             digits
                 ? "the body is larger than allowed (" + std::to_string(rules.MaxBody) + " bytes)"
                 : "the Content-Length header is not a number");
      return closing();
    }
  }
  return false;
}

bool IdempotencyKey(const httplib::Request& req, httplib::Response& res, std::string& key) {
  const size_t count = req.get_header_value_count("Idempotency-Key");
  if (count == 0) {
    Send(res, 400,
         ErrorBody("missing_idempotency_key", "a printing request needs an Idempotency-Key"));
    return false;
  }
  key = HeaderValue(req, "Idempotency-Key");
  if (count > 1 || !ValidKey(key)) {
    Send(res, 400,
         ErrorBody("bad_idempotency_key",
                   "an Idempotency-Key is one header of 1 to 128 letters, digits and -_.:"));
    return false;
  }
  return true;
}

bool QueryNumber(const httplib::Request& req, httplib::Response& res, const std::string& name,
                 size_t max, size_t& value) {
  if (!req.has_param(name.c_str())) return true;
  const std::string text = req.get_param_value(name.c_str());
  const bool digits =
      !text.empty() && text.size() <= 18 && std::all_of(text.begin(), text.end(), ::isdigit);
  if (!digits || std::stoull(text) > max) {
    Send(res, 400,
         ErrorBody("bad_field", name + ": expected a whole number 0 to " + std::to_string(max),
                   name));
    return false;
  }
  value = static_cast<size_t>(std::stoull(text));
  return true;
}

void AnswerHttpError(const httplib::Request& req, httplib::Response& res) {
  int status = res.status;
  if (const RequestReading* reading = GuardedServer::Current()) {
    if (reading->LongLineSeen && SameText(reading->LongLine, "Idempotency-Key")) {
      Send(res, 400,
           ErrorBody("bad_idempotency_key",
                     "an Idempotency-Key is 1 to 128 letters, digits and "
                     "-_.:"));
      return;
    }
    switch (reading->Stop) {
      case ReadStop::HeaderTooLarge:
        status = 431;
        break;
      case ReadStop::HeaderTimeout:
      case ReadStop::BodyTimeout:
        status = 408;
        break;
      case ReadStop::BodyTooLarge:
        status = 413;
        break;
      case ReadStop::None:
        if (reading->LongLineSeen) status = 431;
        break;
    }
    if (reading->Stop != ReadStop::None || reading->LongLineSeen) {
      res.set_header("Connection", "close");
    }
  }
  if (status == 413 &&
      SameText(HeaderValue(req, "Content-Type"), "application/x-www-form-urlencoded")) {
    Refuse(res, 413,
           "a body sent as a form is taken up to 8192 bytes: send it as application/json");
    return;
  }
  Refuse(res, status, DefaultMessage(status));
}

}  // namespace fpd
