// SPDX-License-Identifier: Apache-2.0
#include "notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/unique_fd.h"

namespace fpd {

bool NotifyServiceManager(const std::string& state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (path == nullptr || (path[0] != '/' && path[0] != '@')) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t len = std::strlen(path);
  if (len >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path, len);
  if (path[0] == '@') addr.sun_path[0] = '\0';  // an abstract socket
  const plat::UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return false;
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);
  return ::sendto(fd.Get(), state.data(), state.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&addr),
                  size) == static_cast<ssize_t>(state.size());
}

}  // namespace fpd
