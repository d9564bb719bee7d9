// SPDX-License-Identifier: Apache-2.0
// Cash-out and till closing in one call: the host's movement data is copied into the driver
// form, then the receipt, the shift reports and, for a closing, the operator's questions with
// the closing reports. The Z reduction itself is left to the host: boReduziu tells it that the
// operator confirmed it.
#include "closing/ReciboSangria.h"
#include "closing/RelatorioFechamento.h"
#include "closing/nonfiscal.h"
#include "driver/Arfis770.h"
#include "driver/guard.h"
#include "platform/exceptions.h"

namespace {

// Replaces the form dataset's data with a full copy of the host's; the host's cursor stays.
void CopyHostData(plat::TClientDataSet& target, plat::TClientDataSet* host, const char* name) {
  if (host == nullptr)
    throw plat::Exception(plat::AnsiString("GeraReciboSangria: dataset ") + name +
                          " is not assigned");
  target.SetData(host->Data());
}

}  // namespace

ARFIS_API bool GeraReciboSangria(
    const plat::AnsiString& stCdPortaImpFis, const plat::AnsiString& stNrSerie,
    const plat::AnsiString& stCdFilial, const plat::AnsiString& stCdCaixa,
    const plat::AnsiString& /*stECF*/, int /*idTipoImpFis*/, plat::AnsiString& stCupomDia,
    plat::TClientDataSet* cdsMovFechaAux, plat::TClientDataSet* cdsSangriaAux,
    plat::TClientDataSet* cdsProdAux, plat::TClientDataSet* cdsOperSup,
    plat::TClientDataSet* cdsMovTotAux, plat::TClientDataSet* cdsMovAbertura,
    plat::TClientDataSet* cdsProdFechamento, plat::TDateTime /*dtAberCaixa*/, bool boImpRelSan,
    bool boImprimeRedZ, bool /*Reducao*/, plat::TClientDataSet*& /*cdsRedzAux*/,
    plat::TClientDataSet*& /*cdsFormRedzAux*/, plat::TClientDataSet*& /*cdsImpostoRedzAux*/,
    plat::TClientDataSet*& /*cdsTotNFisAux*/, bool& boReduziu, plat::TClientDataSet* cdsTipoRece,
    const plat::AnsiString& stEmiRelProd, const plat::AnsiString& stTribRelPro,
    const plat::AnsiString& stImpLeituraX, const plat::AnsiString& idImpEnvelope,
    const plat::AnsiString& stIdEsquema, bool boSangria, bool /*boFechDiaAnterior*/,
    bool boAccessImpRedz, const plat::AnsiString& stTipoSangria,
    const plat::AnsiString& stDescSangria) {
  ImpFisDebug("GeraReciboSangria");
  return arfis::Guarded(stIdEsquema, [&] {
    arfis::ClosingTotals totals;
    TfrmArgentina& form = arfis::Form();

    CopyHostData(form.cdsMovFecha, cdsMovFechaAux, "cdsMovFechaAux");
    CopyHostData(form.cdsSangria, cdsSangriaAux, "cdsSangriaAux");
    CopyHostData(form.cdsOperadorSup, cdsOperSup, "cdsOperSup");
    CopyHostData(form.cdsMovTot, cdsMovTotAux, "cdsMovTotAux");
    CopyHostData(form.cdsTipoReceAux, cdsTipoRece, "cdsTipoRece");
    CopyHostData(form.cdsMovAbertura, cdsMovAbertura, "cdsMovAbertura");
    boReduziu = false;

    // True when no non-fiscal document is open and the next report has to open one.
    bool boCupom = false;

    if (boImpRelSan) {
      if (stImpLeituraX == "S") Leitura_X_Imp(stCdPortaImpFis, stIdEsquema, "");
      arfis::ReciboSangria(form, boSangria, idImpEnvelope, stTipoSangria, stDescSangria);
      if (!boSangria) {
        boCupom = false;
        Relatorio_Produto(stCdPortaImpFis, "", stNrSerie, stCdFilial, stCdCaixa, stCupomDia,
                          cdsProdAux, stEmiRelProd, stTribRelPro, stIdEsquema, boCupom);
        if (!form.cdsMovTot.IsEmpty()) {
          // With boCupom False the product report printed nothing, and the receipt's document
          // is closed already: the closing report opens a document either way, so that its
          // lines are printed.
          arfis::NonFiscalOpen(form);
          arfis::RelatorioFechamentoTurno(form, cdsMovAbertura, cdsProdAux, totals);
        }
      }
    }

    if (boSangria) return false;

    if (arfis::Ask("AbreCaixa", stIdEsquema)) return true;
    if (!boImprimeRedZ || !boAccessImpRedz) return false;
    if (!arfis::Ask("ConfReducao", stIdEsquema)) return false;

    if (arfis::Ask("ConfRelFechamento", stIdEsquema)) {
      boCupom = true;
      Relatorio_Produto(stCdPortaImpFis, "", stNrSerie, stCdFilial, stCdCaixa, stCupomDia,
                        cdsProdFechamento, stEmiRelProd, stTribRelPro, stIdEsquema, boCupom);
      if (!form.cdsMovTot.IsEmpty()) {
        if (boCupom) arfis::NonFiscalOpen(form);
        arfis::RelatorioFechamentoGeral(form, cdsProdFechamento, totals);
      }
    }
    boReduziu = true;
    return false;
  });
}
