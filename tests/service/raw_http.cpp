// SPDX-License-Identifier: Apache-2.0
#include "tests/service/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace servicetest {

RawConnection::RawConnection(int port, const std::string& from) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
}

RawConnection::~RawConnection() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawConnection::Send(const std::string& bytes) {
  for (size_t done = 0; fd_ >= 0 && done < bytes.size();) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

RawAnswer RawConnection::Read(std::chrono::milliseconds limit) {
  RawAnswer a;
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const size_t head = in_.find("\r\n\r\n");
    if (head != std::string::npos) {
      const size_t at = in_.find("Content-Length: ");
      const size_t length = at < head ? std::stoul(in_.substr(at + 16)) : 0;
      if (in_.size() >= head + 4 + length) {
        a.status = std::stoi(in_.substr(9, 3));
        a.body = in_.substr(head + 4, length);
        in_.erase(0, head + 4 + length);
        const auto j = nlohmann::json::parse(a.body, nullptr, false);
        if (j.is_object() && j.contains("error")) a.code = j["error"].value("code", "");
        return a;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      return a;
    }
    char buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return a;
    in_.append(buf, static_cast<size_t>(n));
  }
}

bool RawConnection::ClosedWithin(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (fd_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[4096];
    if (::recv(fd_, buf, sizeof buf, 0) <= 0) return true;
  }
  return true;
}

RawAnswer RawRequest(int port, const std::string& bytes) {
  RawConnection c(port);
  c.Send(bytes);
  return c.Read();
}

std::string PostBytes(int port, const std::string& path, const std::string& headers,
                      const std::string& body) {
  return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nContent-Type: application/json\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace servicetest
