// SPDX-License-Identifier: Apache-2.0
// Small helpers of the printer stack's line code, from the platform: the system's text for an
// errno value (plat::ErrnoText) and a file descriptor with one owner (plat::UniqueFd). Not
// installed.
#pragma once

#include "platform/exceptions.h"
#include "platform/unique_fd.h"
