// SPDX-License-Identifier: Apache-2.0
#include "tests/support/broker/broker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace brokertest {

namespace {

constexpr int kAnswerMs = 60000;  // a restart or a relay answers well within this

std::string MakeTempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "broker-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return templ;
}

}  // namespace

Broker::Broker(std::vector<std::string> shops, bool plain) : dir_(MakeTempDir()) {
  ::signal(SIGPIPE, SIG_IGN);  // a helper that died is reported, not a killed test program
  std::vector<std::string> argv = {FISCAL_CHAIN_PYTHON, "-B", FISCAL_BROKER_PY, "--dir", dir_};
  for (const auto& shop : shops) argv.insert(argv.end(), {"--shop", shop});
  if (plain) argv.push_back("--plain");
  int toHelper[2], fromHelper[2];
  if (::pipe2(toHelper, O_CLOEXEC) != 0 || ::pipe2(fromHelper, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(toHelper[0], STDIN_FILENO);
    ::dup2(fromHelper[1], STDOUT_FILENO);
    ::setenv("PYTHONPATH", FISCAL_BROKER_PYTHONPATH, 1);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(toHelper[0]);
  ::close(fromHelper[1]);
  in_ = toHelper[1];
  out_ = fromHelper[0];
  info_ = ReadLine(kAnswerMs);
  if (!info_.value("ready", false)) {
    throw std::runtime_error("the broker helper did not start: " + info_.dump());
  }
}

Broker::~Broker() {
  if (in_ >= 0) {
    // End of input stops the broker, its relays and shops; quit says so at once.
    (void)!::write(in_, "quit\n", 5);
    ::close(in_);
  }
  if (pid_ > 0) {
    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) ::usleep(50000);
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
  }
  if (out_ >= 0) ::close(out_);
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

Json Broker::ReadLine(int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      const std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      const Json parsed = Json::parse(line, nullptr, false);
      if (parsed.is_discarded()) throw std::runtime_error("the broker helper said: " + line);
      return parsed;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{out_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      throw std::runtime_error("the broker helper did not answer in time");
    }
    char buf[4096];
    const ssize_t n = ::read(out_, buf, sizeof buf);
    if (n <= 0) throw std::runtime_error("the broker helper ended: " + pending_);
    pending_.append(buf, static_cast<size_t>(n));
  }
}

Json Broker::Command(const std::string& line) {
  const std::string text = line + "\n";
  if (::write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("the broker helper does not listen");
  }
  Json answer = ReadLine(kAnswerMs);
  if (!answer.value("ok", false)) {
    throw std::runtime_error(line.substr(0, line.find(' ')) + ": " + answer.dump());
  }
  return answer;
}

std::string Broker::Url(const std::string& listener) const {
  return info_["urls"].at(listener).get<std::string>();
}

int Broker::Port(const std::string& listener) const {
  return info_["ports"].at(listener).get<int>();
}

void Broker::Restart() {
  Command("restart");
}

std::string Broker::Relay(const std::string& listener, int& port) {
  const Json answer = Command("relay " + listener);
  port = answer["port"].get<int>();
  return answer["id"].get<std::string>();
}

void Broker::Cut(const std::string& relay) {
  Command("cut " + relay);
}
void Broker::Restore(const std::string& relay) {
  Command("restore " + relay);
}

void Broker::ShopUp(const Json& status) {
  Command("shop-up " + status["shop"].get<std::string>() + " " +
          status["printer"].get<std::string>() + " " + status.dump());
}

void Broker::ShopDown(const std::string& shop, const std::string& printer) {
  Command("shop-down " + shop + " " + printer);
}

}  // namespace brokertest
