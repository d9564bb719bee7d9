// SPDX-License-Identifier: Apache-2.0
// The process's receiver of printer notices.
#include "printer/notices.h"

#include <memory>
#include <mutex>

namespace plat {

namespace {

std::mutex& Mu() {
  static std::mutex mu;
  return mu;
}

std::shared_ptr<const PrinterNotice>& Receiver() {
  static std::shared_ptr<const PrinterNotice> receiver;
  return receiver;
}

}  // namespace

void SetPrinterNotices(PrinterNotice receiver) {
  std::lock_guard<std::mutex> lock(Mu());
  Receiver() = receiver ? std::make_shared<const PrinterNotice>(std::move(receiver)) : nullptr;
}

void TellPrinterNotice(const std::string& line, bool warning) {
  std::shared_ptr<const PrinterNotice> r;
  {
    std::lock_guard<std::mutex> lock(Mu());
    r = Receiver();
  }
  if (r) (*r)(line, warning);
}

}  // namespace plat
