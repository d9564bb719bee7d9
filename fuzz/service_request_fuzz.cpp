// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the print service as whole requests on one connection, as a hostile
// page or a broken client would send them: request lines, headers, lengths, chunked bodies and
// pipelined requests, through the service's connection guard, its early checks and its body
// decoders, with bodies up to the limit so that nesting and size limits are in reach. Every
// request is answered or its connection closed; a handler never raises anything but a refusal,
// and nothing may read out of bounds.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "service/codec.h"
#include "service/connections.h"
#include "service/entry_points.h"
#include "service/http_checks.h"
#include "service/tasks.h"

namespace {

constexpr size_t kMaxBody = 256 * 1024;

using Prepare = fpd::Task (*)(const fpd::Json&, const plat::AnsiString&);

// Decodes a printing request's key and body as the service does, answering the refusal.
void Printing(const httplib::Request& req, httplib::Response& res,
              const std::function<void(const fpd::Json&)>& decode) {
  std::string key;
  if (!fpd::IdempotencyKey(req, res, key)) return;
  try {
    decode(fpd::ParseBody(req.body));
    fpd::Send(res, 200, fpd::Json::object());
  } catch (const fpd::RequestError& e) {
    if (e.Code() != "bad_json" && e.Code() != "bad_field" && e.Code() != "unencodable_text") {
      std::abort();
    }
    fpd::Send(res, 400, fpd::ErrorBody(e.Code(), e.what(), e.Field()));
  }
}

fpd::GuardedServer& Server() {
  static fpd::GuardedServer* server = [] {
    fpd::ConnectionLimits limits;
    limits.MaxBody = kMaxBody;
    auto* s = new fpd::GuardedServer(limits);
    const fpd::HttpRules rules{"127.0.0.1", 8520, kMaxBody};
    s->SetGate([rules](const httplib::Request& req, httplib::Response& res) {
      return fpd::RefuseEarly(req, res, rules) ? httplib::Server::HandlerResponse::Handled
                                               : httplib::Server::HandlerResponse::Unhandled;
    });
    s->set_error_handler([](const httplib::Request& req, httplib::Response& res) {
      fpd::AnswerHttpError(req, res);
    });
    s->set_exception_handler([](const httplib::Request&, httplib::Response&, std::exception_ptr) {
      std::abort();  // a handler raised something that is not a refusal
    });
    const std::pair<const char*, Prepare> tasks[] = {
        {"/v1/sales", fpd::PrepareSale},
        {"/v1/cash/supply", fpd::PrepareSupply},
        {"/v1/x", fpd::PrepareX},
        {"/v1/z", fpd::PrepareZ},
        {"/v1/closing", fpd::PrepareClosing},
        {"/v1/reports/fiscal-memory", fpd::PrepareFiscalMemoryReport}};
    for (const auto& [path, prepare] : tasks) {
      s->Post(path, [prepare = prepare](const httplib::Request& req, httplib::Response& res) {
        Printing(req, res, [&](const fpd::Json& body) { prepare(body, ""); });
      });
    }
    s->Post(R"(/v1/call/(.*))", [](const httplib::Request& req, httplib::Response& res) {
      const fpd::EntryPoint* entry = fpd::FindEntryPoint(req.matches[1]);
      if (!entry) return fpd::Send(res, 404, fpd::ErrorBody("unknown_entry_point", "none"));
      Printing(req, res, [&](const fpd::Json& body) {
        const fpd::CallArgs call = fpd::DecodeCall(*entry, body);
        (void)fpd::OutArgs(call).dump(-1, ' ', false, fpd::Json::error_handler_t::strict);
      });
    });
    for (const char* name : {"from", "limit"}) {
      s->Get(std::string("/v1/") + (name[0] == 'f' ? "paper" : "journal"),
             [name](const httplib::Request& req, httplib::Response& res) {
               size_t value = 0;
               if (fpd::QueryNumber(req, res, name, 1000000, value)) {
                 fpd::Send(res, 200, fpd::Json::object());
               }
             });
    }
    return s;
  }();
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fpd::GuardedServer& server = Server();
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  // The client writes the input and ends its side; the answers are read and dropped.
  std::thread client([&] {
    for (size_t done = 0; done < size;) {
      const ssize_t n = ::send(fds[0], data + done, size - done, MSG_NOSIGNAL);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::shutdown(fds[0], SHUT_WR);
    char buf[4096];
    while (::recv(fds[0], buf, sizeof buf, 0) > 0) {
    }
  });
  server.ServeConnection(fds[1], "127.0.0.1");
  client.join();
  ::close(fds[0]);
  return 0;
}
