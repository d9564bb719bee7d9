// SPDX-License-Identifier: Apache-2.0
// The service's error answers and the texts of failures: the error body every door answers, a
// caught failure as a message a person reads, and whether the driver showed an error dialog.
#pragma once

#include <exception>
#include <string>

#include "codec.h"

namespace fpd {

// {"error": {"code", "message", "field"}}, field null when empty.
Json ErrorBody(const std::string& code, const std::string& message, const std::string& field = "");

// The message of a failure as UTF-8: the driver's own text for its exceptions (Windows-1252
// inside), what() for any other, a fixed text for a throw of something that is no exception.
std::string FailureText(const std::exception& e);
std::string FailureText(std::exception_ptr failure);

// True when the captured dialogs hold an error the driver showed (any dialog but a question).
bool ShowedError(const Json& dialogs);

}  // namespace fpd
