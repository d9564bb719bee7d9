// SPDX-License-Identifier: Apache-2.0
// The API description is the contract: every answer the service's tests received is checked
// against docs/openapi.yaml when the test program ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "tests/service/service_process.h"

namespace servicetest {

namespace {

std::mutex g_mu;

std::string AnswersPath() {
  static const std::string path = (std::filesystem::temp_directory_path() /
                                   ("fiscal-answers-" + std::to_string(::getpid()) + ".jsonl"))
                                      .string();
  return path;
}

class ContractCheck : public ::testing::Environment {
 public:
  void TearDown() override {
    const std::string path = AnswersPath();
    if (!std::filesystem::exists(path)) return;
    const ShellRun run =
        Shell("python3 '" FISCAL_SOURCE_DIR "/tests/service/openapi_check.py' '" +
              std::string(FISCAL_SOURCE_DIR) + "/docs/openapi.yaml' '" + path + "'");
    std::remove(path.c_str());
    if (run.exitCode == 3) {
      std::printf("The answers were not checked against the API description: %s",
                  run.output.c_str());
      return;
    }
    EXPECT_EQ(run.exitCode, 0) << "answers the API description does not describe:\n" << run.output;
  }
};

void WriteAnswer(const std::string& method, const std::string& path, const httplib::Result& r) {
  if (!r) return;
  const std::string type = r->get_header_value("Content-Type");
  Json body =
      type.rfind("application/json", 0) == 0 ? Json::parse(r->body, nullptr, false) : Json(r->body);
  if (body.is_discarded()) body = r->body;  // not JSON although it says so: fails the check
  const Json line = {{"method", method},
                     {"path", path},
                     {"status", r->status},
                     {"contentType", type},
                     {"bodyLength", r->body.size()},
                     {"body", body}};
  std::lock_guard lock(g_mu);
  std::ofstream(AnswersPath(), std::ios::app)
      << line.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

const auto* const g_check = [] {
  SetAnswerRecorder(&WriteAnswer);
  return ::testing::AddGlobalTestEnvironment(new ContractCheck);
}();

}  // namespace

}  // namespace servicetest
