// SPDX-License-Identifier: Apache-2.0
// Whether the printer answers: a status request whose first answer field is not empty.
#include "driver/Arfis770.h"
#include "driver/form.h"
#include "driver/guard.h"

ARFIS_API bool Estado_Imp(const plat::AnsiString& /*stParam*/, bool /*boParam1*/,
                          bool /*boParam2*/) {
  auto& printer = arfis::Form().prfImpressora;
  plat::WideString wtEstado = u"N";
  printer.Status(wtEstado);  // the answer itself is not examined
  return !printer.AnswerField_3().AsWideString().empty();
}
