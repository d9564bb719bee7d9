// SPDX-License-Identifier: Apache-2.0
#include "platform/os.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/exceptions.h"
#include "platform/testing/hooks.h"

namespace plat {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class OsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/plat-os-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void MakeFile(const std::string& name, const std::string& bytes = "x") const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    return names;
  }

  std::string dir_;
};

TEST(OsPaths, ExtractFileDir) {
  const struct {
    const char* path;
    const char* dir;
  } cases[] = {
      {"/a/b/c", "/a/b"}, {"/a/b/", "/a/b"}, {"/host", "/"}, {"host", ""}, {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractFileDir(c.path), c.dir) << c.path;
}

TEST(OsPaths, ExecutablePathOverrideAndRestore) {
  const AnsiString real = ExecutablePath();
  EXPECT_EQ(real.front(), '/');
  EXPECT_EQ(fs::path(real).filename(), "test_platform");

  SetExecutablePathForTesting("/tmp/some host/pos");
  EXPECT_EQ(ExecutablePath(), "/tmp/some host/pos");
  EXPECT_EQ(ShortPathName(ExtractFileDir(ExecutablePath())), "/tmp/some host");
  SetExecutablePathForTesting("");
  EXPECT_EQ(ExecutablePath(), real);
}

TEST(OsPaths, HostFolderDefaultsToTheExecutablesAndFollowsTheHost) {
  const AnsiString exeDir = ExtractFileDir(ExecutablePath());
  EXPECT_EQ(HostFolder(), exeDir);
  SetHostFolder("/var/lib/till/");
  EXPECT_EQ(HostFolder(), "/var/lib/till");  // no trailing separator
  SetHostFolder("/");
  EXPECT_EQ(HostFolder(), "/");
  SetHostFolder("");
  EXPECT_EQ(HostFolder(), exeDir);
}

TEST_F(OsFiles, FileExistsAndDelete) {
  MakeFile("f");
  fs::create_directory(Path("d"));
  EXPECT_TRUE(FileExists(Path("f")));
  EXPECT_FALSE(FileExists(Path("d")));
  EXPECT_FALSE(FileExists(Path("missing")));

  EXPECT_TRUE(DeleteFile(Path("f")));
  EXPECT_FALSE(FileExists(Path("f")));
  EXPECT_FALSE(DeleteFile(Path("f")));  // already gone
  MakeFile("g");
  EXPECT_FALSE(DeleteFile(Path("g") + "/x"));  // a path through a file names nothing
  EXPECT_THROW(DeleteFile(Path("d")), EInOutError);
}

TEST_F(OsFiles, AppendCreatesThenAppendsExactBytes) {
  const std::string log = Path("impdebug1226.txt");
  AppendToTextFile(log, "");
  EXPECT_TRUE(FileExists(log));
  EXPECT_EQ(ReadWholeFile(log), "");

  AppendToTextFile(log, "01/12/2026 10:00:00 - a\r\n");
  AppendToTextFile(log, "01/12/2026 10:00:01 - \xE7\xF1\r\n");
  EXPECT_EQ(ReadWholeFile(log), "01/12/2026 10:00:00 - a\r\n01/12/2026 10:00:01 - \xE7\xF1\r\n");
}

TEST_F(OsFiles, AppendFailureNamesFileAndReason) {
  MakeFile("file");
  const std::string log = Path("file") + "/log.txt";  // the "folder" is a regular file
  try {
    AppendToTextFile(log, "line\r\n");
    FAIL() << "no error raised";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file '" + log + "': Not a directory");
  }
  EXPECT_THROW(AppendToTextFile(Path("no/such/dir/log.txt"), "x"), EInOutError);
}

// A file-size limit makes the kernel accept only part of a write; the part must not stay.
TEST_F(OsFiles, ShortAppendIsUndone) {
  const std::string log = Path("log.txt");
  AppendToTextFile(log, "first line\r\n");

  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool partial_raised = false;
  bool full_raised = false;
  try {
    AppendToTextFile(log, std::string(50, 'p') + "\r\n");  // 8 bytes fit, then the limit
  } catch (const EInOutError&) {
    partial_raised = true;
  }
  setrlimit(RLIMIT_FSIZE, &old);
  AppendToTextFile(log, std::string(8, 'q'));  // the file is now exactly at the old limit
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  try {
    AppendToTextFile(log, "more\r\n");  // nothing fits at all
  } catch (const EInOutError&) {
    full_raised = true;
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, old_handler);

  EXPECT_TRUE(partial_raised);
  EXPECT_TRUE(full_raised);
  EXPECT_EQ(ReadWholeFile(log), "first line\r\nqqqqqqqq");
}

TEST_F(OsFiles, WriteFileAtomicReplacesWhole) {
  const std::string target = Path("REDUCAOZ.CDS");
  WriteFileAtomic(target, std::string("old contents, longer"));
  WriteFileAtomic(target, std::string("new\0bytes", 9));
  EXPECT_EQ(ReadWholeFile(target), std::string("new\0bytes", 9));
  EXPECT_EQ(Entries(), std::vector<std::string>{"REDUCAOZ.CDS"});
}

TEST_F(OsFiles, WriteFileAtomicFailureLeavesNoTemporary) {
  // The temporary cannot be created: the folder is a regular file.
  MakeFile("file");
  EXPECT_THROW(WriteFileAtomic(Path("file") + "/z.cds", "data"), EInOutError);

  // The temporary is written but cannot replace the target, which is a folder.
  fs::create_directory(Path("target"));
  EXPECT_THROW(WriteFileAtomic(Path("target"), "data"), EInOutError);
  auto names = Entries();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"file", "target"}));
  EXPECT_EQ(ReadWholeFile(Path("file")), "x");
}

TEST_F(OsFiles, WriteFileAtomicRemovesOnlyItsTargetsStaleTemporaries) {
  // Above any process id the system hands out: no such process runs.
  const std::string dead = "999999999", dead2 = "999999998", dead3 = "999999997";
  const std::string live = std::to_string(::getppid());
  const struct {
    std::string name;
    bool removed;
  } entries[] = {
      {"Z.CDS.tmp." + dead, true},
      {"Z.CDS.tmp." + dead2, true},
      {"Z.CDS.tmp." + live, false},  // its writer may still be at work
      {"Z.CDS.tmp.0" + dead, false},
      {"Z.CDS.tmp." + dead + "x", false},
      {"Z.CDS.tmp.", false},
      {"Z.CDS.tmp", false},
      {"Z.CDS.bak", false},
      {"OTHER.CDS.tmp." + dead, false},  // another file's, left for that file's next write
      {"XZ.CDS.tmp." + dead, false},
  };
  for (const auto& e : entries) MakeFile(e.name);
  // Not regular files: a link to a host file and a folder under a temporary's name.
  fs::create_symlink(Path("Z.CDS.bak"), Path("Z.CDS.tmp." + dead3));
  fs::create_directory(Path("Z.CDS.tmp.99999996"));

  WriteFileAtomic(Path("Z.CDS"), "new");
  EXPECT_EQ(ReadWholeFile(Path("Z.CDS")), "new");
  for (const auto& e : entries) EXPECT_EQ(fs::exists(Path(e.name)), !e.removed) << e.name;
  EXPECT_TRUE(fs::is_symlink(Path("Z.CDS.tmp." + dead3)));
  EXPECT_TRUE(fs::is_directory(Path("Z.CDS.tmp.99999996")));
  EXPECT_EQ(ReadWholeFile(Path("Z.CDS.bak")), "x");
}

TEST_F(OsFiles, ReadWholeFileMissingRaises) {
  EXPECT_THROW(ReadWholeFile(Path("missing")), EInOutError);
}

TEST(OsClock, SystemClockMatchesLocalTime) {
  const time_t t = time(nullptr);
  tm local{};
  localtime_r(&t, &local);
  const double expected = static_cast<double>(t + local.tm_gmtoff) / 86400.0 + 25569.0;
  const TDateTime now = Now();
  EXPECT_NEAR(now, expected, 5.0 / 86400.0);
  EXPECT_EQ(Date(), std::floor(now));
}

TEST(OsClock, TestClockReplacesAndRestores) {
  SetClockForTesting([] { return 46357.75; });  // 1 December 2026, 18:00
  EXPECT_EQ(Now(), 46357.75);
  EXPECT_EQ(Date(), 46357.0);
  SetClockForTesting(nullptr);
  EXPECT_GT(Now(), 45000.0);
  EXPECT_NE(Now(), 46357.75);
}

}  // namespace
}  // namespace plat
