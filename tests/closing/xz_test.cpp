// SPDX-License-Identifier: Apache-2.0
// X reading, Z reduction and the Z data file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/dataset.h"
#include "platform/os.h"
#include "tests/support/harness.h"

namespace {

using plat::AnsiString;
using plat::WideString;
using testhost::DriverHost;
using Texts = std::vector<std::string>;

const std::vector<WideString> kZFields = {u"0042", u"x", u"3",        u"5",
                                          u"7",    u"y", u"00000123", u"0001234567"};

std::unique_ptr<plat::TClientDataSet> ReadZFile(DriverHost& host) {
  auto cds = std::make_unique<plat::TClientDataSet>();
  cds->LoadFromFile(host.PathOf("REDUCAOZ_MP35.CDS"));
  return cds;
}

bool ZFileExists(DriverHost& host) {
  return plat::FileExists(host.PathOf("REDUCAOZ_MP35.CDS"));
}

TEST(LeituraX, SendsXAndPAndLogsOnlyWhenAccepted) {
  DriverHost host;
  host.ClearLog();
  EXPECT_TRUE(CALL(host, Leitura_X_Imp)("COM1", "ESQ", ""));
  EXPECT_EQ(host.CommandTexts(), Texts{"CloseJournal(X|P)"});
  EXPECT_EQ(host.Log(), std::vector<AnsiString>{"Leitura_X_Imp(CloseJournal):  - X - P"});

  host.Emu().Refuse("CloseJournal");
  EXPECT_FALSE(CALL(host, Leitura_X_Imp)("COM1", "ESQ", ""));
  EXPECT_EQ(host.Log().size(), 1u);
  EXPECT_TRUE(host.dialogs.empty());
  EXPECT_FALSE(ZFileExists(host));
}

TEST(ReducaoZ, CapturesAnswerFieldsIntoOneRowFile) {
  DriverHost host;
  plat::Variant params = plat::MakeBundle({{"ECFIMP", "123456"}});
  EXPECT_FALSE(CALL(host, Carrega_Dados_Impressora)(params));  // no settings file: nrECF only
  host.ClearLog();
  host.Emu().SetFieldsAfter("CloseJournal", kZFields);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(CALL(host, Reducao_Z_Imp)("COM1", "ESQ", ""));
  EXPECT_EQ(host.CommandTexts(), (Texts{"CloseJournal(Z|)", "CloseJournal(Z|)"}));
  const AnsiString capture = "BuscaDadosReducaoZ: 0042 - 3 - 5 - 7 - 00000123 - 0001234567";
  EXPECT_EQ(host.Log(), (std::vector<AnsiString>{"Reducao_Z_Imp - CloseJournal: Z - ", capture,
                                                 "Reducao_Z_Imp - CloseJournal: Z - ", capture}));

  auto z = ReadZFile(host);
  const char* names[] = {"NRECFREDZ",    "DTREDUCAOZ",    "NRREINIREDZ",  "NRREDREDZ",
                         "NRLEITREDZ",   "NRGERCNFREDZ",  "NRCANCFREDZ",  "NRPRIMCFREDZ",
                         "NRULTCFREDZ",  "VRGTREDZ",      "VRVENBRUREDZ", "VRISSREDZ",
                         "VRTOTCANREDZ", "VRTOTDESREDZ",  "VRVENLIQREDZ", "VRTOTACRREDZ",
                         "VRSTRIBREDZ",  "VRISENCREDZ",   "VRNINCIDREDZ", "QTTEMLIGREDZ",
                         "QTTEMPCFREDZ", "QTMEMRESREDZ",  "IDORIGEMREDZ", "DSMODMARCAECF",
                         "NRUSUARIOMFD", "CDMFADICIONAL", "DTGRAVSBECF"};
  const int sizes[] = {4, 0, 10, 10, 10, 10, 10, 10, 10, 0,  0,  0, 0, 0,
                       0, 0, 0,  0,  0,  6,  6,  0,  3,  30, 10, 5, 0};
  ASSERT_EQ(z->FieldDefs().size(), 27u);
  for (size_t i = 0; i < 27; ++i) {
    EXPECT_EQ(z->FieldDefs()[i].Name, names[i]);
    if (sizes[i] != 0) {
      EXPECT_EQ(z->FieldDefs()[i].Size, sizes[i]) << names[i];
    }
  }
  EXPECT_EQ(z->FieldDefs()[1].Type, plat::FieldType::DateTime);
  EXPECT_EQ(z->FieldDefs()[10].Type, plat::FieldType::Float);
  EXPECT_EQ(z->RecordCount(), 1);
  EXPECT_EQ(z->FieldByName("NRECFREDZ").AsString(), "1234");
  EXPECT_EQ(z->FieldByName("NRREDREDZ").AsString(), plat::Ajusta("42", 10));
  EXPECT_EQ(z->FieldByName("NRULTCFREDZ").AsString(), plat::Ajusta("00000123", 10));
  EXPECT_DOUBLE_EQ(z->FieldByName("VRTOTACRREDZ").AsFloat(), 12345.67);
  EXPECT_DOUBLE_EQ(z->FieldByName("VRVENBRUREDZ").AsFloat(), 12345.67);
  EXPECT_EQ(z->FieldByName("DTREDUCAOZ").AsDateTime(), plat::Date());
  EXPECT_EQ(z->FieldByName("DTGRAVSBECF").AsDateTime(), plat::Now());
  for (const char* unset : {"NRREINIREDZ", "VRGTREDZ", "QTTEMLIGREDZ", "CDMFADICIONAL"})
    EXPECT_TRUE(z->FieldByName(unset).IsNull()) << unset;
}

TEST(ReducaoZ, RefusedReductionCapturesNothingAndRemovesTheLastFile) {
  // Refused by the printer (a non-fiscal document left open) and by a scripted refusal, whose
  // answer fields would still read as a reduction's: neither leaves a file behind.
  for (const bool scripted : {false, true}) {
    SCOPED_TRACE(scripted ? "scripted refusal" : "document open");
    DriverHost host;
    host.Emu().SetFieldsAfter("CloseJournal", kZFields, 1);
    ASSERT_TRUE(CALL(host, Reducao_Z_Imp)("COM1", "ESQ", ""));
    ASSERT_TRUE(ZFileExists(host));
    if (scripted) {
      host.Emu().Refuse("CloseJournal");
    } else {
      host.Emu().Refuse("SendNoFiscalText");  // leaves a non-fiscal document open
      ASSERT_FALSE(CALL(host, Suprimento)("", "ESQ", 1, false));
    }
    host.ClearLog();
    EXPECT_FALSE(CALL(host, Reducao_Z_Imp)("COM1", "ESQ", ""));
    EXPECT_TRUE(host.Log().empty());
    EXPECT_TRUE(host.dialogs.empty());
    EXPECT_FALSE(ZFileExists(host));
  }
}

TEST(ReducaoZ, UnconvertibleAnswerShowsDialogAndLeavesNoFile) {
  struct Case {
    WideString zNumber, sales;
    const char* message;
  };
  const Case cases[] = {{u"00A2", u"100", "'00A2' is not a valid integer value"},
                        {u"0042", u"", "'.' is not a valid floating point value"},
                        {u"0042", u"12ab", "'12.ab' is not a valid floating point value"}};
  for (const auto& c : cases) {
    DriverHost host;
    ASSERT_TRUE(CALL(host, Reducao_Z_Imp)("COM1", "ESQ", ""));
    ASSERT_TRUE(ZFileExists(host));
    host.Emu().SetFieldsAfter("CloseJournal", {c.zNumber, u"", u"", u"", u"", u"", u"1", c.sales},
                              1);
    EXPECT_FALSE(CALL(host, Reducao_Z_Imp)("COM1", "ESQ", ""));
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].Text, c.message);
    EXPECT_FALSE(ZFileExists(host));
    // The next capture starts again from an empty table.
    EXPECT_TRUE(CALL(host, Reducao_Z_Imp)("COM1", "ESQ", ""));
    EXPECT_EQ(ReadZFile(host)->RecordCount(), 1);
  }
}

TEST(ReducaoZ, CaptureWithoutFormKeepsTheOldFile) {
  DriverHost host(false);
  plat::WriteFileAtomic(host.PathOf("REDUCAOZ_MP35.CDS"), "old");
  EXPECT_THROW(CALL(host, BuscaDadosReducaoZ)(), plat::Exception);
  EXPECT_EQ(plat::ReadWholeFile(host.PathOf("REDUCAOZ_MP35.CDS")), "old");
  EXPECT_FALSE(CALL(host, Reducao_Z_Imp)("COM1", "ESQ", ""));
  EXPECT_EQ(host.dialogs.size(), 1u);
}

TEST(ReducaoZ, HostKilledWhileWritingKeepsTheOldFileAndItsTemporaryGoesAtTheNextWrite) {
  // A file size limit below the Z file's kills the writing process half-way through the file,
  // as a host killed during the capture would be.
  constexpr rlim_t kWriteLimit = 256;
  DriverHost host;
  host.Emu().SetFieldsAfter("CloseJournal", kZFields);
  ASSERT_TRUE(CALL(host, Reducao_Z_Imp)("COM1", "ESQ", ""));
  const std::string zPath = host.PathOf("REDUCAOZ_MP35.CDS");
  const std::string old = plat::ReadWholeFile(zPath);
  ASSERT_GT(old.size(), kWriteLimit);

  std::vector<std::string> temporaries;
  for (int kill = 0; kill < 3; ++kill) {
    host.ClearLog();  // the log stays under the limit
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const rlimit limit{kWriteLimit, kWriteLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      ::signal(SIGXFSZ, SIG_DFL);
      CALL(host, BuscaDadosReducaoZ)();
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    temporaries.push_back(zPath + ".tmp." + std::to_string(child));
    EXPECT_TRUE(plat::FileExists(temporaries.back()));
    EXPECT_EQ(plat::ReadWholeFile(zPath), old) << "the old file went before a new one was whole";
  }

  host.Emu().ClearRules();
  host.Emu().SetFieldsAfter("CloseJournal", {u"43", u"", u"", u"", u"", u"", u"1", u"100"});
  ASSERT_TRUE(CALL(host, Reducao_Z_Imp)("COM1", "ESQ", ""));
  for (const auto& t : temporaries) EXPECT_FALSE(plat::FileExists(t)) << t;
  EXPECT_EQ(ReadZFile(host)->FieldByName("NRREDREDZ").AsString(), plat::Ajusta("43", 10));
}

TEST(GetValue, PrinterDigitsToNumber) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {{"0001234567", 12345.67},
                        {"1.234,56", 1234.56},
                        {"1,234.56", 1234.56},
                        {"50", 0.5},
                        {"5", 0.5},
                        {"-12345", -123.45},
                        {" 0000000100\r", 1.0}};
  DriverHost host(false);
  for (char separator : {'.', ','}) {
    host.SetDecimalSeparator(separator);
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(CALL(host, GetValue)(c.text), c.value) << c.text;
    for (const char* bad : {"", " ", "abc", "-"})
      EXPECT_THROW(CALL(host, GetValue)(bad), plat::EConvertError) << bad;
  }
}

}  // namespace
