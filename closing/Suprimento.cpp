// SPDX-License-Identifier: Apache-2.0
// Opening-amount or cash-supply receipt: one non-fiscal line "label amount".
#include "driver/Arfis770.h"
#include "driver/form.h"
#include "driver/guard.h"
#include "platform/codepage.h"
#include "platform/format.h"

ARFIS_API bool Suprimento(const plat::AnsiString& /*stParam*/, const plat::AnsiString& stEsquemaCor,
                          double doValor, bool boEntraCaixa) {
  return arfis::Guarded(stEsquemaCor, [&] {
    TfrmArgentina& form = arfis::Form();
    const plat::AnsiString label = form.msgPadrao.Msg(boEntraCaixa ? "Aber_Caixa" : "Suprimento");
    plat::WideString wtTexto = plat::AnsiToWide(label + " " + plat::FormatFloat("#0.00", doValor));

    // Each step runs only while the printer has accepted the previous one; the three log
    // lines are written all the same.
    bool boRetorno = form.prfImpressora.OpenNoFiscal() != 0;
    ImpFisDebug("OpenNoFiscal");
    if (boRetorno) boRetorno = form.prfImpressora.SendNoFiscalText(wtTexto) != 0;
    arfis::LogWide(u"Suprimento: " + wtTexto);
    if (boRetorno) boRetorno = form.prfImpressora.CloseNoFiscal() != 0;
    ImpFisDebug("CloseNoFiscal");
    return boRetorno;
  });
}
