// SPDX-License-Identifier: Apache-2.0
#include "driver/Arfis770.h"
#include "driver/guard.h"
#include "platform/codepage.h"
#include "sales/item_line.h"

// One item line with the host's qualifier and further fields, sent unchanged; the host uses it
// to take an item back.
ARFIS_API bool Cancela_ItGenerico(
    const plat::AnsiString& stEsquemaCor, const plat::AnsiString& /*stParam*/,
    const plat::WideString& NmProd, const plat::WideString& TaxaIva,
    const plat::WideString& Qualificador, const plat::WideString& QtdeCultos,
    const plat::WideString& ImposInterPerc, const plat::WideString& ImpostoInterFixo,
    const plat::WideString& stTipoTicket, double doQtda, double doValor) {
  return arfis::Guarded(stEsquemaCor, [&] {
    arfis::ItemLine line;
    // The description is cleaned in Windows-1252: what that code page cannot hold is lost.
    line.description = plat::WideToAnsi(NmProd);
    line.rate = plat::WideToAnsi(TaxaIva);
    line.documentKind = plat::WideToAnsi(stTipoTicket);
    line.qualifier = Qualificador;
    line.qtdeCultos = QtdeCultos;
    line.imposInterPerc = ImposInterPerc;
    line.imposInterFixo = ImpostoInterFixo;
    line.quantity = doQtda;
    line.price = doValor;
    return arfis::SendItemLine(line, arfis::ItemCaller::CancelaItGenerico);
  });
}
