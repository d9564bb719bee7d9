// SPDX-License-Identifier: Apache-2.0
// A small point-of-sale host built outside the source tree against the installed package: it
// loads the driver package from the path that find_package (or pkg-config) gives, installs its
// dialog handler, starts the printer on COM1 and sells one ticket: AbreCupom, VendaItem,
// FechaCupom with one cash payment. It checks every answer and the emulator's paper and
// answers 0 when all is well, 1 with a message on standard error otherwise.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "driver/Arfis770.h"
#include "platform/codepage.h"
#include "platform/dataset.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/loader.h"
#include "platform/os.h"
#include "platform/support.h"
#include "printer/emulator.h"

#ifndef FISCAL_DRIVER_PACKAGE
#error "build with -DFISCAL_DRIVER_PACKAGE=\"<path of libarfis770.so>\""
#endif

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "host: FAILED: %s\n", what.c_str());
    ++failures;
  }
}

// The value under key in a bundle handed back by the driver.
plat::Variant Pair(const plat::Variant& bundle, const char* key) {
  return plat::RecebeParams(bundle, key);
}

bool PaperHas(const std::vector<plat::AnsiString>& paper, const std::string& text) {
  for (const auto& line : paper)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

int Run(const char* packagePath) {
  // The host's regional settings: a point as the decimal separator.
  plat::FormatSettings().DecimalSeparator = '.';

  // Every dialog that the driver shows comes here; this host has no operator, so it records
  // them and answers no to questions.
  std::vector<plat::MensagemCall> dialogs;
  plat::SetMensagemHandler([&dialogs](const plat::MensagemCall& call) {
    dialogs.push_back(call);
    std::fprintf(stderr, "host: dialog (kind %d): %s\n", static_cast<int>(call.Kind),
                 plat::AnsiToUtf8(call.Text).c_str());
    return false;
  });

  auto pkg = plat::Package::Load(packagePath);
  auto start = pkg->Get<decltype(StartImpFiscal)>("StartImpFiscal");
  auto abre = pkg->Get<decltype(AbreCupom)>("AbreCupom");
  auto venda = pkg->Get<decltype(VendaItem)>("VendaItem");
  auto fecha = pkg->Get<decltype(FechaCupom)>("FechaCupom");

  Check(start(plat::MakeBundle({{"CDFILIAL", "1"},
                                {"CDCAIXA", "1"},
                                {"NRSERIEIMP", ""},
                                {"ESQUEMA", "AZUL"},
                                {"CDPORTAIMPFIS", "COM1"}})),
        "StartImpFiscal answers True");

  // Open a ticket; the bundle comes back with six pairs.
  plat::Variant open = plat::MakeBundle({{"ESQUEMACOR", "AZUL"},
                                         {"INCLUICPF", "N"},
                                         {"INCLUINOME", ""},
                                         {"INCLUIENDERECO", ""},
                                         {"CUPNR", "1"},
                                         {"CONTCUPOM", "1"},
                                         {"TIPOTICKET", "T"},
                                         {"IVACOMP", ""},
                                         {"IVAPROP", ""},
                                         {"TIPODOC", ""},
                                         {"NRDOC", ""},
                                         {"MESA", "1"},
                                         {"IDUTILTEF", "N"},
                                         {"INTTEFERRO", "0"}});
  Check(abre(open), "AbreCupom answers True");
  Check(open.IsArray() && open.Count() == 6, "AbreCupom hands six pairs back");
  Check(Pair(open, "CUPNR").AsString() == "1", "CUPNR comes back");
  Check(Pair(open, "TIPOTICKET").IsEmpty(), "TIPOTICKET is not handed back");

  // One item: two coffees at 12.50 with 21 % VAT included.
  Check(venda(plat::MakeBundle({{"ESQUEMACOR", "AZUL"},
                                {"MESA", "1"},
                                {"FLAG", "N"},
                                {"CDARVPROD", "10"},
                                {"NMPROD", "CAFE"},
                                {"CDALIQ", "1"},
                                {"IDALIQ", "T"},
                                {"QTDE", 2.0},
                                {"VALOR", 12.5},
                                {"UNIDADE", "UN"},
                                {"TIPOTICKET", "T"},
                                {"VRPERCALIQ", "21"}})),
        "VendaItem answers True");

  // The sale's money movements (one cash payment of 25) and the receipt types.
  plat::TClientDataSet movements("cdsMovCaixa");
  movements.AddFieldDef("IDTIPOMOVIVE", plat::FieldType::String, 1);
  movements.AddFieldDef("CDBANCARTCR", plat::FieldType::String, 10);
  movements.AddFieldDef("CDTIPORECE", plat::FieldType::String, 3);
  movements.AddFieldDef("CDTIPORECEORIG", plat::FieldType::String, 3);
  movements.AddFieldDef("VRMOVIVEND", plat::FieldType::Float);
  movements.CreateDataSet();
  movements.Append();
  movements.FieldByName("IDTIPOMOVIVE").SetAsString("E");
  movements.FieldByName("CDBANCARTCR").SetAsString("");
  movements.FieldByName("CDTIPORECE").SetAsString("1");
  movements.FieldByName("CDTIPORECEORIG").SetAsString("");
  movements.FieldByName("VRMOVIVEND").SetAsFloat(25.0);
  movements.Post();

  plat::TClientDataSet receiptTypes("cdsTipoRece");
  receiptTypes.AddFieldDef("CDTIPORECE", plat::FieldType::String, 3);
  receiptTypes.AddFieldDef("NMTIPORECE", plat::FieldType::String, 40);
  receiptTypes.CreateDataSet();
  receiptTypes.Append();
  receiptTypes.FieldByName("CDTIPORECE").SetAsString("1");
  receiptTypes.FieldByName("NMTIPORECE").SetAsString("Efectivo");
  receiptTypes.Post();

  ArfisOpenArray close(43);
  close[2] = "AZUL";                // colour scheme
  close[6] = 0.0;                   // discount
  close[13] = movements.Data();     // money movements
  close[14] = receiptTypes.Data();  // receipt types
  close[30] = "T";                  // document kind
  close[42] = "00000001";           // document number, echoed
  plat::Variant answer = plat::VarArrayOf({plat::Variant(), plat::Variant(), plat::Variant()});
  Check(fecha(close, nullptr, answer), "FechaCupom answers True");
  Check(answer[0].AsInteger() == 0, "answer[0] is 0");
  Check(answer[1].AsString() == "00000001", "answer[1] is the document number");
  Check(answer[2].AsString().empty(), "answer[2] is empty");

  Check(dialogs.empty(), "no dialog was shown");

  // The printer side: the built-in emulator that the package and this host share.
  auto emu = plat::DefaultEmulator();
  const std::vector<std::string> expected = {"OpenTicket", "SendTicketItem", "GetTicketSubtotal",
                                             "SendTicketPayment", "CloseTicket"};
  Check(emu->Methods() == expected, "the printer got open, item, subtotal, payment, close");
  const auto& paper = emu->Paper();
  Check(PaperHas(paper, "CAFE"), "the item is on the paper");
  Check(PaperHas(paper, "Efectivo"), "the payment is on the paper");
  Check(PaperHas(paper, "25.00"), "the total is on the paper");
  Check(emu->Model().State() == plat::FiscalPrinterModel::DocState::Idle, "the ticket is closed");

  // The log in the host folder, by default this executable's.
  const plat::AnsiString dir = plat::HostFolder();
  Check(dir == plat::ExtractFileDir(plat::ExecutablePath()),
        "the host folder is the executable's by default");
  const plat::AnsiString log =
      dir + "/impdebug" + plat::FormatDateTime("mmyy", plat::Now()) + ".txt";
  Check(plat::FileExists(log), "the log " + log + " exists");
  if (plat::FileExists(log)) {
    const std::string text = plat::ReadWholeFile(log);
    Check(text.find(" - StartImpFiscal - PortNumber: 1\r\n") != std::string::npos,
          "the log has the start line");
    Check(text.find(" - CloseTicket\r\n") != std::string::npos, "the log has the closing line");
  }

  pkg.reset();  // Finalize, then unload
  plat::SetMensagemHandler({});
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : FISCAL_DRIVER_PACKAGE;
  try {
    const int rc = Run(path);
    if (rc == 0) std::printf("host: sale through %s passed\n", path);
    return rc;
  } catch (const plat::Exception& e) {
    std::fprintf(stderr, "host: %s\n", plat::AnsiToUtf8(e.Message()).c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "host: %s\n", e.what());
  }
  return 1;
}
