// SPDX-License-Identifier: Apache-2.0
// The Z data file "REDUCAOZ_MP35.CDS": where the capture writes it and where it removes the
// previous one from.
#pragma once

#include "platform/types.h"

namespace arfis {

// The file the capture writes: in the host's data directory.
plat::AnsiString ZDataFile();
// The file every capture removes first: beside the host's executable.
plat::AnsiString ZDataFileBesideHost();
// Removes both, so that no file of an earlier reduction passes for a later one. A missing
// file is no error.
void RemoveZDataFiles();

}  // namespace arfis
