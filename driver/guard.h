// SPDX-License-Identifier: Apache-2.0
// What every entry point shares: the current form, the error dialog and the operator's
// questions, and logging of wide texts.
#pragma once

#include <exception>
#include <optional>
#include <utility>

#include "driver/form.h"
#include "platform/types.h"

namespace arfis {

// The current driver form. Raises plat::Exception when StartImpFiscal has not created one, so
// that a guarded entry point answers False with the dialog and an unguarded one raises a clear
// error to the host.
TfrmArgentina& Form();

// The message of a caught failure (plat::Exception's message, or what() of any other).
plat::AnsiString FailureMessage(const std::exception& e);

// The error dialog: message, "", "N", "N", kind 3, "", colour scheme, 0, no dataset.
void ShowError(const plat::AnsiString& message, const plat::AnsiString& scheme);

// A question to the operator with the message table's text for key: text, "", "N", "S",
// kind 1, "", colour scheme, 0, no dataset. True means yes.
bool Ask(const plat::AnsiString& key, const plat::AnsiString& scheme);

// Logs a line built in wide text, converted to Windows-1252 first.
void LogWide(const plat::WideString& line);

// Runs body inside the entry point's one exception handler: any failure shows the error dialog
// with scheme and answers no value; otherwise answers what body answers.
template <class Body>
auto GuardedValue(const plat::AnsiString& scheme, Body&& body) -> std::optional<decltype(body())> {
  try {
    return body();
  } catch (const std::exception& e) {
    ShowError(FailureMessage(e), scheme);
  } catch (...) {
    ShowError("Unknown failure", scheme);
  }
  return std::nullopt;
}

// The same for an entry point that answers a Boolean: a failure answers false.
template <class Body>
bool Guarded(const plat::AnsiString& scheme, Body&& body) {
  return GuardedValue(scheme, std::forward<Body>(body)).value_or(false);
}

}  // namespace arfis
