// The printer's command table: every method of the printer control with its command byte on
// the serial link and the number of arguments (fields) it takes. The control, the link and the
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

// One row: the control's method, its command byte and how many fields the host sends with it.
struct CommandInfo {
  Command Id;
  const char* Method;
  uint8_t Cmd;
  size_t Fields;
};

inline constexpr std::array<CommandInfo, 17> kCommandTable = {{
    {Command::Status, "Status", 0x2A, 1},
    {Command::CloseJournal, "CloseJournal", 0x39, 2},
    {Command::OpenTicket, "OpenTicket", 0x40, 1},
    {Command::SendTicketItem, "SendTicketItem", 0x42, 8},
    {Command::GetTicketSubtotal, "GetTicketSubtotal", 0x43, 2},
    {Command::SendTicketPayment, "SendTicketPayment", 0x44, 3},
    {Command::CloseTicket, "CloseTicket", 0x45, 0},
    {Command::OpenNoFiscal, "OpenNoFiscal", 0x48, 0},
    {Command::SendNoFiscalText, "SendNoFiscalText", 0x49, 1},
    {Command::CloseNoFiscal, "CloseNoFiscal", 0x4A, 0},
    {Command::SetGetDateTime, "SetGetDateTime", 0x58, 3},
    {Command::OpenInvoice, "OpenInvoice", 0x60, 19},
    {Command::SendInvoiceItem, "SendInvoiceItem", 0x62, 12},
    {Command::GetInvoiceSubtotal, "GetInvoiceSubtotal", 0x63, 2},
    {Command::SendInvoicePayment, "SendInvoicePayment", 0x64, 3},
    {Command::CloseInvoice, "CloseInvoice", 0x65, 3},
    {Command::OpenCashDrawer, "OpenCashDrawer", 0x7B, 1},
}};

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
// Every row sits at its command's place; names and bytes are unique; each byte may travel in a
// frame (0x20 .. 0x7E) and no command takes more arguments than the control's widest method.
consteval bool CommandTableHolds() {
  for (size_t i = 0; i < kCommandTable.size(); ++i) {
    const CommandInfo& a = kCommandTable[i];
    if (static_cast<size_t>(a.Id) != i) return false;
    if (a.Cmd < 0x20 || a.Cmd > 0x7E || a.Fields > 19) return false;
    for (size_t j = i + 1; j < kCommandTable.size(); ++j) {
      const CommandInfo& b = kCommandTable[j];
      if (a.Cmd == b.Cmd || std::string_view(a.Method) == b.Method) return false;
    }
  }
  return true;
}
static_assert(CommandTableHolds(), "the printer command table repeats a name or a byte");
}  // namespace detail

}  // namespace plat
