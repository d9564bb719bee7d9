// SPDX-License-Identifier: Apache-2.0
// The entry points that answer fixed values: the answer, every var parameter unchanged, and no
// printer command, log line or dialog, with or without a driver form.
#include <functional>

#include <gtest/gtest.h>

#include "tests/support/harness.h"

namespace {

using plat::AnsiString;
using plat::TClientDataSet;
using testhost::DriverHost;

struct FixedCase {
  const char* name;
  std::function<void(DriverHost&)> check;  // calls the entry point and checks its answer
};

// Var parameters start as these values and must come back as they went in.
const AnsiString kA = "a1", kB = "b2", kC = "c3", kD = "d4", kE = "e5";

std::vector<FixedCase> Cases() {
  static TClientDataSet ds1, ds2, ds3, ds4;
  static plat::TStringList list;
  return {
      {"Atu_TotGeral", [](DriverHost& h) { EXPECT_TRUE(CALL(h, Atu_TotGeral)(plat::Variant())); }},
      {"DataHoraGravacao",
       [](DriverHost& h) {
         AnsiString a = kA, b = kB, c = kC;
         EXPECT_TRUE(CALL(h, DataHoraGravacaoUsuarioSWBasicoMFAdicional)("", a, b, c));
         EXPECT_EQ(a + b + c, kA + kB + kC);
       }},
      {"Versao_Software_Basico",
       [](DriverHost& h) {
         AnsiString a = kA;
         EXPECT_TRUE(CALL(h, Versao_Software_Basico)("", a));
         EXPECT_EQ(a, kA);
       }},
      {"Codigo_Nacional_ECF",
       [](DriverHost& h) { EXPECT_EQ(CALL(h, Codigo_Nacional_ECF)(3, ""), "000000"); }},
      {"CarregaRecebimento",
       [](DriverHost& h) {
         CALL(h, CarregaRecebimento)
         ("", "", 1, &ds1);
       }},
      {"CarregaTotalizador",
       [](DriverHost& h) {
         AnsiString a = kA, b = kB, c = kC, d = kD, e = kE;
         TClientDataSet* p = &ds1;
         CALL(h, CarregaTotalizador)(a, b, c, d, e, "ESQ", 1, p);
         EXPECT_EQ(a + b + c + d + e, kA + kB + kC + kD + kE);
         EXPECT_EQ(p, &ds1);
       }},
      {"CarregaAliquota",
       [](DriverHost& h) {
         TClientDataSet* p = nullptr;
         CALL(h, CarregaAliquota)("", p);
         EXPECT_EQ(p, nullptr);
       }},
      {"ExportRedZ",
       [](DriverHost& h) {
         TClientDataSet *a = &ds1, *b = &ds2, *c = &ds3, *d = &ds4;
         EXPECT_TRUE(CALL(h, ExportRedZ)("", "", "", 1, nullptr, a, b, c, d));
         EXPECT_TRUE(a == &ds1 && b == &ds2 && c == &ds3 && d == &ds4);
       }},
      {"Estado_Gaveta_Imp", [](DriverHost& h) { EXPECT_EQ(CALL(h, Estado_Gaveta_Imp)(""), "00"); }},
      {"NumeroOperacoesNaoFiscais",
       [](DriverHost& h) {
         AnsiString a = kA;
         EXPECT_TRUE(CALL(h, NumeroOperacoesNaoFiscais)("", a));
         EXPECT_EQ(a, kA);
       }},
      {"VerificaSerialImp",
       [](DriverHost& h) { EXPECT_TRUE(CALL(h, VerificaSerialImp)(plat::Variant(1))); }},
      {"Sangria", [](DriverHost& h) { EXPECT_TRUE(CALL(h, Sangria)("", "", 99.5)); }},
      {"ImprimeMesasAbertas",
       [](DriverHost& h) {
         TClientDataSet* p = &ds2;
         EXPECT_TRUE(CALL(h, ImprimeMesasAbertas)(p, "", "", "ESQ", plat::Variant()));
         EXPECT_EQ(p, &ds2);
       }},
      {"GeraCatGenerica",
       [](DriverHost& h) {
         plat::TStringList* p = &list;
         EXPECT_TRUE(CALL(h, GeraCatGenerica)({plat::Variant(1)}, p));
         EXPECT_EQ(p, &list);
       }},
      {"DadosUltimaRedZ",
       [](DriverHost& h) {
         plat::Variant v = plat::VarArrayOf({1, "x"});
         TClientDataSet* p = &ds3;
         EXPECT_FALSE(CALL(h, DadosUltimaRedZ)({}, v, p));
         EXPECT_EQ(v, plat::VarArrayOf({1, "x"}));
         EXPECT_EQ(p, &ds3);
       }},
      {"Estado_HorVerao", [](DriverHost& h) { EXPECT_TRUE(CALL(h, Estado_HorVerao)("")); }},
      {"Muda_Horario", [](DriverHost& h) { EXPECT_TRUE(CALL(h, Muda_Horario)("")); }},
      {"Modelo_Impressora",
       [](DriverHost& h) {
         AnsiString a = kA, b = kB, c = kC;
         EXPECT_TRUE(CALL(h, Modelo_Impressora)("", a, b, c));
         EXPECT_EQ(a + b + c, kA + kB + kC);
       }},
      {"BuscaTotGer",
       [](DriverHost& h) {
         AnsiString a = kA;
         EXPECT_TRUE(CALL(h, BuscaTotGer)("", a));
         EXPECT_EQ(a, kA);
       }},
      {"Cupom_Troca", [](DriverHost& h) { EXPECT_TRUE(CALL(h, Cupom_Troca)("", "", "", "R")); }},
  };
}

TEST(FixedAnswers, AnswerAndLeaveEverythingAsItWas) {
  for (bool started : {true, false}) {
    DriverHost host(started);
    host.ClearLog();
    for (const auto& c : Cases()) {
      SCOPED_TRACE(c.name);
      c.check(host);
    }
    EXPECT_TRUE(host.Emu().Journal().empty());
    EXPECT_TRUE(host.Log().empty());
    EXPECT_TRUE(host.dialogs.empty());
  }
}

TEST(FixedAnswers, DataMoviFiscalIsTodayAtMidnight) {
  DriverHost host(false);
  const plat::TDateTime day = plat::EncodeDate(2026, 12, 8);
  host.SetClock(day + plat::EncodeTime(23, 59, 59, 999));
  EXPECT_EQ(CALL(host, DataMoviFiscal)(""), day);
  host.SetClock(day + 1 + plat::EncodeTime(0, 0, 1));
  EXPECT_EQ(CALL(host, DataMoviFiscal)(""), day + 1);
}

}  // namespace
