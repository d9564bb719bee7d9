// SPDX-License-Identifier: Apache-2.0
// Printer start: creates the driver form with its printer control and sets the serial port.
// No printer command is sent here.
#include <memory>

#include "driver/Arfis770.h"
#include "driver/guard.h"
#include "platform/format.h"
#include "platform/support.h"

ARFIS_API bool StartImpFiscal(const plat::Variant& Params) {
  // Read before the guard: a value that cannot be converted reaches the host.
  const plat::AnsiString stCdFilial = plat::RecebeParams(Params, "CDFILIAL").AsString();
  const plat::AnsiString stCdCaixa = plat::RecebeParams(Params, "CDCAIXA").AsString();
  const plat::AnsiString stNrSerie = plat::RecebeParams(Params, "NRSERIEIMP").AsString();
  const plat::AnsiString stEsquemaCor = plat::RecebeParams(Params, "ESQUEMA").AsString();
  const plat::AnsiString stCdPortaImpFis = plat::RecebeParams(Params, "CDPORTAIMPFIS").AsString();
  (void)stCdFilial;
  (void)stCdCaixa;
  (void)stNrSerie;

  return arfis::Guarded(stEsquemaCor, [&] {
    // A form replaced by a second start is released: nothing else holds it.
    auto form = std::make_unique<TfrmArgentina>();
    delete frmArgentina;
    frmArgentina = form.release();
    frmArgentina->Hide();
    const int n = frmArgentina->ConvertePorta(stCdPortaImpFis);
    frmArgentina->prfImpressora.SetPortNumber(plat::Variant(n));
    ImpFisDebug("StartImpFiscal - PortNumber: " + plat::IntToStr(n));
    return true;
  });
}
