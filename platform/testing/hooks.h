// SPDX-License-Identifier: Apache-2.0
// Hooks through which tests and benchmarks steer the operating-system services. Hosts never
// use them, so this header is not installed. Each hook takes effect for the whole process.
#pragma once

#include <functional>

#include "platform/export.h"
#include "platform/types.h"

namespace plat {

// Points the executable path at a folder of the test's own, so that the log and the host files
// land there. An empty path returns to the real one.
PLAT_API void SetExecutablePathForTesting(const AnsiString& path);

// The n-th AppendToTextFile from now (1-based) writes only half of its text, as a full disk
// would, and so takes the short-write path: the part written is taken back and EInOutError
// "... (forced failure)" is raised. Counts once; 0 or less switches it off.
PLAT_API void SetAppendFailureForTesting(int n);

// Replaces the clock that Now() and Date() read; an empty function restores the system clock.
PLAT_API void SetClockForTesting(std::function<TDateTime()> clock);

}  // namespace plat
