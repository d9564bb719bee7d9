// SPDX-License-Identifier: Apache-2.0
// The cash-out receipt: one non-fiscal document holding two copies of the same receipt, the
// first closed by the supervisor's line, the second by the operator's.
#pragma once

#include "driver/form.h"
#include "platform/types.h"

namespace arfis {

// Prints the receipt from the form's cdsMovFecha (one detail line per payment type) and
// cdsOperadorSup (signature line). boSangria picks the amount field (VRFECHADIG for a
// withdrawal, VRFECHAINF for a closing); idImpEnvelope "S" adds the envelope column heading;
// stTipoSangria and stDescSangria, when not empty, print as reason and note.
void ReciboSangria(TfrmArgentina& form, bool boSangria, const plat::AnsiString& idImpEnvelope,
                   const plat::AnsiString& stTipoSangria, const plat::AnsiString& stDescSangria);

}  // namespace arfis
