// Feeds arbitrary bytes to the print service's request decoder, as a hostile page or a broken
// client would send them: the first byte picks the endpoint, the rest is the body. A body is
// either refused with a RequestError or decoded into arguments whose answer form can be made;
// nothing else may escape, and nothing may read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "service/codec.h"
#include "service/entry_points.h"
#include "service/tasks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto& entries = fpd::EntryPoints();
  const size_t pick = data[0] % (entries.size() + 5);
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    const fpd::Json json = fpd::ParseBody(body);
    if (pick < entries.size()) {
      const fpd::CallArgs call = fpd::DecodeCall(entries[pick], json);
      (void)fpd::OutArgs(call).dump(-1, ' ', false, fpd::Json::error_handler_t::strict);
    } else {
      switch (pick - entries.size()) {
        case 0:
          fpd::PrepareSale(json, "");
          break;
        case 1:
          fpd::PrepareSupply(json, "");
          break;
        case 2:
          fpd::PrepareX(json, "");
          break;
        case 3:
          fpd::PrepareZ(json, "");
          break;
        default:
          fpd::PrepareClosing(json, "");
          break;
      }
    }
  } catch (const fpd::RequestError& e) {
    if (e.Code() != "bad_json" && e.Code() != "bad_field" && e.Code() != "unencodable_text") {
      std::abort();
    }
  }
  return 0;
}
