// SPDX-License-Identifier: Apache-2.0
#include <memory>

#include "driver/Arfis770.h"
#include "driver/amounts.h"
#include "driver/guard.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/support.h"
#include "sales/log_text.h"

namespace {

constexpr int kMinPositions = 43;

// Positions of the host's array that this entry point uses.
enum Pos : int {
  kEsquemaCor = 2,
  kDesconto = 6,
  kMovCaixa = 13,
  kReceb = 14,
  kTipoTicket = 30,
  kSaldCred = 32,
  kFamiliaSaldo = 33,
  kEmprestimo = 34,
  kNrCupom = 42,
};

// Positions that hold texts; the remaining ones are the discount, the data packets, and
// values the driver never reads.
constexpr int kTextPositions[] = {0,  1,  2,  9,  10, 12, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                                  24, 25, 26, 27, 28, 29, 30, 31, 35, 36, 39, 40, 41, 42};

struct CloseParams {
  plat::AnsiString stEsquemaCor;
  double vrDesconto = 0;
  plat::Variant oleMovCaixa01;
  plat::Variant oleReceb01;
  plat::AnsiString stTipoTicket;
  plat::Variant oleSaldCred;
  plat::Variant oleFamiliaSaldo;
  plat::Variant oleEmprestimo;
  plat::AnsiString stNrCupom;
};

// A position that must hold a dataset's data packet.
plat::Variant RequirePacket(const ArfisOpenArray& ar, int pos) {
  const plat::Variant& v = ar[static_cast<size_t>(pos)];
  if (v.Type() != plat::VarType::Packet) {
    throw plat::EVariantError("FechaCupom: position " + plat::IntToStr(pos) +
                              " must hold a dataset's data, not " + v.TypeName());
  }
  return v;
}

CloseParams ReadParams(const ArfisOpenArray& ar) {
  if (ar.size() < static_cast<size_t>(kMinPositions)) {
    throw plat::Exception("FechaCupom: the parameter array has " +
                          plat::IntToStr(static_cast<int64_t>(ar.size())) +
                          " elements; at least 43 are needed");
  }
  CloseParams p;
  plat::AnsiString texts[kMinPositions];
  for (int pos : kTextPositions) texts[pos] = ar[static_cast<size_t>(pos)].AsString();
  p.stEsquemaCor = texts[kEsquemaCor];
  p.stTipoTicket = texts[kTipoTicket];
  p.stNrCupom = texts[kNrCupom];
  p.vrDesconto = ar[kDesconto].AsDouble();
  p.oleMovCaixa01 = RequirePacket(ar, kMovCaixa);
  p.oleReceb01 = RequirePacket(ar, kReceb);
  // A host without consumer-credit data passes these empty; anything else is checked when the
  // datasets are loaded.
  p.oleSaldCred = ar[kSaldCred];
  p.oleFamiliaSaldo = ar[kFamiliaSaldo];
  p.oleEmprestimo = ar[kEmprestimo];
  return p;
}

void Activate(plat::TClientDataSet& ds) {
  if (!ds.Active()) ds.Open();
}

// Replaces the dataset's content with a packet; an empty value leaves it empty and closed.
void LoadOptional(plat::TClientDataSet& ds, const plat::Variant& data, int pos) {
  if (data.IsEmpty()) {
    ds.SetData(plat::Variant(std::make_shared<const plat::DataPacket>()));
    ds.Close();
    return;
  }
  if (data.Type() != plat::VarType::Packet) {
    throw plat::EVariantError("FechaCupom: position " + plat::IntToStr(pos) +
                              " must hold a dataset's data, not " + data.TypeName());
  }
  ds.SetData(data);
}

// The commands of one document kind.
struct DocumentCommands {
  int16_t (plat::TPrinterFiscal::*subtotal)(plat::WideString&, plat::WideString&);
  int16_t (plat::TPrinterFiscal::*payment)(plat::WideString&, plat::WideString&, plat::WideString&);
  const char16_t* subtotalLog;
  const char16_t* paymentLog;
};

constexpr DocumentCommands kTicket{&plat::TPrinterFiscal::GetTicketSubtotal,
                                   &plat::TPrinterFiscal::SendTicketPayment,
                                   u"GetTicketSubtotal:  - ", u"SendTicketPayment:  - "};
constexpr DocumentCommands kInvoice{&plat::TPrinterFiscal::GetInvoiceSubtotal,
                                    &plat::TPrinterFiscal::SendInvoicePayment,
                                    u"GetInvoiceSubtotal:  - ", u"SendInvoicePayment:  - "};

// Subtotal, discount, one payment per movement "E", closing. Each answer replaces the running
// flag; payments and the closing run only while it holds, but a refused payment does not stop
// the others.
bool CloseDocument(const CloseParams& p, const DocumentCommands& cmd, bool invoice) {
  TfrmArgentina& form = arfis::Form();
  plat::TPrinterFiscal& prf = form.prfImpressora;
  plat::WideString wtParam1 = u"P";
  plat::WideString wtParam2 = u"Subtotal";
  plat::WideString wtParam3;

  bool boRetorno = (prf.*cmd.subtotal)(wtParam1, wtParam2) != 0;
  arfis::LogWide(arfis::JoinLog(cmd.subtotalLog, {wtParam1, wtParam2}));

  if (p.vrDesconto > 0) {
    wtParam1 = u"Descuento";
    wtParam2 = plat::AnsiToWide(arfis::PrinterAmount(p.vrDesconto));
    wtParam3 = u"D";
    boRetorno = (prf.*cmd.payment)(wtParam1, wtParam2, wtParam3) != 0;
    arfis::LogWide(arfis::JoinLog(cmd.paymentLog, {wtParam1, wtParam2, wtParam3}));
  }

  form.cdsMovCaixa.SetData(p.oleMovCaixa01);
  Activate(form.cdsMovCaixa);
  form.cdsRecebAux.SetData(p.oleReceb01);
  Activate(form.cdsRecebAux);
  LoadOptional(form.cdsSaldCred, p.oleSaldCred, kSaldCred);
  LoadOptional(form.cdsFamiliaSaldo, p.oleFamiliaSaldo, kFamiliaSaldo);
  LoadOptional(form.cdsEmprestimo, p.oleEmprestimo, kEmprestimo);

  if (boRetorno) {
    plat::TClientDataSet& mov = form.cdsMovCaixa;
    plat::TClientDataSet& receb = form.cdsRecebAux;
    for (mov.First(); !mov.Eof(); mov.Next()) {
      if (mov.FieldByName("IDTIPOMOVIVE").AsString() != "E") continue;
      const plat::AnsiString code = plat::EmptyString(mov.FieldByName("CDBANCARTCR").AsString())
                                        ? mov.FieldByName("CDTIPORECE").AsString()
                                        : mov.FieldByName("CDTIPORECEORIG").AsString();
      // A code missing from the receipt types prints the code itself rather than the name of
      // whatever receipt type the table happened to stand on.
      const plat::AnsiString name = receb.Locate("CDTIPORECE", plat::Variant(code))
                                        ? receb.FieldByName("NMTIPORECE").AsString()
                                        : code;
      wtParam1 = plat::AnsiToWide(name);
      wtParam2 = plat::AnsiToWide(arfis::PrinterAmount(mov.FieldByName("VRMOVIVEND").AsFloat()));
      wtParam3 = u"T";
      boRetorno = (prf.*cmd.payment)(wtParam1, wtParam2, wtParam3) != 0;
      arfis::LogWide(arfis::JoinLog(cmd.paymentLog, {wtParam1, wtParam2, wtParam3}));
    }
  }

  if (boRetorno) {
    if (invoice) {
      plat::WideString wtTipoDocumento = u"T";
      plat::WideString wtTpTicket = plat::AnsiToWide(p.stTipoTicket);
      plat::WideString wtDescTotal;
      boRetorno = prf.CloseInvoice(wtTipoDocumento, wtTpTicket, wtDescTotal) != 0;
      arfis::LogWide(
          arfis::JoinLog(u"CloseInvoice:  - ", {wtTipoDocumento, wtTpTicket, wtDescTotal}));
    } else {
      boRetorno = prf.CloseTicket() != 0;
      ImpFisDebug("CloseTicket");
    }
  }
  return boRetorno;
}

}  // namespace

// Ends the open ticket or invoice: subtotal, discount, payments, closing. oleRetorno receives
// 0, the document number and an empty text whatever happened inside.
ARFIS_API bool FechaCupom(const ArfisOpenArray& arParams, plat::TStringList* /*stlCupomTef*/,
                          plat::Variant& oleRetorno) {
  const CloseParams p = ReadParams(arParams);
  ImpFisDebug("FechaCupom");

  const bool result = arfis::Guarded(p.stEsquemaCor, [&] {
    if (p.stTipoTicket == "T") return CloseDocument(p, kTicket, false);
    if (p.stTipoTicket == "A" || p.stTipoTicket == "C") return CloseDocument(p, kInvoice, true);
    return false;
  });

  if (!oleRetorno.IsArray() || oleRetorno.Count() < 3) {
    throw plat::EVariantError(
        "FechaCupom: the answer array must be a variant array with the indices 0 to 2");
  }
  const int inTefErro = 0;
  const plat::AnsiString stNrGNF;
  oleRetorno[0] = plat::Variant(inTefErro);
  oleRetorno[1] = plat::Variant(p.stNrCupom);
  oleRetorno[2] = plat::Variant(stNrGNF);
  return result;
}
