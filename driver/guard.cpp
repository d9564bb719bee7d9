// SPDX-License-Identifier: Apache-2.0
#include "driver/guard.h"

#include "driver/Arfis770.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"

namespace arfis {

TfrmArgentina& Form() {
  if (frmArgentina == nullptr) {
    throw plat::Exception("The fiscal printer driver is not started: call StartImpFiscal first");
  }
  return *frmArgentina;
}

plat::AnsiString FailureMessage(const std::exception& e) {
  if (const auto* pe = dynamic_cast<const plat::Exception*>(&e)) return pe->Message();
  return e.what();
}

void ShowError(const plat::AnsiString& message, const plat::AnsiString& scheme) {
  plat::Mensagem(message, "", "N", "N", plat::tmErro, "", scheme, 0, nullptr);
}

bool Ask(const plat::AnsiString& key, const plat::AnsiString& scheme) {
  return plat::Mensagem(Form().msgPadrao.Msg(key), "", "N", "S", plat::tmPergunta, "", scheme, 0,
                        nullptr);
}

void LogWide(const plat::WideString& line) {
  ImpFisDebug(plat::WideToAnsi(line));
}

}  // namespace arfis
