// SPDX-License-Identifier: Apache-2.0
// Windows-1252 <-> UTF-16 and UTF-8 conversions.
// Thread safety: every conversion is a pure function, safe from any thread.
#pragma once

#include "platform/export.h"
#include "platform/types.h"

namespace plat {

// Each byte to its Windows-1252 character (0x80-0x9F included; the five unassigned bytes
// 0x81, 0x8D, 0x8F, 0x90, 0x9D map to the C1 control of the same value).
PLAT_API WideString AnsiToWide(const AnsiString& s);
// Each UTF-16 character to its Windows-1252 byte; a character that Windows-1252 cannot hold
// (surrogate pairs included, as one character) becomes '?'.
PLAT_API AnsiString WideToAnsi(const WideString& s);

// For showing text to a person on a Linux terminal.
PLAT_API std::string AnsiToUtf8(const AnsiString& s);
PLAT_API std::string WideToUtf8(const WideString& s);
// For reading text a person wrote (scenario files, command lines). Invalid UTF-8 bytes become
// '?'; characters outside Windows-1252 become '?'.
PLAT_API AnsiString Utf8ToAnsi(const std::string& s);
PLAT_API WideString Utf8ToWide(const std::string& s);

}  // namespace plat
