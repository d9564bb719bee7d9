// SPDX-License-Identifier: Apache-2.0
// Holding a serial device: exclusive mode and an flock, and finding who holds it.
#include "printer/internal/device_lock.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace plat {

std::string DeviceHolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    // Lines as "1: FLOCK  ADVISORY  WRITE 1234 00:1a:5 0 EOF": the holder's process and the
    // locked file's device (hexadecimal major:minor) and inode.
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
      std::istringstream in(line);
      std::string id, kind, mode, access, pid, where;
      if (!(in >> id >> kind)) continue;
      if (kind == "->") in >> kind;  // a waiter's line
      if (!(in >> mode >> access >> pid >> where)) continue;
      unsigned maj = 0, min = 0;
      unsigned long ino = 0;
      if (std::sscanf(where.c_str(), "%x:%x:%lu", &maj, &min, &ino) != 3) continue;
      if (maj == major(st.st_dev) && min == minor(st.st_dev) && ino == st.st_ino)
        return "process " + pid;
    }
  }
  return "another program";
}

std::string HoldDevice(int fd, const std::string& path) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return "the device is in use by " + DeviceHolder(path);
    // A file system without locks still gets the exclusive mode below.
  }
  ::ioctl(fd, TIOCEXCL);
  return "";
}

void ReleaseDevice(int fd) {
  // The exclusive mode belongs to the line, not to this descriptor: it is taken off before
  // closing, so that the next program (or this one again) can open the line.
  ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
}

}  // namespace plat
