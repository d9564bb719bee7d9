// SPDX-License-Identifier: Apache-2.0
#include "connections.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/unique_fd.h"

namespace fpd {

namespace {

using Clock = std::chrono::steady_clock;

thread_local RequestReading* tCurrent = nullptr;

// The longest header line the HTTP layer takes; a longer one ends the request.
constexpr size_t kHeaderLineMax = 8192;
// A request from this size on leaves memory worth giving back.
constexpr size_t kLargeRequest = 64 * 1024;

std::string PeerAddress(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return "";
  char text[INET6_ADDRSTRLEN] = "";
  if (addr.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&addr)->sin_addr, text, sizeof text);
  } else if (addr.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&addr)->sin6_addr, text, sizeof text);
  }
  return text;
}

void LocalAddress(int fd, std::string& ip, int& port) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  ip.clear();
  port = 0;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return;
  char text[INET6_ADDRSTRLEN] = "";
  if (addr.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<sockaddr_in*>(&addr);
    ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
    port = ntohs(a->sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
    ::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
    port = ntohs(a->sin6_port);
  }
  ip = text;
}

int RemainingMs(Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

// A connected socket as the HTTP layer reads and writes it, keeping count of what a request
// has sent: the request line and headers until their blank line, then the body, each against
// its size and time limits.
class ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(int fd, std::string client, const ConnectionLimits& limits)
      : fd_(fd), client_(std::move(client)), limits_(limits) {}

  // A new request starts: its header has until now + HeaderTimeout.
  void StartRequest(RequestReading* reading) {
    reading_ = reading;
    inBody_ = false;
    headerBytes_ = bodyBytes_ = lineLength_ = 0;
    lineIndex_ = 0;
    lineStart_.clear();
    deadline_ = Clock::now() + limits_.HeaderTimeout;
  }
  void EndRequest() { largest_ = std::max(largest_, headerBytes_ + bodyBytes_); }
  bool Buffered() const { return next_ < end_; }
  // The most bytes one request of the connection sent, header and body.
  size_t Largest() const { return largest_; }

  bool is_readable() const override { return Buffered() || Wait(POLLIN, ReadWaitMs()) > 0; }
  bool is_writable() const override {
    return Wait(POLLOUT, static_cast<int>(limits_.ReadTimeout.count())) > 0;
  }

  ssize_t read(char* ptr, size_t size) override {
    if (size == 0) return 0;
    if (!Buffered()) {
      if (Clock::now() >= deadline_)
        return Stop(inBody_ ? ReadStop::BodyTimeout : ReadStop::HeaderTimeout);
      const int wait = ReadWaitMs();
      const int ready = Wait(POLLIN, wait);
      if (ready <= 0) {
        // A wait shorter than a read's was cut by the request's own time limit.
        if (ready == 0 && wait < static_cast<int>(limits_.ReadTimeout.count())) {
          return Stop(inBody_ ? ReadStop::BodyTimeout : ReadStop::HeaderTimeout);
        }
        return -1;
      }
      const ssize_t n = ::recv(fd_, buf_, sizeof buf_, 0);
      if (n <= 0) return n < 0 ? -1 : 0;
      next_ = 0;
      end_ = static_cast<size_t>(n);
    }
    size_t n = std::min(size, end_ - next_);
    if (inBody_) {
      if (bodyBytes_ + n > limits_.MaxBody) return Stop(ReadStop::BodyTooLarge);
      bodyBytes_ += n;
    } else {
      // The header is read a byte at a time: a byte past its blank line starts the body.
      n = 1;
      if (!Header(buf_[next_])) return Stop(ReadStop::HeaderTooLarge);
    }
    std::memcpy(ptr, buf_ + next_, n);
    next_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    size_t done = 0;
    while (done < size) {
      if (Wait(POLLOUT, static_cast<int>(limits_.ReadTimeout.count())) <= 0) return -1;
      const ssize_t n = ::send(fd_, ptr + done, size - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return -1;
      done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = client_;
    port = 0;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    LocalAddress(fd_, ip, port);
  }
  socket_t socket() const override { return fd_; }

 private:
  int ReadWaitMs() const {
    return std::min(static_cast<int>(limits_.ReadTimeout.count()), RemainingMs(deadline_));
  }
  int Wait(short events, int ms) const {
    pollfd p{fd_, events, 0};
    for (;;) {
      const int r = ::poll(&p, 1, ms);
      if (r < 0 && errno == EINTR) continue;
      return r;
    }
  }
  ssize_t Stop(ReadStop why) {
    if (reading_ && reading_->Stop == ReadStop::None) reading_->Stop = why;
    return -1;
  }
  // Follows the request line and the header lines; false past the header's size limit.
  bool Header(char c) {
    if (++headerBytes_ > limits_.MaxHeaderBytes) return false;
    if (lineStart_.size() < 64) lineStart_ += c;
    if (++lineLength_ > kHeaderLineMax && reading_ && !reading_->LongLineSeen && lineIndex_ > 0) {
      reading_->LongLineSeen = true;
      reading_->LongLine = lineStart_.substr(0, lineStart_.find(':'));
    }
    if (c != '\n') return true;
    const bool blank = lineIndex_ > 0 && lineLength_ == 2 && lineStart_[0] == '\r';
    ++lineIndex_;
    lineLength_ = 0;
    lineStart_.clear();
    if (blank) {
      inBody_ = true;
      deadline_ = Clock::now() + limits_.BodyTimeout;
    }
    return true;
  }

  const int fd_;
  const std::string client_;
  const ConnectionLimits& limits_;
  RequestReading* reading_ = nullptr;
  char buf_[4096];
  size_t next_ = 0, end_ = 0;
  bool inBody_ = false;
  size_t headerBytes_ = 0, bodyBytes_ = 0, lineLength_ = 0, lineIndex_ = 0, largest_ = 0;
  std::string lineStart_;
  Clock::time_point deadline_;
};

// Runs each connection's task on the accepting thread: process_and_close_socket only decides
// and starts the connection's thread, so that a refusal never waits for one. Shutting down
// waits for the connections' threads to end.
class AcceptQueue : public httplib::TaskQueue {
 public:
  explicit AcceptQueue(std::function<void()> drain) : drain_(std::move(drain)) {}
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override { drain_(); }

 private:
  std::function<void()> drain_;
};

// The answer to a connection beyond the limits.
const std::string kTooManyBody =
    "{\"error\":{\"code\":\"too_many_connections\",\"message\":\"too many connections are "
    "open; retry later\",\"field\":null}}";

void Refuse(plat::UniqueFd fd) {
  static const std::string kAnswer =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
      "Connection: close\r\nContent-Length: " +
      std::to_string(kTooManyBody.size()) + "\r\n\r\n" + kTooManyBody;
  (void)::send(fd.Get(), kAnswer.data(), kAnswer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::shutdown(fd.Get(), SHUT_RDWR);
}

// Closes a connection whose request was answered before it was read whole: the rest of what the
// client sends is read and dropped for a moment, so that the answer reaches it instead of being
// lost to a reset.
void CloseRefused(plat::UniqueFd fd) {
  ::shutdown(fd.Get(), SHUT_WR);
  const auto until = Clock::now() + std::chrono::seconds(1);
  size_t dropped = 0;
  char buf[4096];
  while (dropped < (4u << 20)) {
    pollfd p{fd.Get(), POLLIN, 0};
    if (::poll(&p, 1, RemainingMs(until)) <= 0) break;
    const ssize_t n = ::recv(fd.Get(), buf, sizeof buf, 0);
    if (n <= 0) break;
    dropped += static_cast<size_t>(n);
  }
}

}  // namespace

GuardedServer::GuardedServer(const ConnectionLimits& limits) : limits_(limits) {
  new_task_queue = [this] {
    return new AcceptQueue([this] {
      std::unique_lock lock(mu_);
      drained_.wait(lock, [this] { return threads_ == 0; });
    });
  };
  // A connection of the reserve is served its reserved path only.
  set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    const RequestReading* reading = Current();
    if (reading && reading->Reserved && !(reserved_ && reserved_(req))) {
      res.status = 503;
      res.set_content(kTooManyBody, "application/json");
      return HandlerResponse::Handled;
    }
    return gate_ ? gate_(req, res) : HandlerResponse::Unhandled;
  });
  set_payload_max_length(limits_.MaxBody);
  set_keep_alive_timeout(
      std::chrono::duration_cast<std::chrono::seconds>(limits_.IdleTimeout).count());
}

GuardedServer::~GuardedServer() {
  stop();
  std::unique_lock lock(mu_);
  drained_.wait(lock, [this] { return threads_ == 0; });
}

void GuardedServer::SetReserved(std::function<bool(const httplib::Request&)> reserved) {
  reserved_ = std::move(reserved);
}

void GuardedServer::SetGate(HandlerWithResponse gate) {
  gate_ = std::move(gate);
}

void GuardedServer::WidenBacklog() {
  // Connections that arrive faster than they are taken wait in the kernel instead of being
  // dropped and retried a second later.
  if (svr_sock_ != INVALID_SOCKET) ::listen(svr_sock_, SOMAXCONN);
}

RequestReading* GuardedServer::Current() {
  return tCurrent;
}

uint64_t GuardedServer::Admit(const std::string& client) {
  std::lock_guard lock(mu_);
  while (perClient_[client] >= limits_.PerClient && CloseOneWaiting(&client)) {
  }
  while (total_ >= limits_.Total && CloseOneWaiting(nullptr)) {
  }
  size_t& mine = perClient_[client];
  if (total_ >= limits_.Total || mine >= limits_.PerClient) {
    if (mine == 0) perClient_.erase(client);
    return 0;
  }
  ++mine;
  ++total_;
  connections_[++lastId_] = Connection{client, true, Clock::now(), false};
  return lastId_;
}

bool GuardedServer::CloseOneWaiting(const std::string* client) {
  // The one that has waited longest for its next request, of the client when one is named.
  const auto oldEnough = Clock::now() - limits_.IdleBeforeClosing;
  Connection* oldest = nullptr;
  for (auto& [id, c] : connections_) {
    if (c.Closing || !c.Waiting || c.Since > oldEnough) continue;
    if (client && c.Client != *client) continue;
    if (!oldest || c.Since < oldest->Since) oldest = &c;
  }
  if (!oldest) return false;
  // Its thread sees the mark within its next wait step and closes it; it counts no longer.
  oldest->Closing = true;
  const auto it = perClient_.find(oldest->Client);
  if (it != perClient_.end() && --it->second == 0) perClient_.erase(it);
  --total_;
  return true;
}

void GuardedServer::Leave(uint64_t id) {
  std::lock_guard lock(mu_);
  const auto it = connections_.find(id);
  if (it != connections_.end()) {
    if (!it->second.Closing) {
      const auto mine = perClient_.find(it->second.Client);
      if (mine != perClient_.end() && --mine->second == 0) perClient_.erase(mine);
      --total_;
    }
    connections_.erase(it);
  } else {
    --inReserve_;
  }
  if (--threads_ == 0) drained_.notify_all();
}

void GuardedServer::Waiting(uint64_t id) {
  std::lock_guard lock(mu_);
  const auto it = connections_.find(id);
  if (it == connections_.end()) return;
  it->second.Waiting = true;
  it->second.Since = Clock::now();
}

bool GuardedServer::Closing(uint64_t id) {
  std::lock_guard lock(mu_);
  const auto it = connections_.find(id);
  return it != connections_.end() && it->second.Closing;
}

bool GuardedServer::Working(uint64_t id) {
  std::lock_guard lock(mu_);
  const auto it = connections_.find(id);
  if (it == connections_.end()) return true;
  if (it->second.Closing) return false;
  it->second.Waiting = false;
  return true;
}

void GuardedServer::Start(int fd, const std::string& client, uint64_t id, bool reserved) {
  // A thread per connection, ended with it: memory is held only for the connections open now.
  {
    std::lock_guard lock(mu_);
    ++threads_;
  }
  try {
    std::thread([this, fd, client, id, reserved] {
      Serve(fd, client, id, reserved);
      Leave(id);
    }).detach();
  } catch (const std::system_error&) {
    Leave(id);
    Refuse(plat::UniqueFd(fd));
  }
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
  const std::string client = PeerAddress(sock);
  if (const uint64_t id = Admit(client)) {
    Start(sock, client, id, false);
    return true;
  }
  bool reserve = false;
  {
    std::lock_guard lock(mu_);
    reserve = inReserve_ < limits_.Reserve;
    if (reserve) ++inReserve_;
  }
  if (reserve) {
    Start(sock, client, 0, true);
  } else {
    Refuse(plat::UniqueFd(sock));
  }
  return true;
}

void GuardedServer::ServeConnection(int fd, const std::string& client) {
  Serve(fd, client, 0, false);
}

void GuardedServer::Serve(int fd, const std::string& client, uint64_t id, bool reserved) {
  plat::UniqueFd owned(fd);
  ConnectionStream stream(fd, client, limits_);
  // The memory a large request took goes back to the system once its connection ends.
  struct Trim {
    const ConnectionStream& stream;
    ~Trim() {
      if (stream.Largest() > kLargeRequest) ::malloc_trim(0);
    }
  } trim{stream};
  // Off a listening server (a socket pair) only the end of the connection ends it.
  const bool listening = is_running();
  const auto stopped = [&] { return listening && svr_sock_ == INVALID_SOCKET; };
  for (;;) {
    // Waits for the next request in short steps, ending when the server stops or the connection
    // is closed to make room.
    bool ready = stream.Buffered();
    if (!ready) Waiting(id);
    for (auto until = Clock::now() + limits_.IdleTimeout; !ready && Clock::now() < until;) {
      if (stopped() || Closing(id)) break;
      pollfd p{fd, POLLIN, 0};
      ready = ::poll(&p, 1, std::min(100, RemainingMs(until))) > 0;
    }
    if (!ready || stopped() || !Working(id)) break;
    RequestReading reading;
    reading.Reserved = reserved;
    tCurrent = &reading;
    stream.StartRequest(&reading);
    bool closed = false;
    // A connection of the reserve makes one request.
    const bool ok = process_request(stream, reserved, closed, nullptr);
    stream.EndRequest();
    tCurrent = nullptr;
    if (reading.CloseAfterAnswer || reading.Stop != ReadStop::None || reading.LongLineSeen) {
      CloseRefused(std::move(owned));
      return;
    }
    if (!ok || closed || reserved) break;
  }
  ::shutdown(fd, SHUT_RDWR);
}

}  // namespace fpd
