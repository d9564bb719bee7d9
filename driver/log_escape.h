// SPDX-License-Identifier: Apache-2.0
// How a message is written into a diagnostic log line.
#pragma once

#include "platform/types.h"

namespace arfis {

// Appends msg to line with the bytes that would end or cut a log line made visible: CR, LF and
// NUL become the two characters \r, \n and \0, and a backslash becomes \\ so that the written
// text reads back to the message unambiguously. The line feeds of a printed line's closing layout
// stay as they are: those in the tail of the message made only of line feeds and "-" (a report
// line's final line feeds and separator), where nothing that reads as a log line can follow.
// Every other byte is appended as it is.
void AppendLogMessage(plat::AnsiString& line, const plat::AnsiString& msg);

}  // namespace arfis
