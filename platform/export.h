// SPDX-License-Identifier: Apache-2.0
// What the platform library exports: the classes and routines its headers mark PLAT_API. The
// rest of the library is its own and stays hidden from hosts and the driver package.
#pragma once

#define PLAT_API __attribute__((visibility("default")))
