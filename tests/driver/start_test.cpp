// SPDX-License-Identifier: Apache-2.0
// The package frame: exports, load and unload, printer start and the diagnostic log.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/format.h"
#include "platform/os.h"
#include "platform/testing/hooks.h"
#include "tests/support/entry_points.h"
#include "tests/support/harness.h"

using testhost::DriverHost;
using testhost::kEntryPoints;

namespace {

plat::AnsiString PortLogLine(int n) {
  return "StartImpFiscal - PortNumber: " + std::to_string(n);
}

}  // namespace

TEST(Package, ExportsEveryEntryPointAndTheGlobalsByPlainName) {
  DriverHost host(false);
  EXPECT_EQ(std::size(kEntryPoints), 40u);
  for (const char* name : kEntryPoints) EXPECT_TRUE(host.Package().Has(name)) << name;
  for (const char* name :
       {"Initialize", "Finalize", "GetPackageInfo", "frmArgentina", "DsDirCad", "nrECF"}) {
    EXPECT_TRUE(host.Package().Has(name)) << name;
  }
  // Internal pieces stay hidden.
  for (const char* name : {"_ZN5arfis4FormEv", "_ZN13TfrmArgentinaC1Ev"}) {
    EXPECT_FALSE(host.Package().Has(name)) << name;
  }
  const auto* info = CALL(host, GetPackageInfo)();
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->Requires[0], "fiscalplat");
  EXPECT_STREQ(info->Contains[0], "Arfis770");
}

TEST(Package, LoadRecordsHostFolderAndUnloadClearsTheTexts) {
  DriverHost host(false);
  auto* dir = host.Package().Get<plat::AnsiString>("DsDirCad");
  auto* ecf = host.Package().Get<plat::AnsiString>("nrECF");
  auto** form = host.Package().Get<TfrmArgentina*>("frmArgentina");
  EXPECT_EQ(*dir, host.Dir() + "/");
  EXPECT_TRUE(ecf->empty());
  EXPECT_EQ(*form, nullptr);

  // A second Initialize without Finalize keeps what the first recorded.
  plat::SetHostFolder("/elsewhere");
  CALL(host, Initialize)();
  EXPECT_EQ(*dir, host.Dir() + "/");

  *ecf = "0007";
  CALL(host, Finalize)();
  EXPECT_TRUE(dir->empty());
  EXPECT_TRUE(ecf->empty());
  // Initialize after Finalize records the folder again.
  CALL(host, Initialize)();
  EXPECT_EQ(*dir, "/elsewhere/");
  plat::SetHostFolder(host.Dir());
}

TEST(Start, PortNamesAreComparedWholeAndCaseSensitive) {
  struct Case {
    const char* port;
    int number;
  };
  const Case cases[] = {{"COM1", 1},  {"COM9", 9},  {"COM10", 10}, {"COM12", 12},
                        {"com3", 0},  {" COM3", 0}, {"COM3 ", 0},  {"COM01", 0},
                        {"COM13", 0}, {"COM0", 0},  {"", 0},       {"LPT1", 0}};
  DriverHost host(false);
  for (const auto& c : cases) {
    host.ClearLog();
    EXPECT_TRUE(host.Start(c.port)) << c.port;
    EXPECT_EQ(host.Log(), std::vector<plat::AnsiString>{PortLogLine(c.number)}) << c.port;
    // The control got the number: the next command goes out on that port.
    auto** form = host.Package().Get<TfrmArgentina*>("frmArgentina");
    ASSERT_NE(*form, nullptr);
    CALL(host, Estado_Imp)("", false, false);
    EXPECT_EQ(host.Emu().LastPort(), c.number) << c.port;
  }
  EXPECT_TRUE(host.dialogs.empty());
  // Starting sends no printer command.
  EXPECT_EQ(host.Commands("Status").size(), std::size(cases));
  EXPECT_EQ(host.Emu().Journal().size(), std::size(cases));
}

TEST(Start, SecondStartReplacesTheFormWithTheNewPort) {
  DriverHost host(false);
  auto** form = host.Package().Get<TfrmArgentina*>("frmArgentina");
  ASSERT_TRUE(host.Start("COM2"));
  TfrmArgentina* first = *form;
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(host.Start("COM5"));
  EXPECT_NE(*form, nullptr);
  CALL(host, Estado_Imp)("", false, false);
  EXPECT_EQ(host.Emu().LastPort(), 5);
  EXPECT_EQ(host.Log(), (std::vector<plat::AnsiString>{PortLogLine(2), PortLogLine(5)}));
}

TEST(Start, UnconvertibleBundleRaisesAndUnwritableLogShowsTheDialog) {
  DriverHost host(false);
  // A bundle that is not a bundle fails while it is read: the host gets the exception.
  EXPECT_THROW(CALL(host, StartImpFiscal)(plat::Variant("not a bundle")), plat::Exception);
  EXPECT_TRUE(host.dialogs.empty());

  host.BreakLog();
  EXPECT_FALSE(host.Start("COM4", "verde"));
  ASSERT_EQ(host.dialogs.size(), 1u);
  const auto& d = host.dialogs[0];
  EXPECT_NE(d.Text.find("impdebug1226.txt"), std::string::npos) << d.Text;
  EXPECT_EQ(d.Arg2, "");
  EXPECT_EQ(d.Arg3, "N");
  EXPECT_EQ(d.Arg4, "N");
  EXPECT_EQ(d.Kind, plat::tmErro);
  EXPECT_EQ(d.Arg6, "");
  EXPECT_EQ(d.Scheme, "verde");
  EXPECT_EQ(d.Arg8, 0);
  EXPECT_EQ(d.Data, nullptr);
}

TEST(Log, OneFilePerMonthWithDateTimeSeparatorAndCrLf) {
  DriverHost host(false);
  auto log = CALL(host, ImpFisDebug);
  log("first");
  log("");
  log(testhost::A("acentuação ñ"));
  const std::vector<std::string> raw = host.RawLogLines();
  ASSERT_EQ(raw.size(), 3u);
  EXPECT_EQ(raw[0], "08/12/2026 10:00:00 - first");
  EXPECT_EQ(raw[1], "08/12/2026 10:00:00 - ");
  EXPECT_EQ(raw[2], "08/12/2026 10:00:00 - " + testhost::A("acentuação ñ"));  // Windows-1252
  EXPECT_TRUE(std::filesystem::exists(host.Dir() + "/impdebug1226.txt"));

  // A new month starts a new file; the old one is left as it was.
  host.SetClock(plat::EncodeDate(2027, 1, 1) + plat::EncodeTime(0, 0, 1));
  log("january");
  EXPECT_TRUE(std::filesystem::exists(host.Dir() + "/impdebug0127.txt"));
  EXPECT_EQ(host.RawLogLines(), std::vector<std::string>{"01/01/2027 00:00:01 - january"});
  std::ifstream dec(host.Dir() + "/impdebug1226.txt", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(dec)), {});
  EXPECT_EQ(all.size(), 3 * 22 + 5 + 0 + testhost::A("acentuação ñ").size() + 3 * 2);
}

// Each line follows the host's date and time settings as they are when it is written, also
// when they change between two lines of the same second.
TEST(Log, EveryLineFollowsTheCurrentDateAndTimeSettings) {
  DriverHost host(false);
  auto log = CALL(host, ImpFisDebug);
  plat::TFormatSettings& fs = plat::FormatSettings();
  const struct {
    void (*change)(plat::TFormatSettings&);
    const char* expected;
  } cases[] = {
      {[](plat::TFormatSettings&) {}, "08/12/2026 10:00:00 - x"},
      {[](plat::TFormatSettings& f) { f.DateSeparator = '-'; }, "08-12-2026 10:00:00 - x"},
      {[](plat::TFormatSettings& f) { f.TimeSeparator = '.'; }, "08-12-2026 10.00.00 - x"},
      {[](plat::TFormatSettings& f) { f.ShortDateFormat = "yyyy/mm/dd"; },
       "2026-12-08 10.00.00 - x"},
      {[](plat::TFormatSettings& f) { f.LongTimeFormat = "hh:nn"; }, "2026-12-08 10.00 - x"},
      {[](plat::TFormatSettings& f) { f.DateSeparator = '/'; }, "2026/12/08 10.00 - x"},
  };
  for (const auto& c : cases) {
    c.change(fs);
    host.ClearLog();
    log("x");
    EXPECT_EQ(host.RawLogLines(), std::vector<std::string>{c.expected});
  }
}

TEST(Log, LineBreaksAndNulInAMessageAreWrittenEscapedOnOneLine) {
  using namespace std::string_literals;
  const struct {
    std::string message;
    std::string written;
  } cases[] = {
      // A host text that would forge a second line of its own.
      {"Agua\r\n08/12/2026 10:00:00 - CloseTicket", "Agua\\r\\n08/12/2026 10:00:00 - CloseTicket"},
      {"a\nb\rc", "a\\nb\\rc"},
      {"cut\0here"s, "cut\\0here"},
      // The escape character itself, so that a backslash and an n as given read back apart
      // from a line feed.
      {"C:\\caja\\n", "C:\\\\caja\\\\n"},
      {"\r\n", "\\r\n"},
      // A printed line's closing line feeds and separator stay as the printer got them; a line
      // feed before anything else is escaped.
      {"Vendas 10.00\n" + std::string(40, '-') + "\n",
       "Vendas 10.00\n" + std::string(40, '-') + "\n"},
      {"x\n-y\n\n", "x\\n-y\n\n"},
      // Everything else as given, tabs and the Windows-1252 letters included.
      {"tab\there " + testhost::A("ñ"), "tab\there " + testhost::A("ñ")},
  };
  DriverHost host(false);
  for (const auto& c : cases) {
    host.ClearLog();
    CALL(host, ImpFisDebug)(c.message);
    EXPECT_EQ(host.RawLogLines(), std::vector<std::string>{"08/12/2026 10:00:00 - " + c.written})
        << c.written;
  }
}

TEST(Log, FollowsTheLongFolderAndRaisesWhenItCannotWrite) {
  DriverHost host(false);
  // A folder with a long name: the log goes there, and DsDirCad names the same folder.
  const std::string longDir = host.Dir() + "/Point of Sale Host With A Long Name";
  std::filesystem::create_directory(longDir);
  plat::SetHostFolder(longDir);
  CALL(host, ImpFisDebug)("here");
  EXPECT_TRUE(std::filesystem::exists(longDir + "/impdebug1226.txt"));
  plat::SetHostFolder(host.Dir());

  host.BreakLog();
  EXPECT_THROW(CALL(host, ImpFisDebug)("lost"), plat::EInOutError);
  host.RepairLog();
  CALL(host, ImpFisDebug)("back");
  EXPECT_EQ(host.Log(), std::vector<plat::AnsiString>{"back"});
}
