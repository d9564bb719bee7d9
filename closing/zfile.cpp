// SPDX-License-Identifier: Apache-2.0
#include "closing/zfile.h"

#include <filesystem>

#include "driver/Arfis770.h"
#include "platform/os.h"

namespace arfis {

namespace {
const char kArquivoReducaoZ[] = "REDUCAOZ_MP35.CDS";
}  // namespace

plat::AnsiString ZDataFile() {
  return DsDirCad + kArquivoReducaoZ;
}

plat::AnsiString ZDataFileBesideHost() {
  return plat::HostFolder() + "/" + kArquivoReducaoZ;
}

void RemoveZDataFiles() {
  const plat::AnsiString beside = ZDataFileBesideHost(), data = ZDataFile();
  plat::DeleteFile(beside);
  std::error_code same;
  if (!std::filesystem::equivalent(beside, data, same)) plat::DeleteFile(data);
}

}  // namespace arfis
