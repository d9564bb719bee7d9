// SPDX-License-Identifier: Apache-2.0
// Holding a serial device for one program: the line's exclusive mode (TIOCEXCL, so that no
// other program opens it) and an flock on it (which also holds against programs that may
// open it anyway). Not installed.
#pragma once

#include <string>

namespace plat {

// Takes the device open on fd for this program. Answers an empty text, or why it cannot:
// "the device is in use by process N".
std::string HoldDevice(int fd, const std::string& path);
// Gives it back; closing fd after this releases everything.
void ReleaseDevice(int fd);
// Who holds the device at path: "process N" from the system's lock table, or "another
// program" when the table does not tell.
std::string DeviceHolder(const std::string& path);

}  // namespace plat
