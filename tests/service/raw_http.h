// SPDX-License-Identifier: Apache-2.0
// A client that writes HTTP bytes as they are, for requests no well-behaved client library
// sends: no length, a NUL in a header, a body dripped a byte at a time, many idle connections
// from one loopback address.
#pragma once

#include <chrono>
#include <string>

namespace servicetest {

struct RawAnswer {
  int status = 0;  // 0: no answer before the connection closed or the time ran out
  std::string body;
  std::string code;  // the error code of a JSON error body
};

class RawConnection {
 public:
  // Connects to 127.0.0.1:port from the loopback address given (127.0.0.0/8).
  explicit RawConnection(int port, const std::string& from = "127.0.0.1");
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Connected() const { return fd_ >= 0; }
  // False once the service closed the connection.
  bool Send(const std::string& bytes);
  // One answer: its header and a body of Content-Length bytes.
  RawAnswer Read(std::chrono::milliseconds limit = std::chrono::seconds(30));
  // True when the service closes the connection within the time.
  bool ClosedWithin(std::chrono::milliseconds limit);

 private:
  int fd_ = -1;
  std::string in_;
};

// One request on a connection of its own, and its answer.
RawAnswer RawRequest(int port, const std::string& bytes);

// "POST path HTTP/1.1" with the Host of the service, the headers given (each "Name: value"
// with its CRLF) and a body with its Content-Length.
std::string PostBytes(int port, const std::string& path, const std::string& headers,
                      const std::string& body);

}  // namespace servicetest
