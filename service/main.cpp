// SPDX-License-Identifier: Apache-2.0
// fiscal-printd: the local print service. Loads the driver package as a host does and serves
// its operations as a JSON API over HTTP on the till (docs/print-service.md).
#include <malloc.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include <CLI/CLI.hpp>

#include "broker_feed.h"
#include "door_options.h"
#include "log.h"
#include "platform/exceptions.h"
#include "platform/loader.h"
#include "platform/os.h"
#include "platform/version.h"
#include "printer/notices.h"
#include "program/command_line.h"
#include "server.h"
#include "tills.h"

namespace {

std::string DefaultStateDir() {
  if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x)
    return std::string(x) + "/fiscal-printd";
  if (const char* h = std::getenv("HOME"); h && *h)
    return std::string(h) + "/.local/state/fiscal-printd";
  return "fiscal-printd-state";
}

// The driver package: beside the program in the build tree; once installed, the package of
// the same major version in the prefix's library folder.
std::string DefaultPackagePath() {
  namespace fs = std::filesystem;
  const std::string beside = plat::DefaultDriverPackagePath();
  std::error_code ec;
  if (fs::exists(beside, ec)) return beside;
  const std::string file = "libarfis770.so." + std::to_string(FISCAL_VERSION_MAJOR);
  const fs::path installed =
      fs::path(plat::ExtractFileDir(plat::ExecutablePath())) / FISCAL_PRINTD_BIN_TO_LIB / file;
  if (fs::exists(installed, ec)) return installed.lexically_normal().string();
  return std::string(FISCAL_PRINTD_LIBDIR) + "/" + file;
}

std::string ReadToken(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read the token file '" + path + "'");
  std::stringstream ss;
  ss << in.rdbuf();
  std::string t = ss.str();
  const auto first = t.find_first_not_of(" \t\r\n");
  if (first == std::string::npos)
    throw std::runtime_error("the token file '" + path + "' is empty");
  t = t.substr(first, t.find_last_not_of(" \t\r\n") - first + 1);
  return t;
}

// --hash-token: the token on standard input, its HASH field of the tills file on standard output.
int HashTokenFromInput() {
  std::string token((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  const auto first = token.find_first_not_of(" \t\r\n");
  token = first == std::string::npos
              ? std::string()
              : token.substr(first, token.find_last_not_of(" \t\r\n") - first + 1);
  try {
    std::cout << fpd::HashToken(token) << "\n";
    return cli::kDone;
  } catch (const std::invalid_argument& e) {
    std::cerr << "fiscal-printd: --hash-token: " << e.what() << "\n";
    return cli::kUsage;
  } catch (const std::exception& e) {
    std::cerr << "fiscal-printd: --hash-token: " << e.what() << "\n";
    return cli::kFailed;
  }
}

// The door to the chain's broker, fed by the service: jobs and resolutions go to the print
// pipeline, the status shows the service's printer and keys in doubt.
std::shared_ptr<fpd::BrokerDoor> ChainDoor(fpd::BrokerDoorOptions options, fpd::BrokerFeed& feed) {
  return fpd::MakeBrokerDoor(
      std::move(options),
      [&feed](fpd::DoorJob job, fpd::DoorDone done) {
        feed.Submit(std::move(job), std::move(done));
      },
      [&feed](fpd::DoorResolution r, fpd::DoorDone done) {
        feed.Resolve(std::move(r), std::move(done));
      },
      [&feed] { return feed.StatusNow(); });
}

}  // namespace

int main(int argc, char** argv) {
  // Buffers of large bodies are mapped and unmapped on their own, not kept in the heap after
  // the request (the threshold otherwise grows with the largest buffer freed).
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  CLI::App app{"fiscal-printd: the fiscal printer's operations as a local HTTP service",
               "fiscal-printd"};
  std::string listen = "127.0.0.1:8520", state = DefaultStateDir(), tokenFile;
  fpd::ServiceOptions o;
  o.Driver.PackagePath = DefaultPackagePath();
  app.add_option("--listen", listen, "HOST:PORT to listen on")->capture_default_str();
  // These defaults depend on who runs the program and where: the help names them in words.
  app.add_option("--state", state,
                 "the service's folder (log, Z data, journal); default "
                 "$XDG_STATE_HOME/fiscal-printd, else ~/.local/state/fiscal-printd");
  app.add_option("--package", o.Driver.PackagePath,
                 "the driver package; default the one installed with the program");
  app.add_option("--port", o.Driver.Port, "CDPORTAIMPFIS of the start call")->capture_default_str();
  app.add_option("--scheme", o.Driver.Scheme, "colour scheme for the driver's dialogs");
  app.add_option("--token-file", tokenFile, "file holding the bearer token");
  app.add_option("--allow-origin", o.Origins, "browser origin allowed to call (repeatable)");
  app.add_option("--queue", o.QueueLimit, "requests that may wait for the printer")
      ->capture_default_str()
      ->check(CLI::Range(1, 10000));
  app.add_option("--max-body", o.MaxBody, "largest body in bytes")
      ->capture_default_str()
      ->check(CLI::Range(1, 1 << 30));
  app.add_option("--connections", o.Connections,
                 "connections served at once, one thread each; past them the longest waiting "
                 "one makes room, else 503")
      ->capture_default_str()
      ->check(CLI::Range(2, 1024));
  app.add_option("--client-connections", o.ClientConnections,
                 "connections served at once from one client address")
      ->capture_default_str()
      ->check(CLI::Range(1, 1024));
  app.add_option("--journal-days", o.JournalDays, "days finished journal entries are kept")
      ->capture_default_str()
      ->check(CLI::Range(1, 36500));
  app.add_flag("--journal-repair", o.JournalRepair,
               "keep what can be read of a damaged journal instead of stopping");
  std::string tillsFile;
  app.add_option("--tills", tillsFile, "file of the tills: NAME HASH RIGHTS per line");
  bool hashToken = false;
  app.add_flag("--hash-token", hashToken,
               "read a token on standard input, print its HASH field for --tills and exit");
  int statusSeconds = 5;
  app.add_option("--status-interval", statusSeconds, "seconds between idle status queries")
      ->capture_default_str()
      ->check(CLI::Range(1, 3600));
  app.add_option("--log-months", o.LogMonths, "months the driver's logs are kept")
      ->capture_default_str()
      ->check(CLI::Range(1, 1200));
  std::string logLevel = "info";
  app.add_option("--log-level", logLevel, "error, warn, info or debug")
      ->capture_default_str()
      ->check(CLI::IsMember({"error", "warn", "info", "debug"}));
  fpd::BrokerDoorCommandLine brokerLine;
  fpd::AddBrokerDoorOptions(app, brokerLine);
  if (const auto end = cli::Parse(app, argc, argv)) return *end;
  if (hashToken) return HashTokenFromInput();
  std::string brokerError;
  auto brokerOptions = fpd::MakeBrokerDoorOptions(brokerLine, brokerError);
  if (!brokerError.empty()) {
    std::cerr << "fiscal-printd: " << brokerError << "\n";
    return cli::kUsage;
  }
  fpd::SetLogLevel(*fpd::ParseLogLevel(logLevel));
  // What the printer layer finds out about the printer (the model variant it drives) is logged.
  plat::SetPrinterNotices([](const std::string& line, bool warning) {
    fpd::Log(warning ? fpd::LogLevel::Warn : fpd::LogLevel::Info, line);
  });
  o.StatusIntervalMs = statusSeconds * 1000;

  try {
    const auto colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0)
      throw std::runtime_error("--listen needs HOST:PORT");
    o.Host = listen.substr(0, colon);
    if (o.Host.size() > 2 && o.Host.front() == '[' && o.Host.back() == ']') {
      o.Host = o.Host.substr(1, o.Host.size() - 2);
    }
    o.Port = std::stoi(listen.substr(colon + 1));
    if (o.Port < 0 || o.Port > 65535) throw std::runtime_error("--listen: bad port");
    if (!tokenFile.empty()) o.Token = ReadToken(tokenFile);
    if (!tillsFile.empty()) {
      o.TillList = std::make_shared<const fpd::Tills>(fpd::Tills::Load(tillsFile));
    }
    if (o.Host != "127.0.0.1" && o.Token.empty() && !o.TillList) {
      throw std::runtime_error("listening on " + o.Host +
                               " needs --token-file or --tills: only 127.0.0.1 is served without "
                               "a token");
    }
    o.Driver.StateDir = state;
    // Signals are taken by one thread, which stops the server; the others never see them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    fpd::Service service(o);
    if (!service.Bind()) throw std::runtime_error("cannot listen on " + listen);
    std::cout << "listening on http://" << o.Host << ":" << service.BoundPort() << std::endl;
    std::thread signals([&service, set] {
      int sig = 0;
      sigwait(&set, &sig);
      service.Stop();
    });
    signals.detach();
    std::unique_ptr<fpd::BrokerFeed> feed;
    std::shared_ptr<fpd::BrokerDoor> door;
    if (brokerOptions) {
      feed = std::make_unique<fpd::BrokerFeed>(service.Core(), service.Records(), service.Driver(),
                                               service.DefaultScheme());
      brokerOptions->InboxDir = (std::filesystem::path(state) / "broker-inbox").string();
      door = ChainDoor(std::move(*brokerOptions), *feed);
      service.Watchers().Add(door);
      door->Start();
    }
    service.Run();
    if (door) door->Stop();
    return cli::kDone;
  } catch (...) {
    std::cerr << "fiscal-printd: " << fpd::FailureText(std::current_exception()) << "\n";
  }
  return cli::kUsage;
}
