// The printer's command table: every method of the printer control with its command byte on
// the serial link, the number of arguments (fields) it takes, whether it changes what the
// printer holds, and the answer fields the printer gives for it. The control, the link and the
// emulator all read this table; it is checked when the library is compiled, so a row that
// repeats a name or a byte, or a count that does not match the control's method, does not
// build. The table is constant and safe to read from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace plat {

// The commands, in the order of the table below.
enum class Command : uint8_t {
  Status,
  CloseJournal,
  OpenTicket,
  SendTicketItem,
  GetTicketSubtotal,
  SendTicketPayment,
  CloseTicket,
  OpenNoFiscal,
  SendNoFiscalText,
  CloseNoFiscal,
  SetGetDateTime,
  OpenInvoice,
  SendInvoiceItem,
  GetInvoiceSubtotal,
  SendInvoicePayment,
  CloseInvoice,
  OpenCashDrawer,
};

// What running a command does to the printer. A command that changes what the printer holds
// (a document, its lines, the day's journal, the drawer) must never run twice, so the link
// never sends it again without first finding out whether it ran; a read-only one may simply be
// sent again.
enum class Effect : uint8_t { ReadOnly, ChangesState };

// One row: the control's method, its command byte, how many fields the host sends with it,
// its effect, and the answer fields the printer gives (AnswerField_3 first), separated by ";".
struct CommandInfo {
  Command Id;
  const char* Method;
  uint8_t Cmd;
  size_t Fields;
  Effect Kind;
  const char* Answers;
};

constexpr Effect kReads = Effect::ReadOnly;
constexpr Effect kChanges = Effect::ChangesState;

inline constexpr std::array<CommandInfo, 17> kCommandTable = {{
    {Command::Status, "Status", 0x2A, 1, kReads,
     "printer status;fiscal status;document open (T, A, C, N or empty);document number;"
     "lines on the document;amount;paid;X number;Z number"},
    {Command::CloseJournal, "CloseJournal", 0x39, 2, kChanges,
     "X or Z number;-;X readings;non-fiscal documents;fiscal documents;-;last ticket;"
     "day's sales;cancelled documents;last invoice A;last invoice C;last non-fiscal document"},
    {Command::OpenTicket, "OpenTicket", 0x40, 1, kChanges, "document number"},
    {Command::SendTicketItem, "SendTicketItem", 0x42, 8, kChanges, ""},
    {Command::GetTicketSubtotal, "GetTicketSubtotal", 0x43, 2, kReads, "items;amount;paid"},
    {Command::SendTicketPayment, "SendTicketPayment", 0x44, 3, kChanges,
     "balance due or cancelled document;change"},
    {Command::CloseTicket, "CloseTicket", 0x45, 0, kChanges, "document number"},
    {Command::OpenNoFiscal, "OpenNoFiscal", 0x48, 0, kChanges, "document number"},
    {Command::SendNoFiscalText, "SendNoFiscalText", 0x49, 1, kChanges, ""},
    {Command::CloseNoFiscal, "CloseNoFiscal", 0x4A, 0, kChanges, "document number"},
    {Command::SetGetDateTime, "SetGetDateTime", 0x58, 3, kReads, "date YYMMDD;time HHMMSS"},
    {Command::OpenInvoice, "OpenInvoice", 0x60, 19, kChanges, "document number"},
    {Command::SendInvoiceItem, "SendInvoiceItem", 0x62, 12, kChanges, ""},
    {Command::GetInvoiceSubtotal, "GetInvoiceSubtotal", 0x63, 2, kReads, "items;amount;paid"},
    {Command::SendInvoicePayment, "SendInvoicePayment", 0x64, 3, kChanges,
     "balance due or cancelled document;change"},
    {Command::CloseInvoice, "CloseInvoice", 0x65, 3, kChanges, "document number"},
    {Command::OpenCashDrawer, "OpenCashDrawer", 0x7B, 1, kChanges, ""},
}};

// The answer fields of the status query, by their place (0 is AnswerField_3). The link reads
// the document in progress from them when it must find out whether a command ran.
namespace status_field {
constexpr size_t kPrinterStatus = 0;
constexpr size_t kFiscalStatus = 1;
constexpr size_t kDocument = 2;
constexpr size_t kNumber = 3;
constexpr size_t kLines = 4;
constexpr size_t kAmount = 5;
constexpr size_t kPaid = 6;
constexpr size_t kXNumber = 7;
constexpr size_t kZNumber = 8;
constexpr size_t kCount = 9;
}  // namespace status_field

// The Z closing's answer fields beyond those the driver reads (0 is AnswerField_3).
namespace z_field {
constexpr size_t kCancelledDocs = 8;
constexpr size_t kLastInvoiceA = 9;
constexpr size_t kLastInvoiceC = 10;
constexpr size_t kLastNonFiscal = 11;
constexpr size_t kCount = 12;
}  // namespace z_field

constexpr const CommandInfo& Info(Command c) {
  return kCommandTable[static_cast<size_t>(c)];
}

// The row of a method or of a command byte; nullptr when there is none.
constexpr const CommandInfo* FindCommand(std::string_view method) {
  for (const auto& c : kCommandTable)
    if (method == c.Method) return &c;
  return nullptr;
}
constexpr const CommandInfo* FindCommand(uint8_t cmd) {
  for (const auto& c : kCommandTable)
    if (cmd == c.Cmd) return &c;
  return nullptr;
}

namespace detail {
constexpr size_t CountAnswers(const char* answers) {
  if (*answers == 0) return 0;
  size_t n = 1;
  for (; *answers; ++answers) n += *answers == ';';
  return n;
}
// Every row sits at its command's place; names and bytes are unique; each byte may travel in a
// frame (0x20 .. 0x7E) and no command takes more arguments than the control's widest method.
consteval bool CommandTableHolds() {
  for (size_t i = 0; i < kCommandTable.size(); ++i) {
    const CommandInfo& a = kCommandTable[i];
    if (static_cast<size_t>(a.Id) != i) return false;
    if (a.Cmd < 0x20 || a.Cmd > 0x7E || a.Fields > 19 || CountAnswers(a.Answers) > 17) return false;
    for (size_t j = i + 1; j < kCommandTable.size(); ++j) {
      const CommandInfo& b = kCommandTable[j];
      if (a.Cmd == b.Cmd || std::string_view(a.Method) == b.Method) return false;
    }
  }
  return true;
}
static_assert(CommandTableHolds(), "the printer command table repeats a name or a byte");
static_assert(CountAnswers(kCommandTable[static_cast<size_t>(Command::Status)].Answers) ==
                  status_field::kCount,
              "the status query's answer fields and their places agree");
static_assert(CountAnswers(kCommandTable[static_cast<size_t>(Command::CloseJournal)].Answers) ==
                  z_field::kCount,
              "the Z closing's answer fields and their places agree");
}  // namespace detail

}  // namespace plat
