// SPDX-License-Identifier: Apache-2.0
#include "tests/support/host_data.h"

#include <algorithm>

#include "platform/support.h"

namespace testhost {

std::unique_ptr<plat::TClientDataSet> MakeDataSet(
    const std::vector<plat::FieldDef>& fields, const std::vector<std::vector<plat::Variant>>& rows,
    const plat::AnsiString& name) {
  auto ds = std::make_unique<plat::TClientDataSet>(name);
  for (const auto& f : fields) ds->AddFieldDef(f.Name, f.Type, f.Size);
  ds->CreateDataSet();
  for (const auto& row : rows) {
    ds->Append();
    for (size_t i = 0; i < row.size() && i < fields.size(); ++i) {
      ds->FieldByName(fields[i].Name).SetValue(row[i]);
    }
    ds->Post();
  }
  ds->First();
  return ds;
}

namespace {

plat::Variant Bundle(Pairs pairs, const Pairs& changes) {
  for (const auto& [key, value] : changes) {
    auto it =
        std::find_if(pairs.begin(), pairs.end(), [&](const auto& p) { return p.first == key; });
    if (it != pairs.end())
      it->second = value;
    else
      pairs.emplace_back(key, value);
  }
  return plat::MakeBundle(pairs);
}

}  // namespace

plat::Variant OpenBundle(const plat::AnsiString& kind, const Pairs& changes) {
  return Bundle({{"ESQUEMACOR", "AZUL"},
                 {"INCLUICPF", "S"},
                 {"INCLUINOME", "Juan"},
                 {"INCLUIENDERECO", "Calle 1"},
                 {"CUPNR", "15"},
                 {"CONTCUPOM", "3"},
                 {"TIPOTICKET", kind},
                 {"IVACOMP", "Responsable"},
                 {"IVAPROP", "Monotributo"},
                 {"TIPODOC", "DNI"},
                 {"NRDOC", "20123"},
                 {"MESA", "4"},
                 {"IDUTILTEF", "N"},
                 {"INTTEFERRO", "0"}},
                changes);
}

plat::Variant ItemBundle(const plat::Variant& name, const plat::Variant& qty,
                         const plat::Variant& price, const plat::AnsiString& kind,
                         const plat::Variant& rate, const Pairs& changes) {
  return Bundle({{"ESQUEMACOR", "AZUL"},
                 {"MESA", "4"},
                 {"FLAG", "N"},
                 {"CDARVPROD", "100"},
                 {"NMPROD", name},
                 {"CDALIQ", "1"},
                 {"IDALIQ", "T"},
                 {"QTDE", qty},
                 {"VALOR", price},
                 {"UNIDADE", "UN"},
                 {"TIPOTICKET", kind},
                 {"VRPERCALIQ", rate}},
                changes);
}

std::unique_ptr<plat::TClientDataSet> MoneyMovements(
    const std::vector<std::vector<plat::Variant>>& rows) {
  return MakeDataSet({{"IDTIPOMOVIVE", plat::FieldType::String, 1},
                      {"CDBANCARTCR", plat::FieldType::String, 10},
                      {"CDTIPORECE", plat::FieldType::String, 5},
                      {"CDTIPORECEORIG", plat::FieldType::String, 5},
                      {"VRMOVIVEND", plat::FieldType::Float, 0}},
                     rows);
}

std::unique_ptr<plat::TClientDataSet> ReceiptTypes(
    const std::vector<std::vector<plat::Variant>>& rows) {
  return MakeDataSet(
      {{"CDTIPORECE", plat::FieldType::String, 5}, {"NMTIPORECE", plat::FieldType::String, 40}},
      rows);
}

ArfisOpenArray CloseArray(const plat::AnsiString& scheme, const plat::AnsiString& kind,
                          double discount, const plat::Variant& movements,
                          const plat::Variant& receiptTypes) {
  ArfisOpenArray ar(43);
  ar[2] = plat::Variant(scheme);
  ar[6] = plat::Variant(discount);
  ar[13] = movements;
  ar[14] = receiptTypes;
  ar[30] = plat::Variant(kind);
  ar[42] = plat::Variant("00000042");
  return ar;
}

}  // namespace testhost
