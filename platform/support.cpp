// SPDX-License-Identifier: Apache-2.0
// The host's support package: bundles, the message dialog, the message table, text layout and
// the settings cipher.
#include "platform/support.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/format.h"

namespace plat {

// ---- Bundles -------------------------------------------------------------------------------

Variant RecebeParams(const Variant& params, const AnsiString& key) {
  if (!params.IsArray()) {
    throw EVariantError(std::string("Parameter bundle expected, got a variant of type ") +
                        params.TypeName());
  }
  for (const Variant& pair : params.Items()) {
    if (!pair.IsArray() || pair.Count() != 2) {
      throw EVariantError("Parameter bundle holds an element that is not a (key, value) pair");
    }
    if (pair[0].AsString() == key) return pair[1];
  }
  return Variant();
}

// ---- Numbers -------------------------------------------------------------------------------

double Trunc2(double value) {
  if (!std::isfinite(value)) return value;
  const double hundredths = value * 100.0;
  // Beyond 2^52 every double is a whole number of hundredths already.
  constexpr double kWhole = 4503599627370496.0;
  if (std::fabs(hundredths) >= kWhole) return value;
  double whole = std::trunc(hundredths);
  // The fraction is exact here. One that reaches the next whole hundredth when taken to the
  // nearest millionth is representation error: a stored 0.29 is 28.999999999999996 hundredths.
  if (std::fabs(hundredths - whole) >= 1.0 - 0.5e-6) whole += hundredths > 0 ? 1.0 : -1.0;
  // Adding 0.0 turns a negative zero into zero, so that it never prints with a sign.
  return whole / 100.0 + 0.0;
}

// ---- Message dialog ------------------------------------------------------------------------

namespace {

std::mutex g_handler_mutex;
MensagemHandler g_handler;

const char* KindLabel(TTipoMsg kind) {
  switch (kind) {
    case tmInformacao:
      return "Information";
    case tmPergunta:
      return "Question";
    case tmAviso:
      return "Warning";
    case tmErro:
      return "Error";
  }
  return "Message";
}

// Without a dialog, the message goes to standard error; a question is answered from the
// terminal, and with no terminal to ask the answer is no.
bool DefaultMensagem(const MensagemCall& call) {
  const bool question = call.Kind == tmPergunta;
  std::string line = std::string("[") + KindLabel(call.Kind) + "] " + AnsiToUtf8(call.Text);
  line += question ? " (s/n) " : "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  if (!question) return false;
  if (!::isatty(STDIN_FILENO)) {
    std::fputs("n\n", stderr);
    return false;
  }
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  answer = Trim(answer, " \t\r\n");
  return answer == "s" || answer == "S" || answer == "y" || answer == "Y";
}

}  // namespace

bool Mensagem(const AnsiString& text, const AnsiString& arg2, const AnsiString& arg3,
              const AnsiString& arg4, TTipoMsg kind, const AnsiString& arg6,
              const AnsiString& scheme, int arg8, TClientDataSet* data) {
  MensagemHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_handler_mutex);
    handler = g_handler;
  }
  const MensagemCall call{text, arg2, arg3, arg4, kind, arg6, scheme, arg8, data};
  // The handler runs without the lock held, so that it may install another one.
  return handler ? handler(call) : DefaultMensagem(call);
}

void SetMensagemHandler(MensagemHandler handler) {
  std::lock_guard<std::mutex> lock(g_handler_mutex);
  g_handler = std::move(handler);
}

// ---- Message table -------------------------------------------------------------------------

void TMessages::LoadLines(const std::vector<AnsiString>& lines) {
  lines_ = lines;
}

AnsiString TMessages::Msg(const AnsiString& key) const {
  for (const AnsiString& line : lines_) {
    const size_t bar = line.find('|');
    if (bar == AnsiString::npos) continue;
    if (line.compare(0, bar, key) == 0) return line.substr(bar + 1);
  }
  return key;
}

// ---- Text layout ---------------------------------------------------------------------------

namespace {

size_t Width(int width) {
  return width > 0 ? static_cast<size_t>(width) : 0;
}

}  // namespace

AnsiString Centraliza(const AnsiString& text, int width) {
  const size_t w = Width(width);
  if (text.size() >= w) return text.substr(0, w);
  const size_t before = (w - text.size()) / 2;
  const size_t after = w - text.size() - before;
  return AnsiString(before, ' ') + text + AnsiString(after, ' ');
}

AnsiString TamFixo(const AnsiString& text, int width) {
  const size_t w = Width(width);
  if (text.size() >= w) return text.substr(0, w);
  return text + AnsiString(w - text.size(), ' ');
}

AnsiString TamFixoR(const AnsiString& text, int width) {
  const size_t w = Width(width);
  if (text.size() >= w) return text.substr(0, w);
  return AnsiString(w - text.size(), ' ') + text;
}

AnsiString Replicate(const AnsiString& pattern, int count) {
  AnsiString out;
  if (pattern.empty() || count <= 0) return out;
  out.reserve(pattern.size() * static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) out += pattern;
  return out;
}

AnsiString Ajusta(const AnsiString& text, int width) {
  const size_t w = Width(width);
  const AnsiString trimmed = Trim(text, " \t");
  if (trimmed.size() >= w) return trimmed.substr(trimmed.size() - w);
  return AnsiString(w - trimmed.size(), '0') + trimmed;
}

bool EmptyString(const AnsiString& text) {
  return text.empty();
}

// ---- Settings cipher -----------------------------------------------------------------------

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// (byte + shift) modulo 256 for any shift, negative ones included.
unsigned char Shift(unsigned char byte, long long shift) {
  return static_cast<unsigned char>(((static_cast<long long>(byte) + shift) % 256 + 256) % 256);
}

}  // namespace

AnsiString Cripto(const AnsiString& clear, int key) {
  static const char kDigits[] = "0123456789ABCDEF";
  AnsiString out;
  out.reserve(clear.size() * 2);
  for (size_t i = 0; i < clear.size(); ++i) {
    const unsigned char c =
        Shift(static_cast<unsigned char>(clear[i]), static_cast<long long>(key) + (i % 256));
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
  }
  return out;
}

AnsiString Uncripto(const AnsiString& enciphered, int key) {
  if (enciphered.size() % 2 != 0) {
    throw EConvertError("Enciphered text has an odd number of digits (" +
                        std::to_string(enciphered.size()) + ")");
  }
  AnsiString out;
  out.reserve(enciphered.size() / 2);
  for (size_t i = 0; i < enciphered.size(); i += 2) {
    const int hi = HexValue(enciphered[i]);
    const int lo = HexValue(enciphered[i + 1]);
    if (hi < 0 || lo < 0) {
      throw EConvertError(
          "Enciphered text holds a character that is not a hexadecimal digit at "
          "position " +
          std::to_string(hi < 0 ? i + 1 : i + 2));
    }
    const size_t pos = i / 2;
    out += static_cast<char>(
        Shift(static_cast<unsigned char>(hi * 16 + lo),
              -(static_cast<long long>(key) + static_cast<long long>(pos % 256))));
  }
  return out;
}

}  // namespace plat
