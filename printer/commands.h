// SPDX-License-Identifier: Apache-2.0
// The printer's command table: every method of the printer control with the command the
// printer takes for it (its byte on the serial link, printer/facts.h), the number of
// arguments the method takes and of fields the printer takes, whether it changes what the
// printer holds, and the reply fields the printer gives (AnswerField_3 first). Beside it, the
// layouts of the replies that carry more than one field. The control, the link and the emulator
// all read this table; it is checked when the library is compiled, so a row that repeats a
// name or a byte, or a count that does not match the control's method, does not build. The
// table is constant and safe to read from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "printer/facts.h"

namespace plat {

// The commands, in the order of the table below. The first seventeen are the control's
// methods the driver uses; SetDateTime and GetDateTime are printer commands the control sends
// for SetGetDateTime (setting and reading the clock); the fiscal-memory reports are control
// methods that no entry point uses (for hosts and tools); OpenCashDrawer2 is the printer command
// the control sends for OpenCashDrawer "2" (drawer 1 has the method's own command).
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
  SetDateTime,
  GetDateTime,
  FiscalMemoryReportByDate,
  FiscalMemoryReportByZ,
  OpenCashDrawer2,
};

// What running a command does to the printer. A command that changes what the printer holds
// (a document, its lines, the day's journal, the clock, the drawer) must never run twice, so the
// link never sends it again without first finding out whether it ran; a read-only one may
// simply be sent again.
enum class Effect : uint8_t { ReadOnly, ChangesState };

// One row: the name (the control's method, or the printer command), its command byte (0 for a
// method that has no command of its own), the method's arguments, the fields the printer takes,
// its effect, and the reply fields (AnswerField_3 first), separated by ";".
struct CommandInfo {
  Command Id;
  const char* Method;
  uint8_t Cmd;
  size_t Args;
  size_t Fields;
  Effect Kind;
  const char* Answers;
};

constexpr Effect kReads = Effect::ReadOnly;
constexpr Effect kChanges = Effect::ChangesState;

inline constexpr std::array<CommandInfo, 22> kCommandTable = {{
    {Command::Status, "Status", facts::kCmdStatus, 1, 1, kReads,
     "the fields of the mode asked (status_n, status_p, status_c, status_a, status_d)"},
    {Command::CloseJournal, "CloseJournal", facts::kCmdCloseJournal, 2, 2, kChanges,
     "X or Z number;cancelled fiscal documents;homologated non-fiscal documents;"
     "other non-fiscal documents;tickets and B/C documents;A documents;last ticket or B/C;"
     "amount billed;VAT;perceptions;last A;last credit note A;last credit note B/C;"
     "last delivery note;credit notes amount;credit notes VAT;credit notes perceptions"},
    {Command::OpenTicket, "OpenTicket", facts::kCmdOpenTicket, 1, 1, kChanges, ""},
    {Command::SendTicketItem, "SendTicketItem", facts::kCmdTicketItem, 8, 8, kChanges, ""},
    {Command::GetTicketSubtotal, "GetTicketSubtotal", facts::kCmdTicketSubtotal, 2, 2, kReads,
     "items;gross total;VAT;paid;percentage internal taxes;fixed internal taxes;net total"},
    {Command::SendTicketPayment, "SendTicketPayment", facts::kCmdTicketPayment, 3, 3, kChanges,
     "still to pay"},
    {Command::CloseTicket, "CloseTicket", facts::kCmdCloseTicket, 0, 1, kChanges,
     "document number"},
    {Command::OpenNoFiscal, "OpenNoFiscal", facts::kCmdOpenNonFiscal, 0, 0, kChanges, ""},
    {Command::SendNoFiscalText, "SendNoFiscalText", facts::kCmdNonFiscalText, 1, 1, kChanges, ""},
    {Command::CloseNoFiscal, "CloseNoFiscal", facts::kCmdCloseNonFiscal, 0, 1, kChanges,
     "document number"},
    {Command::SetGetDateTime, "SetGetDateTime", 0, 3, 0, kReads, "date YYMMDD;time HHMMSS"},
    {Command::OpenInvoice, "OpenInvoice", facts::kCmdOpenInvoice, 19, 19, kChanges, ""},
    {Command::SendInvoiceItem, "SendInvoiceItem", facts::kCmdInvoiceItem, 12, 12, kChanges, ""},
    {Command::GetInvoiceSubtotal, "GetInvoiceSubtotal", facts::kCmdInvoiceSubtotal, 2, 2, kReads,
     "items;gross total;VAT;paid;percentage internal taxes;fixed internal taxes;net total"},
    {Command::SendInvoicePayment, "SendInvoicePayment", facts::kCmdInvoicePayment, 3, 3, kChanges,
     "still to pay"},
    {Command::CloseInvoice, "CloseInvoice", facts::kCmdCloseInvoice, 3, 3, kChanges,
     "document number"},
    {Command::OpenCashDrawer, "OpenCashDrawer", facts::kCmdOpenDrawer1, 1, 0, kChanges, ""},
    {Command::SetDateTime, "SetDateTime", facts::kCmdSetDateTime, 2, 2, kChanges, ""},
    {Command::GetDateTime, "GetDateTime", facts::kCmdGetDateTime, 0, 0, kReads,
     "date YYMMDD;time HHMMSS"},
    // From and to date YYMMDD, the kind (report_kind); prints the report, answers nothing.
    {Command::FiscalMemoryReportByDate, "FiscalMemoryReportByDate", facts::kCmdFiscalMemoryByDate,
     3, 3, kChanges, ""},
    // First and last Z number (4 digits), the kind.
    {Command::FiscalMemoryReportByZ, "FiscalMemoryReportByZ", facts::kCmdFiscalMemoryByZ, 3, 3,
     kChanges, ""},
    {Command::OpenCashDrawer2, "OpenCashDrawer2", facts::kCmdOpenDrawer2, 0, 0, kChanges, ""},
}};

// One reply field: its meaning and width in digits or characters; Decimals is the number of
// implied decimals of an amount (0 for counts, numbers and texts).
struct ReplyField {
  const char* Meaning;
  size_t Width;
  int Decimals = 0;
  bool Text = false;  // free text, up to Width characters; otherwise zero-padded digits
};

// The status request's modes (its one field).
namespace status_mode {
constexpr char kNormal = 'N';
constexpr char kCharacteristics = 'P';
constexpr char kTaxpayer = 'C';
constexpr char kCounters = 'A';
constexpr char kDocument = 'D';
constexpr char kPreferences = 'S';
}  // namespace status_mode

// The reply fields of each status mode, by their place (0 is AnswerField_3).
namespace status_n {
constexpr size_t kLastTicket = 0;  // last ticket or B/C document issued, not cancelled
constexpr size_t kFirstDate = 1;   // of the fiscal day's first document, YYMMDD
constexpr size_t kFirstTime = 2;   // HHMMSS
constexpr size_t kLastZ = 3;
constexpr size_t kAuditPartial = 4;
constexpr size_t kAuditTotal = 5;
constexpr size_t kAuditText = 6;
constexpr size_t kAuditText2 = 7;
inline constexpr ReplyField kLayout[] = {
    {"last ticket or B/C document", 8}, {"first document's date", 6},
    {"first document's time", 6},       {"last Z", 5},
    {"partial audit figure", 8},        {"total audit figure", 8},
    {"audit text", 10, 0, true},        {"second audit text", 2, 0, true},
};
}  // namespace status_n

namespace status_p {
inline constexpr ReplyField kLayout[] = {
    {"invoice columns at 10 cpi", 3},
    {"invoice columns at 12 cpi", 3},
    {"invoice columns at 17 cpi", 3},
    {"ticket columns", 3},
    {"validation lines", 3},
    {"issues tickets", 1},
    {"issues ticket-invoices", 1},
    {"issues slip invoices", 1},
    {"cents digits", 1},
    {"main station", 1, 0, true},
    {"printer variant", 15, 0, true},
};
}  // namespace status_p

namespace status_c {
constexpr size_t kTaxNumber = 0;
constexpr size_t kPointOfSale = 1;
constexpr size_t kVatCategory = 2;
inline constexpr ReplyField kLayout[] = {
    {"tax number", 11},
    {"point of sale", 4},
    {"VAT category", 1, 0, true},
    {"standard VAT rate", 4, 4},
    {"highest ticket-invoice amount", 6},
    {"company name", 40, 0, true},
};
}  // namespace status_c

namespace status_a {
constexpr size_t kLastZ = 0;
constexpr size_t kTicketDone = 1;     // last ticket or B/C document completed
constexpr size_t kTicketPrinted = 2;  // last ticket or B/C document printed
constexpr size_t kADone = 3;
constexpr size_t kAPrinted = 4;
constexpr size_t kNonFiscal = 5;
constexpr size_t kHomologated = 6;
constexpr size_t kReference = 7;
constexpr size_t kCreditNoteA = 8;
constexpr size_t kCreditNoteBC = 9;
constexpr size_t kDeliveryNote = 10;
inline constexpr ReplyField kLayout[] = {
    {"last Z", 5},
    {"last ticket or B/C completed", 8},
    {"last ticket or B/C printed", 8},
    {"last A completed", 8},
    {"last A printed", 8},
    {"last non-fiscal document", 5},
    {"last homologated non-fiscal document", 5},
    {"last non-fiscal reference", 8},
    {"last credit note A", 8},
    {"last credit note B/C", 8},
    {"last delivery note", 8},
};
}  // namespace status_a

namespace status_d {
constexpr size_t kKind = 0;
constexpr size_t kLetter = 1;
// The kinds of the open document, as the control answers them whatever the variant (a variant's
// own letters are turned into these): a ticket, a ticket-invoice, a non-fiscal document, a
// homologated non-fiscal document, one of the ticket-credit-note kind.
constexpr char kTicket = 'K';
constexpr char kTicketInvoice = 'T';
constexpr char kNonFiscal = 'O';
constexpr char kHomologated = 'H';
constexpr char kCreditNote = 'M';
constexpr std::string_view kKinds = "KTOHM";
// The document's letter: none (a ticket, a non-fiscal document), A, B, C.
constexpr char kNoLetter = 'N';
constexpr std::string_view kLetters = "NABC";
inline constexpr ReplyField kLayout[] = {
    {"document kind", 1, 0, true},
    {"letter", 1, 0, true},
};
}  // namespace status_d

// The reply of a document's closing (ticket, invoice, non-fiscal), by place.
namespace close_field {
constexpr size_t kNumber = 0;  // the number the document got
}  // namespace close_field

// The clock's reply, by place.
namespace clock_field {
constexpr size_t kDate = 0;  // YYMMDD
constexpr size_t kTime = 1;  // HHMMSS
}  // namespace clock_field

// The subtotal's reply (ticket and invoice alike), by place.
namespace subtotal_field {
constexpr size_t kItems = 0;
constexpr size_t kGross = 1;  // the amount to pay
constexpr size_t kVat = 2;
constexpr size_t kPaid = 3;
constexpr size_t kPercentTaxes = 4;
constexpr size_t kFixedTaxes = 5;
constexpr size_t kNet = 6;
inline constexpr ReplyField kLayout[] = {
    {"items", 5},
    {"gross total", 12, 2},
    {"VAT", 12, 2},
    {"paid", 12, 2},
    {"percentage internal taxes", 12, 2},
    {"fixed internal taxes", 12, 2},
    {"net total", 12, 2},
};
}  // namespace subtotal_field

// The X and Z closing's reply, by place.
namespace z_field {
constexpr size_t kNumber = 0;
constexpr size_t kCancelled = 1;
constexpr size_t kHomologated = 2;
constexpr size_t kNonFiscal = 3;
constexpr size_t kTickets = 4;
constexpr size_t kADocuments = 5;
constexpr size_t kLastTicket = 6;
constexpr size_t kBilled = 7;
constexpr size_t kVat = 8;
constexpr size_t kPerceptions = 9;
constexpr size_t kLastA = 10;
inline constexpr ReplyField kLayout[] = {
    {"closing number", 5},
    {"cancelled fiscal documents", 5},
    {"homologated non-fiscal documents", 5},
    {"other non-fiscal documents", 5},
    {"tickets and B/C documents", 5},
    {"A documents", 5},
    {"last ticket or B/C", 8},
    {"amount billed", 14, 2},
    {"VAT", 14, 2},
    {"perceptions", 14, 2},
    {"last A", 8},
    {"last credit note A", 8},
    {"last credit note B/C", 8},
    {"last delivery note", 8},
    {"credit notes amount", 14, 2},
    {"credit notes VAT", 14, 2},
    {"credit notes perceptions", 14, 2},
};
constexpr size_t kCount = std::size(kLayout);
}  // namespace z_field

// The kinds of the fiscal-memory reports (their last field): the totals of the range, or each
// Z closing of it with the totals. The lower-case letters are taken too; what tells them apart
// from the upper-case ones is not described, and the package sends the upper-case ones.
namespace report_kind {
constexpr char kTotals = 'T';
constexpr char kDetailed = 'D';
constexpr size_t kZDigits = 4;  // a Z number in the report by Z numbers
}  // namespace report_kind

// Widths of the single-field replies.
constexpr size_t kDocumentNumberWidth = 8;
constexpr size_t kNonFiscalNumberWidth = 7;
constexpr size_t kStillToPayWidth = 12;

constexpr const CommandInfo& Info(Command c) {
  return kCommandTable[static_cast<size_t>(c)];
}

// The row of a name or of a command byte; nullptr when there is none.
constexpr const CommandInfo* FindCommand(std::string_view method) {
  for (const auto& c : kCommandTable)
    if (method == c.Method) return &c;
  return nullptr;
}
constexpr const CommandInfo* FindCommand(uint8_t cmd) {
  if (cmd == 0) return nullptr;
  for (const auto& c : kCommandTable)
    if (cmd == c.Cmd) return &c;
  return nullptr;
}

// Whether a command opens a document (which the printer refuses while a roll's paper is low).
constexpr bool OpensDocument(Command c) {
  return c == Command::OpenTicket || c == Command::OpenInvoice || c == Command::OpenNoFiscal;
}

// Whether field `index` (1-based) of a command may be the single byte DEL, which the printer
// takes as "no text here": the close invoice's TOTAL text.
constexpr bool MayHoldDel(std::string_view method, size_t index) {
  return method == "CloseInvoice" && index == 3;
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
    if (a.Cmd != 0 && (a.Cmd < 0x20 || a.Cmd > 0x7E)) return false;
    if (a.Fields > 19 || a.Args > 19 || CountAnswers(a.Answers) > 17) return false;
    for (size_t j = i + 1; j < kCommandTable.size(); ++j) {
      const CommandInfo& b = kCommandTable[j];
      if ((a.Cmd != 0 && a.Cmd == b.Cmd) || std::string_view(a.Method) == b.Method) return false;
    }
  }
  return true;
}
static_assert(CommandTableHolds(), "the printer command table repeats a name or a byte");
static_assert(CountAnswers(kCommandTable[static_cast<size_t>(Command::CloseJournal)].Answers) ==
                  z_field::kCount,
              "the Z closing's answer fields and their places agree");
static_assert(CountAnswers(Info(Command::GetTicketSubtotal).Answers) ==
                  std::size(subtotal_field::kLayout),
              "the subtotal's answer fields and their places agree");
}  // namespace detail

}  // namespace plat
