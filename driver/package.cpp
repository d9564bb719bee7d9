// SPDX-License-Identifier: Apache-2.0
// Package information: the package this one requires and the units it contains.
#include "driver/Arfis770.h"

namespace {
const char* const kRequires[] = {"fiscalplat", nullptr};
const char* const kUnits[] = {"Arfis770", nullptr};
const ArfisPackageInfo kInfo{"arfis770", kRequires, kUnits};
}  // namespace

ARFIS_API const ArfisPackageInfo* GetPackageInfo() {
  return &kInfo;
}
