// SPDX-License-Identifier: Apache-2.0
// The unit's three globals, exported under their plain names.
#include "driver/Arfis770.h"

extern "C" {
ARFIS_VISIBLE TfrmArgentina* frmArgentina = nullptr;
ARFIS_VISIBLE plat::AnsiString DsDirCad;
ARFIS_VISIBLE plat::AnsiString nrECF;
}

#include "driver/form.h"

namespace {
// The form lives as long as the package's code does: when the package is unloaded (at the
// latest when the process ends) the form goes with it, since its code goes too.
struct FormOwner {
  ~FormOwner() {
    delete frmArgentina;
    frmArgentina = nullptr;
  }
} formOwner;
}  // namespace
