// SPDX-License-Identifier: Apache-2.0
// Entry points that this printer has no work for. Each answers a fixed value; none sends a
// command, logs, shows a dialog, touches a global or writes any of its var parameters.
#include "driver/Arfis770.h"
#include "platform/os.h"

using plat::AnsiString;
using plat::TClientDataSet;

ARFIS_API bool Atu_TotGeral(const plat::Variant& /*Params*/) {
  return true;
}

ARFIS_API bool DataHoraGravacaoUsuarioSWBasicoMFAdicional(const AnsiString& /*stParam*/,
                                                          AnsiString& /*stDataHoraUsuario*/,
                                                          AnsiString& /*stDataHoraSWBasico*/,
                                                          AnsiString& /*stMFAdicional*/) {
  return true;
}

ARFIS_API bool Versao_Software_Basico(const AnsiString& /*stParam*/,
                                      AnsiString& /*stVersaoFirmware*/) {
  return true;
}

ARFIS_API AnsiString Codigo_Nacional_ECF(int /*IdTipoImpFis*/, const AnsiString& /*stParam*/) {
  return "000000";
}

ARFIS_API void CarregaRecebimento(const AnsiString& /*stParam1*/, const AnsiString& /*stParam2*/,
                                  int /*idTipoImpFis*/, TClientDataSet* /*cdsTipoRece*/) {}

ARFIS_API void CarregaTotalizador(AnsiString& /*stTotCV*/, AnsiString& /*stTotCred*/,
                                  AnsiString& /*stTotCompCred*/, AnsiString& /*stTotCancCred*/,
                                  AnsiString& /*stTotRelatorio*/,
                                  const AnsiString& /*stEsquemaCor*/, int /*idTipoImpFis*/,
                                  TClientDataSet*& /*cdsRecebimento*/) {}

ARFIS_API void CarregaAliquota(const AnsiString& /*stParam*/,
                               TClientDataSet*& /*cdsAliqImpFis_Ret*/) {}

ARFIS_API bool ExportRedZ(const AnsiString& /*stParam1*/, const AnsiString& /*stParam2*/,
                          const AnsiString& /*stParam3*/, int /*idTipoImpFis*/,
                          TClientDataSet* /*cdsTipoReceAux*/, TClientDataSet*& /*cdsReducaoZAux*/,
                          TClientDataSet*& /*cdsFormPgtoZAux*/,
                          TClientDataSet*& /*cdsImpostoRedzAux*/,
                          TClientDataSet*& /*cdsTotNFiscRedZAux*/) {
  return true;
}

// Today at 00:00.
ARFIS_API plat::TDateTime DataMoviFiscal(const AnsiString& /*stParam*/) {
  return plat::Date();
}

ARFIS_API AnsiString Estado_Gaveta_Imp(const AnsiString& /*stParam*/) {
  return "00";
}

ARFIS_API bool NumeroOperacoesNaoFiscais(const AnsiString& /*stParam*/,
                                         AnsiString& /*stOperacoes*/) {
  return true;
}

ARFIS_API bool VerificaSerialImp(const plat::Variant& /*Params*/) {
  return true;
}

// Cash withdrawals are printed by GeraReciboSangria; this one prints nothing.
ARFIS_API bool Sangria(const AnsiString& /*stParam1*/, const AnsiString& /*stParam2*/,
                       double /*doValor*/) {
  return true;
}

ARFIS_API bool ImprimeMesasAbertas(TClientDataSet*& /*cdsParams*/, const AnsiString& /*stParam1*/,
                                   const AnsiString& /*stParam2*/,
                                   const AnsiString& /*stEsquemaCor*/,
                                   const plat::Variant& /*oleMesasAbertas*/) {
  return true;
}

ARFIS_API bool GeraCatGenerica(const ArfisOpenArray& /*arParams*/,
                               plat::TStringList*& /*stlArqsCat*/) {
  return true;
}

// The only fixed answer that is False: there is no last Z data to hand over.
ARFIS_API bool DadosUltimaRedZ(const ArfisOpenArray& /*arParams*/, plat::Variant& /*oleRetorno*/,
                               TClientDataSet*& /*cdsTotalizadorParciaisTributados*/) {
  return false;
}

ARFIS_API bool Estado_HorVerao(const AnsiString& /*stParam*/) {
  return true;
}

ARFIS_API bool Muda_Horario(const AnsiString& /*stParam*/) {
  return true;
}

ARFIS_API bool Modelo_Impressora(const AnsiString& /*stParam*/, AnsiString& /*stMarca*/,
                                 AnsiString& /*stModelo*/, AnsiString& /*stTipo*/) {
  return true;
}

ARFIS_API bool BuscaTotGer(const AnsiString& /*stParam*/, AnsiString& /*stValTotGer*/) {
  return true;
}

ARFIS_API bool Cupom_Troca(const AnsiString& /*stParam1*/, const AnsiString& /*stParam2*/,
                           const AnsiString& /*stParam3*/, const AnsiString& /*stRelat*/) {
  return true;
}
