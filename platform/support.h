// SPDX-License-Identifier: Apache-2.0
// The host's support package: parameter bundles, the message dialog, the message table, text
// layout routines and the settings cipher.
// Thread safety: Mensagem and SetMensagemHandler may be called from any thread (the handler
// is taken under a lock and runs without it); the layout, number and cipher routines are pure
// functions; a TMessages object is read-only once loaded.
#pragma once

#include <functional>
#include <vector>

#include "platform/export.h"
#include "platform/variant.h"

namespace plat {

class TClientDataSet;

// ---- Bundles -------------------------------------------------------------------------------

// The value stored under key in a bundle (an array of (key, value) pairs). Keys compare
// exactly. A key that the bundle lacks answers an Empty variant (it reads as "" and 0).
// A params value that is not an array of pairs raises EVariantError.
PLAT_API Variant RecebeParams(const Variant& params, const AnsiString& key);

// ---- Numbers -------------------------------------------------------------------------------

// The value cut to two decimals, towards zero. The value is first taken to the nearest
// hundredth-of-a-millionth, so a stored 0.29 (just below 0.29) gives 0.29, and 1.999 gives
// 1.99.
PLAT_API double Trunc2(double value);

// ---- Message dialog ------------------------------------------------------------------------

// Message kinds. Errors are shown with kind 3, questions asked with kind 1.
enum TTipoMsg : int { tmInformacao = 0, tmPergunta = 1, tmAviso = 2, tmErro = 3 };

struct MensagemCall {
  AnsiString Text;       // (1)
  AnsiString Arg2;       // (2)
  AnsiString Arg3;       // (3)
  AnsiString Arg4;       // (4) "S" for a question
  TTipoMsg Kind;         // (5)
  AnsiString Arg6;       // (6)
  AnsiString Scheme;     // (7) colour scheme
  int Arg8;              // (8)
  TClientDataSet* Data;  // (9)
};

using MensagemHandler = std::function<bool(const MensagemCall&)>;

// Shows the host's dialog and answers True when the operator answers yes. Calls the handler
// that the host installed. The default handler writes the message to standard error (as
// UTF-8) and, for a question, reads y/s (yes) or n (no) from the terminal; with no terminal on
// standard input it answers no.
PLAT_API bool Mensagem(const AnsiString& text, const AnsiString& arg2, const AnsiString& arg3,
                       const AnsiString& arg4, TTipoMsg kind, const AnsiString& arg6,
                       const AnsiString& scheme, int arg8, TClientDataSet* data);
// Installs the host's handler; an empty function restores the default.
PLAT_API void SetMensagemHandler(MensagemHandler handler);

// ---- Message table -------------------------------------------------------------------------

// A table of key/text pairs loaded from "key|text" lines (the first '|' splits).
class PLAT_API TMessages {
 public:
  void LoadLines(const std::vector<AnsiString>& lines);
  const std::vector<AnsiString>& Lines() const { return lines_; }
  int Count() const { return static_cast<int>(lines_.size()); }
  // The text stored under key (exact, case-sensitive). A key that the table does not hold
  // answers the key itself, so a printed line still says what it is about.
  AnsiString Msg(const AnsiString& key) const;

 private:
  std::vector<AnsiString> lines_;
};

// ---- Text layout ---------------------------------------------------------------------------

// The text centred in width columns: (width - length) / 2 blanks before it, the rest after it;
// a longer text is cut to its first width characters.
PLAT_API AnsiString Centraliza(const AnsiString& text, int width);
// The text made exactly width columns long, aligned left: blanks after it, or cut to its
// first width characters.
PLAT_API AnsiString TamFixo(const AnsiString& text, int width);
// The same, aligned right: blanks before it, or cut to its first width characters.
PLAT_API AnsiString TamFixoR(const AnsiString& text, int width);
// The pattern repeated count times; an empty pattern gives the empty text.
PLAT_API AnsiString Replicate(const AnsiString& pattern, int count);
// A number text fitted to width: blanks around removed, zeros before it up to width; a longer
// text keeps its last width characters.
PLAT_API AnsiString Ajusta(const AnsiString& text, int width);
PLAT_API bool EmptyString(const AnsiString& text);

// ---- Settings cipher -----------------------------------------------------------------------

// Enciphered text: two upper-case hexadecimal digits per byte, each byte being
// (clear byte + key + position) modulo 256, position counting from 0. Uncripto of a text that
// is not such hexadecimal raises EConvertError.
PLAT_API AnsiString Cripto(const AnsiString& clear, int key);
PLAT_API AnsiString Uncripto(const AnsiString& enciphered, int key);

}  // namespace plat
