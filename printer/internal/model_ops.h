// SPDX-License-Identifier: Apache-2.0
// The printer model's inner parts, shared by its command handlers (printer/model/*.cpp): paper
// layout, amounts, and ModelOps, the handlers themselves, which are friends of the model so
// that its public header keeps only what a host reads. Not installed.
#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/format.h"
#include "printer/commands.h"
#include "printer/model.h"
#include "printer/status.h"
#include "printer/wire.h"

namespace plat {

namespace model {

constexpr size_t kWidth = facts::kPaperWidth;

// A paper line as the printer shows it: control characters as blanks.
inline void CleanLine(AnsiString& line) {
  for (char& c : line) {
    const auto u = static_cast<unsigned char>(c);
    c = (u < 0x20 || u == 0x7F) ? ' ' : c;
  }
}
// What a long-running host can still read back of the paper printed and of the commands
// received: the newest lines and commands, as many as the print service shows. Past twice as
// many the oldest go, so that both stay bounded at a constant cost per line.
constexpr size_t kTailKept = 20000;
template <class T>
void KeepTail(std::vector<T>& v) {
  if (v.size() >= 2 * kTailKept)
    v.erase(v.begin(), v.end() - static_cast<std::ptrdiff_t>(kTailKept - 1));
}

// Largest amount a document or a field may hold: 9 999 999 999.99.
constexpr int64_t kMaxCents = 999999999999LL;
constexpr int kMaxDocNumber = 99999999;

inline AnsiString Rule(char c) {
  return AnsiString(kWidth, c);
}

inline AnsiString Cut(const AnsiString& s, size_t width) {
  return s.size() <= width ? s : s.substr(0, width);
}

inline AnsiString Center(const AnsiString& s) {
  AnsiString t = Cut(s, kWidth);
  return AnsiString((kWidth - t.size()) / 2, ' ') + t;
}

// Text on the left, value on the right; the text is cut so that the value always fits.
inline AnsiString LeftRight(const AnsiString& left, const AnsiString& right) {
  AnsiString r = Cut(right, kWidth);
  size_t room = r.size() < kWidth ? kWidth - r.size() - 1 : 0;
  AnsiString l = Cut(left, room);
  return l + AnsiString(kWidth - l.size() - r.size(), ' ') + r;
}

inline AnsiString ZeroPad(int64_t n, int width) {
  AnsiString digits = std::to_string(n < 0 ? -n : n);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
  return n < 0 ? "-" + digits : digits;
}

// Amounts on paper and in answers: "1234.50", "-5.00".
inline AnsiString Money(int64_t cents) {
  int64_t a = cents < 0 ? -cents : cents;
  return AnsiString(cents < 0 ? "-" : "") + std::to_string(a / 100) + "." + ZeroPad(a % 100, 2);
}

inline int NextNumber(int n) {
  return n >= kMaxDocNumber ? 1 : n + 1;
}

// A number field: digits with at most one '.' or ',' as the decimal mark ("000012.50",
// "12,5", "30"). More than two decimals round half up to hundredths. No blanks, no exponent, no
// sign unless allowed. Answers the value in hundredths, or nothing when the text is no number.
std::optional<int64_t> ParseHundredths(const AnsiString& s, bool allowNegative = false);
// qty (thousandths) x price (ten-thousandths) x (1 + rate%) rounded half up to cents.
int64_t LineAmount(int64_t qty, int64_t price, int64_t rateHundredths);
// The VAT inside an amount that includes it at the rate (hundredths of a percent), in cents.
int64_t VatIncluded(int64_t amountCents, int64_t rateHundredths);

// A reply in the printer's digits: each value zero-padded to its field's width (negative
// amounts, which no field holds, as zero).
std::vector<AnsiString> Reply(std::span<const ReplyField> layout, std::span<const int64_t> values);

}  // namespace model

using namespace model;

struct ModelOps {
  using M = FiscalPrinterModel;
  using Args = std::vector<WideString*>;
  using Handler = PrinterAnswer (*)(M&, const Args&);

  // Runs a command by method name (printer/model/model.cpp).
  static PrinterAnswer Execute(M& m, const std::string& method, const Args& args);

  // ---- answers

  // The status words of an answer, summary bits included: the fiscal word carries the
  // fiscalisation state and the open document (bits 12 and 13 for a fiscal one, 13 alone for a
  // non-fiscal one), "0600" idle and "3600" with a ticket open on a fiscalised printer.
  static uint16_t FiscalBits(const M& m, uint16_t more = 0) {
    static_assert(sizeof(m.fiscalWarnings_) == sizeof(uint16_t));
    uint16_t w = m.fiscalWarnings_ | m.fiscalisation_ | more;
    switch (m.state_) {
      case M::DocState::Ticket:
      case M::DocState::Invoice:
        w |= status::kFiscalDocumentOpen | status::kDocumentOpen;
        break;
      case M::DocState::NonFiscal:
        w |= status::kDocumentOpen;
        break;
      case M::DocState::Idle:
        break;
    }
    return status::WithFiscalSummary(w);
  }
  static uint16_t PrinterBits(const M& m) {
    return status::WithPrinterSummary(
        static_cast<uint16_t>((m.drawerOpen_ ? status::kDrawerOpen : 0) | m.printerWarnings_));
  }

  static PrinterAnswer Accept(const M& m, std::vector<AnsiString> fields = {}) {
    PrinterAnswer a;
    a.Result = 1;
    a.PrinterStatus = PrinterBits(m);
    a.FiscalStatus = FiscalBits(m);
    for (const auto& f : fields) a.Fields.push_back(AnsiToWide(f));
    return a;
  }
  static PrinterAnswer Refuse(const M& m, uint16_t bit) {
    PrinterAnswer a;
    a.Result = 0;
    a.PrinterStatus = PrinterBits(m);
    a.FiscalStatus = FiscalBits(m, bit);
    return a;
  }
  static PrinterAnswer BadState(const M& m) { return Refuse(m, status::kInvalidState); }
  // Whether a new document may be opened: nothing open, and neither roll's paper low.
  static bool MayOpen(const M& m) {
    return m.state_ == M::DocState::Idle && (PrinterBits(m) & status::kPaperLow) == 0;
  }
  static PrinterAnswer BadField(const M& m) { return Refuse(m, status::kInvalidField); }

  static AnsiString Arg(const Args& a, size_t i) { return WideToAnsi(*a[i]); }

  // ---- paper

  static AnsiString Stamp(const M& m) {
    TDateTime now = m.ClockNow();
    int y, mo, d, h, mi, s, ms;
    DecodeDate(now, y, mo, d);
    DecodeTime(now, h, mi, s, ms);
    return ZeroPad(d, 2) + "/" + ZeroPad(mo, 2) + "/" + ZeroPad(y, 4) + " " + ZeroPad(h, 2) + ":" +
           ZeroPad(mi, 2);
  }

  static AnsiString DocName(const M& m) {
    if (m.state_ == M::DocState::Invoice) return AnsiString("FACTURA ") + m.invoiceLetter_;
    return "TIQUE";
  }
  // Tickets and B/C documents share one series; A documents have their own.
  static int& Series(M& m) {
    return m.state_ == M::DocState::Invoice && m.invoiceLetter_ == 'A' ? m.counters_.LastInvoiceA
                                                                       : m.counters_.LastTicket;
  }
  static int NextDocNumber(const M& m) { return NextNumber(Series(const_cast<M&>(m))); }
  // Takes the number of the document being ended; a completed one also counts as done.
  static int TakeDocNumber(M& m, bool completed) {
    int& last = Series(m);
    last = NextNumber(last);
    m.counters_.LastDocument = last;
    const bool a = m.state_ == M::DocState::Invoice && m.invoiceLetter_ == 'A';
    if (completed) (a ? m.counters_.LastADone : m.counters_.LastTicketDone) = last;
    ++(a ? m.counters_.ADocs : m.counters_.FiscalDocs);
    if (m.counters_.FirstDocDate.empty()) {
      const auto [date, time] = ClockFields(m);
      m.counters_.FirstDocDate = date;
      m.counters_.FirstDocTime = time;
    }
    return last;
  }
  // The clock as the printer answers it: YYMMDD and HHMMSS.
  static std::pair<AnsiString, AnsiString> ClockFields(const M& m) {
    TDateTime now = m.ClockNow();
    int y, mo, d, h, mi, s, ms;
    DecodeDate(now, y, mo, d);
    DecodeTime(now, h, mi, s, ms);
    return {ZeroPad(y % 100, 2) + ZeroPad(mo, 2) + ZeroPad(d, 2),
            ZeroPad(h, 2) + ZeroPad(mi, 2) + ZeroPad(s, 2)};
  }

  static void BeginDocument(M& m, M::DocState state, char letter) {
    m.state_ = state;
    m.invoiceLetter_ = letter;
    m.docTotal_ = 0;
    m.docPaid_ = 0;
    m.totalPrinted_ = false;
    m.items_.clear();
    m.lines_ = 0;
    m.docVat_ = 0;
    m.payments_ = 0;
    m.docKind_ = state == M::DocState::Ticket ? 'K' : state == M::DocState::NonFiscal ? 'O' : 0;
  }
  static void EndDocument(M& m) { BeginDocument(m, M::DocState::Idle, 0); }

  static void PrintTotal(M& m) {
    if (m.totalPrinted_) return;
    m.Print(LeftRight("TOTAL", Money(m.docTotal_)));
    m.totalPrinted_ = true;
  }

  static int ItemCount(const M& m) {
    return static_cast<int>(std::count_if(m.items_.begin(), m.items_.end(),
                                          [](const M::SoldItem& i) { return i.Quantity > 0; }));
  }

  // ---- fiscal documents (model/fiscal_documents.cpp)
  static PrinterAnswer OpenTicket(M& m, const Args& a);
  static PrinterAnswer OpenInvoice(M& m, const Args& a);
  static PrinterAnswer Item(M& m, const Args& a, M::DocState kind);
  static PrinterAnswer SendTicketItem(M& m, const Args& a);
  static PrinterAnswer SendInvoiceItem(M& m, const Args& a);
  static PrinterAnswer Subtotal(M& m, const Args& a, M::DocState kind);
  static PrinterAnswer GetTicketSubtotal(M& m, const Args& a);
  static PrinterAnswer GetInvoiceSubtotal(M& m, const Args& a);
  static PrinterAnswer Payment(M& m, const Args& a, M::DocState kind);
  static PrinterAnswer SendTicketPayment(M& m, const Args& a);
  static PrinterAnswer SendInvoicePayment(M& m, const Args& a);
  static PrinterAnswer Close(M& m, M::DocState kind);
  static PrinterAnswer CloseTicket(M& m, const Args&);
  static PrinterAnswer CloseInvoice(M& m, const Args& a);
  static PrinterAnswer OpenCashDrawer(M& m, const Args& a);

  // ---- non-fiscal documents (model/nonfiscal_documents.cpp)
  static PrinterAnswer OpenNoFiscal(M& m, const Args&);
  static PrinterAnswer SendNoFiscalText(M& m, const Args& a);
  static PrinterAnswer CloseNoFiscal(M& m, const Args&);

  // ---- closings and queries (model/closings_queries.cpp)
  static void PrintDaySummary(M& m, const AnsiString& title);
  static PrinterAnswer CloseJournal(M& m, const Args& a);
  static PrinterAnswer SetDateTime(M& m, const Args& a);
  static PrinterAnswer GetDateTime(M& m, const Args&);
  static PrinterAnswer Status(M& m, const Args& a);
  // ---- fiscal-memory reports (model/fiscal_memory_reports.cpp)
  static void KeepClosing(M& m);
  static void PrintReport(M& m, const AnsiString& range, char kind,
                          const std::function<bool(const M::ZClosing&)>& in);
  static PrinterAnswer FiscalMemoryReportByDate(M& m, const Args& a);
  static PrinterAnswer FiscalMemoryReportByZ(M& m, const Args& a);
  static PrinterAnswer NoSuchCommand(M& m, const Args&) {
    return Refuse(m, status::kUnknownCommand);
  }
};

}  // namespace plat
