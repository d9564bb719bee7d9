// SPDX-License-Identifier: Apache-2.0
// The closing reports: the shift closing report and the general closing report. Both reconcile
// the till: the amount per payment type, the vouchers and the cash supply against the product
// sales, ending with the shortage (FALTA) or surplus (SOBRA). The caller opens the non-fiscal
// document; each report closes it.
#pragma once

#include "driver/form.h"
#include "platform/dataset.h"

namespace arfis {

// The voucher and supply totals of one closing operation. The operation starts them at 0; the
// shift report adds to them, the general report starts them again.
struct ClosingTotals {
  double doSangria = 0;
  double doCVEmitido = 0;
  double doCVRecebido = 0;
  double doSuprimento = 0;
};

// Shift report: the movements of the form's cdsMovAbertura (listed only when the host's
// cdsMovAberturaHost has rows) against the sum of VRTOTAL over the host's cdsProdAux, walked
// directly.
void RelatorioFechamentoTurno(TfrmArgentina& form, plat::TClientDataSet* cdsMovAberturaHost,
                              plat::TClientDataSet* cdsProdAux, ClosingTotals& totals);

// General report: the movements of the form's cdsMovTot against the sum of VRTOTAL over the
// host's cdsProdFechamento, walked directly.
void RelatorioFechamentoGeral(TfrmArgentina& form, plat::TClientDataSet* cdsProdFechamento,
                              ClosingTotals& totals);

}  // namespace arfis
