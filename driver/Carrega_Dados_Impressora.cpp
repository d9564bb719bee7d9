// SPDX-License-Identifier: Apache-2.0
// The printer's identity from the host's settings file "Quorilo.cds" and the printer's clock.
//
// The settings file holds the ECF number (NRECFCAIXA) and the printer's serial number
// (NRSERIEECF) enciphered with the driver's key: a host writes them with
// plat::Cripto(text, 7), and the driver reads them with plat::Uncripto(text, kChaveCripto).
#include "driver/Arfis770.h"
#include "driver/form.h"
#include "driver/guard.h"
#include "platform/os.h"
#include "platform/support.h"

namespace {

// The key of the settings cipher; the same for both fields.
constexpr int kChaveCripto = 7;

}  // namespace

ARFIS_API bool Carrega_Dados_Impressora(plat::Variant& Params) {
  const plat::AnsiString stEsquemaCor = plat::RecebeParams(Params, "ESQUEMA").AsString();
  const plat::AnsiString stDataAtu = plat::RecebeParams(Params, "DATAATUIMP").AsString();
  plat::AnsiString stECF = plat::RecebeParams(Params, "ECFIMP").AsString();
  const plat::AnsiString stRed = plat::RecebeParams(Params, "REDIMP").AsString();
  plat::AnsiString stNrSerie = plat::RecebeParams(Params, "SERIEIMP").AsString();
  plat::AnsiString stData = plat::RecebeParams(Params, "DATAIMP").AsString();

  bool result = false;
  const plat::AnsiString path = DsDirCad + "Quorilo.cds";
  if (plat::FileExists(path)) {
    TfrmArgentina& form = arfis::Form();
    form.cdsPers.LoadFromFile(path);
    if (!form.cdsPers.Active()) form.cdsPers.Open();
    stECF = plat::Uncripto(form.cdsPers.FieldByName("NRECFCAIXA").AsString(), kChaveCripto);
    stNrSerie = plat::Uncripto(form.cdsPers.FieldByName("NRSERIEECF").AsString(), kChaveCripto);
    if (auto read = form.getDataImp(stEsquemaCor)) stData = *read;
    result = true;
  }

  Params = plat::MakeBundle({{"DATAATUIMP", stDataAtu},
                             {"ECFIMP", stECF},
                             {"REDIMP", stRed},
                             {"SERIEIMP", stNrSerie},
                             {"DATAIMP", stData}});
  nrECF = stECF;
  return result;
}
