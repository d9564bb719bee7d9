// SPDX-License-Identifier: Apache-2.0
// Product sales report: the products of the host's dataset as a non-fiscal report, either as a
// plain list with totals or grouped by tax category with a summary per category.
#include "closing/nonfiscal.h"
#include "driver/Arfis770.h"
#include "driver/amounts.h"
#include "driver/form.h"
#include "driver/guard.h"
#include "platform/exceptions.h"
#include "platform/support.h"

namespace {

constexpr int kWidth = 40;

plat::AnsiString L(const plat::AnsiString& s, int n) {
  return plat::TamFixo(s, n);
}
plat::AnsiString R(const plat::AnsiString& s, int n) {
  return plat::TamFixoR(s, n);
}
plat::AnsiString C(const plat::AnsiString& s) {
  return plat::Centraliza(s, kWidth);
}
// An empty line and a line of forty blanks.
plat::AnsiString E() {
  return plat::Replicate("", kWidth);
}
plat::AnsiString B() {
  return plat::Replicate(" ", kWidth);
}

struct ReportTotals {
  double doValor = 0;
  double doVrAcre = 0;
  double doVrDesc = 0;

  void Add(plat::TClientDataSet& row) {
    doValor += row.FieldByName("VRTOTAL").AsFloat();
    doVrAcre += row.FieldByName("VRACRE").AsFloat();
    doVrDesc += row.FieldByName("VRDESC").AsFloat();
  }
};

// Every report line is printed and then logged.
void Line(TfrmArgentina& form, const plat::AnsiString& text) {
  arfis::NonFiscalLine(form, text, true);
}

plat::AnsiString ColumnHeading(const plat::TMessages& msg) {
  return L(msg.Msg("Codigo"), 13) + L(msg.Msg("Nome"), 15) + R(msg.Msg("Qtde_"), 4) +
         R(msg.Msg("Valor2"), 8);
}

// A product's line: code, name, quantity and value, the fields read in the order the line
// shows them (so a missing field is the first one the line needs).
plat::AnsiString ProductLine(plat::TClientDataSet& products, int quantityWidth, int valueWidth) {
  plat::AnsiString line = L(products.FieldByName("CDPRODUTO").AsString(), 11) + " ";
  line += L(products.FieldByName("NMPRODUTO").AsString(), 13) + " ";
  line += R(arfis::AmountText(products.FieldByName("QTPRODVEND").AsFloat()), quantityWidth);
  return line + R(arfis::AmountText(products.FieldByName("VRTOTAL").AsFloat()), valueWidth);
}

// The name of a zero-rate tax category, or the empty text for an unknown letter.
plat::AnsiString CategoryName(const plat::TMessages& msg, const plat::AnsiString& letter) {
  if (letter == "F") return msg.Msg("SubTrib");
  if (letter == "N") return msg.Msg("NIncide");
  if (letter == "I") return msg.Msg("Isento");
  return plat::AnsiString();
}

void PlainLayout(TfrmArgentina& form, ReportTotals& totals) {
  const plat::TMessages& msg = form.msgPadrao;
  plat::TClientDataSet& products = form.cdsProdVend;

  Line(form, E());
  Line(form, C(msg.Msg("RelProdutos")));
  Line(form, E());
  Line(form, ColumnHeading(msg));
  Line(form, E());
  products.First();
  while (!products.Eof()) {
    Line(form, ProductLine(products, 4, 10));
    totals.Add(products);
    products.Next();
  }
  products.Close();
  Line(form, E());
  Line(form, L(msg.Msg("Tot_Acre"), 30) + R(arfis::AmountText(totals.doVrAcre), 10));
  // The two last totals follow an empty line and are built on its text.
  plat::AnsiString text = E();
  Line(form, text);
  Line(form, text + L(msg.Msg("Tot_Desc"), 30) + R(arfis::AmountText(totals.doVrDesc), 10));
  text = E();
  Line(form, text);
  Line(form, text + L(msg.Msg("Tot_Valor"), 30) + R(arfis::AmountText(totals.doValor), 10));
  Line(form, E());
  arfis::NonFiscalClose(form);
}

void RecreateCategoryTotals(plat::TClientDataSet& cdsAliqProduto) {
  cdsAliqProduto.Close();
  cdsAliqProduto.ClearFieldDefs();
  cdsAliqProduto.AddFieldDef("IDTPIMPOSFIS", plat::FieldType::String);
  cdsAliqProduto.AddFieldDef("VRPERCSITTRIB", plat::FieldType::Float);
  cdsAliqProduto.AddFieldDef("VRTOTALALIQ", plat::FieldType::Float);
  cdsAliqProduto.CreateDataSet();
}

// Adds a product's value to its (letter, rate) category. A new category's row goes in before
// the current one, so the summary lists the categories last seen first.
void AddToCategory(plat::TClientDataSet& cdsAliqProduto, const plat::AnsiString& letter,
                   double rate, const plat::AnsiString& rateText, double value) {
  if (cdsAliqProduto.Locate("IDTPIMPOSFIS;VRPERCSITTRIB",
                            plat::VarArrayOf({plat::Variant(letter), plat::Variant(rateText)}))) {
    cdsAliqProduto.Edit();
    plat::TField total = cdsAliqProduto.FieldByName("VRTOTALALIQ");
    total.SetAsFloat(total.AsFloat() + value);
    cdsAliqProduto.Post();
  } else {
    cdsAliqProduto.Insert();
    cdsAliqProduto.FieldByName("VRPERCSITTRIB").SetAsFloat(rate);
    cdsAliqProduto.FieldByName("VRTOTALALIQ").SetAsFloat(value);
    cdsAliqProduto.FieldByName("IDTPIMPOSFIS").SetAsString(letter);
    cdsAliqProduto.Post();
  }
}

void TaxCategoryLayout(TfrmArgentina& form, ReportTotals& totals) {
  const plat::TMessages& msg = form.msgPadrao;
  plat::TClientDataSet& products = form.cdsProdVend;
  plat::TClientDataSet& categories = form.cdsAliqProduto;

  Line(form, E());
  RecreateCategoryTotals(categories);
  Line(form, C(msg.Msg("RelProdutos")));
  Line(form, E());
  Line(form, ColumnHeading(msg) + "\n");
  ImpFisDebug("");

  products.SetIndexName("idxTributacao");
  plat::AnsiString currentRate;
  plat::AnsiString currentLetter;
  products.First();
  while (!products.Eof()) {
    const plat::AnsiString letter = products.FieldByName("IDTPIMPOSFIS").AsString();
    const double rate = products.FieldByName("VRPEALIMPFIS").AsFloat();
    const plat::AnsiString rateText = products.FieldByName("VRPEALIMPFIS").AsString();

    if (rateText != currentRate || letter != currentLetter) {
      currentRate = rateText;
      plat::AnsiString heading;
      if (rate == 0) {
        if (letter != currentLetter) {
          heading = CategoryName(msg, letter);
          currentLetter = letter;
        }
      } else {
        heading = msg.Msg("TRIBUTACAO") + "  " + arfis::AmountText(rate);
        currentLetter = letter;
      }
      Line(form, heading);
    }

    Line(form, ProductLine(products, 5, 8));
    totals.Add(products);
    AddToCategory(categories, letter, rate, rateText, products.FieldByName("VRTOTAL").AsFloat());
    products.Next();
  }
  products.Close();

  Line(form, L(msg.Msg("Valor_"), 30) + R(arfis::AmountText(totals.doValor), 10));
  Line(form, B());
  Line(form, L(msg.Msg("TRIBUTADOS"), 30));
  // A zero-rate category with an unknown letter keeps the label of the line before it.
  plat::AnsiString label = currentRate;
  categories.First();
  while (!categories.Eof()) {
    const double rate = categories.FieldByName("VRPERCSITTRIB").AsFloat();
    if (rate != 0) {
      label = arfis::AmountText(rate);
    } else {
      const plat::AnsiString name =
          CategoryName(msg, categories.FieldByName("IDTPIMPOSFIS").AsString());
      if (!name.empty()) label = name;
    }
    Line(form, L(label, 30) +
                   R(arfis::AmountText(categories.FieldByName("VRTOTALALIQ").AsFloat()), 10) +
                   "\n");
    categories.Next();
  }
  Line(form, L(msg.Msg("Tot_Acre"), 35) + R(arfis::AmountText(totals.doVrAcre), 13));
  Line(form, B());
  Line(form, L(msg.Msg("Tot_Desc"), 30) + R(arfis::AmountText(totals.doVrDesc), 10));
  Line(form, B());
  Line(form, L(msg.Msg("Tot_Valor"), 30) + R(arfis::AmountText(totals.doValor), 10));
  Line(form, B());
  arfis::NonFiscalClose(form);
}

}  // namespace

ARFIS_API void Relatorio_Produto(
    const plat::AnsiString& /*stParam1*/, const plat::AnsiString& /*stParam2*/,
    const plat::AnsiString& /*stParam3*/, const plat::AnsiString& /*stCdFilial*/,
    const plat::AnsiString& /*stCdCaixa*/, plat::AnsiString& /*stCupomDia*/,
    plat::TClientDataSet* cdsProdAux, const plat::AnsiString& stEmiRelProd,
    const plat::AnsiString& stTribRelPro, const plat::AnsiString& stIdEsquema, bool& boCtrlCupom) {
  ImpFisDebug("Relatorio_Produto");
  arfis::Guarded(stIdEsquema, [&] {
    if (frmArgentina == nullptr) {
      frmArgentina = new TfrmArgentina();
      frmArgentina->Hide();
    }
    TfrmArgentina& form = *frmArgentina;

    if (cdsProdAux == nullptr)
      throw plat::Exception("Relatorio_Produto: the product dataset is not assigned");
    form.cdsProdVend.SetData(cdsProdAux->Data());
    ReportTotals totals;

    if (stEmiRelProd == "S") {
      if (!arfis::Ask("ConfRelProds", stIdEsquema)) return false;
    } else if (stEmiRelProd != "N") {
      return false;
    }

    // The caller's document is closed before the report opens its own.
    if (!boCtrlCupom) arfis::NonFiscalClose(form);
    boCtrlCupom = true;

    if (form.cdsProdVend.IsEmpty()) return true;
    arfis::NonFiscalOpen(form);
    if (stTribRelPro == "S")
      TaxCategoryLayout(form, totals);
    else
      PlainLayout(form, totals);
    return true;
  });
}
