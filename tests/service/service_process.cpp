// SPDX-License-Identifier: Apache-2.0
#include "tests/service/service_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace servicetest {

namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Forks and runs argv with stdout and stderr into outPath and the environment added.
pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::string& outPath) {
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
    }
    for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

// Waits until the file holds a whole line with the text, the process ended, or the time is up.
bool AwaitOutput(pid_t pid, const std::string& path, const std::string& text,
                 std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    const std::string out = ReadFile(path);
    const size_t at = out.find(text);
    if (at != std::string::npos && out.find('\n', at) != std::string::npos) return true;
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

AnswerRecorder g_recorder = nullptr;

Answer ToAnswer(const httplib::Result& r) {
  Answer a;
  if (!r) return a;
  a.status = r->status;
  a.headers = r->headers;
  a.body = Json::parse(r->body, nullptr, false);
  if (a.body.is_discarded()) a.body = r->body;  // not JSON: the text
  return a;
}

}  // namespace

TempDir::TempDir(const std::string& base) {
  const std::filesystem::path folder =
      base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
  std::string pattern = (folder / "fiscal-service-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

SmallDisk::SmallDisk(const std::string& size) {
  const std::string command =
      "mount -t tmpfs -o size=" + size + " tmpfs '" + dir_.Path() + "' 2>/dev/null";
  mounted_ = std::system(command.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  // Lazily: a file the driver still holds open there does not keep it mounted.
  if (mounted_) (void)std::system(("umount -l '" + dir_.Path() + "'").c_str());
}

ServiceProcess::ServiceProcess(const std::string& stateDir, std::vector<std::string> args,
                               std::map<std::string, std::string> env)
    : outPath_(stateDir + "/service-output.txt") {
  // Port 0: the service takes a free port and names it in "listening on http://HOST:PORT".
  std::vector<std::string> argv = {FISCAL_PRINTD_PATH, "--listen", "127.0.0.1:0", "--state",
                                   stateDir};
  argv.insert(argv.end(), args.begin(), args.end());
  // The built-in emulator unless the test points the service at a printer.
  if (env.find("FISCAL_PRINTER") == env.end()) env["FISCAL_PRINTER"] = "emulator";
  std::remove(outPath_.c_str());  // a run before this one in the same folder said its port there
  pid_ = Spawn(argv, env, outPath_);
  if (!AwaitOutput(pid_, outPath_, "listening on", 60s)) {
    Kill();
    throw std::runtime_error("fiscal-printd did not start: " + ReadFile(outPath_));
  }
  const std::string out = ReadFile(outPath_);
  const std::string prefix = "listening on http://127.0.0.1:";
  const size_t at = out.find(prefix);
  if (at == std::string::npos) throw std::runtime_error("fiscal-printd said: " + out);
  port_ = std::stoi(out.substr(at + prefix.size()));
}

ServiceProcess::~ServiceProcess() {
  Stop();
}

void SetAnswerRecorder(AnswerRecorder recorder) {
  g_recorder = recorder;
}

void RecordAnswer(const std::string& method, const std::string& path, const httplib::Result& r) {
  if (g_recorder != nullptr) g_recorder(method, path, r);
}

Answer GetFrom(int port, const std::string& path) {
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(60, 0);
  const httplib::Result r = c.Get(path);
  RecordAnswer("GET", path, r);
  return ToAnswer(r);
}

Answer PostTo(int port, const std::string& path, const Json& body, const std::string& key) {
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(60, 0);
  httplib::Headers h;
  if (!key.empty()) h.emplace("Idempotency-Key", key);
  const httplib::Result r = c.Post(path, h, body.dump(), "application/json");
  RecordAnswer("POST", path, r);
  return ToAnswer(r);
}

Answer SendTo(int port, const std::string& method, const std::string& path, const std::string& body,
              const httplib::Headers& headers) {
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(60, 0);
  const httplib::Result r = method == "GET"       ? c.Get(path, headers)
                            : method == "OPTIONS" ? c.Options(path, headers)
                                                  : c.Post(path, headers, body, "application/json");
  RecordAnswer(method, path, r);
  return ToAnswer(r);
}

Answer ServiceProcess::Get(const std::string& path) const {
  return GetFrom(port_, path);
}

Answer ServiceProcess::Post(const std::string& path, const Json& body,
                            const std::string& key) const {
  return PostTo(port_, path, body, key);
}

void ServiceProcess::Wait(int graceMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  while (std::chrono::steady_clock::now() < end) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(5ms);
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void ServiceProcess::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  Wait(30000);
}

void ServiceProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  Wait(30000);
}

PrinterProgram::PrinterProgram(const std::string& dir, std::vector<std::string> extra) : dir_(dir) {
  const std::string out = dir + "/printer-output.txt";
  std::vector<std::string> argv = {
      PRINTER_EMULATOR_PATH,        "--clock", "2026-12-08 10:00:00",     "--journal",
      dir + "/printer-journal.txt", "--paper", dir + "/printer-paper.txt"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  pid_ = Spawn(argv, {}, out);
  if (!AwaitOutput(pid_, out, "PTY ", 20s)) {
    throw std::runtime_error("printer-emulator did not start: " + ReadFile(out));
  }
  const std::string text = ReadFile(out);
  if (text.rfind("PTY ", 0) != 0) throw std::runtime_error("printer-emulator said: " + text);
  pty_ = text.substr(4, text.find('\n') - 4);
}

PrinterProgram::~PrinterProgram() {
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

std::map<std::string, std::string> PrinterProgram::Env() const {
  return {{"FISCAL_PRINTER", "serial"}, {"FISCAL_PRINTER_PORTS", "1=" + pty_}};
}

std::vector<std::vector<std::string>> PrinterProgram::Journal() const {
  std::vector<std::vector<std::string>> out;
  for (const auto& line : FileLines(dir_ + "/printer-journal.txt")) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    out.push_back(fields);
  }
  return out;
}

OnPrinter FindSale(const std::vector<std::vector<std::string>>& journal, const std::string& name) {
  OnPrinter p;
  for (size_t i = 0; i < journal.size(); ++i) {
    if (journal[i][0] != "SendTicketItem" || journal[i].size() < 2 || journal[i][1] != name)
      continue;
    ++p.items;
    for (size_t j = i + 1; j < journal.size(); ++j) {
      const std::string& m = journal[j][0];
      if (m == "CloseTicket") {
        p.closed = true;
        break;
      }
      if (m.rfind("Open", 0) == 0 || (m == "SendTicketPayment" && journal[j].back() == "C")) break;
    }
  }
  return p;
}

ShellRun Shell(const std::string& command) {
  ShellRun r;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 8192> buf{};
  for (size_t n; (n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0;)
    r.output.append(buf.data(), n);
  const int status = ::pclose(pipe);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

bool CanSetBrowserPolicy() {
  return std::filesystem::is_directory("/etc/chromium") &&
         Shell("unshare --mount --propagation private true").exitCode == 0;
}

std::string BrowserDom(const std::string& url, const std::string& profile,
                       const BrowserSetup& setup) {
  if (!setup.AllowedSites.empty() || !setup.RefusedSites.empty()) {
    Json sites = Json::object();
    for (const auto& site : setup.AllowedSites) sites[site + ",*"] = {{"setting", 1}};
    for (const auto& site : setup.RefusedSites) sites[site + ",*"] = {{"setting", 2}};
    std::filesystem::create_directories(profile + "/Default");
    std::ofstream(profile + "/Default/Preferences") << Json{
        {"profile", {{"content_settings", {{"exceptions", {{"loopback_network", sites}}}}}}}};
  }
  std::string command = std::string(kChromium) +
                        " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                        " --disable-background-networking --disable-component-update"
                        " --disable-sync --disable-default-apps --disable-extensions"
                        " --no-proxy-server"
                        " '--host-resolver-rules=MAP till.example 127.0.0.1, MAP * ~NOTFOUND,"
                        " EXCLUDE 127.0.0.1' --user-data-dir='" +
                        profile + "' --virtual-time-budget=10000";
  for (const auto& flag : setup.Flags) command += " '" + flag + "'";
  command += " --dump-dom '" + url + "'";
  if (!setup.Policy.empty()) {
    // The policy folder is this run's own: mounted over the browser's in a mount namespace
    // that ends with the run.
    const std::string root = profile + "/policy-root";
    std::filesystem::create_directories(root + "/policies/managed");
    std::ofstream(root + "/policies/managed/till.json") << setup.Policy;
    std::ofstream(profile + "/run.sh") << command << "\n";
    command = "unshare --mount --propagation private sh -c 'mount --bind " + root +
              " /etc/chromium && exec sh " + profile + "/run.sh'";
  }
  return Shell("(timeout 120 " + command + " 2>/dev/null)").output;
}

TillSite::TillSite(Kind kind) {
  const std::string root = dir_.Path() + "/site";
  std::filesystem::create_directory(root);
  std::vector<std::string> argv = {"/usr/bin/env", "python3",
                                   FISCAL_SOURCE_DIR "/tests/service/till_site.py", root};
  std::string spki;
  if (kind == Kind::Internet) {
    const std::string cert = dir_.Path() + "/cert.pem", key = dir_.Path() + "/key.pem";
    // The browser trusts the certificate by the hash of its public key (the output's last line).
    const ShellRun made = Shell(
        "(openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj /CN=till.example -addext subjectAltName=DNS:till.example -keyout '" +
        key + "' -out '" + cert + "' && openssl x509 -in '" + cert +
        "' -pubkey -noout | openssl pkey -pubin -outform der | openssl dgst -sha256 -binary"
        " | base64)");
    if (made.exitCode != 0) throw std::runtime_error("no certificate made: " + made.output);
    spki = made.output;
    while (!spki.empty() && spki.back() == '\n') spki.pop_back();
    spki = spki.substr(spki.rfind('\n') + 1);
    argv.insert(argv.end(), {cert, key});
  }
  const std::string out = dir_.Path() + "/site-output.txt";
  pid_ = Spawn(argv, {}, out);
  if (!AwaitOutput(pid_, out, "listening on ", 20s)) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    throw std::runtime_error("the till's site did not start: " + ReadFile(out));
  }
  const std::string port = std::to_string(std::stoi(ReadFile(out).substr(13)));
  if (kind == Kind::Local) {
    origin_ = "http://127.0.0.1:" + port;
    return;
  }
  origin_ = "https://till.example:" + port;
  // Its certificate trusted, its address a public one.
  flags_ = {"--ignore-certificate-errors-spki-list=" + spki,
            "--ip-address-space-overrides=127.0.0.1:" + port + "=public"};
}

TillSite::~TillSite() {
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

void TillSite::Put(const std::string& name, const std::string& content) const {
  std::ofstream(dir_.Path() + "/site/" + name, std::ios::binary) << content;
}

void TillSite::PutClient() const {
  Put("fiscal-printd.js", ReadFile(FISCAL_SOURCE_DIR "/service/client/fiscal-printd.js"));
}

std::string ElementText(const std::string& dom, const std::string& id) {
  const size_t at = dom.find("id=\"" + id + "\"");
  if (at == std::string::npos) return "<missing " + id + ">";
  const size_t start = dom.rfind('<', at) + 1;
  const std::string tag = dom.substr(start, dom.find_first_of(" >", start) - start);
  const size_t open = dom.find('>', at) + 1;
  return dom.substr(open, dom.find("</" + tag + ">", open) - open);
}

Json TicketSale(const std::string& description, double price) {
  return {
      {"kind", "T"},
      {"items", {{{"description", description}, {"quantity", 1}, {"price", price}, {"vat", 21}}}},
      {"payments", {{{"description", "Efectivo"}, {"amount", price}}}}};
}

Json Staff() {
  return Json::parse(
      R"({"fields":[{"name":"CDSUPERVISOR","type":"string"},{"name":"NMSUPERVISOR","type":"string"},)"
      R"({"name":"CDOPERADOR","type":"string"},{"name":"NMOPERADOR","type":"string"}],)"
      R"("rows":[["10","Marta","22","Julian"]]})");
}

}  // namespace servicetest
