// SPDX-License-Identifier: Apache-2.0
#include "sales/item_line.h"

#include <vector>

#include "driver/amounts.h"
#include "driver/guard.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/support.h"
#include "sales/log_text.h"

namespace arfis {

namespace {

// The unit price without VAT: price - (r * price) / (r + 100), in extended precision.
double NetPrice(double price, const plat::AnsiString& rateText) {
  const long double r = plat::StrToFloat(rateText);
  const long double p = price;
  if (r + 100.0L == 0.0L) {
    // A rate of -100 % has no price without VAT; refuse it instead of dividing by zero.
    throw plat::EConvertError("The VAT rate " + rateText + " gives no price without VAT");
  }
  return static_cast<double>(p - (r * p) / (r + 100.0L));
}

}  // namespace

bool SendItemLine(const ItemLine& line, ItemCaller caller) {
  TfrmArgentina& form = Form();

  plat::WideString description = plat::AnsiToWide(form.RetiraCaracter(line.description));
  plat::WideString quantity = plat::AnsiToWide(PrinterAmount(line.quantity));
  // The rate is rounded to two decimals; from here on the formatted text is the rate.
  const plat::AnsiString rateText = plat::FormatFloat("000000.00", plat::StrToFloat(line.rate));
  plat::WideString rate = plat::AnsiToWide(rateText);
  plat::WideString qualifier = line.qualifier;
  plat::WideString qtdeCultos = line.qtdeCultos;
  plat::WideString imposInterPerc = line.imposInterPerc;
  plat::WideString imposInterFixo = line.imposInterFixo;

  const plat::WideString prefix =
      caller == ItemCaller::VendaItem ? u"VendaItem:  - " : u"Cancela_ItGenerico: ";

  const bool ticket = line.documentKind == "T";
  if (!ticket && line.documentKind != "A" && line.documentKind != "C") return false;
  // An invoice line carries the unit price without VAT.
  plat::WideString price =
      plat::AnsiToWide(PrinterAmount(ticket ? line.price : NetPrice(line.price, rateText)));
  plat::WideString empty8, empty9, empty10, empty11;  // the invoice line's unused arguments
  const int16_t accepted =
      ticket ? form.prfImpressora.SendTicketItem(description, quantity, price, rate, qualifier,
                                                 qtdeCultos, imposInterPerc, imposInterFixo)
             : form.prfImpressora.SendInvoiceItem(description, quantity, price, rate, qualifier,
                                                  qtdeCultos, imposInterPerc, empty8, empty9,
                                                  empty10, empty11, imposInterFixo);
  if (accepted == 0) return false;
  // The item sale logs the first five arguments, the cancellation every argument it sent.
  std::vector<plat::WideString> logged{description, quantity, price, rate, qualifier};
  if (caller == ItemCaller::CancelaItGenerico) {
    logged.insert(logged.end(), {qtdeCultos, imposInterPerc});
    if (!ticket) logged.insert(logged.end(), {empty8, empty9, empty10, empty11});
    logged.push_back(imposInterFixo);
  }
  LogWide(JoinLog(prefix, logged));
  return true;
}

}  // namespace arfis
