// SPDX-License-Identifier: Apache-2.0
// The hidden driver form: the central object that owns the printer control, the work datasets
// and the message table. It is never shown.
#pragma once

#include <optional>

#include "platform/dataset.h"
#include "platform/support.h"
#include "printer/printer.h"

class TfrmArgentina {
 public:
  // Creates the components in declaration order, declares the design-time fields and indexes
  // and loads the message table.
  TfrmArgentina();

  void Hide() { visible_ = false; }
  bool Visible() const { return visible_; }

  // Components, in declaration order.
  plat::TClientDataSet cdsPers{"cdsPers"};
  plat::TClientDataSet cdsMovFecha{"cdsMovFecha"};
  plat::TClientDataSet cdsSangria{"cdsSangria"};
  plat::TClientDataSet cdsOperadorSup{"cdsOperadorSup"};
  plat::TClientDataSet cdsMovTot{"cdsMovTot"};
  plat::TClientDataSet cdsTipoReceAux{"cdsTipoReceAux"};
  plat::TMessages msgPadrao;
  plat::TClientDataSet cdsMovAbertura{"cdsMovAbertura"};
  plat::TClientDataSet cdsMovCaixa{"cdsMovCaixa"};
  plat::TClientDataSet cdsRecebAux{"cdsRecebAux"};
  plat::TClientDataSet cdsProdVend{"cdsProdVend"};
  plat::TClientDataSet cdsAliqProduto{"cdsAliqProduto"};
  plat::TClientDataSet cdsReducaoZ{"cdsReducaoZ"};
  plat::TClientDataSet cdsEmprestimo{"cdsEmprestimo"};
  plat::TClientDataSet cdsFamiliaSaldo{"cdsFamiliaSaldo"};
  plat::TClientDataSet cdsSaldCred{"cdsSaldCred"};
  plat::TPrinterFiscal prfImpressora;

  // Persistent field objects read by name.
  plat::TField cdsMovFechaNRENVELOPE{cdsMovFecha, "NRENVELOPE"};
  plat::TField cdsMovFechaNMTIPORECE{cdsMovFecha, "NMTIPORECE"};
  plat::TField cdsMovAberturaNMTIPORECE{cdsMovAbertura, "NMTIPORECE"};
  plat::TField cdsMovTotNMTIPORECE{cdsMovTot, "NMTIPORECE"};

  // "COM1" to "COM12" to 1 to 12, compared whole and case-sensitive; anything else 0.
  int ConvertePorta(const plat::AnsiString& stPortaImp);
  // The printer's date and time, "dd/mm/yy hh:nn". A failure shows the error dialog with the
  // colour scheme and answers no value, so that the caller keeps what its variable held.
  std::optional<plat::AnsiString> getDataImp(const plat::AnsiString& stEsquemaCor);
  // The item description with ñ and Ñ replaced by n and N.
  plat::AnsiString RetiraCaracter(const plat::AnsiString& stNmProduto);

 private:
  bool visible_ = false;
};
