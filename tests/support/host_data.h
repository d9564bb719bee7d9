// SPDX-License-Identifier: Apache-2.0
// What a point-of-sale host hands the driver, built once for the tests and the benchmarks: its
// datasets, the bundles of the sale's entry points, the money-movement and receipt-type datasets
// and the closing array. Each caller changes only the values it is about.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "driver/Arfis770.h"
#include "platform/dataset.h"
#include "platform/variant.h"

namespace testhost {

// Builds a dataset with the given fields and rows (cells as Variants, Null for null).
std::unique_ptr<plat::TClientDataSet> MakeDataSet(
    const std::vector<plat::FieldDef>& fields, const std::vector<std::vector<plat::Variant>>& rows,
    const plat::AnsiString& name = "host");

using Pairs = std::vector<std::pair<plat::AnsiString, plat::Variant>>;

// AbreCupom's bundle for a document of the kind (scheme "AZUL", buyer "Juan", table 4, ...).
// changes replace the values of their keys; a key the bundle lacks is added at its end.
plat::Variant OpenBundle(const plat::AnsiString& kind, const Pairs& changes = {});
// VendaItem's bundle for an item of the kind at the VAT rate (scheme "AZUL"); changes as above.
plat::Variant ItemBundle(const plat::Variant& name, const plat::Variant& qty,
                         const plat::Variant& price, const plat::AnsiString& kind,
                         const plat::Variant& rate = "21", const Pairs& changes = {});

// The sale's money movements: IDTIPOMOVIVE, CDBANCARTCR, CDTIPORECE, CDTIPORECEORIG, VRMOVIVEND.
std::unique_ptr<plat::TClientDataSet> MoneyMovements(
    const std::vector<std::vector<plat::Variant>>& rows);
// The receipt types: CDTIPORECE, NMTIPORECE; by default 1 Efectivo, 2 Tarjeta, 9 Visa.
std::unique_ptr<plat::TClientDataSet> ReceiptTypes(
    const std::vector<std::vector<plat::Variant>>& rows = {
        {"1", "Efectivo"}, {"2", "Tarjeta"}, {"9", "Visa"}});

// FechaCupom's 43 positions: the scheme (2), the discount (6), the movements (13), the receipt
// types (14), the document kind (30) and the number (42) given, the rest Empty.
ArfisOpenArray CloseArray(const plat::AnsiString& scheme, const plat::AnsiString& kind,
                          double discount, const plat::Variant& movements,
                          const plat::Variant& receiptTypes = ReceiptTypes()->Data());

}  // namespace testhost
