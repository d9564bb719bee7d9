// SPDX-License-Identifier: Apache-2.0
// A day at a till through the driver package, once against the built-in emulator and once over
// a pseudo-terminal to the printer-emulator program: the same commands run, once each, and the
// same paper comes out, also when the line damages and loses replies.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "printer/internal/sent_record.h"
#include "printer/link_decision.h"
#include "printer/notices.h"
#include "printer/serial_backend.h"
#include "printer/status.h"
#include "printer/variants.h"
#include "printer/wire.h"
#include "tests/closing/day_closing_support.h"
#include "tests/support/harness.h"
#include "tests/support/host_data.h"
#include "tests/support/printer_pty.h"

namespace {

using plat::AnsiString;
using plat::FieldType;
using plat::Variant;
using testhost::DriverHost;
using Texts = std::vector<std::string>;

// The printer-emulator program on a pseudo-terminal, with its journal and paper files.
class EmulatorProgram {
 public:
  explicit EmulatorProgram(std::vector<std::string> extra = {})
      : dir_(MakeDir()),
        program_(std::make_unique<testhost::PrinterPty>(Args(dir_, std::move(extra)))),
        pty_(program_->Pty()) {}
  ~EmulatorProgram() {
    program_.reset();  // the program stops before its files go
    std::remove(Journal().c_str());
    std::remove((dir_ + "/paper.txt").c_str());
    rmdir(dir_.c_str());
  }
  const std::string& Pty() const { return pty_; }
  std::string Journal() const { return dir_ + "/journal.txt"; }
  Texts JournalLines() const { return Lines(dir_ + "/journal.txt"); }
  Texts PaperLines() const { return Lines(dir_ + "/paper.txt"); }

  // A serial backend on port 1 towards this program, installed for every control.
  // model: the variant the link drives it as; empty: told from the printer's answers.
  std::shared_ptr<plat::SerialBackend> Connect(int timeoutMs = 2000,
                                               const std::string& model = "ours") {
    plat::SerialConfig c;
    c.Ports[1] = pty_;
    c.TimeoutMs = timeoutMs;
    c.Model = model;
    c.ReplyWaitMs = 0;  // the short timeouts of the fault runs are the whole wait
    auto backend = std::make_shared<plat::SerialBackend>(c);
    plat::SentRecord::Keep(*backend, true);
    plat::SetPrinterBackend(backend);
    return backend;
  }

 private:
  static Texts Lines(const std::string& path) {
    Texts out;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  static std::string MakeDir() {
    char dir[] = "/tmp/fiscal-emu-XXXXXX";
    if (mkdtemp(dir) == nullptr) throw std::runtime_error("mkdtemp");
    return dir;
  }
  static std::vector<std::string> Args(const std::string& dir, std::vector<std::string> extra) {
    std::vector<std::string> args = {
        PRINTER_EMULATOR_PATH, "--clock", "2026-12-08 10:00:00", "--journal",
        dir + "/journal.txt",  "--paper", dir + "/paper.txt"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  std::string dir_;
  std::unique_ptr<testhost::PrinterPty> program_;
  std::string pty_;
};

// The built-in emulator's journal in the program's form: the printer's commands and fields, as
// the control translates the driver's arguments, tab-separated; a non-fiscal text as one command
// per printed line, as the link sends it.
Texts InProcessJournal(DriverHost& host) {
  Texts out;
  plat::wire::Translator translator;
  for (const auto& e : host.Emu().Journal()) {
    const plat::CommandInfo* info = plat::FindCommand(e.Method);
    std::vector<plat::WideString> args = e.Args;
    std::vector<plat::WideString*> ptrs;
    for (auto& a : args) ptrs.push_back(&a);
    const auto requests = info ? translator.ToPrinter(*info, ptrs) : std::nullopt;
    if (!requests) continue;  // refused by the control, never sent
    for (const auto& r : *requests) {
      const std::string method = plat::Info(r.Id).Method;
      if (r.Id == plat::Command::SendNoFiscalText) {
        const std::string text = plat::AnsiToUtf8(r.Fields[0]);
        size_t start = 0;
        while (true) {
          const size_t nl = text.find('\n', start);
          std::string line = text.substr(start, nl == std::string::npos ? nl : nl - start);
          if (nl != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
          out.push_back("SendNoFiscalText\t" + line);
          if (nl == std::string::npos) break;
          start = nl + 1;
        }
        continue;
      }
      std::string line = method;
      for (const auto& f : r.Fields) line += "\t" + plat::AnsiToUtf8(f);
      out.push_back(line);
    }
  }
  return out;
}

// Where two runs part: the first line that differs, with its place, or "" when they agree.
std::string FirstDifference(const Texts& a, const Texts& b) {
  for (size_t i = 0; i < a.size() || i < b.size(); ++i) {
    const std::string x = i < a.size() ? a[i] : "(end)", y = i < b.size() ? b[i] : "(end)";
    if (x != y) return "line " + std::to_string(i) + ": '" + x + "' / '" + y + "'";
  }
  return "";
}

Texts InProcessPaper(DriverHost& host) {
  Texts out;
  for (const auto& l : host.Emu().Paper()) out.push_back(plat::AnsiToUtf8(l));
  return out;
}

std::string SentLine(const plat::SentRecord::Sent& s) {
  std::string line = s.Method;
  for (const auto& f : s.Fields) line += "\t" + plat::AnsiToUtf8(f);
  return line;
}

// What the printer ran of what the host and the link sent: every command but those it refused.
Texts RanLines(const plat::SerialBackend& b) {
  Texts out;
  for (const auto& s : plat::SentRecord::Of(b))
    if (s.End != plat::SentRecord::Outcome::Refused) out.push_back(SentLine(s));
  return out;
}

// The commands the host sent, without the link's own status queries.
Texts SentLines(const plat::SerialBackend& b) {
  Texts out;
  for (const auto& s : plat::SentRecord::Of(b)) {
    if (s.Query) continue;
    std::string line = s.Method;
    for (const auto& f : s.Fields) line += "\t" + plat::AnsiToUtf8(f);
    out.push_back(line);
  }
  return out;
}

// ---- the host's side of a day -----------------------------------------------------------------

Variant OpenBundle(const AnsiString& kind, const std::string& name = "") {
  return plat::MakeBundle({{"ESQUEMACOR", "azul"},
                           {"INCLUICPF", "N"},
                           {"INCLUINOME", testhost::A(name)},
                           {"INCLUIENDERECO", kind == "T" ? "" : "Av. Corrientes 1234"},
                           {"CUPNR", "1"},
                           {"CONTCUPOM", "1"},
                           {"TIPOTICKET", kind},
                           {"IVACOMP", kind == "T" ? "" : "Responsable Inscripto"},
                           {"IVAPROP", "R"},
                           {"TIPODOC", kind == "T" ? "" : "C"},
                           {"NRDOC", kind == "T" ? "" : "30712345679"},
                           {"MESA", "12"},
                           {"IDUTILTEF", "N"},
                           {"INTTEFERRO", "0"}});
}

Variant ItemBundle(const std::string& name, double qty, double price, const AnsiString& kind,
                   const AnsiString& rate = "21") {
  return testhost::ItemBundle(testhost::A(name), qty, price, kind, rate,
                              {{"ESQUEMACOR", "azul"}, {"MESA", "12"}, {"CDARVPROD", "1"}});
}

// Runs the host's calls and keeps what each answered.
struct Day {
  DriverHost& host;
  Texts results;

  void Note(const std::string& call, bool r) {
    results.push_back(call + ": " + (r ? "True" : "False"));
  }

  bool Close(const AnsiString& kind, double discount,
             const std::vector<std::pair<AnsiString, double>>& pays) {
    closingtest::Rows rows;
    for (const auto& [code, value] : pays) rows.push_back({"E", "", code, "", value});
    auto movs = testhost::MoneyMovements(rows);
    auto receb =
        testhost::ReceiptTypes({{"001", "Efectivo"}, {"002", testhost::A("Tarjeta de crédito")}});
    auto empty = testhost::MakeDataSet({{"ID", FieldType::Integer}}, {});
    ArfisOpenArray ar(43, Variant(AnsiString()));
    ar[2] = Variant(AnsiString("azul"));
    ar[3] = Variant(0);
    ar[4] = Variant(false);
    ar[5] = Variant(false);
    ar[6] = Variant(discount);
    ar[7] = Variant(0.0);
    ar[8] = Variant(0.0);
    ar[11] = Variant(false);
    ar[13] = movs->Data();
    ar[14] = receb->Data();
    ar[30] = Variant(kind);
    ar[32] = empty->Data();
    ar[33] = empty->Data();
    ar[34] = empty->Data();
    ar[37] = Variant(0.0);
    ar[38] = Variant(0.0);
    ar[42] = Variant(AnsiString("1"));
    Variant answer = plat::VarArrayOf({Variant(-1), Variant("?"), Variant("?")});
    plat::TStringList voucher;
    return CALL(host, FechaCupom)(ar, &voucher, answer);
  }

  void Sale(const AnsiString& kind, int items, const std::string& buyer = "") {
    Variant open = OpenBundle(kind, buyer);
    Note("AbreCupom", CALL(host, AbreCupom)(open));
    double total = 0;
    for (int i = 0; i < items; ++i) {
      const double price = 1.25 + i % 7;
      total += price;
      Note("VendaItem",
           CALL(host, VendaItem)(ItemBundle("Empanada " + std::to_string(i % 5), 1, price, kind)));
    }
    Note("FechaCupom", Close(kind, 0, {{"001", kind == "T" ? total : total * 1.21}}));
  }

  bool Withdrawal(bool sangria) {
    using namespace closingtest;
    AnsiString cupomDia = "000003";
    auto movFecha = MovFecha({{"001", "000123", "Efectivo", 300.0, 295.5}});
    auto sangriaDs = Anything();
    auto prod = Products({{"1", "Empanada", 3.0, 37.5, 0.0, 0.0, "T", 21.0},
                          {"2", testhost::A("Ñoquis"), 1.0, 48.0, 0.0, 0.0, "T", 21.0}});
    auto operSup = OperSup("Marta", "Julian");
    auto movTot = Movements({{"1", "Efectivo", 300.0}});
    auto movAbertura = Movements({{"1", "Efectivo", 200.0}});
    auto prodFech = Products({{"1", "Empanada", 3.0, 37.5, 0.0, 0.0, "T", 21.0}});
    auto tipoRece = Anything();
    plat::TClientDataSet* redz = nullptr;
    plat::TClientDataSet* formRedz = nullptr;
    plat::TClientDataSet* impostoRedz = nullptr;
    plat::TClientDataSet* totNFis = nullptr;
    bool reduziu = false;
    return CALL(host, GeraReciboSangria)(
        "COM1", "AB123", "1", "3", "ECF", 1, cupomDia, movFecha.get(), sangriaDs.get(), prod.get(),
        operSup.get(), movTot.get(), movAbertura.get(), prodFech.get(), 46000.0, true, true, false,
        redz, formRedz, impostoRedz, totNFis, reduziu, tipoRece.get(), "N", "N", "N", "S", "azul",
        sangria, false, true, "Retiro parcial", testhost::A("Depósito banco"));
  }

  // Ticket and invoice sales, an item taken back, a cancelled ticket, supply, drawer, cash-out,
  // X, the till closing with its reports, and the Z.
  // Opens a ticket of one item and writes its sale file; answers the cancel of it.
  std::function<bool()> TicketToCancel() {
    Variant open = OpenBundle("T");
    Note("AbreCupom", CALL(host, AbreCupom)(open));
    Note("VendaItem", CALL(host, VendaItem)(ItemBundle("Café", 2, 10.5, "T")));
    auto venda = testhost::MakeDataSet(
        {{"CDPRODUTO", FieldType::String, 10}, {"VRPRECCOMVEN", FieldType::Float}},
        {{"5", 10.5}, {"5", 10.5}});
    venda->SaveToFile(host.PathOf("cdsVenda.cds"));
    return [this] {
      Variant answer;
      return CALL(host, Cancela_Cupom_Imp)({}, answer);
    };
  }

  void Full() {
    Note("Estado_Imp", CALL(host, Estado_Imp)("", false, false));
    Note("Suprimento", CALL(host, Suprimento)("", "azul", 200, true));
    Note("Suprimento", CALL(host, Suprimento)("", "azul", 150, false));

    Variant open = OpenBundle("T");
    Note("AbreCupom", CALL(host, AbreCupom)(open));
    Note("VendaItem", CALL(host, VendaItem)(ItemBundle("Empanada de carne", 3, 12.5, "T")));
    Note("VendaItem", CALL(host, VendaItem)(ItemBundle("Ñoquis caseros", 1, 48, "T")));
    Note("VendaItem", CALL(host, VendaItem)(ItemBundle("Agua mineral", 2, 9.9, "T", "10.5")));
    Note("Cancela_ItGenerico",
         CALL(host, Cancela_ItGenerico)("azul", "", u"Agua mineral", u"10.5", u"m", u"0", u"0",
                                        u"0", u"T", 1, 9.9));
    Note("FechaCupom", Close("T", 5, {{"001", 50}, {"002", 40.4}}));

    Sale("A", 2, "Peña y Cía S.A.");

    Note("Cancela_Cupom_Imp", TicketToCancel()());
    results.push_back("Nr_Cupom: " + CALL(host, Nr_Cupom)("", ""));
    Note("Abre_Gaveta_Imp", CALL(host, Abre_Gaveta_Imp)("", false));

    Note("GeraReciboSangria", Withdrawal(true));
    Note("Leitura_X_Imp", CALL(host, Leitura_X_Imp)("", "azul", ""));
    host.answers = {false, true, true};
    Note("GeraReciboSangria", Withdrawal(false));
    Note("Reducao_Z_Imp", CALL(host, Reducao_Z_Imp)("", "azul", ""));
    for (const auto& line : host.Log()) results.push_back("log: " + plat::AnsiToUtf8(line));
    for (const auto& d : host.dialogs) results.push_back("dialog: " + plat::AnsiToUtf8(d.Text));
  }

  void ManyItems() {
    for (int sale = 0; sale < 4; ++sale) Sale(sale == 2 ? "A" : "T", 50, "Juan");
    Note("Reducao_Z_Imp", CALL(host, Reducao_Z_Imp)("", "azul", ""));
    for (const auto& line : host.Log()) results.push_back("log: " + plat::AnsiToUtf8(line));
  }
};

struct Outcome {
  Texts results, journal, paper;
};

Outcome InProcess(void (Day::*run)()) {
  DriverHost host;
  Day day{host, {}};
  (day.*run)();
  return {day.results, InProcessJournal(host), InProcessPaper(host)};
}

TEST(SerialDay, AFullDayOverTheLineMatchesTheBuiltInEmulator) {
  const Outcome expected = InProcess(&Day::Full);
  ASSERT_GT(expected.journal.size(), 40u);

  EmulatorProgram program;
  DriverHost host;
  auto backend = program.Connect();
  Day day{host, {}};
  day.Full();
  EXPECT_EQ(day.results, expected.results);
  EXPECT_EQ(program.PaperLines(), expected.paper);
  EXPECT_EQ(SentLines(*backend), expected.journal);
  // The printer ran those and the link's own queries, nothing else.
  EXPECT_EQ(FirstDifference(program.JournalLines(), RanLines(*backend)), "");
  EXPECT_EQ(backend->GetStats().Resends, 0);
}

TEST(SerialDay, DamagedAndLostRepliesStillRunEveryCommandExactlyOnce) {
  const Outcome expected = InProcess(&Day::ManyItems);
  ASSERT_GT(expected.journal.size(), 200u);

  EmulatorProgram program({"--seed", "7", "--corrupt", "0.03", "--drop", "0.03"});
  DriverHost host;
  auto backend = program.Connect(300);
  Day day{host, {}};
  day.ManyItems();
  // No command twice, none missing, the link's queries included.
  EXPECT_EQ(FirstDifference(program.JournalLines(), RanLines(*backend)), "");
  EXPECT_EQ(FirstDifference(SentLines(*backend), expected.journal), "");
  EXPECT_EQ(FirstDifference(day.results, expected.results), "");
  EXPECT_EQ(FirstDifference(program.PaperLines(), expected.paper), "");  // Z included
  const auto stats = backend->GetStats();
  EXPECT_GT(stats.FromStatus, 0);  // the faults did happen
  EXPECT_GT(stats.NaksSent, 0);
}

TEST(SerialDay, ASilentPrinterFailsTheCallAfterItsTries) {
  EmulatorProgram program({"--silent-after", "0"});
  DriverHost host;
  auto backend = program.Connect(200);
  // The opening is not sent: the status query before it finds no printer.
  const std::string cause =
      "OpenTicket: the status query before it: no answer (4 tries, 200 ms each)";

  // An entry point with a handler shows the link error and answers False.
  Variant open = OpenBundle("T");
  EXPECT_FALSE(CALL(host, AbreCupom)(open));
  EXPECT_EQ(backend->GetStats().Frames, 0);
  EXPECT_EQ(backend->GetStats().StatusQueries, 1);
  EXPECT_EQ(backend->GetStats().Resends, 3);
  ASSERT_EQ(host.dialogs.size(), 1u);
  EXPECT_EQ(host.dialogs[0].Text, "printer link " + program.Pty() + ": " + cause);

  // The next commands fail at once with the same cause, without a frame on the line; one
  // without a handler lets it reach the host.
  for (int i = 0; i < 3; ++i) {
    try {
      CALL(host, Abre_Gaveta_Imp)("", false);
      ADD_FAILURE() << "no exception";
    } catch (const plat::ELinkError& e) {
      EXPECT_EQ(e.Message(), "printer link " + program.Pty() +
                                 ": OpenCashDrawer: not sent, the printer stopped answering (" +
                                 cause + ")");
    }
  }
  EXPECT_EQ(backend->GetStats().FailedFast, 3);
  EXPECT_EQ(backend->GetStats().Resends, 3);
  // A status query is still tried on the line, once: one reply timeout, not every try.
  EXPECT_THROW(CALL(host, Estado_Imp)("", false, false), plat::ELinkError);
  EXPECT_EQ(backend->GetStats().Resends, 3);
  EXPECT_TRUE(program.JournalLines().empty());
}

// A host's idle check waits one reply timeout for a silent printer, from the first contact on,
// and does not stop the next command from trying the printer in full.
TEST(SerialDay, AQuickStatusQueryTriesASilentPrinterOnce) {
  EmulatorProgram program({"--silent-after", "0"});
  DriverHost host;
  auto backend = program.Connect(200);
  for (int i = 0; i < 2; ++i) {
    const plat::QuickStatusQueries quick;
    try {
      CALL(host, Estado_Imp)("", false, false);
      ADD_FAILURE() << "no exception";
    } catch (const plat::ELinkError& e) {
      EXPECT_NE(e.Message().find("Status: no answer (1 try, 200 ms)"), std::string::npos)
          << e.Message();
    }
  }
  EXPECT_EQ(backend->GetStats().Resends, 0);
  EXPECT_THROW(CALL(host, Estado_Imp)("", false, false), plat::ELinkError);
  EXPECT_EQ(backend->GetStats().Resends, 3);
}

// The paper runs out with a command: that one ran (its answer stands, saying so); the next one
// that prints found no paper and did not run, and is not sent again.
TEST(SerialDay, PaperRunningOutStopsOnlyWhatCameAfter) {
  EmulatorProgram program({"--paper-out-after", "1"});
  auto backend = program.Connect(300);
  const auto run = [&](const char* method, std::vector<plat::WideString> args) {
    std::vector<plat::WideString*> ptrs;
    for (auto& a : args) ptrs.push_back(&a);
    return backend->Execute(1, method, ptrs);
  };
  const auto opened = run("OpenNoFiscal", {});  // after the link's status query
  EXPECT_EQ(opened.Result, 1);
  EXPECT_TRUE(opened.PrinterStatus & plat::status::kOutOfPaper);
  const auto text = run("SendNoFiscalText", {u"line"});
  EXPECT_EQ(text.Result, 0);
  EXPECT_TRUE(text.PrinterStatus & plat::status::kOutOfPaper);
  EXPECT_EQ(program.JournalLines(), (Texts{"Status\tN", "OpenNoFiscal"}));
  EXPECT_EQ(backend->GetStats().Resends, 0);
}

TEST(SerialDay, APrinterThatVanishesFailsAtOnce) {
  EmulatorProgram program({"--vanish-after", "1"});
  DriverHost host;
  auto backend = program.Connect(2000);
  EXPECT_TRUE(CALL(host, Estado_Imp)("", false, false));
  try {
    CALL(host, Estado_Imp)("", false, false);
    ADD_FAILURE() << "no exception";
  } catch (const plat::ELinkError& e) {
    EXPECT_NE(e.Message().find(program.Pty() + ": Status: device gone"), std::string::npos)
        << e.Message();
  }
  EXPECT_EQ(backend->GetStats().Resends, 0);  // at once, without waiting for a reply
  EXPECT_EQ(program.JournalLines(), Texts{"Status\tN"});
}

TEST(SerialDay, ARestartedPrinterProgramGoesOnWithTheOpenTicket) {
  char dir[] = "/tmp/fiscal-restart-XXXXXX";
  const std::string base = mkdtemp(dir);
  const std::string state = base + "/state", link = base + "/printer";
  DriverHost host;
  plat::SerialConfig c;
  c.Ports[1] = link;
  c.TimeoutMs = 500;
  plat::SetPrinterBackend(std::make_shared<plat::SerialBackend>(c));
  Day day{host, {}};
  Texts journal;
  {
    EmulatorProgram program({"--state", state, "--link", link});
    Variant open = OpenBundle("T");
    day.Note("AbreCupom", CALL(host, AbreCupom)(open));
    day.Note("VendaItem", CALL(host, VendaItem)(ItemBundle("Empanada", 2, 10, "T")));
    journal = program.JournalLines();
  }
  {
    // A new pseudo-terminal behind the same path, and the printer where it stopped.
    EmulatorProgram program({"--state", state, "--link", link});
    day.Note("VendaItem", CALL(host, VendaItem)(ItemBundle("Agua", 1, 5, "T")));
    day.Note("FechaCupom", day.Close("T", 0, {{"001", 25}}));
    for (const auto& l : program.JournalLines()) journal.push_back(l);
    EXPECT_EQ(program.PaperLines().back(), "========================================");
  }
  EXPECT_EQ(day.results,
            (Texts{"AbreCupom: True", "VendaItem: True", "VendaItem: True", "FechaCupom: True"}));
  size_t closes = 0;
  for (const auto& l : journal) closes += l == "CloseTicket\tT";
  EXPECT_EQ(closes, 1u);
  plat::SetPrinterBackend(nullptr);
  std::remove(state.c_str());
  std::remove(link.c_str());
  rmdir(base.c_str());
}

// ---- the variants of the printer family --------------------------------------------------------

// The driver answers the same day alike whatever variant of the family the printer is: the
// built-in emulator answering as the variant, and the program answering as it over the line,
// the link telling the variant from the printer's own answers.
class VariantDay : public ::testing::TestWithParam<const char*> {};

// What the control answers, on a ticket of one item, to the replies whose layouts differ between
// the variants: mode D's kind, the subtotal's items, gross and paid, mode C's category and name,
// and mode P's flags (its first ten fields: the name is the variant's); the ticket is cancelled
// after.
Texts CommonAnswers(plat::PrinterBackend& b) {
  auto run = [&](const char* method, std::vector<plat::WideString> args, size_t keep = 20) {
    std::vector<plat::WideString*> ptrs;
    for (auto& a : args) ptrs.push_back(&a);
    const plat::PrinterAnswer a = b.Execute(1, method, ptrs);
    std::string out = std::string(method) + (a.Result ? "" : " refused");
    for (size_t i = 0; i < a.Fields.size() && i < keep; ++i)
      out += "|" + plat::WideToUtf8(a.Fields[i]);
    return out;
  };
  Texts out;
  run("OpenTicket", {u"C"});
  run("SendTicketItem", {u"Agua", u"1", u"10", u"21", u"M", u"0", u"0", u"0"});
  out.push_back(run("Status", {u"D"}));
  out.push_back(run("Status", {u"C"}));
  out.push_back(run("Status", {u"P"}, 10));
  out.push_back(run("GetTicketSubtotal", {u"N", u""}));
  out.push_back(run("SendTicketPayment", {u"Anula", u"0", u"C"}));
  return out;
}

TEST_P(VariantDay, ADayAnswersAsOnOurModel) {
  const Outcome expected = InProcess(&Day::Full);
  const plat::variants::ModelVariant* variant = plat::variants::Find(GetParam());
  ASSERT_NE(variant, nullptr);
  Texts common;
  {
    DriverHost host;
    common = CommonAnswers(host.Emu());
    EXPECT_EQ(common[0], "Status|K|N");
    EXPECT_EQ(common[3],
              "GetTicketSubtotal|00001|000000001000|000000000174|000000000000|"
              "000000000000|000000000000|000000000826");
  }
  {
    DriverHost host(false);
    host.Emu().Model().SetVariant(*variant);
    ASSERT_TRUE(host.Start());
    Day day{host, {}};
    day.Full();
    EXPECT_EQ(FirstDifference(day.results, expected.results), "");
    EXPECT_EQ(host.Emu().TellVariant().Variant, variant);
    EXPECT_EQ(CommonAnswers(host.Emu()), common);
  }
  EmulatorProgram program({"--model", GetParam()});
  DriverHost host;
  auto backend = program.Connect(2000, "");
  Texts notices;
  plat::SetPrinterNotices([&](const std::string& line, bool) { notices.push_back(line); });
  Day day{host, {}};
  day.Full();
  plat::SetPrinterNotices(nullptr);
  EXPECT_EQ(notices,
            Texts{"printer on " + program.Pty() + ": driven as the " + GetParam() +
                  " variant; status mode P names it '" + variant->KnownNames.Value[0] + "'"});
  EXPECT_EQ(FirstDifference(day.results, expected.results), "");
  EXPECT_EQ(FirstDifference(program.PaperLines(), expected.paper), "");
  const auto told = backend->Variant(1);
  ASSERT_TRUE(told);
  EXPECT_EQ(told->Variant, variant);
  EXPECT_TRUE(told->Matched) << told->Why;
  EXPECT_EQ(CommonAnswers(*backend), common);
}

INSTANTIATE_TEST_SUITE_P(Models, VariantDay, ::testing::Values("ours", "sibling"));

// Another printer behind the same path: the link tells its variant again when the line comes
// back, and answers its replies in the common layout.
TEST(VariantLine, TheVariantIsToldAgainWhenTheLineComesBack) {
  char dir[] = "/tmp/fiscal-variant-XXXXXX";
  const std::string link = std::string(mkdtemp(dir)) + "/printer";
  plat::SerialConfig c;
  c.Ports[1] = link;
  c.TimeoutMs = 500;
  plat::SerialBackend backend(c);
  Texts notices;
  plat::SetPrinterNotices([&](const std::string& line, bool) { notices.push_back(line); });
  for (const char* model : {"ours", "sibling"}) {
    EmulatorProgram program({"--link", link, "--model", model});
    Texts common = CommonAnswers(backend);
    EXPECT_EQ(common[0], "Status|K|N") << model;
    EXPECT_EQ(backend.Variant(1)->Variant, plat::variants::Find(model));
  }
  plat::SetPrinterNotices(nullptr);
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices[1].find("driven as the sibling variant"), std::string::npos) << notices[1];
  std::remove(link.c_str());
  rmdir(dir);
}

// ---- fault runs: lost and damaged replies at several rates, against a printer that keeps the
// repeated-number rule and against one that runs every frame it receives -----------------------

namespace fault {

struct FaultRun {
  const char* name;
  double rate;  // of lost replies, and of damaged ones
  unsigned seed;
  bool rerun;
  const char* model = "ours";  // the program's; the link tells it from the printer's answers
};

// The host's commands that change the printer, aligned in order with the printer's journal so
// that the fewest faults explain both: a command the link says ran is in the journal, one it says
// did not run (or the printer refused) is not, one in doubt may be either, and every journal line
// is some command's. The alignment, not the first equal line, decides: a command in doubt that
// did not run takes nothing from a later one with the same line that did.
struct Tally {
  int commands = 0;
  int ranOnce = 0;     // answered (or found run) and in the journal once
  int mismatches = 0;  // a command the link says ran, not in the journal
  int falseFails = 0;  // a command the link says did not run (or refused), in the journal
  int inDoubt = 0;
  int inDoubtRan = 0;
  int extra = 0;  // journal lines no command accounts for: duplicates
};

bool Changes(const std::string& line) {
  std::vector<AnsiString> fields;
  for (size_t tab = line.find('\t'); tab != std::string::npos;) {
    const size_t next = line.find('\t', tab + 1);
    fields.push_back(line.substr(tab + 1, next == std::string::npos ? next : next - tab - 1));
    tab = next;
  }
  const plat::CommandInfo* c = plat::FindCommand(line.substr(0, line.find('\t')));
  return c != nullptr && plat::link::Changes(*c, fields);
}

Tally Match(const std::vector<plat::SentRecord::Sent>& sent, const Texts& journal) {
  using End = plat::SentRecord::Outcome;
  Texts ran, lines;
  std::vector<End> ends;
  for (const auto& l : journal)
    if (Changes(l)) ran.push_back(l);
  for (const auto& s : sent)
    if (!s.Query && Changes(SentLine(s))) lines.push_back(SentLine(s)), ends.push_back(s.End);
  const auto ranForSure = [](End e) { return e == End::Answered || e == End::FromStatus; };
  const auto notRun = [](End e) {
    return e != End::InDoubt && e != End::Answered && e != End::FromStatus;
  };
  const size_t n = lines.size(), m = ran.size();
  // faults[i][j]: the fewest faults that explain the commands from i on by the journal from j on.
  std::vector<std::vector<int>> faults(n + 1, std::vector<int>(m + 1, 0));
  for (size_t i = n + 1; i-- > 0;)
    for (size_t j = m + 1; j-- > 0;) {
      if (i == n && j == m) continue;
      int best = std::numeric_limits<int>::max();
      if (i < n) best = faults[i + 1][j] + ranForSure(ends[i]);
      if (j < m) best = std::min(best, faults[i][j + 1] + 1);
      if (i < n && j < m && lines[i] == ran[j])
        best = std::min(best, faults[i + 1][j + 1] + notRun(ends[i]));
      faults[i][j] = best;
    }
  Tally t;
  t.commands = static_cast<int>(n);
  t.inDoubt = static_cast<int>(std::count(ends.begin(), ends.end(), End::InDoubt));
  for (size_t i = 0, j = 0; i < n || j < m;) {
    if (i < n && j < m && lines[i] == ran[j] &&
        faults[i][j] == faults[i + 1][j + 1] + notRun(ends[i])) {
      ranForSure(ends[i]) ? ++t.ranOnce : notRun(ends[i]) ? ++t.falseFails : ++t.inDoubtRan;
      ++i, ++j;
    } else if (i < n && faults[i][j] == faults[i + 1][j] + ranForSure(ends[i])) {
      t.mismatches += ranForSure(ends[i]);
      ++i;
    } else {
      ++t.extra;
      ++j;
    }
  }
  return t;
}

// A day with faults: sales of both kinds, a cash supply, the drawer, a cancelled ticket, the X
// and the Z. Calls without a handler have their link errors caught and kept.
struct FaultDay : Day {
  Texts errors;
  template <typename F>
  void Try(const std::string& call, F f) {
    try {
      Note(call, f());
    } catch (const plat::ELinkError& e) {
      errors.push_back(e.Message());
      results.push_back(call + ": " + e.Message());
    }
  }
  void Run() {
    for (int sale = 0; sale < 6; ++sale) Sale(sale % 3 == 1 ? "A" : "T", 15, "Juan");
    Note("Suprimento", CALL(host, Suprimento)("", "azul", 150, false));
    Try("Abre_Gaveta_Imp", [&] { return CALL(host, Abre_Gaveta_Imp)("", false); });
    Try("Cancela_Cupom_Imp", TicketToCancel());
    Note("Leitura_X_Imp", CALL(host, Leitura_X_Imp)("", "azul", ""));
    Note("Reducao_Z_Imp", CALL(host, Reducao_Z_Imp)("", "azul", ""));
  }
};

class SerialFaultDay : public ::testing::TestWithParam<FaultRun> {};

TEST_P(SerialFaultDay, EveryCommandRunsOnceAndEveryDoubtIsReported) {
  const FaultRun& r = GetParam();
  const std::string rate = std::to_string(r.rate);
  std::vector<std::string> args = {
      "--seed", std::to_string(r.seed),    "--drop", rate, "--corrupt", rate,
      "--lose", std::to_string(r.rate / 2)};
  if (r.rerun) args.push_back("--rerun-repeats");
  args.insert(args.end(), {"--model", r.model});
  EmulatorProgram program(args);
  DriverHost host;
  // Our model's runs name it, so that their traffic (and fault draws) stay as they were; the
  // sibling's is told from its answers.
  auto backend = program.Connect(150, std::string(r.model) == "ours" ? "ours" : "");
  FaultDay day{{host, {}}, {}};
  day.Run();

  const Tally t = Match(plat::SentRecord::Of(*backend), program.JournalLines());
  const auto stats = backend->GetStats();
  int reported = 0;
  for (const auto& e : day.errors) reported += e.find("in doubt") != std::string::npos;
  for (const auto& d : host.dialogs) reported += d.Text.find("in doubt") != std::string::npos;

  std::printf(
      "fault run %s: %d commands changing the printer, %d ran once, %d duplicates, %d found run "
      "from the queries, %d sent again, %d in doubt (%d of them ran), %d link queries, %d "
      "resends, %d NAKs sent\n",
      r.name, t.commands, t.ranOnce, t.extra, stats.FromStatus, stats.SentAgain, t.inDoubt,
      t.inDoubtRan, stats.StatusQueries, stats.Resends, stats.NaksSent);
  EXPECT_GT(t.commands, 100);
  EXPECT_EQ(t.extra, 0) << "a command ran twice";
  EXPECT_EQ(t.mismatches, 0) << "a command the link answered is not in the journal";
  EXPECT_EQ(t.falseFails, 0) << "a command the link called not run ran";
  EXPECT_EQ(t.inDoubt, stats.InDoubt);
  EXPECT_EQ(reported, t.inDoubt) << "every command in doubt is reported as such";
  EXPECT_GT(stats.FromStatus + stats.SentAgain + stats.NaksSent, 0);  // the faults did happen
  if (r.rate >= 0.05) {
    EXPECT_GT(stats.FromStatus, 0);  // replies lost of commands that ran
    EXPECT_GT(stats.SentAgain, 0);   // and commands lost on their way, that did not
  }
  if (day.errors.empty() && host.dialogs.empty()) {
    // Nothing went wrong that the host saw: every call answered as on a perfect line.
    DriverHost perfect;
    FaultDay clean{{perfect, {}}, {}};
    clean.Run();
    EXPECT_EQ(day.results, clean.results);
  }
}

// A printer whose buffer is often full: each such command did not run and goes again, so the
// day runs as on a perfect line, nothing in doubt.
TEST(SerialFaultDayFull, AFullBufferSendsAgainOnlyWhatDidNotRun) {
  EmulatorProgram program({"--seed", "31", "--full", "0.1"});
  DriverHost host;
  auto backend = program.Connect(150);
  FaultDay day{{host, {}}, {}};
  day.Run();
  const Tally t = Match(plat::SentRecord::Of(*backend), program.JournalLines());
  EXPECT_GT(t.commands, 100);
  EXPECT_EQ(t.ranOnce, t.commands);
  EXPECT_EQ(t.extra, 0);
  EXPECT_GT(backend->GetStats().Resends, 0);
  DriverHost perfect;
  FaultDay clean{{perfect, {}}, {}};
  clean.Run();
  EXPECT_EQ(day.results, clean.results);
}

INSTANTIATE_TEST_SUITE_P(Rates, SerialFaultDay,
                         ::testing::Values(FaultRun{"keeps_rule_2pct", 0.02, 11, false},
                                           FaultRun{"keeps_rule_5pct", 0.05, 12, false},
                                           FaultRun{"keeps_rule_10pct", 0.10, 13, false},
                                           FaultRun{"reruns_2pct", 0.02, 21, true},
                                           FaultRun{"reruns_5pct", 0.05, 22, true},
                                           FaultRun{"reruns_10pct", 0.10, 23, true},
                                           FaultRun{"sibling_5pct", 0.05, 31, false, "sibling"},
                                           // A printing subtotal in doubt leaves its ticket open
                                           // and the printer refuses much of the rest of the day.
                                           FaultRun{"keeps_rule_10pct_b", 0.10, 37, false},
                                           FaultRun{"keeps_rule_10pct_c", 0.10, 40, false},
                                           FaultRun{"reruns_5pct_b", 0.05, 132, true},
                                           FaultRun{"reruns_5pct_c", 0.05, 137, true},
                                           FaultRun{"reruns_5pct_d", 0.05, 141, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace fault

}  // namespace
