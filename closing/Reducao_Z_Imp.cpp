// Z reduction: ends the fiscal day, then captures the printer's Z figures to the Z data file.
#include "driver/Arfis770.h"
#include "driver/form.h"
#include "driver/guard.h"

ARFIS_API bool Reducao_Z_Imp(const plat::AnsiString& /*stParam1*/,
                             const plat::AnsiString& stEsquemaCor,
                             const plat::AnsiString& /*stParam3*/) {
  return arfis::Guarded(stEsquemaCor, [&] {
    TfrmArgentina& form = arfis::Form();
    bool result = false;
    plat::WideString wtReducao = u"Z";
    plat::WideString wtParamFixo;
    if (form.prfImpressora.CloseJournal(wtReducao, wtParamFixo) != 0) {
      result = true;
      arfis::LogWide(u"Reducao_Z_Imp - CloseJournal: " + wtReducao + u" - " + wtParamFixo);
    }
    // The capture also runs after a refused reduction, from the answer fields as they stand;
    // a failure inside it makes the whole call fail.
    BuscaDadosReducaoZ();
    return result;
  });
}
