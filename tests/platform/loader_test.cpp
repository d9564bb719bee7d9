// SPDX-License-Identifier: Apache-2.0
#include "platform/loader.h"

#include <gtest/gtest.h>

#include "platform/exceptions.h"
#include "platform/os.h"
#include "platform/testing/hooks.h"

namespace plat {
namespace {

std::string LoadFailure(const AnsiString& path) {
  try {
    Package::Load(path);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "loaded";
}

TEST(Loader, InitializeOnLoadFinalizeOnUnload) {
  int finalized = 0;
  {
    auto pkg = Package::Load(TESTPKG_PLAIN_PATH);
    EXPECT_EQ(pkg->Path(), TESTPKG_PLAIN_PATH);
    EXPECT_EQ(pkg->Get<int()>("InitializeCount")(), 1);
    pkg->Get<void(int*)>("WatchFinalize")(&finalized);
    EXPECT_TRUE(pkg->Has("Finalize"));
    EXPECT_FALSE(pkg->Has("VendaItem"));
    EXPECT_EQ(finalized, 0);
  }
  EXPECT_EQ(finalized, 1);
}

TEST(Loader, MissingEntryPointNamesIt) {
  auto pkg = Package::Load(TESTPKG_PLAIN_PATH);
  try {
    pkg->Symbol("Leitura_X_Imp");
    FAIL() << "no error raised";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              std::string("entry point 'Leitura_X_Imp' not found in ") + TESTPKG_PLAIN_PATH);
  }
}

TEST(Loader, LoadFailuresNameThePathAndReason) {
  const std::string missing = "/nonexistent/libnothing.so";
  const std::string m1 = LoadFailure(missing);
  EXPECT_NE(m1.find(missing), std::string::npos) << m1;

  const std::string m2 = LoadFailure(TESTPKG_NOINIT_PATH);
  EXPECT_NE(m2.find(TESTPKG_NOINIT_PATH), std::string::npos) << m2;
  EXPECT_NE(m2.find("'Initialize' not found"), std::string::npos) << m2;

  const std::string m3 = LoadFailure(TESTPKG_THROWING_PATH);
  EXPECT_NE(m3.find(TESTPKG_THROWING_PATH), std::string::npos) << m3;
  EXPECT_NE(m3.find("printer control missing"), std::string::npos) << m3;
}

TEST(Loader, DefaultPackageBesideExecutable) {
  SetExecutablePathForTesting("/opt/pos host/bin/pdv");
  EXPECT_EQ(DefaultDriverPackagePath(), "/opt/pos host/bin/libarfis770.so");
  SetExecutablePathForTesting("");
  EXPECT_EQ(DefaultDriverPackagePath(), ExtractFileDir(ExecutablePath()) + "/libarfis770.so");
}

}  // namespace
}  // namespace plat
