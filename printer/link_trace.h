// SPDX-License-Identifier: Apache-2.0
// A frame trace of the serial link for support: every frame sent and received, one line each,
// with the time, the direction, the bytes in hexadecimal and in readable form:
//
//   2026-12-08 10:00:00.123 out 02 20 2A 1C 4E 03 30 30 45 41 | <STX> *<FS>N<ETX>00EA
//
// A reply that arrives in pieces is put together up to its checksum; busy signals, NAKs and
// noise between frames get lines of their own. FISCAL_PRINTER_TRACE=FILE turns it on.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "printer/api.h"
#include "printer/serial_backend.h"

namespace plat::link {

// The trace line of some bytes, without the time: "out 02 20 ... | <STX> ...".
FISCAL_PRINTER_API std::string TraceLine(LinkDirection direction, std::string_view bytes);

// A trace sink that appends to the file (created when missing). Raises ELinkError when the
// file cannot be opened. The sink may be called from any thread.
FISCAL_PRINTER_API LinkTrace FileTrace(const std::string& path);
// A trace sink that writes to a stream the caller keeps open (standard output, say), so that the
// trace and what the caller writes there itself stay in one order; the stream must outlive the
// sink. The sink may be called from any thread.
FISCAL_PRINTER_API LinkTrace StreamTrace(std::FILE* stream);

}  // namespace plat::link
