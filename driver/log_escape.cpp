// SPDX-License-Identifier: Apache-2.0
// Log messages made safe for a line-per-call file: a host text holding CR, LF or NUL could
// otherwise split one call into several lines or forge lines that no call wrote.
#include "driver/log_escape.h"

#include <string_view>

namespace arfis {

void AppendLogMessage(plat::AnsiString& line, const plat::AnsiString& msg) {
  static constexpr std::string_view kEscaped("\r\n\0\\", 4);
  // The closing layout of a printed line: its final line feeds and separator dashes.
  const size_t last = msg.find_last_not_of("\n-");
  const size_t layout = last == plat::AnsiString::npos ? 0 : last + 1;
  size_t from = 0;
  for (;;) {
    const size_t at = msg.find_first_of(kEscaped, from);
    if (at == plat::AnsiString::npos || at >= layout) {
      line.append(msg, from);
      return;
    }
    line.append(msg, from, at - from);
    line += '\\';
    switch (msg[at]) {
      case '\r':
        line += 'r';
        break;
      case '\n':
        line += 'n';
        break;
      case '\0':
        line += '0';
        break;
      default:
        line += '\\';
        break;
    }
    from = at + 1;
  }
}

}  // namespace arfis
