// SPDX-License-Identifier: Apache-2.0
#include <memory>

#include "driver/Arfis770.h"
#include "driver/guard.h"
#include "platform/codepage.h"
#include "platform/format.h"
#include "platform/os.h"

// Cancels the open ticket with one payment line "C" for the total of the sale the host saved
// beside itself. No guard: failures raise to the host. Without a sale file nothing is sent and
// the answer is False, since nothing was cancelled.
ARFIS_API bool Cancela_Cupom_Imp(const ArfisOpenArray& /*arParams*/,
                                 plat::Variant& /*oleRetorno*/) {
  TfrmArgentina& form = arfis::Form();
  const plat::AnsiString path = DsDirCad + "cdsVenda.cds";
  if (!plat::FileExists(path)) return false;

  double doTotal = 0;
  {
    auto cdsVenda = std::make_unique<plat::TClientDataSet>("cdsVenda");
    cdsVenda->FileName = path;
    cdsVenda->Open();
    for (cdsVenda->First(); !cdsVenda->Eof(); cdsVenda->Next()) {
      doTotal += cdsVenda->FieldByName("VRPRECCOMVEN").AsFloat();
    }
  }

  plat::WideString wtParam1 = u"Dinheiro";
  plat::WideString wtParam2 = plat::AnsiToWide(plat::FloatToStr(doTotal));
  plat::WideString wtParam3 = u"C";
  return form.prfImpressora.SendTicketPayment(wtParam1, wtParam2, wtParam3) != 0;
}
