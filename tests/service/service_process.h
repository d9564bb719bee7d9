// SPDX-License-Identifier: Apache-2.0
// The print service as a separate program for end-to-end tests: started on a free loopback
// port with its own state folder, stopped, or killed outright; and the printer-emulator program
// on a pseudo-terminal, which outlives any number of service runs.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <httplib.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace servicetest {

using Json = nlohmann::json;

// A fresh temporary folder, removed with everything in it.
class TempDir {
 public:
  // In the system's temporary folder, or in base when given.
  explicit TempDir(const std::string& base = "");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A small file system of its own (a tmpfs of the size given, "96k") on a fresh temporary folder,
// for a disk that fills; unmounted and removed with the object. Mounting needs root: where it
// cannot, Mounted() is false.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& size);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool Mounted() const { return mounted_; }
  const std::string& Path() const { return dir_.Path(); }

 private:
  TempDir dir_;
  bool mounted_ = false;
};

// An answer of the service: HTTP status, the body parsed (its text when it is not JSON), headers.
struct Answer {
  int status = 0;  // 0: no answer (connection refused or cut)
  Json body;
  httplib::Headers headers;
};

// A GET and a POST (JSON body; with an Idempotency-Key when key is not empty) to the service on
// a port of 127.0.0.1; every answer is kept for the check against the API description.
Answer GetFrom(int port, const std::string& path);
Answer PostTo(int port, const std::string& path, const Json& body, const std::string& key);
// Any of GET, POST and OPTIONS with the headers given.
Answer SendTo(int port, const std::string& method, const std::string& path, const std::string& body,
              const httplib::Headers& headers);

class ServiceProcess {
 public:
  // Starts fiscal-printd with --state stateDir on a free port of 127.0.0.1, the environment
  // given added to the test's, and waits until it listens. Raises std::runtime_error when it
  // does not start (with what it wrote).
  ServiceProcess(const std::string& stateDir, std::vector<std::string> args = {},
                 std::map<std::string, std::string> env = {});
  ~ServiceProcess();  // Stop()
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  Answer Get(const std::string& path) const;
  // A POST with the JSON body; with an Idempotency-Key when key is not empty.
  Answer Post(const std::string& path, const Json& body, const std::string& key) const;

  void Stop();  // SIGTERM, then waits (SIGKILL after a grace period)
  void Kill();  // SIGKILL, as a crash or a power cut would end it, and waits
  bool Running() const { return pid_ > 0; }

 private:
  void Wait(int graceMs);
  std::string outPath_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// The printer-emulator program on a pseudo-terminal with its journal (one executed command per
// line: method and fields, tab-separated) and its paper file.
class PrinterProgram {
 public:
  // extra: more of the program's options (a slow printer: --busy 1 --busy-ms 50).
  explicit PrinterProgram(const std::string& dir, std::vector<std::string> extra = {});
  ~PrinterProgram();
  PrinterProgram(const PrinterProgram&) = delete;
  PrinterProgram& operator=(const PrinterProgram&) = delete;

  const std::string& Pty() const { return pty_; }
  pid_t Pid() const { return pid_; }  // to pause the printer (SIGSTOP) and resume it
  // The environment that points a host's COM1 at this printer.
  std::map<std::string, std::string> Env() const;
  std::vector<std::vector<std::string>> Journal() const;  // each line split at the tabs

 private:
  std::string dir_;
  std::string pty_;
  pid_t pid_ = -1;
};

// What the printer program's journal shows of the sale whose one item has this description.
struct OnPrinter {
  int items = 0;        // item lines sent with the description
  bool closed = false;  // its ticket was closed (printed and counted)
};
OnPrinter FindSale(const std::vector<std::vector<std::string>>& journal,
                   const std::string& description);

// A shell command's exit code and output (standard output and standard error together).
struct ShellRun {
  int exitCode = -1;
  std::string output;
};
ShellRun Shell(const std::string& command);

// The lines of a text file (without line ends); empty when it cannot be read.
std::vector<std::string> FileLines(const std::string& path);

// Every answer received from the service goes to the recorder set here, when one is: the
// service's tests check them against the API description (docs/openapi.yaml) when the test
// program ends, and an answer that it does not describe fails the program. A program without
// a recorder (a benchmark) records nothing.
using AnswerRecorder = void (*)(const std::string& method, const std::string& path,
                                const httplib::Result& r);
void SetAnswerRecorder(AnswerRecorder recorder);
void RecordAnswer(const std::string& method, const std::string& path, const httplib::Result& r);

// Headless Chromium, where installed; a browser test starts with SKIP_WITHOUT_CHROMIUM().
inline constexpr const char* kChromium = "/usr/bin/chromium";
#define SKIP_WITHOUT_CHROMIUM()                                           \
  if (::access(servicetest::kChromium, X_OK) != 0)                        \
  GTEST_SKIP() << "Chromium is not installed (" << servicetest::kChromium \
               << "); scripts/deps installs it where the package can be installed"

// How the browser of a test is set up beyond a fresh profile.
struct BrowserSetup {
  std::vector<std::string> Flags;  // more command-line flags (TillSite::BrowserFlags())
  // Sites the till's operator allowed once to reach the till's own services (as the browser
  // keeps the answer to its prompt in the profile).
  std::vector<std::string> AllowedSites;
  // Sites the operator refused at that prompt.
  std::vector<std::string> RefusedSites;
  // A managed browser policy (JSON) in force for this run only; needs CanSetBrowserPolicy().
  std::string Policy;
};
// True when a run can have a policy of its own: a private mount namespace over the browser's
// policy folder, which needs root.
bool CanSetBrowserPolicy();

// The page's DOM after its scripts ran (at most 10 s of the page's time). The browser may reach
// 127.0.0.1 only, under that address or as till.example: every other host name fails to
// resolve, and nothing runs in the background that would call out. What the browser says on
// standard error is dropped.
std::string BrowserDom(const std::string& url, const std::string& profile,
                       const BrowserSetup& setup = {});

// The markup inside the element with this id, as the dump shows it.
std::string ElementText(const std::string& dom, const std::string& id);

// The till's own web site, another origin than the service, serving the files put into it:
// local, at http://127.0.0.1:PORT; or on the internet, at https://till.example:PORT with a
// certificate made for it, an address the browser treats as a public one.
class TillSite {
 public:
  enum class Kind { Local, Internet };
  explicit TillSite(Kind kind = Kind::Local);
  ~TillSite();
  TillSite(const TillSite&) = delete;
  TillSite& operator=(const TillSite&) = delete;

  const std::string& Origin() const { return origin_; }
  void Put(const std::string& name, const std::string& content) const;
  // The browser client as fiscal-printd.js, as a web till on the internet serves its own copy.
  void PutClient() const;
  // What BrowserDom needs to load the site as what it is.
  std::vector<std::string> BrowserFlags() const { return flags_; }

 private:
  TempDir dir_;
  std::string origin_;
  std::vector<std::string> flags_;
  pid_t pid_ = -1;
};

// A one-item ticket paid in cash, with the item's description.
Json TicketSale(const std::string& description, double price = 10);
// The supervisor and operator dataset a cash withdrawal's receipt names (cdsOperSup, "staff").
Json Staff();

}  // namespace servicetest
