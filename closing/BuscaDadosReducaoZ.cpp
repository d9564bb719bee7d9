// SPDX-License-Identifier: Apache-2.0
// Captures the printer's answer to the Z reduction into the one-row Z data file
// "REDUCAOZ_MP35.CDS" beside the host, which the host loads later. No handler: a Z number or an
// amount that does not convert raises, and the capture then leaves no file at all. The old
// file stays until the new one replaces it whole, so a host killed during the capture finds
// the last whole file, never a part of one.
#include <filesystem>

#include "closing/zfile.h"
#include "driver/Arfis770.h"
#include "driver/form.h"
#include "driver/guard.h"
#include "platform/codepage.h"
#include "platform/format.h"
#include "platform/os.h"
#include "platform/support.h"

namespace {

// Builds the Z data table empty, with its 27 fields in file order.
void CriaTabelaReducaoZ(plat::TClientDataSet& cds) {
  using plat::FieldType;
  // A capture that failed half-way may have left a row being inserted.
  if (cds.State() == plat::DataSetState::Insert || cds.State() == plat::DataSetState::Edit) {
    cds.Cancel();
  }
  cds.ClearFieldDefs();
  cds.AddFieldDef("NRECFREDZ", FieldType::String, 4);
  cds.AddFieldDef("DTREDUCAOZ", FieldType::DateTime);
  cds.AddFieldDef("NRREINIREDZ", FieldType::String, 10);
  cds.AddFieldDef("NRREDREDZ", FieldType::String, 10);
  cds.AddFieldDef("NRLEITREDZ", FieldType::String, 10);
  cds.AddFieldDef("NRGERCNFREDZ", FieldType::String, 10);
  cds.AddFieldDef("NRCANCFREDZ", FieldType::String, 10);
  cds.AddFieldDef("NRPRIMCFREDZ", FieldType::String, 10);
  cds.AddFieldDef("NRULTCFREDZ", FieldType::String, 10);
  cds.AddFieldDef("VRGTREDZ", FieldType::Float);
  cds.AddFieldDef("VRVENBRUREDZ", FieldType::Float);
  cds.AddFieldDef("VRISSREDZ", FieldType::Float);
  cds.AddFieldDef("VRTOTCANREDZ", FieldType::Float);
  cds.AddFieldDef("VRTOTDESREDZ", FieldType::Float);
  cds.AddFieldDef("VRVENLIQREDZ", FieldType::Float);
  cds.AddFieldDef("VRTOTACRREDZ", FieldType::Float);
  cds.AddFieldDef("VRSTRIBREDZ", FieldType::Float);
  cds.AddFieldDef("VRISENCREDZ", FieldType::Float);
  cds.AddFieldDef("VRNINCIDREDZ", FieldType::Float);
  cds.AddFieldDef("QTTEMLIGREDZ", FieldType::String, 6);
  cds.AddFieldDef("QTTEMPCFREDZ", FieldType::String, 6);
  cds.AddFieldDef("QTMEMRESREDZ", FieldType::Float);
  cds.AddFieldDef("IDORIGEMREDZ", FieldType::String, 3);
  cds.AddFieldDef("DSMODMARCAECF", FieldType::String, 30);
  cds.AddFieldDef("NRUSUARIOMFD", FieldType::String, 10);
  cds.AddFieldDef("CDMFADICIONAL", FieldType::String, 5);
  cds.AddFieldDef("DTGRAVSBECF", FieldType::DateTime);
  // Closes the table left open by the previous capture and drops its row.
  cds.CreateDataSet();
}

// The capture itself: the answer fields read, logged and written to path.
void CapturaReducaoZ(TfrmArgentina& form, const plat::AnsiString& path) {
  // The answer fields are read in order; fields 4 and 8 carry nothing the file keeps.
  const plat::TPrinterFiscal& printer = form.prfImpressora;
  const plat::WideString nrRedz = printer.AnswerField_3().AsWideString();
  plat::WideString stRetorno = printer.AnswerField_4().AsWideString();
  const plat::WideString nrLeitX = printer.AnswerField_5().AsWideString();
  const plat::WideString nrDocNfis = printer.AnswerField_6().AsWideString();
  const plat::WideString nrDocFis = printer.AnswerField_7().AsWideString();
  stRetorno = printer.AnswerField_8().AsWideString();
  const plat::WideString nrUltCup = printer.AnswerField_9().AsWideString();
  const plat::WideString nrVenAcum = printer.AnswerField_10().AsWideString();

  arfis::LogWide(u"BuscaDadosReducaoZ: " + nrRedz + u" - " + nrLeitX + u" - " + nrDocNfis + u" - " +
                 nrDocFis + u" - " + nrUltCup + u" - " + nrVenAcum);

  plat::TClientDataSet& cds = form.cdsReducaoZ;
  CriaTabelaReducaoZ(cds);
  cds.Append();
  cds.FieldByName("NRULTCFREDZ").SetAsString(plat::Ajusta(plat::WideToAnsi(nrUltCup), 10));
  cds.FieldByName("NRECFREDZ").SetAsString(nrECF);  // the field keeps the first four characters
  cds.FieldByName("DTREDUCAOZ").SetAsDateTime(plat::Date());
  cds.FieldByName("NRREDREDZ")
      .SetAsString(plat::Ajusta(plat::IntToStr(plat::StrToInt(plat::WideToAnsi(nrRedz))), 10));
  cds.FieldByName("VRTOTACRREDZ").SetAsFloat(GetValue(plat::WideToAnsi(nrVenAcum)));
  cds.FieldByName("VRVENBRUREDZ").SetAsFloat(GetValue(plat::WideToAnsi(nrVenAcum)));
  cds.FieldByName("DTGRAVSBECF").SetAsDateTime(plat::Now());
  cds.Post();
  // Replaces the old file in one step; the temporaries of captures killed earlier go first.
  cds.SaveToFile(path);
}

}  // namespace

ARFIS_API plat::AnsiString BuscaDadosReducaoZ() {
  TfrmArgentina& form = arfis::Form();
  const plat::AnsiString oldFile = arfis::ZDataFileBesideHost();
  const plat::AnsiString newFile = arfis::ZDataFile();
  try {
    CapturaReducaoZ(form, newFile);
  } catch (...) {
    // A failed capture leaves no file, so that no earlier reduction's figures pass for this
    // one's.
    plat::DeleteFile(oldFile);
    throw;
  }
  std::error_code same;
  if (!std::filesystem::equivalent(oldFile, newFile, same)) plat::DeleteFile(oldFile);
  return plat::AnsiString();
}
