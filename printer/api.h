// SPDX-License-Identifier: Apache-2.0
// What the printer library exports. The library is built with hidden visibility: only what is
// marked FISCAL_PRINTER_API (classes, functions) is part of its interface to hosts and to the
// driver package.
#pragma once

#define FISCAL_PRINTER_API __attribute__((visibility("default")))
