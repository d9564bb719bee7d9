// SPDX-License-Identifier: Apache-2.0
// The driver package's interface: every entry point that a host looks up by its plain name.
//
// A host loads the package (plat::Package::Load, platform/loader.h), then finds each entry
// point with Get<decltype(Name)>("Name"). Types follow the host's:
//   text           plat::AnsiString (Windows-1252 bytes)     wide text  plat::WideString
//   bundle         plat::Variant holding an array of (key, value) pairs (plat::MakeBundle)
//   open array     ArfisOpenArray (a counted array of variants, by position)
//   variant        plat::Variant          date-time  plat::TDateTime (days since 30/12/1899)
//   dataset        plat::TClientDataSet*  string list plat::TStringList*
// A var parameter is a C++ reference: the entry point may write it.
//
// Failures: an entry point that guards its printer steps catches every failure there, shows
// the host's error dialog (plat::Mensagem: message, "", "N", "N", kind 3, "", colour scheme,
// 0, no dataset) and answers False. What an entry point does before its guard (reading a
// bundle or an array) and the entry points without a guard (Abre_Gaveta_Imp,
// Cancela_Cupom_Imp, Estado_Imp, VerificaData, Carrega_Dados_Impressora, Nr_Cupom,
// BuscaDadosReducaoZ, GetValue, ImpFisDebug) let a failure through as a C++ exception
// derived from plat::Exception, which the host catches (hosts are built with the same
// toolchain). docs/host-guide.md has examples.
#pragma once

#include <vector>

#include "platform/dataset.h"
#include "platform/types.h"
#include "platform/variant.h"

#define ARFIS_VISIBLE __attribute__((visibility("default")))
#define ARFIS_API extern "C" ARFIS_VISIBLE

using ArfisOpenArray = std::vector<plat::Variant>;

class TfrmArgentina;

// Package information: the required package and the contained units, null-terminated lists.
struct ArfisPackageInfo {
  const char* Name;
  const char* const* Requires;
  const char* const* Contains;
};

// ---- Package load and unload, globals --------------------------------------------------------

// Run by the host's package loader after loading and before unloading. Initialize records the
// host directory in DsDirCad (a second Initialize without Finalize does nothing); Finalize
// clears DsDirCad and nrECF.
ARFIS_API void Initialize();
ARFIS_API void Finalize();
ARFIS_API const ArfisPackageInfo* GetPackageInfo();

// The current driver form; none until StartImpFiscal (or Relatorio_Produto) creates one.
ARFIS_API TfrmArgentina* frmArgentina;
// The host program's directory, ending with "/"; files beside the host are named from it.
ARFIS_API plat::AnsiString DsDirCad;
// The printer's ECF number as last loaded by Carrega_Dados_Impressora; empty until then.
ARFIS_API plat::AnsiString nrECF;

// ---- Driver frame --------------------------------------------------------------------------

// Keys read, as text, in order: CDFILIAL, CDCAIXA, NRSERIEIMP, ESQUEMA (colour scheme),
// CDPORTAIMPFIS ("COM1" to "COM12"; anything else is port 0). Creates the driver form (a
// second call replaces and releases the first), sets the control's PortNumber, logs
// "StartImpFiscal - PortNumber: n" and answers True. No printer command is sent. Reading the
// bundle raises to the host; failures after it show the error dialog and answer False.
ARFIS_API bool StartImpFiscal(const plat::Variant& Params);

// Appends "<date> <time> - Msg" + CR LF to impdebugMMYY.txt beside the host executable.
// Raises plat::EInOutError when the file cannot be opened, written or closed.
ARFIS_API void ImpFisDebug(const plat::AnsiString& Msg);

// ---- Printer state and date queries (no handler: failures raise to the host) ----------------

// Sends Status "N"; True when the printer's first answer field is not empty.
ARFIS_API bool Estado_Imp(const plat::AnsiString& stParam, bool boParam1, bool boParam2);
// Reads the printer's date and time into dtDate (stData is a value parameter). Raises when the
// printer's answer does not convert to a date-time.
ARFIS_API bool VerificaData(const plat::AnsiString& stEsquemaCor, plat::TDateTime& dtDate,
                            const plat::AnsiString& stParam, plat::AnsiString stData,
                            bool boSetaData);
// Keys read, as text: ESQUEMA, DATAATUIMP, ECFIMP, REDIMP, SERIEIMP, DATAIMP. With
// "Quorilo.cds" in DsDirCad: deciphers NRECFCAIXA and NRSERIEECF, reads the printer's date and
// answers True; without it answers False. Either way Params is replaced by the five pairs
// DATAATUIMP, ECFIMP, REDIMP, SERIEIMP, DATAIMP and nrECF is set to ECFIMP.
ARFIS_API bool Carrega_Dados_Impressora(plat::Variant& Params);
// The first answer field of the last printer command, as text; logged "Nr_Cupom: <text>".
ARFIS_API plat::AnsiString Nr_Cupom(const plat::AnsiString& stParam1,
                                    const plat::AnsiString& stParam2);

// ---- Sales documents -----------------------------------------------------------------------

// Opens a ticket (TIPOTICKET "T": OpenTicket "G") or an invoice "A"/"C" (OpenInvoice with the
// buyer's data). Keys read, in order: ESQUEMACOR (colour scheme), INCLUICPF, INCLUINOME (buyer's
// name), INCLUIENDERECO (address), CUPNR, CONTCUPOM, TIPOTICKET, IVACOMP and IVAPROP (VAT
// conditions; only their first letter is sent), TIPODOC, NRDOC (buyer's document), MESA,
// IDUTILTEF, all as text, and INTTEFERRO as an integer. True when the printer accepted the open
// command; any other TIPOTICKET sends nothing and answers False. Params is always replaced by six
// pairs: INTTEFERRO (integer), INCLUICPF, INCLUINOME, INCLUIENDERECO, CUPNR, CONTCUPOM.
// Reading the bundle raises to the host (Params then stays as passed); failures after it show
// the error dialog and answer False.
ARFIS_API bool AbreCupom(plat::Variant& Params);
// One item line on the open ticket or invoice. Keys read, in order: ESQUEMACOR, MESA, FLAG,
// CDARVPROD, NMPROD (description), CDALIQ, IDALIQ, QTDE (a number), VALOR (unit price with VAT,
// a number), UNIDADE, TIPOTICKET ("T", "A", "C") and VRPERCALIQ (VAT rate in percent, a text in
// the host's number format). "ñ"/"Ñ" in the description become "n"/"N"; quantity and price are
// cut to two decimals and sent as "000000.00", the rate rounded; an invoice gets the price
// without VAT. Qualifier "M", further fields "0". True when the printer accepted the line (one
// log line then); another TIPOTICKET answers False. A QTDE or VALOR that is not a number raises
// to the host; a rate that is not a number, and any failure after reading, show the error
// dialog and answer False. Params is not changed.
ARFIS_API bool VendaItem(const plat::Variant& Params);
// One item line with the host's qualifier and further fields, sent as given: the host takes an
// item back with it (qualifier "m"). NmProd, TaxaIva, stTipoTicket, doQtda and doValor are
// handled as in VendaItem; the second argument is not read. True when the printer accepted the
// line; any failure shows the error dialog with stEsquemaCor and answers False.
ARFIS_API bool Cancela_ItGenerico(
    const plat::AnsiString& stEsquemaCor, const plat::AnsiString& stParam,
    const plat::WideString& NmProd, const plat::WideString& TaxaIva,
    const plat::WideString& Qualificador, const plat::WideString& QtdeCultos,
    const plat::WideString& ImposInterPerc, const plat::WideString& ImpostoInterFixo,
    const plat::WideString& stTipoTicket, double doQtda, double doValor);
// Subtotal, discount (position 6, as payment "D" when above 0), one payment "T" per money
// movement of kind "E" (position 13, with the receipt types of position 14), then CloseTicket or
// CloseInvoice for the kind of position 30. arParams has at least 43 positions
// (docs/host-guide.md has the table); stlCupomTef may be null and is not printed. True only when
// the closing was accepted. oleRetorno must be an array with indices 0 to 2 and always receives
// 0, the document number (position 42) and "". Converting arParams, the first log line and
// storing oleRetorno raise to the host; failures in between show the error dialog (scheme of
// position 2) and answer False.
ARFIS_API bool FechaCupom(const ArfisOpenArray& arParams, plat::TStringList* stlCupomTef,
                          plat::Variant& oleRetorno);
// Cancels the open ticket with one payment line "Dinheiro", total, "C", the total being the sum
// of VRPRECCOMVEN over DsDirCad/cdsVenda.cds in general number format ("30.5"). Reads neither
// argument, logs nothing, shows nothing. True when the printer accepted the line; False, sending
// nothing, when the sale file does not exist. A damaged file, a missing field or a printer
// failure raises to the host.
ARFIS_API bool Cancela_Cupom_Imp(const ArfisOpenArray& arParams, plat::Variant& oleRetorno);
// Opens the cash drawer: logs "Abre_Gaveta_Imp", sends OpenCashDrawer "1" and, when accepted,
// logs "OpenCashDrawer: 1" and answers True. Arguments not read. Every failure (the log, the
// printer) raises to the host.
ARFIS_API bool Abre_Gaveta_Imp(const plat::AnsiString& stParam, bool boParam1);

// ---- Cash movements and day closing --------------------------------------------------------

// Opening-amount (boEntraCaixa) or cash-supply receipt: one non-fiscal line "label amount"
// with the amount as "#0.00" ("Suprimento 150.00"). True when the printer accepted the open,
// the text and the close. Failures show the error dialog with stEsquemaCor and answer False.
ARFIS_API bool Suprimento(const plat::AnsiString& stParam, const plat::AnsiString& stEsquemaCor,
                          double doValor, bool boEntraCaixa);
// X reading: CloseJournal "X", "P". True when the printer accepted it. Failures show the error
// dialog with stEsquemaCor and answer False.
ARFIS_API bool Leitura_X_Imp(const plat::AnsiString& stParam1, const plat::AnsiString& stEsquemaCor,
                             const plat::AnsiString& stParam3);
// Z reduction: CloseJournal "Z", ""; then, also after a refusal, rewrites the Z data file
// DsDirCad/REDUCAOZ_MP35.CDS (one row, 27 fields; docs/host-guide.md). True when the printer
// accepted and the capture succeeded. Failures (a Z figure that does not convert included) show
// the error dialog with stEsquemaCor and answer False.
ARFIS_API bool Reducao_Z_Imp(const plat::AnsiString& stParam1, const plat::AnsiString& stEsquemaCor,
                             const plat::AnsiString& stParam3);
// Captures the printer's Z answer into REDUCAOZ_MP35.CDS; answers the empty text. Raises on a
// conversion failure.
ARFIS_API plat::AnsiString BuscaDadosReducaoZ();
// A printer amount (digits whose last two are decimals) to a number: "0001234567" -> 12345.67.
// Raises plat::EConvertError when the text does not convert.
ARFIS_API double GetValue(const plat::AnsiString& stValor);
// Cash withdrawal (boSangria) or till closing. Copies the host's movement datasets, then with
// boImpRelSan prints (after an X reading when stImpLeituraX is "S") the two-copy cash-out
// receipt and, for a closing, the shift product report and the shift closing report. A
// withdrawal then ends with False. A closing asks "AbreCaixa" (yes: answers True); otherwise,
// when boImprimeRedZ and boAccessImpRedz, asks "ConfReducao" and, on yes, "ConfRelFechamento"
// (yes prints the day's product report and the general closing report); both answers to the last
// question set boReduziu True. The Z reduction itself is the host's call (Reducao_Z_Imp).
// stCupomDia and the four by-reference datasets are not written; stECF, idTipoImpFis,
// dtAberCaixa, Reducao and boFechDiaAnterior are not read. The first log line raises to the
// host; later failures show the error dialog with stIdEsquema and answer False.
ARFIS_API bool GeraReciboSangria(
    const plat::AnsiString& stCdPortaImpFis, const plat::AnsiString& stNrSerie,
    const plat::AnsiString& stCdFilial, const plat::AnsiString& stCdCaixa,
    const plat::AnsiString& stECF, int idTipoImpFis, plat::AnsiString& stCupomDia,
    plat::TClientDataSet* cdsMovFechaAux, plat::TClientDataSet* cdsSangriaAux,
    plat::TClientDataSet* cdsProdAux, plat::TClientDataSet* cdsOperSup,
    plat::TClientDataSet* cdsMovTotAux, plat::TClientDataSet* cdsMovAbertura,
    plat::TClientDataSet* cdsProdFechamento, plat::TDateTime dtAberCaixa, bool boImpRelSan,
    bool boImprimeRedZ, bool Reducao, plat::TClientDataSet*& cdsRedzAux,
    plat::TClientDataSet*& cdsFormRedzAux, plat::TClientDataSet*& cdsImpostoRedzAux,
    plat::TClientDataSet*& cdsTotNFisAux, bool& boReduziu, plat::TClientDataSet* cdsTipoRece,
    const plat::AnsiString& stEmiRelProd, const plat::AnsiString& stTribRelPro,
    const plat::AnsiString& stImpLeituraX, const plat::AnsiString& idImpEnvelope,
    const plat::AnsiString& stIdEsquema, bool boSangria, bool boFechDiaAnterior,
    bool boAccessImpRedz, const plat::AnsiString& stTipoSangria,
    const plat::AnsiString& stDescSangria);
// Product sales report from cdsProdAux (stEmiRelProd "N" prints, "S" asks first, anything else
// does nothing; stTribRelPro "S" groups by tax category). boCtrlCupom is True when no
// non-fiscal document of the caller is open: when it is False the report first closes the
// caller's document; it leaves True whenever the report ran. Creates the driver form when none
// exists. The first log line raises to the host; later failures show the error dialog with
// stIdEsquema.
ARFIS_API void Relatorio_Produto(const plat::AnsiString& stParam1, const plat::AnsiString& stParam2,
                                 const plat::AnsiString& stParam3,
                                 const plat::AnsiString& stCdFilial,
                                 const plat::AnsiString& stCdCaixa, plat::AnsiString& stCupomDia,
                                 plat::TClientDataSet* cdsProdAux,
                                 const plat::AnsiString& stEmiRelProd,
                                 const plat::AnsiString& stTribRelPro,
                                 const plat::AnsiString& stIdEsquema, bool& boCtrlCupom);

// ---- Fixed answers: no printer work, no log, no dialog; var parameters come back unchanged --

ARFIS_API bool Atu_TotGeral(const plat::Variant& Params);   // True
ARFIS_API bool DataHoraGravacaoUsuarioSWBasicoMFAdicional(  // True
    const plat::AnsiString& stParam, plat::AnsiString& stDataHoraUsuario,
    plat::AnsiString& stDataHoraSWBasico, plat::AnsiString& stMFAdicional);
ARFIS_API bool Versao_Software_Basico(const plat::AnsiString& stParam,  // True
                                      plat::AnsiString& stVersaoFirmware);
ARFIS_API plat::AnsiString Codigo_Nacional_ECF(int IdTipoImpFis,  // "000000"
                                               const plat::AnsiString& stParam);
ARFIS_API void CarregaRecebimento(const plat::AnsiString& stParam1,
                                  const plat::AnsiString& stParam2, int idTipoImpFis,
                                  plat::TClientDataSet* cdsTipoRece);
ARFIS_API void CarregaTotalizador(plat::AnsiString& stTotCV, plat::AnsiString& stTotCred,
                                  plat::AnsiString& stTotCompCred, plat::AnsiString& stTotCancCred,
                                  plat::AnsiString& stTotRelatorio,
                                  const plat::AnsiString& stEsquemaCor, int idTipoImpFis,
                                  plat::TClientDataSet*& cdsRecebimento);
ARFIS_API void CarregaAliquota(const plat::AnsiString& stParam,
                               plat::TClientDataSet*& cdsAliqImpFis_Ret);
ARFIS_API bool ExportRedZ(
    const plat::AnsiString& stParam1, const plat::AnsiString& stParam2,  // True
    const plat::AnsiString& stParam3, int idTipoImpFis, plat::TClientDataSet* cdsTipoReceAux,
    plat::TClientDataSet*& cdsReducaoZAux, plat::TClientDataSet*& cdsFormPgtoZAux,
    plat::TClientDataSet*& cdsImpostoRedzAux, plat::TClientDataSet*& cdsTotNFiscRedZAux);
ARFIS_API plat::TDateTime DataMoviFiscal(const plat::AnsiString& stParam);      // today, 00:00
ARFIS_API plat::AnsiString Estado_Gaveta_Imp(const plat::AnsiString& stParam);  // "00"
ARFIS_API bool NumeroOperacoesNaoFiscais(const plat::AnsiString& stParam,       // True
                                         plat::AnsiString& stOperacoes);
ARFIS_API bool VerificaSerialImp(const plat::Variant& Params);                              // True
ARFIS_API bool Sangria(const plat::AnsiString& stParam1, const plat::AnsiString& stParam2,  // True
                       double doValor);
ARFIS_API bool ImprimeMesasAbertas(plat::TClientDataSet*& cdsParams,  // True
                                   const plat::AnsiString& stParam1,
                                   const plat::AnsiString& stParam2,
                                   const plat::AnsiString& stEsquemaCor,
                                   const plat::Variant& oleMesasAbertas);
ARFIS_API bool GeraCatGenerica(const ArfisOpenArray& arParams,  // True
                               plat::TStringList*& stlArqsCat);
ARFIS_API bool DadosUltimaRedZ(const ArfisOpenArray& arParams, plat::Variant& oleRetorno,  // False
                               plat::TClientDataSet*& cdsTotalizadorParciaisTributados);
ARFIS_API bool Estado_HorVerao(const plat::AnsiString& stParam);  // True
ARFIS_API bool Muda_Horario(const plat::AnsiString& stParam);     // True
ARFIS_API bool Modelo_Impressora(const plat::AnsiString& stParam,
                                 plat::AnsiString& stMarca,  // True
                                 plat::AnsiString& stModelo, plat::AnsiString& stTipo);
ARFIS_API bool BuscaTotGer(const plat::AnsiString& stParam, plat::AnsiString& stValTotGer);  // True
ARFIS_API bool Cupom_Troca(const plat::AnsiString& stParam1,
                           const plat::AnsiString& stParam2,  // True
                           const plat::AnsiString& stParam3, const plat::AnsiString& stRelat);
