// SPDX-License-Identifier: Apache-2.0
// The driver form: its components, design-time fields and indexes, and the message table.
#include "driver/form.h"

#include <vector>

namespace {

// The message table, in its stored order, "key|text", Windows-1252.
const std::vector<plat::AnsiString> kMessageLines = {
    "Envelope|NR. ENV",
    "Modalidade|MODALIDADE",
    "Valor_|VALOR",
    "RecSangria3|RECIBO SA\xCD"
    "DA NUMER\xC1RIO",
    "RecSangria1|SAIDA DE NUMERARIO - SANGRIA",
    "Sangrias|TOTAL SANGRIAS",
    "Superv|Supervisor",
    "Operador|Operador",
    "RelFechamento|RELATORIO DE FECHAMENTO",
    "Vendas|TOTAL VENDAS",
    "CV-EMITIDO|CONTRA-VALE EMITIDO",
    "Suprimento|Suprimento",
    "Falta|FALTA",
    "Sobra|SOBRA",
    "ConfRelFechamento|Confirma impress\xE3o dos relat\xF3rios de fechamento?",
    "ConfRelProds|Confirma impress\xE3o do Relat\xF3rio de Produtos?",
    "Codigo|CODIGO",
    "Nome|NOME",
    "Qtde_|QTDE",
    "Valor2|VLR.TOT.",
    "SubTrib|Subst. Tributaria",
    "NIncide|N\xE3o Incide",
    "Isento|Isento",
    "TRIBUTACAO|Tributacao",
    "TRIBUTADOS|Tributados",
    "Tot_Acre|Total de Acr\xE9scimos",
    "Tot_Desc|Total de Descontos",
    "Tot_Valor|Total das Vendas",
    "CV-RECEBIDO|CONTRA-VALE RECEBIDO",
    "AbreCaixa|Deseja abrir o caixa?",
    "ConfReducao|Confirma impress\xE3o da redu\xE7\xE3o z?",
    "RelProdutos|RELATORIO DE PRODUTOS",
    "Motivo|Motivo: ",
    "Observacao|Observacao: ",
};

}  // namespace

TfrmArgentina::TfrmArgentina() {
  using plat::FieldType;
  cdsMovFecha.AddFieldDef("CDTIPORECE", FieldType::String, 3);
  cdsMovFecha.AddFieldDef("NRENVELOPE", FieldType::String, 6);
  cdsMovFecha.AddFieldDef("NMTIPORECE", FieldType::String, 40);
  cdsMovFecha.AddFieldDef("VRFECHADIG", FieldType::Float);  // shown as "#,##0.00"
  cdsMovFecha.AddFieldDef("VRFECHAINF", FieldType::Float);

  cdsMovTot.AddFieldDef("NMTIPORECE", FieldType::String, 40);
  cdsMovTot.AddFieldDef("IDTIPOREG", FieldType::String);
  cdsMovTot.AddFieldDef("CDTIPORECE", FieldType::String);
  cdsMovTot.AddFieldDef("VRSAIDA", FieldType::Float);

  cdsMovAbertura.AddFieldDef("IDTIPOREG", FieldType::String, 1);
  cdsMovAbertura.AddFieldDef("CDTIPORECE", FieldType::String, 3);
  cdsMovAbertura.AddFieldDef("VRSAIDA", FieldType::Float);
  cdsMovAbertura.AddFieldDef("NMTIPORECE", FieldType::String, 40);

  cdsMovCaixa.SetAggregatesActive(true);
  cdsRecebAux.SetAggregatesActive(true);

  cdsProdVend.AddIndex("IDXCDPRODUTO", "CDPRODUTO");
  cdsProdVend.AddIndex("idxTributacao", "IDTPIMPOSFIS;VRPEALIMPFIS");

  cdsAliqProduto.AddFieldDef("IDTPIMPOSFIS", FieldType::String);
  cdsAliqProduto.AddFieldDef("VRPERCSITTRIB", FieldType::Float);
  cdsAliqProduto.AddFieldDef("VRTOTALALIQ", FieldType::Float);

  msgPadrao.LoadLines(kMessageLines);
}

int TfrmArgentina::ConvertePorta(const plat::AnsiString& stPortaImp) {
  static const char* const kPorts[] = {"COM1", "COM2", "COM3", "COM4",  "COM5",  "COM6",
                                       "COM7", "COM8", "COM9", "COM10", "COM11", "COM12"};
  for (int i = 0; i < 12; ++i) {
    if (stPortaImp == kPorts[i]) return i + 1;
  }
  return 0;
}
