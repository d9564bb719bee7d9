// SPDX-License-Identifier: Apache-2.0
// The status page served at "/": one self-contained HTML page (no assets from elsewhere) that
// shows the printer's state and reasons, the document in progress, the last operations of the
// journal and, with the emulator, its paper tape. It reads the service's JSON endpoints and
// refreshes itself. A bearer token, when the service needs one, is given in the address's
// fragment: http://127.0.0.1:8520/#token=SECRET (a fragment never leaves the browser).
#pragma once

#include <string_view>

namespace fpd {

// The page, UTF-8, to be served as "text/html; charset=utf-8".
std::string_view StatusPageHtml();

}  // namespace fpd
