// SPDX-License-Identifier: Apache-2.0
#include "errors.h"

#include <algorithm>

#include "platform/exceptions.h"

namespace fpd {

Json ErrorBody(const std::string& code, const std::string& message, const std::string& field) {
  return Json{{"error",
               {{"code", code},
                {"message", message},
                {"field", field.empty() ? Json(nullptr) : Json(field)}}}};
}

std::string FailureText(const std::exception& e) {
  const auto* pe = dynamic_cast<const plat::Exception*>(&e);
  return pe ? FromAnsi(pe->Message()) : std::string(e.what());
}

std::string FailureText(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return FailureText(e);
  } catch (...) {
    return "a failure that names no reason";
  }
}

bool ShowedError(const Json& dialogs) {
  return dialogs.is_array() && std::any_of(dialogs.begin(), dialogs.end(), [](const Json& d) {
           return d.is_object() && d.value("question", false) == false;
         });
}

}  // namespace fpd
