// SPDX-License-Identifier: Apache-2.0
#include "closing/ReciboSangria.h"

#include "closing/nonfiscal.h"
#include "driver/Arfis770.h"
#include "driver/amounts.h"
#include "platform/support.h"

namespace arfis {

namespace {

constexpr int kWidth = 40;

plat::AnsiString Separator() {
  return plat::Replicate("-", kWidth) + "\n";
}

// One copy of the receipt. contLin counts the printed lines across both copies: every tenth
// line from the third on, the total line gets one more line feed.
void PrintCopy(TfrmArgentina& form, int copy, int& contLin, bool boSangria,
               const plat::AnsiString& idImpEnvelope, const plat::AnsiString& stTipoSangria,
               const plat::AnsiString& stDescSangria) {
  const plat::TMessages& msg = form.msgPadrao;

  NonFiscalLine(form, plat::Centraliza(msg.Msg(copy == 1 ? "RecSangria3" : "RecSangria1"), kWidth),
                true);
  contLin += 1;

  plat::AnsiString lastSeparator = Separator();
  NonFiscalLine(form, lastSeparator, false);
  const bool hasReason = !plat::EmptyString(stTipoSangria);
  const bool hasNote = !plat::EmptyString(stDescSangria);
  if (hasReason) NonFiscalLine(form, msg.Msg("Motivo") + stTipoSangria, false);
  if (hasNote) NonFiscalLine(form, msg.Msg("Observacao") + stDescSangria, false);
  if (hasReason || hasNote) {
    lastSeparator = Separator();
    NonFiscalLine(form, lastSeparator, false);
  }
  // The separator above the heading goes to the log once, whichever was printed last.
  ImpFisDebug(lastSeparator);

  plat::AnsiString heading;
  if (idImpEnvelope == "S") heading = msg.Msg("Envelope") + " ";
  heading += plat::TamFixo(msg.Msg("Modalidade"), 20) + " " + plat::TamFixoR(msg.Msg("Valor_"), 10);
  NonFiscalLine(form, heading, true);
  contLin += 2;

  const char* amountField = boSangria ? "VRFECHADIG" : "VRFECHAINF";
  double doValor = 0;
  plat::TClientDataSet& cdsMovFecha = form.cdsMovFecha;
  cdsMovFecha.First();
  while (!cdsMovFecha.Eof()) {
    const plat::AnsiString envelope = form.cdsMovFechaNRENVELOPE.AsString();
    const plat::AnsiString name = form.cdsMovFechaNMTIPORECE.AsString();
    const double amount = cdsMovFecha.FieldByName(amountField).AsFloat();
    NonFiscalLine(
        form,
        envelope + " " + plat::TamFixo(name, 20) + " " + plat::TamFixoR(AmountText(amount), 10),
        true);
    doValor += amount;
    contLin += 1;
    cdsMovFecha.Next();
  }

  plat::AnsiString total =
      plat::TamFixo(msg.Msg("Sangrias"), 27) + plat::TamFixoR(AmountText(doValor), 15) + "\n\n";
  contLin += 2;
  if ((contLin - 3) % 10 == 0) {
    total += "\n";
    contLin += 1;
  }
  NonFiscalLine(form, total, false);

  NonFiscalLine(form, Separator(), true);

  plat::TClientDataSet& cdsOperadorSup = form.cdsOperadorSup;
  cdsOperadorSup.First();
  plat::AnsiString signature =
      copy == 1
          ? msg.Msg("Superv") + " : " + cdsOperadorSup.FieldByName("CDSUPERVISOR").AsString() +
                " " + cdsOperadorSup.FieldByName("NMSUPERVISOR").AsString()
          : msg.Msg("Operador") + " : " + cdsOperadorSup.FieldByName("CDOPERADOR").AsString() +
                " " + cdsOperadorSup.FieldByName("NMOPERADOR").AsString();
  signature = signature.substr(0, 48) + "\n";
  NonFiscalLine(form, signature, true);
  contLin += 2;
}

}  // namespace

void ReciboSangria(TfrmArgentina& form, bool boSangria, const plat::AnsiString& idImpEnvelope,
                   const plat::AnsiString& stTipoSangria, const plat::AnsiString& stDescSangria) {
  NonFiscalOpen(form);
  int contLin = 0;
  for (int copy = 1; copy <= 2; ++copy)
    PrintCopy(form, copy, contLin, boSangria, idImpEnvelope, stTipoSangria, stDescSangria);
  NonFiscalClose(form);
}

}  // namespace arfis
