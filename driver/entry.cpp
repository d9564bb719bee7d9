// SPDX-License-Identifier: Apache-2.0
// Package load and unload: the unit's initialization and finalization, run by the host's
// package loader through Initialize and Finalize.
#include "driver/Arfis770.h"
#include "platform/os.h"

namespace {
bool initialized = false;
}

ARFIS_API void Initialize() {
  if (initialized) return;
  initialized = true;
  // The host folder (the executable's unless the host set another), in short form, with the
  // trailing separator.
  const plat::AnsiString dir = plat::HostFolder();
  DsDirCad = plat::ShortPathName(dir + plat::PathDelim);
}

ARFIS_API void Finalize() {
  if (!initialized) return;
  initialized = false;
  nrECF.clear();
  DsDirCad.clear();
  // The driver form lives until the process ends.
}
