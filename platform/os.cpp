// SPDX-License-Identifier: Apache-2.0
// Operating-system services: the executable's path, whole-file and append-only file writes,
// and the local clock.
#include "platform/os.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>
#include <mutex>
#include <string_view>

#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/testing/hooks.h"
#include "platform/unique_fd.h"

namespace plat {
namespace {

std::mutex g_mutex;
AnsiString g_exe_override;
AnsiString g_host_folder;
std::function<TDateTime()> g_clock;
int g_append_failure_countdown = 0;  // SetAppendFailureForTesting; 0 = off

// True when this append is the one the test hook makes fail.
bool ForcedAppendFailure() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_append_failure_countdown <= 0) return false;
  return --g_append_failure_countdown == 0;
}

[[noreturn]] void RaiseIo(const char* what, const AnsiString& path, int err) {
  RaiseOsError(std::string("Cannot ") + what + " file '" + path + "'", err);
}

TDateTime SystemNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm local{};
  time_t secs = ts.tv_sec;
  if (localtime_r(&secs, &local) == nullptr) {
    // Without the time-zone rules, the clock still answers in universal time.
    gmtime_r(&secs, &local);
  }
  // Whole milliseconds, as the host's clock keeps them; a leap second counts as the one before.
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                    static_cast<int>(ts.tv_nsec / 1000000));
}

// Writes all of bytes to fd, continuing after partial writes and interruptions.
bool WriteAll(int fd, const char* data, size_t size, int& err) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) {
      err = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The executable's path from the kernel; it does not change while the process lives, so it is
// read once (every log line asks for it).
AnsiString ReadExecutablePath() {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) {
      RaiseOsError("Cannot read the executable's path", errno);
    }
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      return buf;
    }
    buf.resize(buf.size() * 2);  // the path may have been cut: try a larger buffer
  }
}

}  // namespace

AnsiString ExecutablePath() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_exe_override.empty()) return g_exe_override;
  }
  static const AnsiString path = ReadExecutablePath();
  return path;
}

void SetExecutablePathForTesting(const AnsiString& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_exe_override = path;
}

AnsiString HostFolder() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_host_folder.empty()) return g_host_folder;
  }
  return ExtractFileDir(ExecutablePath());
}

void SetHostFolder(const AnsiString& folder) {
  AnsiString f = folder;
  while (f.size() > 1 && f.back() == PathDelim) f.pop_back();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_host_folder = f;
}

AnsiString DriverLogName(TDateTime when) {
  return "impdebug" + FormatDateTime("mmyy", when) + ".txt";
}

AnsiString ExtractFileDir(const AnsiString& path) {
  const size_t pos = path.rfind(PathDelim);
  if (pos == AnsiString::npos) return AnsiString();
  if (pos == 0) return AnsiString(1, PathDelim);  // the root keeps its separator
  return path.substr(0, pos);
}

AnsiString ShortPathName(const AnsiString& path) {
  return path;
}

bool FileExists(const AnsiString& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DeleteFile(const AnsiString& path) {
  if (::unlink(path.c_str()) == 0) return true;
  const int err = errno;
  // A path through a regular file cannot name an existing file either.
  if (err == ENOENT || err == ENOTDIR) return false;
  RaiseIo("delete", path, err);
}

void AppendToTextFile(const AnsiString& path, const AnsiString& text) {
  UniqueFd file;
  do {
    file.Reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  } while (!file.Valid() && errno == EINTR);
  if (!file.Valid()) RaiseIo("open", path, errno);
  const int fd = file.Get();

  const bool forced = ForcedAppendFailure();
  if (!text.empty() || forced) {
    const size_t wanted = forced ? text.size() / 2 : text.size();
    ssize_t n;
    do {
      n = ::write(fd, text.data(), wanted);
    } while (n < 0 && errno == EINTR);
    if (forced || n < 0 || static_cast<size_t>(n) != text.size()) {
      const int err = n < 0 ? errno : ENOSPC;
      // Take back whatever part of the line went in, so the file holds whole lines only.
      // The file was opened for appending, so the part that went in is its last n bytes.
      struct stat st {};
      if (n > 0 && ::fstat(fd, &st) == 0 && st.st_size >= n) {
        [[maybe_unused]] const int ignored = ::ftruncate(fd, st.st_size - n);
      }
      file.Reset();
      if (n >= 0) {
        throw EInOutError("Cannot write file '" + path + "': only " + std::to_string(n) + " of " +
                          std::to_string(text.size()) + " bytes written (" +
                          (forced ? std::string("forced failure") : ErrnoText(err)) + ")");
      }
      RaiseIo("write", path, err);
    }
  }

  if (!file.Close()) RaiseIo("close", path, errno);
}

void SetAppendFailureForTesting(int n) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_append_failure_countdown = n > 0 ? n : 0;
}

// What a writer's temporary is named after its target: "<target>.tmp.<process id>".
constexpr std::string_view kTemporaryMark = ".tmp.";

namespace {

// WriteFileAtomic; with keepOpen the new file's descriptor stays open (for appending) and is
// answered, else -1.
int WriteAtomically(const AnsiString& path, const std::string& bytes, bool keepOpen) {
  RemoveStaleTemporaries(path);
  const AnsiString temp = path + AnsiString(kTemporaryMark) + std::to_string(::getpid());
  const int flags = O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC;
  UniqueFd fd(::open(temp.c_str(), flags, 0644));
  if (!fd.Valid() && errno == EEXIST) {
    // Left behind by an earlier process that had the same id and did not finish.
    ::unlink(temp.c_str());
    fd.Reset(::open(temp.c_str(), flags, 0644));
  }
  if (!fd.Valid()) RaiseIo("create", temp, errno);

  auto fail = [&](const char* what, const AnsiString& name, int err) {
    fd.Reset();
    ::unlink(temp.c_str());
    RaiseIo(what, name, err);
  };

  int err = 0;
  if (!WriteAll(fd.Get(), bytes.data(), bytes.size(), err)) fail("write", temp, err);
  if (::fsync(fd.Get()) != 0) fail("flush", temp, errno);
  if (!keepOpen && !fd.Close()) fail("close", temp, errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) fail("replace", path, errno);

  // Make the rename itself durable; a folder that cannot be flushed does not undo the write.
  const AnsiString dir = ExtractFileDir(path);
  const UniqueFd folder(
      ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Valid()) ::fsync(folder.Get());
  return fd.Release();
}

}  // namespace

void WriteFileAtomic(const AnsiString& path, const std::string& bytes) {
  WriteAtomically(path, bytes, false);
}

int ReplaceFileKeepingItOpen(const AnsiString& path, const std::string& bytes) {
  return WriteAtomically(path, bytes, true);
}

void RemoveStaleTemporaries(const AnsiString& path) {
  const size_t slash = path.rfind(PathDelim);
  const AnsiString dir = slash == AnsiString::npos ? "." : path.substr(0, slash + 1);
  const AnsiString prefix =
      (slash == AnsiString::npos ? path : path.substr(slash + 1)) + AnsiString(kTemporaryMark);
  DIR* folder = ::opendir(dir.c_str());
  if (folder == nullptr) return;  // the write itself reports a folder it cannot use
  const int fd = ::dirfd(folder);
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name(entry->d_name);
    if (!name.starts_with(prefix)) continue;
    const std::string_view digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const pid_t pid = static_cast<pid_t>(std::stol(std::string(digits)));
    // This process's own name is taken over by the write; a writer still running keeps its own.
    if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid()) {
      continue;
    }
    ::unlinkat(fd, entry->d_name, 0);
  }
  ::closedir(folder);
}

std::string ReadWholeFile(const AnsiString& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) RaiseIo("open", path, errno);
  std::string out;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseIo("read", path, errno);
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

TDateTime Now() {
  std::function<TDateTime()> clock;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    clock = g_clock;
  }
  return clock ? clock() : SystemNow();
}

TDateTime Date() {
  return std::floor(Now());
}

void SetClockForTesting(std::function<TDateTime()> clock) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_clock = std::move(clock);
}

}  // namespace plat
