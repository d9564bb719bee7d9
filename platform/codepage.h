// Windows-1252 <-> UTF-16 and UTF-8 conversions.
#pragma once

#include "platform/types.h"

namespace plat {

// Each byte to its Windows-1252 character (0x80-0x9F included; the five unassigned bytes
// 0x81, 0x8D, 0x8F, 0x90, 0x9D map to the C1 control of the same value).
WideString AnsiToWide(const AnsiString& s);
// Each UTF-16 character to its Windows-1252 byte; a character that Windows-1252 cannot hold
// (surrogate pairs included, as one character) becomes '?'.
AnsiString WideToAnsi(const WideString& s);

// For showing text to a person on a Linux terminal.
std::string AnsiToUtf8(const AnsiString& s);
std::string WideToUtf8(const WideString& s);
// For reading text a person wrote (scenario files, command lines). Invalid UTF-8 bytes become
// '?'; characters outside Windows-1252 become '?'.
AnsiString Utf8ToAnsi(const std::string& s);
WideString Utf8ToWide(const std::string& s);

}  // namespace plat
