// SPDX-License-Identifier: Apache-2.0
// Shared pieces of the day-closing tests: the host's datasets, one GeraReciboSangria call with
// all of its arguments, and readable views of what reached the printer and the log.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "tests/support/harness.h"

namespace closingtest {

using plat::FieldType;
using plat::Variant;
using Rows = std::vector<std::vector<Variant>>;
using Texts = std::vector<std::string>;

inline std::unique_ptr<plat::TClientDataSet> MovFecha(const Rows& rows) {
  return testhost::MakeDataSet({{"CDTIPORECE", FieldType::String, 3},
                                {"NRENVELOPE", FieldType::String, 6},
                                {"NMTIPORECE", FieldType::String, 40},
                                {"VRFECHADIG", FieldType::Float},
                                {"VRFECHAINF", FieldType::Float}},
                               rows);
}
inline std::unique_ptr<plat::TClientDataSet> OperSup(const std::string& supervisor = "JOAO",
                                                     const std::string& operador = "MARIA") {
  return testhost::MakeDataSet({{"CDSUPERVISOR", FieldType::String},
                                {"NMSUPERVISOR", FieldType::String, 80},
                                {"CDOPERADOR", FieldType::String},
                                {"NMOPERADOR", FieldType::String, 80}},
                               {{"01", supervisor.c_str(), "02", operador.c_str()}});
}
// Movement rows: IDTIPOREG, NMTIPORECE, VRSAIDA.
inline std::unique_ptr<plat::TClientDataSet> Movements(const Rows& rows) {
  Rows full;
  for (const auto& r : rows) full.push_back({r[0], "001", r[2], r[1]});
  return testhost::MakeDataSet({{"IDTIPOREG", FieldType::String, 1},
                                {"CDTIPORECE", FieldType::String, 3},
                                {"VRSAIDA", FieldType::Float},
                                {"NMTIPORECE", FieldType::String, 40}},
                               full);
}
// Product rows: CDPRODUTO, NMPRODUTO, QTPRODVEND, VRTOTAL, VRACRE, VRDESC, IDTPIMPOSFIS,
// VRPEALIMPFIS.
inline std::unique_ptr<plat::TClientDataSet> Products(const Rows& rows) {
  return testhost::MakeDataSet({{"CDPRODUTO", FieldType::String},
                                {"NMPRODUTO", FieldType::String, 40},
                                {"QTPRODVEND", FieldType::Float},
                                {"VRTOTAL", FieldType::Float},
                                {"VRACRE", FieldType::Float},
                                {"VRDESC", FieldType::Float},
                                {"IDTPIMPOSFIS", FieldType::String, 1},
                                {"VRPEALIMPFIS", FieldType::Float}},
                               rows);
}
inline std::unique_ptr<plat::TClientDataSet> Sales(double total) {
  return Products({{"1", "PROD", 1.0, total, 0.0, 0.0, "T", 21.0}});
}
inline std::unique_ptr<plat::TClientDataSet> Anything() {
  return testhost::MakeDataSet({{"X", FieldType::String}}, {{"x"}});
}

// UTF-8 text padded with blanks to n columns, left- or right-aligned (test-side layout).
inline size_t Columns(const std::string& s) {
  size_t n = 0;
  for (unsigned char ch : s) n += (ch & 0xC0) != 0x80;
  return n;
}
inline std::string Lt(const std::string& s, size_t n) {
  return s + std::string(n - Columns(s), ' ');
}
inline std::string Rt(const std::string& s, size_t n) {
  return std::string(n - Columns(s), ' ') + s;
}
// A value line: label in 30 columns, amount in 10.
inline std::string V(const std::string& label, const std::string& amount) {
  return Lt(label, 30) + Rt(amount, 10);
}
inline const std::string kDashes(40, '-');
inline const std::string kBlanks(40, ' ');

inline std::string Send(const std::string& text) {
  return "SendNoFiscalText(" + text + ")";
}
inline const std::string kOpen = "OpenNoFiscal()";
inline const std::string kClose = "CloseNoFiscal()";

// Log messages in UTF-8.
inline Texts LogTexts(testhost::DriverHost& host) {
  Texts out;
  for (const auto& line : host.Log()) out.push_back(plat::AnsiToUtf8(line));
  return out;
}
// The texts sent with SendNoFiscalText, in order.
inline Texts SentTexts(testhost::DriverHost& host) {
  Texts out;
  for (const auto& e : host.Commands("SendNoFiscalText"))
    out.push_back(plat::WideToUtf8(e.Args[0]));
  return out;
}
// The part of a sequence after the first occurrence of marker.
inline Texts After(const Texts& all, const std::string& marker) {
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i] == marker) return Texts(all.begin() + static_cast<long>(i) + 1, all.end());
  return {};
}

// One GeraReciboSangria call. Defaults: a withdrawal with the receipt, no X reading, no product
// report, an empty shift.
struct Closing {
  plat::AnsiString cupomDia = "000123";
  std::unique_ptr<plat::TClientDataSet> movFecha =
      MovFecha({{"001", "000001", "DINHEIRO", 150.5, 140.0}});
  std::unique_ptr<plat::TClientDataSet> sangria = Anything();
  std::unique_ptr<plat::TClientDataSet> prod = Sales(0);
  std::unique_ptr<plat::TClientDataSet> operSup = OperSup();
  std::unique_ptr<plat::TClientDataSet> movTot = Movements({});
  std::unique_ptr<plat::TClientDataSet> movAbertura = Movements({});
  std::unique_ptr<plat::TClientDataSet> prodFech = Sales(0);
  std::unique_ptr<plat::TClientDataSet> tipoRece = Anything();
  plat::TClientDataSet* redz = reinterpret_cast<plat::TClientDataSet*>(0x10);
  plat::TClientDataSet* formRedz = nullptr;
  plat::TClientDataSet* impostoRedz = reinterpret_cast<plat::TClientDataSet*>(0x20);
  plat::TClientDataSet* totNFis = nullptr;
  bool boImpRelSan = true, boImprimeRedZ = true, boAccessImpRedz = true, boSangria = true;
  bool boReduziu = true;  // the call must set it
  plat::AnsiString emiRelProd = "X", tribRelPro = "N", impLeituraX = "N", envelope = "N";
  plat::AnsiString tipoSangria, descSangria;
  // Overrides for the dataset pointers handed over (null allowed).
  bool nullOperSup = false;

  bool Run(testhost::DriverHost& host) {
    host.ClearLog();
    host.Emu().ClearJournal();
    return CALL(host, GeraReciboSangria)(
        "COM1", "SER123", "01", "02", "ECF", 1, cupomDia, movFecha.get(), sangria.get(), prod.get(),
        nullOperSup ? nullptr : operSup.get(), movTot.get(), movAbertura.get(), prodFech.get(),
        46000.0, boImpRelSan, boImprimeRedZ, false, redz, formRedz, impostoRedz, totNFis, boReduziu,
        tipoRece.get(), emiRelProd, tribRelPro, impLeituraX, envelope, "ESQ", boSangria, false,
        boAccessImpRedz, tipoSangria, descSangria);
  }
};

}  // namespace closingtest
