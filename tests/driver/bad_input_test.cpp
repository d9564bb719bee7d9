// SPDX-License-Identifier: Apache-2.0
// Bad input at the package boundary: values that do not convert, missing keys, short arrays,
// datasets without the fields the driver reads, oversized texts, characters the code page
// cannot hold, and damaged files beside the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include <unistd.h>
#include <vector>

#include "platform/codepage.h"
#include "platform/dataset.h"
#include "platform/exceptions.h"
#include "platform/os.h"
#include "platform/support.h"
#include "platform/testing/hooks.h"
#include "tests/closing/day_closing_support.h"
#include "tests/support/harness.h"

namespace {

using plat::AnsiString;
using plat::FieldType;
using plat::Variant;
using testhost::DriverHost;
using testhost::W;
using Texts = std::vector<std::string>;

Variant OpenBundle(const AnsiString& kind, const Variant& name = Variant("Juan"),
                   const Variant& tefErro = Variant("0")) {
  return plat::MakeBundle({{"ESQUEMACOR", "SCH"},
                           {"INCLUINOME", name},
                           {"TIPOTICKET", kind},
                           {"IVACOMP", "R"},
                           {"IVAPROP", "M"},
                           {"INTTEFERRO", tefErro}});
}

Variant ItemBundle(const Variant& name, const Variant& qty, const Variant& price,
                   const Variant& rate = Variant("21")) {
  return plat::MakeBundle({{"ESQUEMACOR", "SCH"},
                           {"NMPROD", name},
                           {"QTDE", qty},
                           {"VALOR", price},
                           {"TIPOTICKET", "T"},
                           {"VRPERCALIQ", rate}});
}

void OpenTicket(DriverHost& host) {
  Variant open = OpenBundle("T");
  ASSERT_TRUE(CALL(host, AbreCupom)(open));
}

// Nothing of a call reached the printer, the log or the operator.
void ExpectNoTrace(DriverHost& host, const std::string& where) {
  EXPECT_TRUE(host.Emu().Journal().empty()) << where;
  EXPECT_TRUE(host.Log().empty()) << where;
  EXPECT_TRUE(host.dialogs.empty()) << where;
}

// The one error dialog of a call: its text.
AnsiString OnlyError(DriverHost& host, const AnsiString& scheme, const std::string& where) {
  std::vector<plat::MensagemCall> errors;
  for (const auto& d : host.dialogs)
    if (d.Kind == plat::tmErro) errors.push_back(d);
  EXPECT_EQ(errors.size(), 1u) << where;
  if (errors.empty()) return "";
  EXPECT_EQ(errors[0].Scheme, scheme) << where;
  return errors[0].Text;
}

void Reset(DriverHost& host) {
  host.Emu().ClearJournal();
  host.ClearLog();
  host.dialogs.clear();
}

TEST(BadInput, UnconvertibleValuesReachTheHostBeforeAnythingIsSent) {
  struct Case {
    const char* name;
    std::function<void(DriverHost&)> call;
    const char* message;  // part of the failure's text
  } cases[] = {
      {"VendaItem QTDE abc",
       [](DriverHost& h) {
         CALL(h, VendaItem)
         (ItemBundle("Agua", "abc", 1.0));
       },
       "abc"},
      {"VendaItem VALOR 1.2.3",
       [](DriverHost& h) {
         CALL(h, VendaItem)
         (ItemBundle("Agua", 1.0, "1.2.3"));
       },
       "1.2.3"},
      {"VendaItem QTDE null",
       [](DriverHost& h) {
         CALL(h, VendaItem)
         (ItemBundle("Agua", Variant::Null(), 1.0));
       },
       ""},
      {"AbreCupom INTTEFERRO abc",
       [](DriverHost& h) {
         Variant params = OpenBundle("T", "Juan", "abc");
         const Variant passed = params;
         try {
           CALL(h, AbreCupom)(params);
         } catch (...) {
           EXPECT_EQ(params, passed);  // the host's bundle is left as it was
           throw;
         }
       },
       "abc"},
      {"AbreCupom not a bundle",
       [](DriverHost& h) {
         Variant params("TIPOTICKET=T");
         CALL(h, AbreCupom)(params);
       },
       "bundle"},
      {"AbreCupom element that is no pair",
       [](DriverHost& h) {
         Variant params = plat::VarArrayOf({Variant("TIPOTICKET")});
         CALL(h, AbreCupom)(params);
       },
       "pair"},
      {"StartImpFiscal not a bundle",
       [](DriverHost& h) {
         CALL(h, StartImpFiscal)
         (Variant(3));
       },
       "bundle"},
      {"Carrega_Dados_Impressora not a bundle",
       [](DriverHost& h) {
         Variant params;
         CALL(h, Carrega_Dados_Impressora)(params);
       },
       "bundle"},
  };
  for (const auto& c : cases) {
    DriverHost host;
    OpenTicket(host);
    Reset(host);
    try {
      c.call(host);
      ADD_FAILURE() << c.name << ": no failure reached the host";
    } catch (const plat::Exception& e) {
      EXPECT_NE(e.Message().find(c.message), AnsiString::npos) << c.name << ": " << e.Message();
      EXPECT_FALSE(e.Message().empty()) << c.name;
    }
    ExpectNoTrace(host, c.name);
  }
}

TEST(BadInput, MissingKeysReadAsEmpty) {
  {
    // No name, quantity or price: an empty description and zeros go out, which the printer
    // refuses; no dialog.
    DriverHost host;
    OpenTicket(host);
    Reset(host);
    EXPECT_FALSE(
        CALL(host, VendaItem)(plat::MakeBundle({{"TIPOTICKET", "T"}, {"VRPERCALIQ", "21"}})));
    EXPECT_EQ(host.CommandTexts(), Texts{"SendTicketItem(|000000.00|000000.00|000021.00|M|0|0|0)"});
    EXPECT_TRUE(host.dialogs.empty());
  }
  {
    // No rate: the empty rate does not convert, inside the handler.
    DriverHost host;
    OpenTicket(host);
    Reset(host);
    EXPECT_FALSE(CALL(host, VendaItem)(
        plat::MakeBundle({{"TIPOTICKET", "T"}, {"ESQUEMACOR", "SCH"}, {"QTDE", 1.0}})));
    EXPECT_TRUE(host.Emu().Journal().empty());
    EXPECT_FALSE(OnlyError(host, "SCH", "empty rate").empty());
  }
  {
    // An empty bundle opens nothing and still hands back the six pairs.
    DriverHost host;
    Reset(host);
    Variant params = plat::MakeBundle({});
    EXPECT_FALSE(CALL(host, AbreCupom)(params));
    ExpectNoTrace(host, "AbreCupom empty bundle");
    EXPECT_EQ(params, plat::MakeBundle({{"INTTEFERRO", Variant(0)},
                                        {"INCLUICPF", ""},
                                        {"INCLUINOME", ""},
                                        {"INCLUIENDERECO", ""},
                                        {"CUPNR", ""},
                                        {"CONTCUPOM", ""}}));
  }
  {
    // Without the settings file: False, the five pairs, and an empty ECF number.
    DriverHost host;
    Reset(host);
    Variant params = plat::MakeBundle({});
    EXPECT_FALSE(CALL(host, Carrega_Dados_Impressora)(params));
    ExpectNoTrace(host, "Carrega_Dados_Impressora empty bundle");
    EXPECT_EQ(params, plat::MakeBundle({{"DATAATUIMP", ""},
                                        {"ECFIMP", ""},
                                        {"REDIMP", ""},
                                        {"SERIEIMP", ""},
                                        {"DATAIMP", ""}}));
    EXPECT_EQ(*host.Package().Get<AnsiString>("nrECF"), "");
  }
}

ArfisOpenArray FullCloseArray() {
  ArfisOpenArray ar(43);
  ar[2] = Variant("SCH");
  ar[13] = testhost::MakeDataSet({{"IDTIPOMOVIVE", FieldType::String, 1}}, {})->Data();
  ar[14] = testhost::MakeDataSet(
               {{"CDTIPORECE", FieldType::String, 5}, {"NMTIPORECE", FieldType::String, 30}},
               {{"1", "Efectivo"}})
               ->Data();
  ar[30] = Variant("T");
  return ar;
}

TEST(BadInput, CloseArrayThatDoesNotFitItsLayoutRaisesBeforeAnything) {
  struct Case {
    const char* name;
    ArfisOpenArray array;
    const char* message;
  } cases[] = {
      {"empty", ArfisOpenArray(), "43"},
      {"10 elements", ArfisOpenArray(10), "43"},
      {"42 elements", ArfisOpenArray(42), "43"},
      {"discount abc",
       [] {
         auto ar = FullCloseArray();
         ar[6] = Variant("abc");
         return ar;
       }(),
       "abc"},
      {"movements as a text",
       [] {
         auto ar = FullCloseArray();
         ar[13] = Variant("rows");
         return ar;
       }(),
       "13"},
  };
  for (const auto& c : cases) {
    DriverHost host;
    OpenTicket(host);
    Reset(host);
    Variant answer = plat::VarArrayOf({Variant("a"), Variant("b"), Variant("c")});
    const Variant passed = answer;
    try {
      CALL(host, FechaCupom)(c.array, nullptr, answer);
      ADD_FAILURE() << c.name << ": no failure reached the host";
    } catch (const plat::Exception& e) {
      EXPECT_NE(e.Message().find(c.message), AnsiString::npos) << c.name << ": " << e.Message();
    }
    ExpectNoTrace(host, c.name);
    EXPECT_EQ(answer, passed) << c.name;
  }
}

TEST(BadInput, DatasetsWithoutAFieldTheDriverReadsEndInTheErrorDialog) {
  using closingtest::Closing;
  struct Case {
    const char* name;
    std::function<std::optional<bool>(DriverHost&)> call;
    const char* scheme;
    const char* field;
  } cases[] = {
      {"closing: shift movements without VRSAIDA",
       [](DriverHost& h) -> std::optional<bool> {
         Closing c;
         c.boSangria = false;
         c.movTot = closingtest::Movements({{"1", "DINHEIRO", 10.0}});
         c.movAbertura = testhost::MakeDataSet(
             {{"IDTIPOREG", FieldType::String, 1}, {"NMTIPORECE", FieldType::String, 40}},
             {{"1", "DINHEIRO"}});
         h.answers = {true};
         const bool r = c.Run(h);
         EXPECT_TRUE(h.answers.size() == 1) << "no question after the failure";
         return r;
       },
       "ESQ", "VRSAIDA"},
      {"withdrawal: closing amounts without VRFECHADIG",
       [](DriverHost& h) -> std::optional<bool> {
         Closing c;
         c.movFecha = testhost::MakeDataSet(
             {{"NRENVELOPE", FieldType::String, 6}, {"NMTIPORECE", FieldType::String, 40}},
             {{"1", "DINHEIRO"}});
         return c.Run(h);
       },
       "ESQ", "VRFECHADIG"},
      {"withdrawal: operator without NMOPERADOR",
       [](DriverHost& h) -> std::optional<bool> {
         Closing c;
         c.operSup = testhost::MakeDataSet({{"CDSUPERVISOR", FieldType::String},
                                            {"NMSUPERVISOR", FieldType::String},
                                            {"CDOPERADOR", FieldType::String}},
                                           {{"1", "JOAO", "2"}});
         return c.Run(h);
       },
       "ESQ", "NMOPERADOR"},
      {"product report without its amounts",
       [](DriverHost& h) -> std::optional<bool> {
         auto products = testhost::MakeDataSet(
             {{"CDPRODUTO", FieldType::String}, {"NMPRODUTO", FieldType::String}}, {{"1", "PAN"}});
         AnsiString cupomDia;
         bool flag = true;
         CALL(h, Relatorio_Produto)
         ("", "", "", "", "", cupomDia, products.get(), "N", "N", "PROD", flag);
         return std::nullopt;
       },
       // The first field of the product line that is missing.
       "PROD", "QTPRODVEND"},
      {"closing a ticket: movements without VRMOVIVEND",
       [](DriverHost& h) -> std::optional<bool> {
         Variant open = OpenBundle("T");
         EXPECT_TRUE(CALL(h, AbreCupom)(open));
         EXPECT_TRUE(CALL(h, VendaItem)(ItemBundle("Agua", 1.0, 10.0)));
         auto ar = FullCloseArray();
         ar[13] = testhost::MakeDataSet({{"IDTIPOMOVIVE", FieldType::String, 1},
                                         {"CDBANCARTCR", FieldType::String, 5},
                                         {"CDTIPORECE", FieldType::String, 5}},
                                        {{"E", "", "1"}})
                      ->Data();
         Variant answer = plat::VarArrayOf({Variant(), Variant(), Variant()});
         const bool r = CALL(h, FechaCupom)(ar, nullptr, answer);
         EXPECT_EQ(answer, plat::VarArrayOf({Variant(0), Variant(""), Variant("")}));
         return r;
       },
       "SCH", "VRMOVIVEND"},
  };
  for (const auto& c : cases) {
    DriverHost host;
    Reset(host);
    const std::optional<bool> result = c.call(host);
    if (result) {
      EXPECT_FALSE(*result) << c.name;
    }
    const AnsiString text = OnlyError(host, c.scheme, c.name);
    EXPECT_NE(text.find(c.field), AnsiString::npos) << c.name << ": " << text;
  }
}

TEST(BadInput, EmptyAndOversizedTextsGoOutWhole) {
  const AnsiString huge(100000, 'x');
  for (const AnsiString& text : {AnsiString(), huge}) {
    const std::string where = "length " + std::to_string(text.size());
    {
      // Item description.
      DriverHost host;
      OpenTicket(host);
      Reset(host);
      EXPECT_TRUE(CALL(host, VendaItem)(ItemBundle(text, 1.0, 10.0))) << where;
      ASSERT_EQ(host.Commands("SendTicketItem").size(), 1u) << where;
      EXPECT_EQ(host.Commands("SendTicketItem")[0].Args[0].size(), text.size()) << where;
      ASSERT_EQ(host.Log().size(), 1u) << where;
      EXPECT_EQ(host.Log()[0].substr(0, 14 + text.size() + 3), "VendaItem:  - " + text + " - ");
    }
    {
      // Buyer's name on an invoice, and handed back.
      DriverHost host;
      Reset(host);
      Variant params = OpenBundle("A", text);
      EXPECT_TRUE(CALL(host, AbreCupom)(params)) << where;
      ASSERT_EQ(host.Commands("OpenInvoice").size(), 1u) << where;
      EXPECT_EQ(host.Commands("OpenInvoice")[0].Args[8].size(), text.size()) << where;
      EXPECT_EQ(plat::RecebeParams(params, "INCLUINOME").AsString(), text) << where;
      ASSERT_EQ(host.Log().size(), 1u) << where;
      EXPECT_NE(host.Log()[0].find(" - " + text + " - "), AnsiString::npos) << where;
    }
    {
      // Withdrawal reason on both copies of the receipt.
      DriverHost host;
      Reset(host);
      closingtest::Closing c;
      c.tipoSangria = text;
      EXPECT_FALSE(c.Run(host)) << where;
      EXPECT_TRUE(host.dialogs.empty()) << where;
      const Texts sent = closingtest::SentTexts(host);
      const auto reasons = std::count(sent.begin(), sent.end(), "Motivo: " + text);
      EXPECT_EQ(reasons, text.empty() ? 0 : 2) << where;
    }
  }
}

TEST(BadInput, CharactersOutsideTheCodePageGoOutAsQuestionMarks) {
  // Ñ becomes N; an accented vowel stays; each CJK character, the emoji (one character in two
  // halves) and a lone half each become one '?'.
  const plat::WideString name = W("Ñandú 漢字 😀") + u"\xD800";
  const std::string sent = "Nandú ?? ??";
  {
    DriverHost host;
    OpenTicket(host);
    Reset(host);
    CALL(host, Cancela_ItGenerico)("SCH", "", name, u"21", u"m", u"0", u"0", u"0", u"T", 1, 10);
    ASSERT_EQ(host.Commands("SendTicketItem").size(), 1u);
    EXPECT_EQ(plat::WideToUtf8(host.Commands("SendTicketItem")[0].Args[0]), sent);
  }
  {
    DriverHost host;
    OpenTicket(host);
    Reset(host);
    EXPECT_TRUE(CALL(host, VendaItem)(ItemBundle(Variant(name), 1.0, 10.0)));
    ASSERT_EQ(host.Commands("SendTicketItem").size(), 1u);
    EXPECT_EQ(plat::WideToUtf8(host.Commands("SendTicketItem")[0].Args[0]), sent);
    ASSERT_EQ(host.Log().size(), 1u);
    EXPECT_EQ(host.Log()[0].substr(0, 14 + 11), "VendaItem:  - " + testhost::A(sent));
  }
}

// Damaged forms of a dataset file: empty, foreign, random bytes, and a good file cut short.
std::vector<std::pair<std::string, std::string>> Damaged(const std::string& good) {
  std::string noise(4096, '\0');
  uint32_t x = 2463534242u;
  for (char& ch : noise) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    ch = static_cast<char>(x & 0xFF);
  }
  return {{"empty", ""},
          {"foreign", "not a dataset file\r\n"},
          {"noise", noise},
          {"half", good.substr(0, good.size() / 2)},
          {"all but the last byte", good.substr(0, good.size() - 1)}};
}

// The bytes of a dataset's file. Made outside any host: a second host alive at the same time
// would share the loaded package and its host folder.
std::string FileOf(const plat::TClientDataSet& ds) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("fiscal-bad-input-" + std::to_string(::getpid()) + ".cds"))
                               .string();
  ds.SaveToFile(path);
  std::string bytes = plat::ReadWholeFile(path);
  std::filesystem::remove(path);
  return bytes;
}

TEST(BadInput, DamagedSaleFileRaisesAndSendsNothing) {
  const std::string good =
      FileOf(*testhost::MakeDataSet({{"VRPRECCOMVEN", FieldType::Float}}, {{10.0}, {20.0}}));
  auto cases = Damaged(good);
  cases.push_back({"without VRPRECCOMVEN",
                   FileOf(*testhost::MakeDataSet({{"OTHER", FieldType::Float}}, {{1.0}}))});
  for (const auto& [name, bytes] : cases) {
    DriverHost host;
    OpenTicket(host);
    plat::WriteFileAtomic(host.PathOf("cdsVenda.cds"), bytes);
    Reset(host);
    Variant answer;
    EXPECT_THROW(CALL(host, Cancela_Cupom_Imp)(ArfisOpenArray(43), answer), plat::Exception)
        << name;
    ExpectNoTrace(host, name);
  }
}

TEST(BadInput, DamagedSettingsFileRaisesAndLeavesTheBundle) {
  const std::string good = FileOf(*testhost::MakeDataSet(
      {{"NRECFCAIXA", FieldType::String, 40}, {"NRSERIEECF", FieldType::String, 40}},
      {{plat::Cripto("0042", 7), plat::Cripto("S-9", 7)}}));
  auto cases = Damaged(good);
  cases.push_back({"without NRSERIEECF", FileOf(*testhost::MakeDataSet(
                                             {{"NRECFCAIXA", FieldType::String, 40}}, {{"x"}}))});
  for (const auto& [name, bytes] : cases) {
    DriverHost host;
    plat::WriteFileAtomic(host.PathOf("Quorilo.cds"), bytes);
    Reset(host);
    Variant params = plat::MakeBundle({{"ESQUEMA", "SCH"}, {"ECFIMP", "0003"}});
    const Variant passed = params;
    EXPECT_THROW(CALL(host, Carrega_Dados_Impressora)(params), plat::Exception) << name;
    ExpectNoTrace(host, name);
    EXPECT_EQ(params, passed) << name;
    EXPECT_EQ(*host.Package().Get<AnsiString>("nrECF"), "") << name;
  }
}

TEST(BadInput, DamagedZFileIsReplacedByTheNewCapture) {
  const std::string good =
      FileOf(*testhost::MakeDataSet({{"NRREDREDZ", FieldType::String, 10}}, {{"1"}, {"2"}, {"3"}}));
  for (const auto& [name, bytes] : Damaged(good)) {
    DriverHost host;
    const std::string path = host.PathOf("REDUCAOZ_MP35.CDS");
    plat::WriteFileAtomic(path, bytes);
    Reset(host);
    EXPECT_TRUE(CALL(host, Reducao_Z_Imp)("COM1", "SCH", "")) << name;
    EXPECT_TRUE(host.dialogs.empty()) << name;
    plat::TClientDataSet z("z");
    ASSERT_NO_THROW(z.LoadFromFile(path)) << name;
    EXPECT_EQ(z.RecordCount(), 1) << name;
    EXPECT_EQ(z.FieldByName("NRREDREDZ").AsString(), plat::Ajusta("1", 10)) << name;
  }
  {
    // A folder in the file's place cannot be replaced: the error dialog and False.
    DriverHost host;
    std::filesystem::create_directory(host.PathOf("REDUCAOZ_MP35.CDS"));
    Reset(host);
    EXPECT_FALSE(CALL(host, Reducao_Z_Imp)("COM1", "SCH", ""));
    EXPECT_FALSE(OnlyError(host, "SCH", "folder in place of the Z file").empty());
  }
}

TEST(BadInput, UnassignedHostDatasetsEndInTheErrorDialog) {
  using Member = std::unique_ptr<plat::TClientDataSet> closingtest::Closing::*;
  const std::pair<const char*, Member> members[] = {
      {"cdsMovFechaAux", &closingtest::Closing::movFecha},
      {"cdsSangriaAux", &closingtest::Closing::sangria},
      {"cdsProdAux", &closingtest::Closing::prod},
      {"cdsOperSup", &closingtest::Closing::operSup},
      {"cdsMovTotAux", &closingtest::Closing::movTot},
      {"cdsMovAbertura", &closingtest::Closing::movAbertura},
      {"cdsProdFechamento", &closingtest::Closing::prodFech},
      {"cdsTipoRece", &closingtest::Closing::tipoRece},
  };
  for (const auto& [name, member] : members) {
    DriverHost host;
    closingtest::Closing c;
    c.boSangria = false;
    c.emiRelProd = "N";
    c.movTot = closingtest::Movements({{"1", "DINHEIRO", 10.0}});
    (c.*member).reset();
    host.answers = {false, true, true};
    EXPECT_FALSE(c.Run(host)) << name;
    // The product report has a handler of its own, so a missing product dataset may be
    // reported there and again by the report that sums it.
    size_t errors = 0;
    for (const auto& d : host.dialogs) {
      if (d.Kind != plat::tmErro) continue;
      ++errors;
      EXPECT_NE(d.Text.find("not assigned"), AnsiString::npos) << name << ": " << d.Text;
      EXPECT_EQ(d.Scheme, "ESQ") << name;
    }
    EXPECT_GE(errors, 1u) << name;
  }
}

// Every entry point that talks to the printer, called before StartImpFiscal: the one place for
// this case.
TEST(BadInput, PrinterEntryPointsBeforeTheDriverIsStarted) {
  struct Case {
    const char* name;
    std::function<std::optional<bool>(DriverHost&)> call;
    bool raises;  // no handler: the host gets the error; otherwise the dialog and False
  } cases[] = {
      {"AbreCupom",
       [](DriverHost& h) -> std::optional<bool> {
         Variant params = OpenBundle("T");
         const bool r = CALL(h, AbreCupom)(params);
         EXPECT_EQ(params.Count(), 6);
         return r;
       },
       false},
      {"VendaItem",
       [](DriverHost& h) -> std::optional<bool> {
         return CALL(h, VendaItem)(ItemBundle("Agua", 1.0, 1.0));
       },
       false},
      {"Cancela_ItGenerico",
       [](DriverHost& h) -> std::optional<bool> {
         return CALL(h, Cancela_ItGenerico)("SCH", "", u"A", u"21", u"m", u"0", u"0", u"0", u"T", 1,
                                            1);
       },
       false},
      {"FechaCupom",
       [](DriverHost& h) -> std::optional<bool> {
         Variant answer = plat::VarArrayOf({Variant(), Variant(), Variant()});
         const bool r = CALL(h, FechaCupom)(FullCloseArray(), nullptr, answer);
         EXPECT_EQ(answer[0], Variant(0));
         return r;
       },
       false},
      {"Suprimento",
       [](DriverHost& h) -> std::optional<bool> { return CALL(h, Suprimento)("", "SCH", 1, true); },
       false},
      {"Leitura_X_Imp",
       [](DriverHost& h) -> std::optional<bool> { return CALL(h, Leitura_X_Imp)("", "SCH", ""); },
       false},
      {"Reducao_Z_Imp",
       [](DriverHost& h) -> std::optional<bool> { return CALL(h, Reducao_Z_Imp)("", "SCH", ""); },
       false},
      {"GeraReciboSangria",
       [](DriverHost& h) -> std::optional<bool> {
         closingtest::Closing c;
         c.boSangria = false;
         return c.Run(h);
       },
       false},
      {"Cancela_Cupom_Imp",
       [](DriverHost& h) -> std::optional<bool> {
         Variant answer;
         return CALL(h, Cancela_Cupom_Imp)(ArfisOpenArray(43), answer);
       },
       true},
      {"Abre_Gaveta_Imp",
       [](DriverHost& h) -> std::optional<bool> { return CALL(h, Abre_Gaveta_Imp)("", false); },
       true},
      {"Estado_Imp",
       [](DriverHost& h) -> std::optional<bool> { return CALL(h, Estado_Imp)("", false, false); },
       true},
      {"VerificaData",
       [](DriverHost& h) -> std::optional<bool> {
         plat::TDateTime date = 0;
         return CALL(h, VerificaData)("SCH", date, "", "01/01/26 00:00", false);
       },
       true},
      {"Nr_Cupom",
       [](DriverHost& h) -> std::optional<bool> {
         CALL(h, Nr_Cupom)("", "");
         return std::nullopt;
       },
       true},
      {"BuscaDadosReducaoZ",
       [](DriverHost& h) -> std::optional<bool> {
         CALL(h, BuscaDadosReducaoZ)();
         return std::nullopt;
       },
       true},
  };
  for (const auto& c : cases) {
    DriverHost host(false);
    if (c.raises) {
      EXPECT_THROW(c.call(host), plat::Exception) << c.name;
      EXPECT_TRUE(host.dialogs.empty()) << c.name;
    } else {
      EXPECT_EQ(c.call(host), std::optional<bool>(false)) << c.name;
      const char* scheme = std::string(c.name) == "GeraReciboSangria" ? "ESQ" : "SCH";
      EXPECT_NE(OnlyError(host, scheme, c.name).find("StartImpFiscal"), AnsiString::npos) << c.name;
    }
    EXPECT_TRUE(host.Emu().Journal().empty()) << c.name;
  }
}

TEST(BadInput, ExtremeAmountsAreFormattedWithoutFailingTheHost) {
  const double values[] = {std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           1e300,
                           -1e300,
                           std::numeric_limits<double>::denorm_min(),
                           -0.0};
  for (double v : values) {
    const std::string where = std::to_string(v);
    DriverHost host;
    EXPECT_NO_THROW(CALL(host, Suprimento)("", "SCH", v, false)) << where;
    OpenTicket(host);
    // Quantity, price and rate all at once; a rate that is no number ends in the dialog.
    EXPECT_NO_THROW(CALL(host, VendaItem)(ItemBundle("Agua", v, v, Variant(v)))) << where;
    EXPECT_NO_THROW(CALL(host, Cancela_ItGenerico)("SCH", "", u"Agua", u"21", u"m", u"0", u"0",
                                                   u"0", u"T", v, v))
        << where;
    ArfisOpenArray ar = FullCloseArray();
    ar[6] = Variant(v);
    Variant answer = plat::VarArrayOf({Variant(), Variant(), Variant()});
    EXPECT_NO_THROW(CALL(host, FechaCupom)(ar, nullptr, answer)) << where;
  }
}

TEST(LogAppendHook, FailsTheNthWriteOnceAndTakesItsPartBack) {
  DriverHost host;
  const std::string path = host.PathOf("hook.txt");
  plat::SetAppendFailureForTesting(2);
  plat::AppendToTextFile(path, "one\r\n");
  try {
    plat::AppendToTextFile(path, "two two two\r\n");
    ADD_FAILURE() << "the second write did not fail";
  } catch (const plat::EInOutError& e) {
    EXPECT_NE(e.Message().find("forced failure"), AnsiString::npos) << e.Message();
  }
  plat::AppendToTextFile(path, "three\r\n");
  EXPECT_EQ(plat::ReadWholeFile(path), "one\r\nthree\r\n");
}

}  // namespace
