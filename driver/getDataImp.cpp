// SPDX-License-Identifier: Apache-2.0
// The printer's clock as the text "dd/mm/yy hh:nn", read with the date-time command.
#include "driver/Arfis770.h"
#include "driver/form.h"
#include "driver/guard.h"
#include "platform/codepage.h"

namespace {

// Characters [first, first + count) of a printer answer, 1-based, as far as they exist: a
// short answer gives a shorter (possibly empty) piece, never a read beyond its end.
plat::WideString Piece(const plat::WideString& text, size_t first, size_t count) {
  if (first == 0 || first > text.size()) return plat::WideString();
  return text.substr(first - 1, count);
}

}  // namespace

std::optional<plat::AnsiString> TfrmArgentina::getDataImp(const plat::AnsiString& stEsquemaCor) {
  return arfis::GuardedValue(stEsquemaCor, [&] {
    plat::WideString wtParametro = u"G";
    plat::WideString wtData;
    plat::WideString wtHora;
    if (prfImpressora.SetGetDateTime(wtParametro, wtData, wtHora) != 0) {
      // The printer answers YYMMDD and HHMMSS; the seconds are dropped.
      wtData = prfImpressora.AnswerField_3().AsWideString();
      wtHora = prfImpressora.AnswerField_4().AsWideString();
      wtData = Piece(wtData, 5, 2) + u"/" + Piece(wtData, 3, 2) + u"/" + Piece(wtData, 1, 2);
      wtHora = Piece(wtHora, 1, 2) + u":" + Piece(wtHora, 3, 2);
      arfis::LogWide(u"getDataImp:  - " + wtData + u" - " + wtHora);
    }
    // After a refused command this is what the control left in the two arguments.
    return plat::WideToAnsi(wtData + u" " + wtHora);
  });
}
