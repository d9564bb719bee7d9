// SPDX-License-Identifier: Apache-2.0
// The checks a request passes before its body is read or it reaches a handler: the Host it
// names, its length, its Idempotency-Key and query numbers; and the answers to requests the
// HTTP layer could not read (too long, too slow, too large).
#pragma once

#include <httplib.h>

#include <string>

#include "codec.h"

namespace fpd {

// Answers with the status and the JSON body.
void Send(httplib::Response& res, int status, const Json& body);

struct HttpRules {
  std::string Host;  // the listening address
  int Port = 0;      // the port listened on
  size_t MaxBody = 1 << 20;
};

// A header's whole value (a NUL inside it included); empty when absent.
std::string HeaderValue(const httplib::Request& req, const std::string& name);

// True when the Host header names the listening address and port, or localhost for a loopback
// listener; any Host for a listener on every address (which needs a token).
bool HostAllowed(const std::string& host, const HttpRules& rules);

// Answers what is refused before the body is read: a foreign Host (421), a POST without a length
// (411) or with one over the limit (413). True when it answered.
bool RefuseEarly(const httplib::Request& req, httplib::Response& res, const HttpRules& rules);

// The Idempotency-Key of a printing request, or an answer of 400 and false.
bool IdempotencyKey(const httplib::Request& req, httplib::Response& res, std::string& key);

// A query parameter that must be a whole number 0 to max: its value (fallback when absent), or
// an answer of 400 naming it and false.
bool QueryNumber(const httplib::Request& req, httplib::Response& res, const std::string& name,
                 size_t max, size_t& value);

// The error handler: every answer of 400 and above without a body of its own gets the error
// shape with its code.
void AnswerHttpError(const httplib::Request& req, httplib::Response& res);

}  // namespace fpd
