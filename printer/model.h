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

namespace plat {

class FISCAL_PRINTER_API FiscalPrinterModel {
 public:
  enum class DocState { Idle, Ticket, Invoice, NonFiscal };

  FiscalPrinterModel();
  // Executes a command by method name; may write the arguments as a printer's control would.
  PrinterAnswer Execute(const std::string& method, const std::vector<WideString*>& args);

  DocState State() const { return state_; }
  char InvoiceLetter() const { return invoiceLetter_; }  // 'A' or 'C' while an invoice is open
  // The printed paper, one 40-column line per entry, Windows-1252.
  const std::vector<AnsiString>& Paper() const { return paper_; }
  void ClearPaper() { paper_.clear(); }

  struct Counters {
    int LastTicket = 0;
    int LastInvoiceA = 0;
    int LastInvoiceC = 0;
    int ZNumber = 0;
    int XSinceZ = 0;
    int FiscalDocs = 0;         // since the last Z
    int NonFiscalDocs = 0;      // since the last Z
    int64_t DaySalesCents = 0;  // accumulated sales of the day, cleared by a Z
    int CancelledDocs = 0;      // fiscal documents cancelled since the last Z
    int LastNonFiscal = 0;      // number of the last non-fiscal document (not cleared by a Z)
    int LastDocument = 0;       // number of the last document ended, of any kind
  };
  const Counters& GetCounters() const { return counters_; }
  Counters& MutableCounters() { return counters_; }

  // The printer's own clock (the platform clock unless set). SetGetDateTime "S" moves it by
  // an offset that the model keeps.
  void SetClock(std::function<TDateTime()> clock) { clock_ = std::move(clock); }

  // The whole state as text, and back: documents, counters, the open document with its items,
  // the clock's offset. LoadState raises plat::Exception for a text SaveState did not write.
  std::string SaveState() const;
  void LoadState(const std::string& text);

  // The document in progress (for tests): items total and paid so far, in cents.
  int64_t DocumentTotalCents() const { return docTotal_; }
  int64_t DocumentPaidCents() const { return docPaid_; }
  // Lines on the open document: items sold or taken back, payments and discounts, texts.
  int DocumentLines() const { return lines_; }

 private:
  // Implementation state; the implementation may add what it needs.
  DocState state_ = DocState::Idle;
  char invoiceLetter_ = 0;
  Counters counters_;
  std::vector<AnsiString> paper_;
  std::function<TDateTime()> clock_;
  int64_t docTotal_ = 0;
  int64_t docPaid_ = 0;
  bool totalPrinted_ = false;
  bool drawerOpen_ = false;
  int lines_ = 0;
  double clockOffset_ = 0;  // days the printer's clock was set forward (or back)
  // Item lines of the open document, so that a cancelled item must match one sold.
  struct SoldItem {
    AnsiString Description;
    int64_t UnitPriceCents = 0;
    int64_t RateHundredths = 0;
    int64_t QuantityHundredths = 0;  // still on the document
    int64_t AmountCents = 0;         // still on the document
  };
  std::vector<SoldItem> items_;
  void Print(std::string_view line);
  TDateTime ClockNow() const;
  friend struct ModelOps;
};

}  // namespace plat
