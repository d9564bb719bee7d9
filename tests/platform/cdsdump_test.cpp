// SPDX-License-Identifier: Apache-2.0
// Runs the built dump tool on files written by the dataset.
#ifdef CDSDUMP_PATH

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/dataset.h"
#include "platform/os.h"

using namespace plat;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

ToolRun RunDump(const std::string& args, const fs::path& dir) {
  const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
  std::string cmd = std::string("'") + CDSDUMP_PATH + "' " + args + " >'" + out.string() + "' 2>'" +
                    err.string() + "'";
  ToolRun r;
  int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = Slurp(out);
  r.err = Slurp(err);
  return r;
}

class CdsDump : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("cdsdump_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

}  // namespace

TEST_F(CdsDump, PrintsFieldsAndRowsAsUtf8) {
  DataPacket p;
  p.Fields = {{"NMPRODUTO", FieldType::String, 20},
              {"QTD", FieldType::Integer, 0},
              {"VRTOTAL", FieldType::Float, 0},
              {"ATIVO", FieldType::Boolean, 0},
              {"DTREDUCAOZ", FieldType::DateTime, 0}};
  p.Rows = {{Variant("Caf\xE9"), Variant(-3), Variant(1234.5), Variant(true),
             Variant::FromDate(46000.75)},
            {Variant::Null(), Variant::Null(), Variant(1e20), Variant(false), Variant::Null()}};
  const fs::path file = dir_ / "venda.cds";
  WriteFileAtomic(file.string(), SavePacketToBytes(p));

  ToolRun r = RunDump("'" + file.string() + "'", dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "fields: 5\n"
            "  NMPRODUTO String 20\n"
            "  QTD Integer 0\n"
            "  VRTOTAL Float 0\n"
            "  ATIVO Boolean 0\n"
            "  DTREDUCAOZ DateTime 0\n"
            "rows: 2\n"
            "Caf\xC3\xA9 | -3 | 1234.5 | True | 09/12/2025 18:00:00\n"
            "(null) | (null) | 1E20 | False | (null)\n");
}

TEST_F(CdsDump, FailuresGoToStderrWithExitCodeOne) {
  const fs::path bad = dir_ / "bad.cds";
  std::ofstream(bad, std::ios::binary) << "FPDS";  // a cut copy of a dataset file
  struct Case {
    std::string args;
    int status;
    std::string errHas;
  };
  const Case cases[] = {
      {"'" + bad.string() + "'", 1, "is truncated"},
      {"'" + (dir_ / "none.cds").string() + "'", 1, "none.cds"},
      {"", 2, "Usage: cdsdump FILE"},
      {"a b", 2, "Usage: cdsdump FILE"},
  };
  for (const Case& c : cases) {
    ToolRun r = RunDump(c.args, dir_);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_NE(r.err.find(c.errHas), std::string::npos) << c.args << ": " << r.err;
  }
  ToolRun help = RunDump("--help", dir_);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: cdsdump FILE", 0), 0u);
}

#endif  // CDSDUMP_PATH
