// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the dataset file loader: every input must either load or raise a
// platform exception, never read out of bounds or allocate from an unchecked count. What loads
// must save and load again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/dataset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::shared_ptr<const plat::DataPacket> packet;
  try {
    packet = plat::LoadPacketFromBytes(bytes);
  } catch (const plat::Exception&) {
    return 0;
  }
  // A file that loads is in the one canonical form: saving it gives back the same bytes.
  if (plat::SavePacketToBytes(*packet) != bytes) std::abort();
  return 0;
}
