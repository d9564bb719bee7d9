// SPDX-License-Identifier: Apache-2.0
// Shared set-up for the sales document tests: a started host with a clean log and journal,
// the bundles of tests/support/host_data.h, and the separator switch.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/form.h"
#include "platform/codepage.h"
#include "tests/support/harness.h"
#include "tests/support/host_data.h"

namespace salestest {

using plat::AnsiString;
using plat::Variant;
using testhost::ItemBundle;
using testhost::OpenBundle;
using Lines = std::vector<AnsiString>;
using Texts = std::vector<std::string>;  // the same type as Lines (texts are bytes)

// A started host with nothing in the log or the journal yet; parameterised by the decimal
// separator so that every number case runs with '.' and ','.
class SalesTest : public ::testing::TestWithParam<char> {
 protected:
  void SetUp() override {
    host.SetDecimalSeparator(GetParam());
    host.ClearLog();
    host.Emu().ClearJournal();
  }
  // A number text written with '.' in the test, as the host writes it with the separator.
  AnsiString Num(AnsiString text) const {
    for (char& c : text)
      if (c == '.') c = GetParam();
    return text;
  }
  Texts NumAll(Texts texts) const {
    for (auto& t : texts)
      for (char& c : t)
        if (c == '.') c = GetParam();
    return texts;
  }
  void Restart() {
    host.ClearLog();
    host.Emu().ClearJournal();
    host.dialogs.clear();
  }
  TfrmArgentina& Form() { return **host.Package().Get<TfrmArgentina*>("frmArgentina"); }

  // Opens a document of the kind through the driver and sells one item on it, then clears the
  // log and the journal.
  void OpenWithItem(const AnsiString& kind, double qty, double price, const AnsiString& rate) {
    Variant open = OpenBundle(kind);
    ASSERT_TRUE(CALL(host, AbreCupom)(open));
    ASSERT_TRUE(CALL(host, VendaItem)(ItemBundle("Item", qty, price, kind, rate)));
    Restart();
  }

  testhost::DriverHost host;
};

inline std::string Utf8(const AnsiString& s) {
  return plat::AnsiToUtf8(s);
}

}  // namespace salestest
