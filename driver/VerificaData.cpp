// SPDX-License-Identifier: Apache-2.0
// The printer's clock as a date-time. No handler: a text that does not convert raises to the
// host.
#include "driver/Arfis770.h"
#include "driver/form.h"
#include "driver/guard.h"
#include "platform/format.h"

ARFIS_API bool VerificaData(const plat::AnsiString& stEsquemaCor, plat::TDateTime& dtDate,
                            const plat::AnsiString& /*stParam*/, plat::AnsiString stData,
                            bool /*boSetaData*/) {
  // After a failure caught while reading the clock, the host's own text is converted.
  if (auto read = arfis::Form().getDataImp(stEsquemaCor)) stData = *read;
  dtDate = plat::StrToDateTime(stData);
  return true;
}
