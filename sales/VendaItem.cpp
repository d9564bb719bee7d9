// SPDX-License-Identifier: Apache-2.0
#include "driver/Arfis770.h"
#include "driver/guard.h"
#include "platform/support.h"
#include "sales/item_line.h"

// Sells one item on the open ticket or invoice: qualifier "M", the three further fields "0".
ARFIS_API bool VendaItem(const plat::Variant& Params) {
  // The bundle is read before the guard: a quantity or price that is not a number raises to
  // the host and nothing is sent.
  const plat::AnsiString stEsquemaCor = plat::RecebeParams(Params, "ESQUEMACOR").AsString();
  plat::RecebeParams(Params, "MESA").AsString();
  plat::RecebeParams(Params, "FLAG").AsString();
  plat::RecebeParams(Params, "CDARVPROD").AsString();
  const plat::AnsiString NmProd = plat::RecebeParams(Params, "NMPROD").AsString();
  plat::RecebeParams(Params, "CDALIQ").AsString();
  plat::RecebeParams(Params, "IDALIQ").AsString();
  const double doQtde = plat::RecebeParams(Params, "QTDE").AsDouble();
  const double doValor = plat::RecebeParams(Params, "VALOR").AsDouble();
  plat::RecebeParams(Params, "UNIDADE").AsString();
  const plat::AnsiString stTipoTicket = plat::RecebeParams(Params, "TIPOTICKET").AsString();
  const plat::AnsiString stVrPercAliq = plat::RecebeParams(Params, "VRPERCALIQ").AsString();

  arfis::ItemLine line;
  line.description = NmProd;
  line.rate = stVrPercAliq;
  line.documentKind = stTipoTicket;
  line.qualifier = u"M";
  line.qtdeCultos = u"0";
  line.imposInterPerc = u"0";
  line.imposInterFixo = u"0";
  line.quantity = doQtde;
  line.price = doValor;

  return arfis::Guarded(stEsquemaCor,
                        [&] { return arfis::SendItemLine(line, arfis::ItemCaller::VendaItem); });
}
