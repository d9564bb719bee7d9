#include "sales/item_line.h"

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

  if (line.documentKind == "T") {
    plat::WideString price = plat::AnsiToWide(PrinterAmount(line.price));
    if (form.prfImpressora.SendTicketItem(description, quantity, price, rate, qualifier, qtdeCultos,
                                          imposInterPerc, imposInterFixo) == 0) {
      return false;
    }
    if (caller == ItemCaller::VendaItem) {
      LogWide(JoinLog(prefix, {description, quantity, price, rate, qualifier}));
    } else {
      LogWide(JoinLog(prefix, {description, quantity, price, rate, qualifier, qtdeCultos,
                               imposInterPerc, imposInterFixo}));
    }
    return true;
  }

  if (line.documentKind == "A" || line.documentKind == "C") {
    plat::WideString price = plat::AnsiToWide(PrinterAmount(NetPrice(line.price, rateText)));
    plat::WideString empty8, empty9, empty10, empty11;
    if (form.prfImpressora.SendInvoiceItem(description, quantity, price, rate, qualifier,
                                           qtdeCultos, imposInterPerc, empty8, empty9, empty10,
                                           empty11, imposInterFixo) == 0) {
      return false;
    }
    if (caller == ItemCaller::VendaItem) {
      LogWide(JoinLog(prefix, {description, quantity, price, rate, qualifier}));
    } else {
      LogWide(JoinLog(prefix, {description, quantity, price, rate, qualifier, qtdeCultos,
                               imposInterPerc, empty8, empty9, empty10, empty11, imposInterFixo}));
    }
    return true;
  }

  return false;
}

}  // namespace arfis
