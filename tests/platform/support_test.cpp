// SPDX-License-Identifier: Apache-2.0
#include "platform/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "platform/exceptions.h"

namespace plat {
namespace {

TEST(SupportLayout, FixedWidthRoutines) {
  using Fn = AnsiString (*)(const AnsiString&, int);
  const struct {
    Fn fn;
    const char* name;
    const char* text;
    int width;
    const char* expected;
  } cases[] = {
      {Centraliza, "Centraliza", "abc", 9, "   abc   "},
      {Centraliza, "Centraliza", "abc", 8, "  abc   "},  // the odd blank goes after
      {Centraliza, "Centraliza", "", 4, "    "},
      {Centraliza, "Centraliza", "abcdef", 4, "abcd"},
      {Centraliza, "Centraliza", "abc", 0, ""},
      {Centraliza, "Centraliza", "abc", -3, ""},
      {TamFixo, "TamFixo", "ab", 5, "ab   "},
      {TamFixo, "TamFixo", "abcdef", 3, "abc"},
      {TamFixo, "TamFixo", "abc", 3, "abc"},
      {TamFixo, "TamFixo", "abc", -1, ""},
      {TamFixoR, "TamFixoR", "12.50", 10, "     12.50"},
      {TamFixoR, "TamFixoR", "123456789012", 10, "1234567890"},
      {TamFixoR, "TamFixoR", "", 2, "  "},
      {Ajusta, "Ajusta", "42", 10, "0000000042"},
      {Ajusta, "Ajusta", "  42 ", 10, "0000000042"},
      {Ajusta, "Ajusta", "", 10, "0000000000"},
      {Ajusta, "Ajusta", "1234567890", 10, "1234567890"},
      {Ajusta, "Ajusta", "12345678901", 10, "2345678901"},  // the last digits stay
      {Ajusta, "Ajusta", "42", 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.fn(c.text, c.width), c.expected)
        << c.name << "(\"" << c.text << "\", " << c.width << ")";
  }
  EXPECT_EQ(Centraliza("RECIBO", 40).size(), 40u);
}

TEST(SupportLayout, Replicate) {
  EXPECT_EQ(Replicate("-", 40), std::string(40, '-'));
  EXPECT_EQ(Replicate(" ", 40), std::string(40, ' '));
  EXPECT_EQ(Replicate("", 40), "");
  EXPECT_EQ(Replicate("ab", 3), "ababab");
  EXPECT_EQ(Replicate("-", 0), "");
  EXPECT_EQ(Replicate("-", -5), "");
  EXPECT_TRUE(EmptyString(""));
  EXPECT_FALSE(EmptyString(" "));
}

TEST(SupportBundles, RecebeParams) {
  const Variant bundle = MakeBundle({{"CDPORTAIMPFIS", "COM3"}, {"QTDE", 2}, {"ESQUEMA", ""}});
  EXPECT_EQ(RecebeParams(bundle, "CDPORTAIMPFIS").AsString(), "COM3");
  EXPECT_EQ(RecebeParams(bundle, "QTDE").AsInteger(), 2);

  const Variant missing = RecebeParams(bundle, "cdportaimpfis");  // keys compare exactly
  EXPECT_TRUE(missing.IsEmpty());
  EXPECT_EQ(missing.AsString(), "");
  EXPECT_EQ(missing.AsInteger(), 0);

  EXPECT_THROW(RecebeParams(Variant("COM3"), "X"), EVariantError);
  EXPECT_THROW(RecebeParams(Variant(), "X"), EVariantError);
  const Variant not_pairs = VarArrayOf({VarArrayOf({"A", 1}), Variant("B")});
  EXPECT_THROW(RecebeParams(not_pairs, "B"), EVariantError);
  const Variant short_pair = VarArrayOf({VarArrayOf({"A"})});
  EXPECT_THROW(RecebeParams(short_pair, "A"), EVariantError);
}

TEST(SupportMessages, MsgLookup) {
  TMessages table;
  table.LoadLines({"Motivo|Motivo: ", "Pipe|a|b", "Empty|", "no bar here", "Pipe|second"});
  EXPECT_EQ(table.Count(), 5);
  EXPECT_EQ(table.Msg("Motivo"), "Motivo: ");  // the trailing blank is kept
  EXPECT_EQ(table.Msg("Pipe"), "a|b");         // the first '|' splits, the first line wins
  EXPECT_EQ(table.Msg("Empty"), "");
  EXPECT_EQ(table.Msg("motivo"), "motivo");  // case-sensitive; a missing key answers itself
  EXPECT_EQ(table.Msg("Aber_Caixa"), "Aber_Caixa");
  EXPECT_EQ(table.Msg("no bar here"), "no bar here");
  EXPECT_EQ(table.Msg("Mot"), "Mot");  // no prefix matches
}

TEST(SupportMensagem, InstalledHandlerGetsEveryArgument) {
  auto* data = reinterpret_cast<TClientDataSet*>(0x1234);
  MensagemCall seen{};
  int calls = 0;
  SetMensagemHandler([&](const MensagemCall& c) {
    seen = c;
    ++calls;
    return true;
  });
  EXPECT_TRUE(Mensagem("Fechar caixa?", "2", "N", "S", tmPergunta, "6", "AZUL", 8, data));
  SetMensagemHandler(nullptr);
  ASSERT_EQ(calls, 1);
  EXPECT_EQ(seen.Text, "Fechar caixa?");
  EXPECT_EQ(seen.Arg2, "2");
  EXPECT_EQ(seen.Arg3, "N");
  EXPECT_EQ(seen.Arg4, "S");
  EXPECT_EQ(seen.Kind, tmPergunta);
  EXPECT_EQ(seen.Arg6, "6");
  EXPECT_EQ(seen.Scheme, "AZUL");
  EXPECT_EQ(seen.Arg8, 8);
  EXPECT_EQ(seen.Data, data);
}

// With standard input away from a terminal, the default handler prints and answers no.
TEST(SupportMensagem, DefaultHandlerWithoutTerminalAnswersNo) {
  const int saved = dup(STDIN_FILENO);
  const int null_fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(null_fd, 0);
  dup2(null_fd, STDIN_FILENO);
  close(null_fd);

  testing::internal::CaptureStderr();
  const bool question =
      Mensagem("Confirma redu\xE7\xE3o?", "", "N", "S", tmPergunta, "", "", 0, nullptr);
  const bool error = Mensagem("Falha", "", "N", "N", tmErro, "", "", 0, nullptr);
  const std::string out = testing::internal::GetCapturedStderr();

  dup2(saved, STDIN_FILENO);
  close(saved);
  EXPECT_FALSE(question);
  EXPECT_FALSE(error);
  EXPECT_NE(out.find("Confirma redu\xC3\xA7\xC3\xA3o?"), std::string::npos) << out;  // UTF-8
  EXPECT_NE(out.find("Falha"), std::string::npos);
}

TEST(SupportNumbers, Trunc2) {
  const struct {
    double in;
    double out;
  } cases[] = {
      {1.999, 1.99},
      {0.29, 0.29},
      {-1.999, -1.99},
      {2.675, 2.67},
      {1.005, 1.0},
      {0.1 + 0.2, 0.3},
      {12.5, 12.5},
      {1234.567, 1234.56},
      {-0.001, 0.0},
      {0.0, 0.0},
      {99999.99, 99999.99},
      {4.35, 4.35},
      {1.0 - 1e-12, 1.0},
      {1.0 - 1e-7, 0.99},  // only tiny errors round up
      {1e15 + 0.5, 1e15 + 0.5},
      {-1e300, -1e300},
  };
  for (const auto& c : cases) EXPECT_EQ(Trunc2(c.in), c.out) << c.in;
  EXPECT_FALSE(std::signbit(Trunc2(-0.004)));
  EXPECT_TRUE(std::isnan(Trunc2(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(Trunc2(std::numeric_limits<double>::infinity()),
            std::numeric_limits<double>::infinity());
}

TEST(SupportCipher, KnownValuesAndRoundTrip) {
  EXPECT_EQ(Cripto("AA", 0), "4142");
  EXPECT_EQ(Cripto("AA", 1), "4243");  // the position adds to the key
  EXPECT_EQ(Cripto("\xFF", 1), "00");  // modulo 256
  EXPECT_EQ(Cripto("", 7), "");
  EXPECT_EQ(Uncripto("4243", 1), "AA");
  EXPECT_EQ(Uncripto("4a4B", 8), "BB");  // either case of digits reads

  std::string all;
  for (int i = 0; i < 600; ++i) all += static_cast<char>(i % 256);
  for (int key :
       {0, 7, 255, 256, -3, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
    const AnsiString enc = Cripto(all, key);
    EXPECT_EQ(enc.find_first_not_of("0123456789ABCDEF"), AnsiString::npos) << key;
    EXPECT_EQ(Uncripto(enc, key), all) << key;
  }
}

TEST(SupportCipher, BadInputRaises) {
  for (const char* bad : {"4", "414", "4G", "G4", "41 2", "0x41", "\xC1\xC1"}) {
    EXPECT_THROW(Uncripto(bad, 7), EConvertError) << bad;
  }
  EXPECT_EQ(Uncripto("", 7), "");
}

}  // namespace
}  // namespace plat
