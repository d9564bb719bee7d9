// SPDX-License-Identifier: Apache-2.0
// The fiscal printer model: document state, counters, fiscal memory and 40-column paper, as a
// state machine with no journal and no scripting. Both front doors drive one model: the
// in-process emulator (printer/emulator.h) and the printer-side link server that answers on a
// serial line. docs/emulator.md describes its behaviour. A model belongs to one thread at a
// time; its owner serializes the commands.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "printer/api.h"
#include "printer/backend.h"
#include "printer/facts.h"
#include "printer/variants.h"

namespace plat {

class FISCAL_PRINTER_API FiscalPrinterModel {
 public:
  enum class DocState { Idle, Ticket, Invoice, NonFiscal };

  FiscalPrinterModel();
  // Executes a command by method name; may write the arguments as a printer's control would.
  PrinterAnswer Execute(const std::string& method, const std::vector<WideString*>& args);

  // The variant of the family the model answers as: its reply layouts, widths and limits
  // (ours unless set).
  void SetVariant(const variants::ModelVariant& v) { variant_ = &v; }
  const variants::ModelVariant& GetVariant() const { return *variant_; }

  DocState State() const { return state_; }
  char InvoiceLetter() const { return invoiceLetter_; }  // 'A', 'B' or 'C' while an invoice is open
  // The printed paper, one 40-column line per entry, Windows-1252; past 40000 lines only the
  // newest 20000 at least are kept.
  const std::vector<AnsiString>& Paper() const { return paper_; }
  void ClearPaper() { paper_.clear(); }

  // Tickets and B/C documents take their numbers from one series (LastTicket), A documents
  // from another (LastInvoiceA); a cancelled document takes its number too, but only a
  // completed one counts as done.
  struct Counters {
    int LastTicket = 0;
    int LastInvoiceA = 0;
    int LastInvoiceC = 0;  // kept for stored states; letter C documents are in the ticket series
    int ZNumber = 0;
    int XSinceZ = 0;
    int FiscalDocs = 0;         // tickets and B/C documents since the last Z
    int NonFiscalDocs = 0;      // since the last Z
    int64_t DaySalesCents = 0;  // accumulated sales of the day, cleared by a Z
    int CancelledDocs = 0;      // fiscal documents cancelled since the last Z
    int LastNonFiscal = 0;      // number of the last non-fiscal document (not cleared by a Z)
    int LastDocument = 0;       // number of the last document ended, of any kind
    int LastTicketDone = 0;     // last ticket or B/C document completed
    int LastADone = 0;          // last A document completed
    int ADocs = 0;              // A documents since the last Z
    int64_t DayVatCents = 0;    // VAT of the day's sales, cleared by a Z
    AnsiString FirstDocDate;    // of the day's first fiscal document, YYMMDD; empty before it
    AnsiString FirstDocTime;    // HHMMSS
  };
  const Counters& GetCounters() const { return counters_; }
  Counters& MutableCounters() { return counters_; }

  // A Z closing as the fiscal memory keeps it, for the fiscal-memory reports.
  struct ZClosing {
    int Number = 0;
    AnsiString Date;     // YYMMDD, the printer's clock when it was taken
    int FiscalDocs = 0;  // tickets, B/C and A documents of the day
    int CancelledDocs = 0;
    int64_t SalesCents = 0;
    int64_t VatCents = 0;
    int LastTicket = 0;
    int LastInvoiceA = 0;
  };
  // The Z closings taken, oldest first; past kClosingsKept the oldest go.
  const std::vector<ZClosing>& Closings() const { return closings_; }
  static constexpr size_t kClosingsKept = 4000;

  // The printer's own clock (the platform clock unless set). SetGetDateTime "S" moves it by
  // an offset that the model keeps.
  void SetClock(std::function<TDateTime()> clock) { clock_ = std::move(clock); }

  // Warning conditions the printer reports with every answer from now on (battery low, paper
  // low, fiscal memory almost full). They refuse no command, but while a roll's paper is low no
  // document can be opened.
  void SetWarnings(uint16_t printerWord, uint16_t fiscalWord) {
    printerWarnings_ = printerWord;
    fiscalWarnings_ = fiscalWord;
  }
  // The fiscalisation state the fiscal word reports (its two bits): fiscalised unless set.
  void SetFiscalisation(uint16_t bits) {
    fiscalisation_ = bits & facts::fiscal_bit::kFiscalisationMask;
  }

  // The whole state as text, and back: documents, counters, the open document with its items,
  // the clock's offset. LoadState raises plat::Exception for a text SaveState did not write.
  std::string SaveState() const;
  void LoadState(const std::string& text);

  // The document in progress (for tests): total to pay and paid so far, in cents.
  int64_t DocumentTotalCents() const { return docTotal_; }
  int64_t DocumentPaidCents() const { return docPaid_; }
  // Lines on the open document: items sold or taken back, payments and discounts, texts.
  int DocumentLines() const { return lines_; }

 private:
  // Implementation state; the implementation may add what it needs.
  DocState state_ = DocState::Idle;
  const variants::ModelVariant* variant_ = &variants::Default();
  char invoiceLetter_ = 0;
  Counters counters_;
  std::vector<ZClosing> closings_;
  std::vector<AnsiString> paper_;
  std::function<TDateTime()> clock_;
  int64_t docTotal_ = 0;
  int64_t docPaid_ = 0;
  bool totalPrinted_ = false;
  bool drawerOpen_ = false;
  int lines_ = 0;
  int64_t docVat_ = 0;
  int payments_ = 0;  // "T" payments on the open document
  char docKind_ = 0;  // 'K' ticket, 'O' non-fiscal, or the invoice kind it was opened with
  uint16_t printerWarnings_ = 0;
  uint16_t fiscalWarnings_ = 0;
  uint16_t fiscalisation_ = facts::fiscal_bit::kFiscalised;
  double clockOffset_ = 0;  // days the printer's clock was set forward (or back)
  // Item lines of the open document, so that a cancelled item must match one sold.
  struct SoldItem {
    AnsiString Description;
    int64_t UnitPrice = 0;  // ten-thousandths
    int64_t RateHundredths = 0;
    int64_t Quantity = 0;     // thousandths, still on the document
    int64_t AmountCents = 0;  // still on the document
    int64_t VatCents = 0;     // still on the document
  };
  std::vector<SoldItem> items_;
  void Print(std::string_view line);
  TDateTime ClockNow() const;
  friend struct ModelOps;
};

}  // namespace plat
