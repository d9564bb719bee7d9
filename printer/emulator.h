// The built-in fiscal printer emulator: a printer model (document state, counters, fiscal
// memory, 40-column paper) behind the PrinterBackend interface, with a journal of every
// command received and scripting for tests. docs/emulator.md describes its behaviour.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "printer/printer.h"

namespace plat {

// Status bits (printer status / fiscal status words).
namespace status {
constexpr uint16_t kPrinterError = 1u << 2;
constexpr uint16_t kOffline = 1u << 3;
constexpr uint16_t kBufferFull = 1u << 6;
constexpr uint16_t kDrawerOpen = 1u << 12;
constexpr uint16_t kOutOfPaper = 1u << 14;
constexpr uint16_t kPrinterAny = 1u << 15;  // set with any of error, offline, out of paper

constexpr uint16_t kFiscalMemoryError = 1u << 0;
constexpr uint16_t kWorkingMemoryError = 1u << 1;
constexpr uint16_t kUnknownCommand = 1u << 3;
constexpr uint16_t kInvalidField = 1u << 4;
constexpr uint16_t kInvalidState = 1u << 5;
constexpr uint16_t kTotalsOverflow = 1u << 6;
constexpr uint16_t kFiscalMemoryFull = 1u << 7;
constexpr uint16_t kFiscalMemoryAlmostFull = 1u << 8;
constexpr uint16_t kZRequired = 1u << 11;
constexpr uint16_t kFiscalDocumentOpen = 1u << 12;
constexpr uint16_t kDocumentOpen = 1u << 13;
constexpr uint16_t kFiscalAny = 1u << 15;  // set with any of bits 0 to 7
constexpr uint16_t kRefusalMask = 0x007F;  // bits 0 to 6: the command was refused
}  // namespace status

// The printer itself: pure state machine, no journal, no scripting. Both front doors (the
// in-process backend and the emulator program on a serial line) drive one model.
class FiscalPrinterModel {
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
  };
  const Counters& GetCounters() const { return counters_; }
  Counters& MutableCounters() { return counters_; }

  // The printer's own clock (the platform clock unless set).
  void SetClock(std::function<TDateTime()> clock) { clock_ = std::move(clock); }

  // The document in progress (for tests): items total and paid so far, in cents.
  int64_t DocumentTotalCents() const { return docTotal_; }
  int64_t DocumentPaidCents() const { return docPaid_; }

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

// One command as the emulator received it.
struct JournalEntry {
  std::string Method;
  std::vector<WideString> Args;  // exactly as received, before execution
  int16_t Result = 0;
  bool Raised = false;  // the command raised instead of answering
};

class FiscalEmulator : public PrinterBackend {
 public:
  FiscalEmulator();

  PrinterAnswer Execute(int portNumber, const char* method,
                        const std::vector<WideString*>& args) override;

  FiscalPrinterModel& Model() { return model_; }
  const FiscalPrinterModel& Model() const { return model_; }

  // Journal of every command received (also refused and raising ones).
  const std::vector<JournalEntry>& Journal() const { return journal_; }
  void ClearJournal() { journal_.clear(); }
  // Method names of the journal, in order (for compact assertions).
  std::vector<std::string> Methods() const;
  // The paper printed so far (the model's).
  const std::vector<AnsiString>& Paper() const { return model_.Paper(); }
  void ClearPaper() { model_.ClearPaper(); }
  // Port number of the last command.
  int LastPort() const { return lastPort_; }

  // ---- Scripting. A rule applies to commands of one method ("" for any); occurrence 0 means
  // every matching command, n the n-th matching command counted from when the rule was added.
  enum class Action {
    Refuse,     // not executed; answers 0 with the invalid-state bit
    Raise,      // not executed; raises plat::Exception(Message)
    SetFields,  // executed; then the answer fields are replaced by Fields
    WriteArg,   // executed; then argument ArgIndex (0-based) is set to ArgValue
    Silent      // not executed; raises ELinkError as a switched-off printer
  };
  struct Rule {
    std::string Method;
    int Occurrence = 0;
    Action What = Action::Refuse;
    AnsiString Message;
    std::vector<WideString> Fields;
    int ArgIndex = 0;
    WideString ArgValue;
    int seen = 0;  // matching commands seen so far
  };
  void AddRule(Rule rule);
  void ClearRules();
  void Refuse(const std::string& method, int occurrence = 0);
  void RaiseOn(const std::string& method, const AnsiString& message, int occurrence = 0);
  void SetFieldsAfter(const std::string& method, std::vector<WideString> fields,
                      int occurrence = 0);
  void WriteArgAfter(const std::string& method, int argIndex, WideString value, int occurrence = 0);
  // The n-th command of any method from now (1-based) is refused / raises.
  void RefuseNth(int n);
  void RaiseNth(int n, const AnsiString& message);
  // A switched-off printer: every command raises ELinkError("the printer does not answer").
  void SetSwitchedOff(bool off);

 private:
  FiscalPrinterModel model_;
  mutable std::mutex mu_;  // one command at a time, also from several controls
  std::vector<JournalEntry> journal_;
  std::vector<Rule> rules_;
  bool switchedOff_ = false;
  int lastPort_ = 0;
};

// The process's default emulator: the backend that controls use until a host sets another.
std::shared_ptr<FiscalEmulator> DefaultEmulator();

}  // namespace plat
