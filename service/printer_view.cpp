// SPDX-License-Identifier: Apache-2.0
#include "printer_view.h"

#include <cstdio>

namespace fpd {

namespace {

template <class T>
Json OrNull(const std::optional<T>& v) {
  return v ? Json(*v) : Json(nullptr);
}

Json Word(const std::optional<uint16_t>& w) {
  if (!w) return nullptr;
  char text[5];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(*w));
  return text;
}

template <class E>
Json NameOf(const std::optional<E>& v) {
  return v ? Json(plat::Name(*v)) : Json(nullptr);
}

}  // namespace

bool StateChanged(const PrinterView& a, const PrinterView& b) {
  return a.Reachable != b.Reachable || a.DocumentOpen != b.DocumentOpen ||
         a.Document != b.Document || a.Journal != b.Journal || a.Receipt != b.Receipt ||
         a.Fiscal != b.Fiscal || a.Error != b.Error;
}

Json ToJson(const PrinterView& v) {
  Json j = {{"backend", v.Backend},
            {"reachable", OrNull(v.Reachable)},
            {"checkedAt", v.CheckedAt.empty() ? Json(nullptr) : Json(v.CheckedAt)},
            {"printerStatus", Word(v.PrinterStatus)},
            {"fiscalStatus", Word(v.FiscalStatus)},
            {"reasons", v.Reasons},
            {"documentOpen", OrNull(v.DocumentOpen)},
            {"document", OrNull(v.Document)},
            {"paper", {{"journal", NameOf(v.Journal)}, {"receipt", NameOf(v.Receipt)}}},
            {"fiscalisation", NameOf(v.Fiscal)},
            {"error", v.Error.empty() ? Json(nullptr) : Json(v.Error)},
            {"lastDocumentNumber", OrNull(v.LastDocumentNumber)}};
  if (v.LastTicket && v.LastInvoiceA) {
    j["lastDocuments"] = {{"ticket", *v.LastTicket}, {"invoiceA", *v.LastInvoiceA}};
  }
  return j;
}

}  // namespace fpd
