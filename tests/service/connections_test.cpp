// SPDX-License-Identifier: Apache-2.0
// The connection guard on its own, with short limits: a header or body that arrives too slowly
// is cut at its time limit, and connections past a client's share make room or are refused
// while another client is served.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "service/connections.h"
#include "service/http_checks.h"
#include "service/server.h"
#include "tests/service/raw_http.h"

namespace {

using namespace std::chrono_literals;
using fpd::ConnectionLimits;
using fpd::GuardedServer;

ConnectionLimits ShortLimits() {
  ConnectionLimits l;
  l.Total = 3;
  l.PerClient = 2;
  l.HeaderTimeout = 400ms;
  l.BodyTimeout = 400ms;
  l.ReadTimeout = 200ms;
  l.IdleTimeout = 500ms;
  return l;
}

void Routes(GuardedServer& server) {
  server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (res.body.empty()) fpd::AnswerHttpError(req, res);
  });
  server.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(req.body, "text/plain");
  });
  server.Get("/ok", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("ok", "text/plain");
  });
}

// Sends head, then one byte of rest every 100 ms, on a socket pair served by the guard; the
// status of the answer.
int Dripped(const std::string& head, const std::string& rest) {
  GuardedServer server(ShortLimits());
  Routes(server);
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::thread serve([&] { server.ServeConnection(fds[1], "127.0.0.9"); });
  (void)::write(fds[0], head.data(), head.size());
  for (char c : rest) {
    if (::send(fds[0], &c, 1, MSG_NOSIGNAL) != 1) break;
    std::this_thread::sleep_for(100ms);
  }
  serve.join();
  char buf[512] = {};
  const ssize_t n = ::read(fds[0], buf, sizeof buf - 1);
  ::close(fds[0]);
  return n > 12 ? std::stoi(std::string(buf + 9, 3)) : 0;
}

TEST(ConnectionGuard, SlowHeadersAndBodiesAreCutAtTheirTimeLimits) {
  EXPECT_EQ(Dripped("GET /ok HTTP/1.1\r\n", "Host: x\r\nX-Slow: " + std::string(15, 'a')), 408);
  EXPECT_EQ(
      Dripped("POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 15\r\n\r\n", std::string(15, 'b')),
      408);
  EXPECT_EQ(Dripped("POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n", "ok"), 200);
}

// A client past its share: the connection that waited longest for a request is closed to make
// room; with none waiting, a new one is served a reserved path only, and past the reserve it is
// refused at once. Another client is served meanwhile.
TEST(ConnectionGuard, AClientPastItsShareClosesItsWaitingConnectionsFirst) {
  ConnectionLimits limits = ShortLimits();
  limits.Reserve = 1;
  limits.ReadTimeout = limits.HeaderTimeout = 3s;  // the busy ones stay busy
  GuardedServer server(limits);
  Routes(server);
  server.SetReserved([](const httplib::Request& req) { return req.path == "/ok"; });
  const int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread listen([&] { server.listen_after_bind(); });
  const std::string ok = "GET /ok HTTP/1.1\r\nHost: x\r\n\r\n";
  {
    servicetest::RawConnection a(port, "127.0.0.2");
    std::this_thread::sleep_for(50ms);
    servicetest::RawConnection b(port, "127.0.0.2");
    std::this_thread::sleep_for(250ms);
    servicetest::RawConnection c(port, "127.0.0.2");  // a, the oldest waiting, makes room
    c.Send(ok);
    EXPECT_EQ(c.Read(2s).status, 200);
    EXPECT_TRUE(a.ClosedWithin(1s));
    EXPECT_FALSE(b.ClosedWithin(100ms));

    // b and c busy with a request each: nothing to close.
    b.Send("GET /ok HTTP/1.1\r\n");
    c.Send("GET /ok HTTP/1.1\r\n");
    std::this_thread::sleep_for(100ms);
    servicetest::RawConnection reserved(port, "127.0.0.2"), refused(port, "127.0.0.2");
    EXPECT_EQ(refused.Read(2s).code, "too_many_connections");
    reserved.Send("POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nhi");
    EXPECT_EQ(reserved.Read(2s).code, "too_many_connections");  // not a reserved path
    EXPECT_TRUE(reserved.ClosedWithin(1s));                     // its reserve slot is free
    std::this_thread::sleep_for(100ms);
    servicetest::RawConnection status(port, "127.0.0.2");
    status.Send(ok);
    EXPECT_EQ(status.Read(2s).status, 200);  // a reserved path
    EXPECT_TRUE(status.ClosedWithin(1s));    // one request only

    EXPECT_EQ(servicetest::RawRequest(port, ok).status, 200);
    // An idle connection is closed after the idle time, one that does not send its request
    // whole at its time limit.
    servicetest::RawConnection idle(port, "127.0.0.3");
    EXPECT_TRUE(idle.ClosedWithin(10s));
    EXPECT_TRUE(b.ClosedWithin(10s));
  }
  server.stop();
  listen.join();
}

}  // namespace
