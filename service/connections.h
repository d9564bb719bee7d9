// SPDX-License-Identifier: Apache-2.0
// The service's connections: how many a client address and all clients may hold, a thread for
// each one taken (so no more threads than connections), and how long a request's header and body
// may take to arrive. When a limit is reached, the connection that has waited longest for its
// next request is closed to make room; when none waits, a new connection may still make one
// request on a reserved path (the status, the health checks) from a small reserve, and any other
// is answered 503 and closed. So one client holding many connections open, or sending them a
// byte at a time, cannot keep the others waiting, nor anyone from the status.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace fpd {

struct ConnectionLimits {
  size_t Total = 128;                           // connections served at once, one thread each
  size_t PerClient = 32;                        // of them from one client address
  std::chrono::milliseconds ReadTimeout{5000};  // each read of a request, each write of an answer
  std::chrono::milliseconds IdleTimeout{5000};  // waiting for a request on an open connection
  std::chrono::milliseconds HeaderTimeout{10000};  // the request line and headers, in all
  std::chrono::milliseconds BodyTimeout{30000};    // the body, in all
  size_t MaxHeaderBytes = 64 * 1024;               // the request line and headers, in all
  size_t MaxBody = 1 << 20;                        // a body, chunked ones with their chunk framing
  // Connections beyond the limits served one request on a reserved path each.
  size_t Reserve = 8;
  // A connection waiting for its next request this long may be closed to make room; a newer one
  // is left its first moments, in which its request is on its way.
  std::chrono::milliseconds IdleBeforeClosing{200};
};

// Why the reading of the request on this thread's connection stopped before the request was
// whole, when it did.
enum class ReadStop { None, HeaderTooLarge, HeaderTimeout, BodyTooLarge, BodyTimeout };

// What the connection saw of the request it is serving now.
struct RequestReading {
  ReadStop Stop = ReadStop::None;
  // The name of the first header line longer than a header line may be (empty: none).
  std::string LongLine;
  bool LongLineSeen = false;
  // Set by a handler that answers without reading the body: the connection closes after it.
  bool CloseAfterAnswer = false;
  // The connection came beyond the limits: only a reserved path is served on it.
  bool Reserved = false;
};

class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(const ConnectionLimits& limits);
  ~GuardedServer() override;

  // The requests a connection beyond the limits is served (the others are answered 503
  // too_many_connections); none when not set.
  void SetReserved(std::function<bool(const httplib::Request&)> reserved);
  // The handler run before routing, after the reserved paths' check (in place of
  // set_pre_routing_handler, which that check takes).
  void SetGate(HandlerWithResponse gate);
  // Lets connections queue in the kernel as many as it allows; after binding.
  void WidenBacklog();
  // The reading of the request being served on the calling thread; nullptr off a connection.
  static RequestReading* Current();
  // Serves the requests of one connected socket until it closes or times out, then closes it.
  // The server calls it on a thread of its own for each connection it takes; a test or fuzzer
  // may call it on a socket pair.
  void ServeConnection(int fd, const std::string& client);

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    std::string Client;
    bool Waiting = true;  // for its next request
    Clock::time_point Since;
    bool Closing = false;  // closed to make room; no longer counted
  };
  bool process_and_close_socket(socket_t sock) override;
  // A connection's number once it is counted; 0 when it is beyond the limits, after the
  // longest waiting connections were closed to make room where they could.
  uint64_t Admit(const std::string& client);
  bool CloseOneWaiting(const std::string* client);  // with mu_ held
  void Leave(uint64_t id);
  // The connection waits for its next request, or has one: false when it was closed meanwhile
  // to make room (Closing).
  void Waiting(uint64_t id);
  bool Working(uint64_t id);
  bool Closing(uint64_t id);
  // Serves one socket; id 0 for a connection of the reserve (one request) or a socket pair.
  void Serve(int fd, const std::string& client, uint64_t id, bool reserved);
  void Start(int fd, const std::string& client, uint64_t id, bool reserved);

  const ConnectionLimits limits_;
  std::function<bool(const httplib::Request&)> reserved_;
  HandlerWithResponse gate_;
  std::mutex mu_;
  std::map<std::string, size_t> perClient_;
  std::map<uint64_t, Connection> connections_;
  uint64_t lastId_ = 0;
  size_t total_ = 0;
  size_t inReserve_ = 0;
  size_t threads_ = 0;  // serving now, counted or not
  std::condition_variable drained_;
};

}  // namespace fpd
