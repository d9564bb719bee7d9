// SPDX-License-Identifier: Apache-2.0
#include "closing/RelatorioFechamento.h"

#include "closing/nonfiscal.h"
#include "driver/Arfis770.h"
#include "driver/amounts.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/support.h"

namespace arfis {

namespace {

constexpr int kWidth = 40;

// A label in 30 columns followed by an amount in 10.
plat::AnsiString ValueLine(const plat::AnsiString& label, double value) {
  return plat::TamFixo(label, 30) + plat::TamFixoR(AmountText(value), 10);
}

plat::TClientDataSet& Require(plat::TClientDataSet* ds, const char* name) {
  if (ds == nullptr)
    throw plat::Exception(plat::AnsiString("Closing report: dataset ") + name + " is not assigned");
  return *ds;
}

// Sum of VRTOTAL over every row; the host's cursor ends past the last row.
double SumSales(plat::TClientDataSet& products) {
  double sum = 0;
  products.First();
  while (!products.Eof()) {
    sum += products.FieldByName("VRTOTAL").AsFloat();
    products.Next();
  }
  return sum;
}

// Walks the movement rows from the first: payment types ("1", "5", "A") are listed and summed
// into doSangria; the last voucher issued ("2"), cash supply ("3") and voucher received ("4")
// rows give those totals; other kinds are ignored.
void WalkMovements(TfrmArgentina& form, plat::TClientDataSet& rows, plat::TField& name,
                   ClosingTotals& totals) {
  rows.First();
  while (!rows.Eof()) {
    const plat::AnsiString kind = rows.FieldByName("IDTIPOREG").AsString();
    const double amount = rows.FieldByName("VRSAIDA").AsFloat();
    if (kind == "1" || kind == "5" || kind == "A") {
      NonFiscalLine(form, ValueLine(name.AsString(), amount), true);
      totals.doSangria += amount;
    } else if (kind == "2") {
      totals.doCVEmitido = amount;
    } else if (kind == "3") {
      totals.doSuprimento = amount;
    } else if (kind == "4") {
      totals.doCVRecebido = amount;
    }
    rows.Next();
  }
}

// FALTA for any negative difference, however small; SOBRA otherwise.
plat::AnsiString ResultLine(const plat::TMessages& msg, double doSobraFalta) {
  return ValueLine(msg.Msg(doSobraFalta < 0 ? "Falta" : "Sobra"), doSobraFalta);
}

// The printed total of withdrawals: payment types plus vouchers received, less the cash
// supply and the vouchers issued.
double Withdrawals(const ClosingTotals& t) {
  return t.doSangria + t.doCVRecebido - t.doSuprimento - t.doCVEmitido;
}

}  // namespace

void RelatorioFechamentoTurno(TfrmArgentina& form, plat::TClientDataSet* cdsMovAberturaHost,
                              plat::TClientDataSet* cdsProdAux, ClosingTotals& totals) {
  const plat::TMessages& msg = form.msgPadrao;
  const double doValorVenda = SumSales(Require(cdsProdAux, "cdsProdAux"));

  NonFiscalLine(form, plat::Centraliza(msg.Msg("RelFechamento"), kWidth) + "\n", true);
  const plat::AnsiString sales = ValueLine(msg.Msg("Vendas"), doValorVenda) + "\n";
  NonFiscalLine(form, sales, false);
  NonFiscalLine(form, sales + plat::Replicate("-", kWidth) + "\n", true);

  totals.doSangria = 0;
  if (!Require(cdsMovAberturaHost, "cdsMovAbertura").IsEmpty())
    WalkMovements(form, form.cdsMovAbertura, form.cdsMovAberturaNMTIPORECE, totals);

  NonFiscalLine(form, ValueLine(msg.Msg("CV-RECEBIDO") + "(+)", totals.doCVRecebido), true);
  NonFiscalLine(form, ValueLine(msg.Msg("CV-EMITIDO") + "(-)", totals.doCVEmitido), true);
  NonFiscalLine(
      form, ValueLine(plat::UpperCase(msg.Msg("Suprimento")) + "(-)", totals.doSuprimento), true);
  NonFiscalLine(form, plat::Replicate("-", kWidth), true);
  NonFiscalLine(form, ValueLine(msg.Msg("Sangrias"), Withdrawals(totals)), true);
  NonFiscalLine(form, "", false);
  const double doSobraFalta = totals.doSangria + totals.doCVRecebido - totals.doCVEmitido -
                              totals.doSuprimento - doValorVenda;
  NonFiscalLine(form, ResultLine(msg, doSobraFalta), true);
  NonFiscalClose(form);
}

void RelatorioFechamentoGeral(TfrmArgentina& form, plat::TClientDataSet* cdsProdFechamento,
                              ClosingTotals& totals) {
  const plat::TMessages& msg = form.msgPadrao;
  const double doValorTotal = SumSales(Require(cdsProdFechamento, "cdsProdFechamento"));
  const plat::AnsiString blanks = plat::Replicate(" ", kWidth);

  NonFiscalLine(form, plat::Centraliza(msg.Msg("relFechamentoGeral"), kWidth) + "\n", true);
  NonFiscalLine(form, blanks, true);
  const plat::AnsiString sales = ValueLine(msg.Msg("Vendas"), doValorTotal) + "\n";
  NonFiscalLine(form, sales, true);
  NonFiscalLine(form, sales + plat::Replicate("-", kWidth), true);

  totals = ClosingTotals{};
  WalkMovements(form, form.cdsMovTot, form.cdsMovTotNMTIPORECE, totals);

  NonFiscalLine(form, ValueLine(msg.Msg("CV-RECEBIDO") + "(+)", totals.doCVRecebido), true);
  NonFiscalLine(form, ValueLine(msg.Msg("CV-EMITIDO") + "(-)", totals.doCVEmitido), true);
  const plat::AnsiString supply =
      ValueLine(plat::UpperCase(msg.Msg("Suprimento")) + "(-)", totals.doSuprimento) + "\n";
  NonFiscalLine(form, supply, false);
  NonFiscalLine(form, supply + plat::Replicate("-", kWidth), true);
  NonFiscalLine(form, ValueLine(msg.Msg("Sangrias"), Withdrawals(totals)), true);
  NonFiscalLine(form, blanks, true);
  const double doSobraFalta = totals.doSangria + totals.doCVRecebido - totals.doSuprimento -
                              totals.doCVEmitido - doValorTotal;
  NonFiscalLine(form, ResultLine(msg, doSobraFalta), true);
  NonFiscalClose(form);
}

}  // namespace arfis
