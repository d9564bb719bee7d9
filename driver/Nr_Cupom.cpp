// SPDX-License-Identifier: Apache-2.0
// The number that the last printer command reported (its first answer field); sends nothing.
#include "driver/Arfis770.h"
#include "driver/form.h"
#include "driver/guard.h"

ARFIS_API plat::AnsiString Nr_Cupom(const plat::AnsiString& /*stParam1*/,
                                    const plat::AnsiString& /*stParam2*/) {
  const plat::AnsiString text = arfis::Form().prfImpressora.AnswerField_3().AsString();
  ImpFisDebug("Nr_Cupom: " + text);
  return text;
}
