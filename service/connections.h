// SPDX-License-Identifier: Apache-2.0
// The service's connections: how many a client address and all clients may hold, a thread for
// each one taken (so no more threads than connections), and how long a request's header and body
// may take to arrive. A connection beyond the limits is answered 503 at once and closed, so that
// one client holding many connections open, or sending them a byte at a time, cannot keep the
// others waiting.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
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
};

class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(const ConnectionLimits& limits);
  ~GuardedServer() override;

  const ConnectionLimits& Limits() const { return limits_; }
  // Lets connections queue in the kernel as many as it allows; after binding.
  void WidenBacklog();
  // The reading of the request being served on the calling thread; nullptr off a connection.
  static RequestReading* Current();
  // Serves the requests of one connected socket until it closes or times out, then closes it.
  // The server calls it on a thread of its own for each connection it takes; a test or fuzzer
  // may call it on a socket pair.
  void ServeConnection(int fd, const std::string& client);

 private:
  bool process_and_close_socket(socket_t sock) override;
  bool Admit(const std::string& client);
  void Leave(const std::string& client);

  const ConnectionLimits limits_;
  std::mutex mu_;
  std::map<std::string, size_t> perClient_;
  size_t total_ = 0;
  std::condition_variable drained_;
};

}  // namespace fpd
