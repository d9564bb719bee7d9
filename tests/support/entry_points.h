// SPDX-License-Identifier: Apache-2.0
// The package's entry points by their exported names, in the order of its export table.
#pragma once

namespace testhost {

inline constexpr const char* kEntryPoints[] = {
    "StartImpFiscal",
    "ImpFisDebug",
    "Estado_Imp",
    "VerificaData",
    "Carrega_Dados_Impressora",
    "Nr_Cupom",
    "AbreCupom",
    "VendaItem",
    "Cancela_ItGenerico",
    "FechaCupom",
    "Cancela_Cupom_Imp",
    "Abre_Gaveta_Imp",
    "Suprimento",
    "Leitura_X_Imp",
    "Reducao_Z_Imp",
    "BuscaDadosReducaoZ",
    "GetValue",
    "GeraReciboSangria",
    "Relatorio_Produto",
    "Atu_TotGeral",
    "DataHoraGravacaoUsuarioSWBasicoMFAdicional",
    "Versao_Software_Basico",
    "Codigo_Nacional_ECF",
    "CarregaRecebimento",
    "CarregaTotalizador",
    "CarregaAliquota",
    "ExportRedZ",
    "DataMoviFiscal",
    "Estado_Gaveta_Imp",
    "NumeroOperacoesNaoFiscais",
    "VerificaSerialImp",
    "Sangria",
    "ImprimeMesasAbertas",
    "GeraCatGenerica",
    "DadosUltimaRedZ",
    "Estado_HorVerao",
    "Muda_Horario",
    "Modelo_Impressora",
    "BuscaTotGer",
    "Cupom_Troca",
};

}  // namespace testhost
