// SPDX-License-Identifier: Apache-2.0
// The calling thread's quick status queries (printer/backend.h).
#include "printer/backend.h"

namespace plat {

namespace {
thread_local bool quick = false;
}  // namespace

QuickStatusQueries::QuickStatusQueries() : outer_(quick) {
  quick = true;
}
QuickStatusQueries::~QuickStatusQueries() {
  quick = outer_;
}
bool QuickStatusQueries::Active() {
  return quick;
}

}  // namespace plat
