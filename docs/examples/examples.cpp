// SPDX-License-Identifier: Apache-2.0
// The host guide's examples (docs/host-guide.md), as one program: each block between
// "// [guide:NAME]" and "// [/guide:NAME]" is quoted in the guide word for word, and the
// program runs them all, in the order of a day at a till, against the built-in printer
// emulator. It answers 0 when every example did what the guide says.
//
// Build it like any host: link the printer library and define FISCAL_DRIVER_PACKAGE as the
// path of libarfis770.so (tests/install/CMakeLists.txt does this with find_package).
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
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

using plat::AnsiString;
using plat::FieldType;
using plat::TClientDataSet;
using plat::Variant;

int failures = 0;
void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "examples: FAILED: %s\n", what);
    ++failures;
  }
}

// What the operator answers to the next questions (an empty queue answers no), and the dialogs
// shown so far.
std::deque<bool> operatorAnswers;
std::vector<plat::MensagemCall> shown;

// [guide:dialog]
// The host's dialog: kind 3 (tmErro) is an error the driver caught; kind 1 (tmPergunta) is a
// question, and the handler's answer (true = yes) goes back to the driver.
bool ShowDialog(const plat::MensagemCall& call) {
  const std::string text = plat::AnsiToUtf8(call.Text);  // Windows-1252 -> UTF-8 for the screen
  if (call.Kind == plat::tmPergunta) {
    std::printf("question: %s\n", text.c_str());
    const bool yes = !operatorAnswers.empty() && operatorAnswers.front();
    if (!operatorAnswers.empty()) operatorAnswers.pop_front();
    shown.push_back(call);
    return yes;
  }
  std::printf("error: %s\n", text.c_str());
  shown.push_back(call);
  return false;
}
// [/guide:dialog]

// [guide:table]
// A host dataset with fields and rows; Data() gives its data packet.
std::unique_ptr<TClientDataSet> MakeTable(const AnsiString& name,
                                          const std::vector<plat::FieldDef>& fields,
                                          const std::vector<std::vector<Variant>>& rows) {
  auto table = std::make_unique<TClientDataSet>(name);
  for (const auto& f : fields) table->AddFieldDef(f.Name, f.Type, f.Size);
  table->CreateDataSet();
  for (const auto& row : rows) {
    table->Append();
    for (size_t i = 0; i < row.size(); ++i) table->Fields(static_cast<int>(i)).SetValue(row[i]);
    table->Post();
  }
  return table;
}
// [/guide:table]

// The folder beside the host executable, where the log and the host's files live.
AnsiString HostFile(const AnsiString& name) {
  return plat::ExtractFileDir(plat::ExecutablePath()) + "/" + name;
}

std::unique_ptr<plat::Package> pkg;

void Load() {
  // [guide:load]
  plat::SetMensagemHandler(ShowDialog);              // before the first call that may show a dialog
  pkg = plat::Package::Load(FISCAL_DRIVER_PACKAGE);  // runs the package's Initialize

  auto StartImpFiscal = pkg->Get<decltype(::StartImpFiscal)>("StartImpFiscal");
  bool started = StartImpFiscal(plat::MakeBundle({{"CDFILIAL", "01"},
                                                  {"CDCAIXA", "001"},
                                                  {"NRSERIEIMP", ""},
                                                  {"ESQUEMA", "AZUL"},
                                                  {"CDPORTAIMPFIS", "COM1"}}));
  // started is true: no printer command is sent yet, a wrong port shows at the first command.
  // [/guide:load]
  Check(started, "StartImpFiscal answers True");
}

void Sale() {
  // [guide:sale]
  auto AbreCupom = pkg->Get<decltype(::AbreCupom)>("AbreCupom");
  auto VendaItem = pkg->Get<decltype(::VendaItem)>("VendaItem");
  auto Cancela_ItGenerico = pkg->Get<decltype(::Cancela_ItGenerico)>("Cancela_ItGenerico");
  auto FechaCupom = pkg->Get<decltype(::FechaCupom)>("FechaCupom");
  auto Nr_Cupom = pkg->Get<decltype(::Nr_Cupom)>("Nr_Cupom");

  // 1. Open a ticket ("T"; "A" or "C" open an invoice with the buyer's data).
  Variant open = plat::MakeBundle({{"ESQUEMACOR", "AZUL"},
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
                                   {"MESA", "12"},
                                   {"IDUTILTEF", "N"},
                                   {"INTTEFERRO", "0"}});
  bool ok = AbreCupom(open);
  // open now holds six pairs: INTTEFERRO (an integer), INCLUICPF, INCLUINOME, INCLUIENDERECO,
  // CUPNR, CONTCUPOM.

  // 2. Items: quantity and price are numbers, the VAT rate a text in the host's number format.
  auto item = [](const AnsiString& name, double qty, double price) {
    return plat::MakeBundle({{"ESQUEMACOR", "AZUL"},
                             {"MESA", "12"},
                             {"FLAG", "N"},
                             {"CDARVPROD", "100"},
                             {"NMPROD", name},
                             {"CDALIQ", "1"},
                             {"IDALIQ", "T"},
                             {"QTDE", qty},
                             {"VALOR", price},
                             {"UNIDADE", "UN"},
                             {"TIPOTICKET", "T"},
                             {"VRPERCALIQ", "21"}});
  };
  ok = ok && VendaItem(item("MILANESA", 1, 30.0));
  ok = ok && VendaItem(item("AGUA", 2, 5.0));
  // Take one water back: the same line with the qualifier "m".
  ok = ok && Cancela_ItGenerico("AZUL", "", u"AGUA", u"21", u"m", u"0", u"0", u"0", u"T", 1, 5.0);

  // 3. Close: the sale's money movements (rows "E" are payments) and the receipt types.
  auto movements =
      MakeTable("cdsMovCaixa",
                {{"IDTIPOMOVIVE", FieldType::String, 1},
                 {"CDBANCARTCR", FieldType::String, 10},
                 {"CDTIPORECE", FieldType::String, 3},
                 {"CDTIPORECEORIG", FieldType::String, 3},
                 {"VRMOVIVEND", FieldType::Float}},
                {{"E", "", "001", "", 20.0},           // cash
                 {"E", "VISA", "900", "002", 12.0}});  // card: its type is CDTIPORECEORIG
  auto receiptTypes = MakeTable(
      "cdsTipoRece", {{"CDTIPORECE", FieldType::String, 3}, {"NMTIPORECE", FieldType::String, 40}},
      {{"001", "Efectivo"}, {"002", "Tarjeta"}});

  ArfisOpenArray close(43);          // every position exists; unused ones stay Empty
  close[2] = "AZUL";                 // colour scheme of the error dialog
  close[6] = 3.0;                    // discount on the document (0: none)
  close[13] = movements->Data();     // money movements
  close[14] = receiptTypes->Data();  // receipt types
  close[30] = "T";                   // the same document kind as AbreCupom's
  close[42] = "00000125";            // the host's document number, handed back
  Variant answer = plat::VarArrayOf({Variant(), Variant(), Variant()});  // indices 0 to 2
  ok = ok && FechaCupom(close, nullptr, answer);
  // answer: [0] = 0, [1] = "00000125", [2] = "" (filled also when the result is false).
  AnsiString printed = Nr_Cupom("", "");  // the printer's number of the closed ticket
  // [/guide:sale]
  Check(ok, "the sale went through");
  Check(open.Count() == 6 && plat::RecebeParams(open, "INTTEFERRO").AsInteger() == 0,
        "AbreCupom handed the six pairs back");
  Check(answer[1].AsString() == "00000125" && answer[2].AsString().empty(),
        "FechaCupom filled the answer array");
  Check(printed == "00000001", "Nr_Cupom gives the ticket number");
}

void Invoice() {
  auto AbreCupom = pkg->Get<decltype(::AbreCupom)>("AbreCupom");
  auto VendaItem = pkg->Get<decltype(::VendaItem)>("VendaItem");
  auto FechaCupom = pkg->Get<decltype(::FechaCupom)>("FechaCupom");
  // [guide:invoice]
  Variant open = plat::MakeBundle({{"ESQUEMACOR", "AZUL"},
                                   {"TIPOTICKET", "A"},                   // invoice A
                                   {"IVACOMP", "Responsable Inscripto"},  // only "R" is sent
                                   {"IVAPROP", "Responsable Inscripto"},
                                   {"INCLUINOME", "Distribuidora Sur SA"},
                                   {"TIPODOC", "C"},
                                   {"NRDOC", "30712345679"},
                                   {"INCLUIENDERECO", "Av. Belgrano 1200"},
                                   {"INTTEFERRO", 0}});
  bool ok = AbreCupom(open);
  // The price includes VAT; on an invoice the driver sends 121 at 21 % as 000100.00.
  ok = ok && VendaItem(plat::MakeBundle({{"NMPROD", "CAJA"},
                                         {"QTDE", 1.0},
                                         {"VALOR", 121.0},
                                         {"TIPOTICKET", "A"},
                                         {"VRPERCALIQ", "21"}}));
  auto cash = MakeTable("cdsMovCaixa",
                        {{"IDTIPOMOVIVE", FieldType::String, 1},
                         {"CDBANCARTCR", FieldType::String, 10},
                         {"CDTIPORECE", FieldType::String, 3},
                         {"CDTIPORECEORIG", FieldType::String, 3},
                         {"VRMOVIVEND", FieldType::Float}},
                        {{"E", "", "001", "", 121.0}});
  auto types = MakeTable(
      "cdsTipoRece", {{"CDTIPORECE", FieldType::String, 3}, {"NMTIPORECE", FieldType::String, 40}},
      {{"001", "Efectivo"}});
  ArfisOpenArray close(43);
  close[6] = 0.0;
  close[13] = cash->Data();
  close[14] = types->Data();
  close[30] = "A";
  close[42] = "A-0001";
  Variant answer = plat::VarArrayOf({Variant(), Variant(), Variant()});
  ok = ok && FechaCupom(close, nullptr, answer);  // GetInvoiceSubtotal ... CloseInvoice "T","A",""
  // [/guide:invoice]
  Check(ok, "the invoice went through");
}

void Cancellation() {
  auto AbreCupom = pkg->Get<decltype(::AbreCupom)>("AbreCupom");
  auto VendaItem = pkg->Get<decltype(::VendaItem)>("VendaItem");
  // [guide:cancel]
  auto Cancela_Cupom_Imp = pkg->Get<decltype(::Cancela_Cupom_Imp)>("Cancela_Cupom_Imp");
  auto Abre_Gaveta_Imp = pkg->Get<decltype(::Abre_Gaveta_Imp)>("Abre_Gaveta_Imp");

  Variant open = plat::MakeBundle({{"TIPOTICKET", "T"}, {"INTTEFERRO", 0}});
  AbreCupom(open);
  VendaItem(plat::MakeBundle({{"NMPROD", "PIZZA"},
                              {"QTDE", 1.0},
                              {"VALOR", 10.5},
                              {"TIPOTICKET", "T"},
                              {"VRPERCALIQ", "21"}}));
  VendaItem(plat::MakeBundle({{"NMPROD", "FAINA"},
                              {"QTDE", 1.0},
                              {"VALOR", 20.0},
                              {"TIPOTICKET", "T"},
                              {"VRPERCALIQ", "21"}}));

  // The host keeps the sale in cdsVenda.cds beside its executable; the driver adds up the
  // field VRPRECCOMVEN (an empty price counts 0) and sends one payment "C" for the total.
  auto sale = MakeTable("cdsVenda",
                        {{"NMPRODUTO", FieldType::String, 40}, {"VRPRECCOMVEN", FieldType::Float}},
                        {{"PIZZA", 10.5}, {"FAINA", 20.0}});
  sale->SaveToFile(plat::ExtractFileDir(plat::ExecutablePath()) + "/cdsVenda.cds");

  ArfisOpenArray unused;                                  // not read
  Variant untouched;                                      // not written
  bool cancelled = Cancela_Cupom_Imp(unused, untouched);  // SendTicketPayment "Dinheiro","30.5","C"
  // No sale file: false and nothing sent. Failures (a damaged file, the printer) raise.

  bool drawer = Abre_Gaveta_Imp("", false);  // OpenCashDrawer "1"
  // [/guide:cancel]
  Check(cancelled, "Cancela_Cupom_Imp cancelled the ticket");
  Check(drawer, "Abre_Gaveta_Imp opened the drawer");
  Check(plat::DefaultEmulator()->Model().State() == plat::FiscalPrinterModel::DocState::Idle,
        "no document is left open");
}

void Supply() {
  // [guide:supply]
  auto Suprimento = pkg->Get<decltype(::Suprimento)>("Suprimento");
  bool opening = Suprimento("", "AZUL", 200.0, true);  // opening amount of the till
  bool supply = Suprimento("", "AZUL", 150.0, false);  // prints "Suprimento 150.00"
  // [/guide:supply]
  Check(opening && supply, "both supply receipts printed");
}

void CashOutAndClosing() {
  // [guide:cashout]
  auto GeraReciboSangria = pkg->Get<decltype(::GeraReciboSangria)>("GeraReciboSangria");
  auto Reducao_Z_Imp = pkg->Get<decltype(::Reducao_Z_Imp)>("Reducao_Z_Imp");

  // Amounts per payment type (VRFECHADIG is printed for a withdrawal, VRFECHAINF at closing).
  auto movFecha = MakeTable("cdsMovFecha",
                            {{"CDTIPORECE", FieldType::String, 3},
                             {"NRENVELOPE", FieldType::String, 6},
                             {"NMTIPORECE", FieldType::String, 40},
                             {"VRFECHADIG", FieldType::Float},
                             {"VRFECHAINF", FieldType::Float}},
                            {{"001", "000001", "Efectivo", 300.0, 290.0}});
  auto operSup = MakeTable("cdsOperSup",
                           {{"CDSUPERVISOR", FieldType::String},
                            {"NMSUPERVISOR", FieldType::String, 40},
                            {"CDOPERADOR", FieldType::String},
                            {"NMOPERADOR", FieldType::String, 40}},
                           {{"01", "ANA", "07", "LUIS"}});
  // Movements: IDTIPOREG "1", "5", "A" payment types, "2" voucher issued, "3" cash supply,
  // "4" voucher received.
  std::vector<plat::FieldDef> movFields = {{"IDTIPOREG", FieldType::String, 1},
                                           {"CDTIPORECE", FieldType::String, 3},
                                           {"VRSAIDA", FieldType::Float},
                                           {"NMTIPORECE", FieldType::String, 40}};
  auto movTot = MakeTable("cdsMovTot", movFields,
                          {{"1", "001", 290.0, "Efectivo"}, {"3", "001", 150.0, "Suprimento"}});
  auto movAbertura = MakeTable("cdsMovAbertura", movFields, {{"1", "001", 290.0, "Efectivo"}});
  // Products sold (shift and day).
  std::vector<plat::FieldDef> prodFields = {
      {"CDPRODUTO", FieldType::String},       {"NMPRODUTO", FieldType::String, 40},
      {"QTPRODVEND", FieldType::Float},       {"VRTOTAL", FieldType::Float},
      {"VRACRE", FieldType::Float},           {"VRDESC", FieldType::Float},
      {"IDTPIMPOSFIS", FieldType::String, 1}, {"VRPEALIMPFIS", FieldType::Float}};
  auto prod =
      MakeTable("cdsProd", prodFields, {{"100", "MILANESA", 1.0, 30.0, 0.0, 3.0, "T", 21.0}});
  auto withdrawals = MakeTable("cdsSangria", {{"VRSANGRIA", FieldType::Float}}, {});
  auto types = MakeTable("cdsTipoRece", {{"CDTIPORECE", FieldType::String, 3}}, {{"001"}});

  AnsiString cupomDia = "000125";     // by reference, not written
  TClientDataSet* notUsed = nullptr;  // the four by-reference datasets are not written
  bool reduziu = false;

  auto run = [&](bool boSangria, bool printReceipt) {
    return GeraReciboSangria("COM1", "SERIE01", "01", "001", "", 0, cupomDia, movFecha.get(),
                             withdrawals.get(), prod.get(), operSup.get(), movTot.get(),
                             movAbertura.get(), prod.get(), plat::Now(),
                             printReceipt,  // boImpRelSan: print the receipt (and shift reports)
                             true,          // boImprimeRedZ: the Z reduction may be offered
                             false, notUsed, notUsed, notUsed, notUsed, reduziu, types.get(),
                             "N",  // stEmiRelProd: "N" print, "S" ask, else none
                             "N",  // stTribRelPro: "S" groups by tax category
                             "N",  // stImpLeituraX: "S" takes an X reading first
                             "S",  // idImpEnvelope: "S" adds the envelope heading
                             "AZUL", boSangria,
                             false,  // boFechDiaAnterior: not read
                             true,   // boAccessImpRedz: the operator may take the Z
                             "Retiro parcial", "");
  };

  // A withdrawal during the day: the two-copy receipt; no question; always false.
  run(true, true);

  // Closing the till: receipt, shift product and closing reports, then the questions
  // "Deseja abrir o caixa?" (no), "Confirma impressão da redução z?" (yes) and
  // "Confirma impressão dos relatórios de fechamento?" (yes).
  operatorAnswers = {false, true, true};
  bool reopen = run(false, true);  // true: the operator reopens the till
  if (!reopen && reduziu) {
    Reducao_Z_Imp("COM1", "AZUL", "");  // the driver never takes the Z by itself
  }
  // [/guide:cashout]
  Check(!reopen, "the till is not reopened");
  Check(reduziu, "the operator confirmed the Z reduction");
  Check(plat::FileExists(HostFile("REDUCAOZ_MP35.CDS")), "the Z data file was written");
}

void XAndZ() {
  // [guide:xz]
  auto Leitura_X_Imp = pkg->Get<decltype(::Leitura_X_Imp)>("Leitura_X_Imp");
  auto Reducao_Z_Imp = pkg->Get<decltype(::Reducao_Z_Imp)>("Reducao_Z_Imp");
  auto GetValue = pkg->Get<decltype(::GetValue)>("GetValue");

  bool x = Leitura_X_Imp("COM1", "AZUL", "");  // CloseJournal "X", "P"
  bool z = Reducao_Z_Imp("COM1", "AZUL", "");  // CloseJournal "Z", ""; then REDUCAOZ_MP35.CDS

  // The Z data file: one row, 27 fields (docs/host-guide.md); cdsdump prints it too.
  TClientDataSet zData("ReducaoZ");
  zData.LoadFromFile(plat::ExtractFileDir(plat::ExecutablePath()) + "/REDUCAOZ_MP35.CDS");
  zData.Open();
  AnsiString zNumber = zData.FieldByName("NRREDREDZ").AsString();  // "0000000002"
  double daySales = zData.FieldByName("VRVENBRUREDZ").AsFloat();   // 0 after the earlier Z

  double amount = GetValue("0001234567");  // printer digits, last two decimals: 12345.67
  // [/guide:xz]
  Check(x && z, "X reading and Z reduction accepted");
  Check(zData.RecordCount() == 1 && zData.FieldCount() == 27, "the Z file holds one row of 27");
  Check(zNumber == "0000000002", "second Z of the run");
  Check(daySales == 0.0, "no sales since the first Z");
  Check(amount == 12345.67, "GetValue reads the printer's digits");
}

void Queries() {
  // [guide:queries]
  auto Estado_Imp = pkg->Get<decltype(::Estado_Imp)>("Estado_Imp");
  auto VerificaData = pkg->Get<decltype(::VerificaData)>("VerificaData");
  auto Carrega_Dados_Impressora =
      pkg->Get<decltype(::Carrega_Dados_Impressora)>("Carrega_Dados_Impressora");

  bool answers = Estado_Imp("", false, false);  // Status "N": true when the printer answered

  plat::TDateTime printerClock = 0;
  VerificaData("AZUL", printerClock, "", "", false);  // raises when the clock does not convert

  // The host's settings file Quorilo.cds: NRECFCAIXA and NRSERIEECF enciphered with key 7.
  auto settings = MakeTable(
      "cdsPers", {{"NRECFCAIXA", FieldType::String, 40}, {"NRSERIEECF", FieldType::String, 40}},
      {{plat::Cripto("0003", 7), plat::Cripto("AB12345678", 7)}});
  settings->SaveToFile(plat::ExtractFileDir(plat::ExecutablePath()) + "/Quorilo.cds");

  Variant data = plat::MakeBundle({{"ESQUEMA", "AZUL"},
                                   {"DATAATUIMP", "S"},
                                   {"ECFIMP", ""},
                                   {"REDIMP", "0"},
                                   {"SERIEIMP", ""},
                                   {"DATAIMP", ""}});
  bool found = Carrega_Dados_Impressora(data);  // false (values as given) without Quorilo.cds
  AnsiString ecf = plat::RecebeParams(data, "ECFIMP").AsString();       // "0003"
  AnsiString serial = plat::RecebeParams(data, "SERIEIMP").AsString();  // "AB12345678"
  AnsiString clock = plat::RecebeParams(data, "DATAIMP").AsString();    // "dd/mm/yy hh:nn"
  // [/guide:queries]
  Check(answers, "Estado_Imp: the printer answers");
  Check(printerClock > 0, "VerificaData read the printer's clock");
  Check(found && ecf == "0003" && serial == "AB12345678", "Carrega_Dados_Impressora deciphered");
  Check(clock.size() == 14, "DATAIMP holds the printer's date and time");
}

void Failures() {
  // [guide:failures]
  auto VendaItem = pkg->Get<decltype(::VendaItem)>("VendaItem");
  auto Abre_Gaveta_Imp = pkg->Get<decltype(::Abre_Gaveta_Imp)>("Abre_Gaveta_Imp");

  // Inside the guard: a VAT rate that is not a number shows the error dialog; the answer is false.
  bool sold = VendaItem(plat::MakeBundle({{"NMPROD", "X"},
                                          {"QTDE", 1.0},
                                          {"VALOR", 1.0},
                                          {"TIPOTICKET", "T"},
                                          {"VRPERCALIQ", "abc"}}));
  // Before the guard: a quantity that is not a number raises to the host, no dialog.
  bool raised = false;
  try {
    VendaItem(plat::MakeBundle({{"QTDE", "two"}, {"TIPOTICKET", "T"}}));
  } catch (const plat::EConvertError& e) {
    std::printf("VendaItem: %s\n", plat::AnsiToUtf8(e.Message()).c_str());
    raised = true;
  }
  // Entry points without a guard raise every failure, here the printer's (plat::ELinkError).
  bool linkDown = false;
  plat::DefaultEmulator()->SetSwitchedOff(true);
  try {
    Abre_Gaveta_Imp("", false);
  } catch (const plat::Exception& e) {
    std::printf("Abre_Gaveta_Imp: %s\n", plat::AnsiToUtf8(e.Message()).c_str());
    linkDown = true;
  }
  plat::DefaultEmulator()->SetSwitchedOff(false);
  // [/guide:failures]
  Check(!sold, "a bad rate answers false");
  Check(raised, "a bad quantity raises");
  Check(linkDown, "a switched-off printer raises");
}

}  // namespace

int main() {
  // The regional settings of an Argentine till: a point as the decimal separator (for the
  // number texts written here) and day/month/year dates.
  plat::FormatSettings().DecimalSeparator = '.';
  plat::FormatSettings().ShortDateFormat = "dd/mm/yyyy";
  try {
    Load();
    Sale();
    Invoice();
    Cancellation();
    Supply();
    CashOutAndClosing();
    XAndZ();
    Queries();
    Check(shown.size() == 3, "only the three closing questions were shown so far");
    const size_t dialogsBefore = shown.size();
    Failures();
    Check(shown.size() == dialogsBefore + 1 && shown.back().Kind == plat::tmErro,
          "one error dialog for the bad rate");
    pkg.reset();  // Finalize, then unload
  } catch (const plat::Exception& e) {
    std::fprintf(stderr, "examples: %s\n", plat::AnsiToUtf8(e.Message()).c_str());
    return 1;
  }
  if (failures == 0) std::printf("examples: all passed\n");
  return failures == 0 ? 0 : 1;
}
