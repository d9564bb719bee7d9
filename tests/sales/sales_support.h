// Shared set-up for the sales document tests: a started host with a clean log and journal,
// bundles and arrays the way a point-of-sale host builds them, and the separator switch.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/form.h"
#include "platform/codepage.h"
#include "tests/support/harness.h"

namespace salestest {

using plat::AnsiString;
using plat::Variant;
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

  Variant OpenBundle(const AnsiString& kind) {
    return plat::MakeBundle({{"ESQUEMACOR", "AZUL"},
                             {"INCLUICPF", "S"},
                             {"INCLUINOME", "Juan"},
                             {"INCLUIENDERECO", "Calle 1"},
                             {"CUPNR", "15"},
                             {"CONTCUPOM", "3"},
                             {"TIPOTICKET", kind},
                             {"IVACOMP", "Responsable"},
                             {"IVAPROP", "Monotributo"},
                             {"TIPODOC", "DNI"},
                             {"NRDOC", "20123"},
                             {"MESA", "4"},
                             {"IDUTILTEF", "N"},
                             {"INTTEFERRO", "0"}});
  }
  Variant ItemBundle(const AnsiString& name, double qty, double price, const AnsiString& kind,
                     const AnsiString& rate) {
    return plat::MakeBundle({{"ESQUEMACOR", "AZUL"},
                             {"MESA", "4"},
                             {"FLAG", "N"},
                             {"CDARVPROD", "100"},
                             {"NMPROD", name},
                             {"CDALIQ", "1"},
                             {"IDALIQ", "T"},
                             {"QTDE", qty},
                             {"VALOR", price},
                             {"UNIDADE", "UN"},
                             {"TIPOTICKET", kind},
                             {"VRPERCALIQ", rate}});
  }
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
