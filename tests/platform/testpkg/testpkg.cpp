// SPDX-License-Identifier: Apache-2.0
// A tiny package for the loader's tests. Built three ways: as is, without Initialize, and with
// an Initialize that fails.
#include <stdexcept>

namespace {
int g_initialized = 0;
int* g_finalize_flag = nullptr;
}  // namespace

extern "C" {

#ifndef TESTPKG_NO_INITIALIZE
__attribute__((visibility("default"))) void Initialize() {
#ifdef TESTPKG_THROWING
  throw std::runtime_error("printer control missing");
#else
  ++g_initialized;
#endif
}
#endif

__attribute__((visibility("default"))) void Finalize() {
  if (g_finalize_flag != nullptr) ++*g_finalize_flag;
}

__attribute__((visibility("default"))) int InitializeCount() {
  return g_initialized;
}

// The test hands over a counter of its own, since the package is gone once Finalize has run.
__attribute__((visibility("default"))) void WatchFinalize(int* flag) {
  g_finalize_flag = flag;
}
}
