// SPDX-License-Identifier: Apache-2.0
#include "driver/Arfis770.h"
#include "driver/guard.h"
#include "platform/codepage.h"
#include "platform/support.h"
#include "sales/log_text.h"

namespace {

plat::AnsiString FirstChar(const plat::AnsiString& s) {
  return s.substr(0, 1);
}

}  // namespace

// Opens a ticket ("T") or an invoice of letter "A"/"C" with the buyer's data, then hands the
// host back the six values it needs for the rest of the sale.
ARFIS_API bool AbreCupom(plat::Variant& Params) {
  // Read before the guard: a value that does not convert raises to the host and Params stays
  // as it was passed.
  const plat::AnsiString stEsquemaCor = plat::RecebeParams(Params, "ESQUEMACOR").AsString();
  const plat::AnsiString stIncluiCpf = plat::RecebeParams(Params, "INCLUICPF").AsString();
  const plat::AnsiString stIncluiNome = plat::RecebeParams(Params, "INCLUINOME").AsString();
  const plat::AnsiString stIncluiEndereco = plat::RecebeParams(Params, "INCLUIENDERECO").AsString();
  const plat::AnsiString stCupNr = plat::RecebeParams(Params, "CUPNR").AsString();
  const plat::AnsiString stContCupom = plat::RecebeParams(Params, "CONTCUPOM").AsString();
  const plat::AnsiString stTipoTicket = plat::RecebeParams(Params, "TIPOTICKET").AsString();
  const plat::AnsiString stIvaComp = plat::RecebeParams(Params, "IVACOMP").AsString();
  const plat::AnsiString stIvaProp = plat::RecebeParams(Params, "IVAPROP").AsString();
  const plat::AnsiString stTipoDoc = plat::RecebeParams(Params, "TIPODOC").AsString();
  const plat::AnsiString stNrDoc = plat::RecebeParams(Params, "NRDOC").AsString();
  plat::RecebeParams(Params, "MESA").AsString();
  plat::RecebeParams(Params, "IDUTILTEF").AsString();
  const int32_t inTefErro = plat::RecebeParams(Params, "INTTEFERRO").AsInteger();

  const bool result = arfis::Guarded(stEsquemaCor, [&] {
    if (stTipoTicket == "T") {
      plat::WideString wtCupomCompleto = u"G";
      const bool accepted = arfis::Form().prfImpressora.OpenTicket(wtCupomCompleto) != 0;
      arfis::LogWide(u"AbreCupom(OpenTicket) :" + plat::AnsiToWide(stTipoTicket) + u" - " +
                     wtCupomCompleto);
      return accepted;
    }
    if (stTipoTicket == "A" || stTipoTicket == "C") {
      plat::WideString wtCupomCompleto = u"T";
      plat::WideString wtSaida = u"C";
      plat::WideString wtTpTicket = plat::AnsiToWide(stTipoTicket);
      plat::WideString wtqtdeCopia = u"1";
      plat::WideString wtTipoForm = u"F";
      plat::WideString wtParamFixo6, wtParamFixo10, wtParamFixo15, wtParamFixo16, wtParamFixo17,
          wtParamFixo18;
      plat::WideString wtComp = plat::AnsiToWide(FirstChar(stIvaComp));
      plat::WideString wtProp = plat::AnsiToWide(FirstChar(stIvaProp));
      plat::WideString wtNomeComp = plat::AnsiToWide(stIncluiNome);
      plat::WideString wtTpDoc = plat::AnsiToWide(stTipoDoc);
      plat::WideString wtNumDoc = plat::AnsiToWide(stNrDoc);
      plat::WideString wtTipoBem = u"B";
      plat::WideString wtEndereco = plat::AnsiToWide(stIncluiEndereco);
      plat::WideString wtTipoItem = u"C";
      const int16_t answer = arfis::Form().prfImpressora.OpenInvoice(
          wtCupomCompleto, wtSaida, wtTpTicket, wtqtdeCopia, wtTipoForm, wtParamFixo6, wtComp,
          wtProp, wtNomeComp, wtParamFixo10, wtTpDoc, wtNumDoc, wtTipoBem, wtEndereco,
          wtParamFixo15, wtParamFixo16, wtParamFixo17, wtParamFixo18, wtTipoItem);
      arfis::LogWide(
          arfis::JoinLog(u"AbreCupom(OpenInVoice): ", {wtTpTicket, wtCupomCompleto, wtComp, wtProp,
                                                       wtNomeComp, wtTpDoc, wtNumDoc, wtEndereco}));
      return answer != 0;
    }
    return false;
  });

  Params = plat::MakeBundle({{"INTTEFERRO", plat::Variant(static_cast<int>(inTefErro))},
                             {"INCLUICPF", plat::Variant(stIncluiCpf)},
                             {"INCLUINOME", plat::Variant(stIncluiNome)},
                             {"INCLUIENDERECO", plat::Variant(stIncluiEndereco)},
                             {"CUPNR", plat::Variant(stCupNr)},
                             {"CONTCUPOM", plat::Variant(stContCupom)}});
  return result;
}
