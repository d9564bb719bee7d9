// SPDX-License-Identifier: Apache-2.0
#include "driver/form.h"

// Item descriptions go to the printer without ñ and Ñ; every other character, accented vowels
// included, is kept and the length does not change.
plat::AnsiString TfrmArgentina::RetiraCaracter(const plat::AnsiString& stNmProduto) {
  plat::AnsiString cleaned = stNmProduto;
  for (char& c : cleaned) {
    if (static_cast<unsigned char>(c) == 0xF1) c = 'n';
  }
  for (char& c : cleaned) {
    if (static_cast<unsigned char>(c) == 0xD1) c = 'N';
  }
  return cleaned;
}
