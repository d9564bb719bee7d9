// SPDX-License-Identifier: Apache-2.0
// The printer model's state as text, so that a printer program keeps its documents and
// counters across a restart. One "key value" per line; texts are kept as hexadecimal bytes. A
// state written before the fiscal memory was kept loads with no Z closings.
#include <sstream>

#include "platform/exceptions.h"
#include "printer/internal/model_ops.h"

namespace plat {

namespace {

constexpr const char* kHeader = "fiscal-printer-state 2";
// The first form kept item quantities in hundredths and prices in cents.
constexpr const char* kHeader1 = "fiscal-printer-state 1";

std::string Hex(const AnsiString& s) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out.empty() ? "-" : out;
}

AnsiString Unhex(const std::string& s) {
  if (s == "-") return "";
  if (s.size() % 2) throw Exception("the printer state holds a broken text");
  AnsiString out;
  for (size_t i = 0; i < s.size(); i += 2) {
    out += static_cast<char>(std::stoi(s.substr(i, 2), nullptr, 16));
  }
  return out;
}

}  // namespace

std::string FiscalPrinterModel::SaveState() const {
  const Counters& c = counters_;
  std::ostringstream out;
  out.precision(17);
  out << kHeader << "\n"
      << "counters " << c.LastTicket << ' ' << c.LastInvoiceA << ' ' << c.LastInvoiceC << ' '
      << c.ZNumber << ' ' << c.XSinceZ << ' ' << c.FiscalDocs << ' ' << c.NonFiscalDocs << ' '
      << c.DaySalesCents << ' ' << c.CancelledDocs << ' ' << c.LastNonFiscal << ' '
      << c.LastDocument << "\n"
      << "done " << c.LastTicketDone << ' ' << c.LastADone << ' ' << c.ADocs << ' ' << c.DayVatCents
      << ' ' << Hex(c.FirstDocDate) << ' ' << Hex(c.FirstDocTime) << "\n"
      << "document " << static_cast<int>(state_) << ' ' << Hex(AnsiString(1, invoiceLetter_)) << ' '
      << docTotal_ << ' ' << docPaid_ << ' ' << totalPrinted_ << ' ' << lines_ << "\n"
      << "open " << docVat_ << ' ' << payments_ << ' ' << Hex(AnsiString(1, docKind_)) << "\n"
      << "clock " << clockOffset_ << "\n";
  for (const auto& z : closings_)
    out << "zclosing " << z.Number << ' ' << Hex(z.Date) << ' ' << z.FiscalDocs << ' '
        << z.CancelledDocs << ' ' << z.SalesCents << ' ' << z.VatCents << ' ' << z.LastTicket << ' '
        << z.LastInvoiceA << "\n";
  for (const auto& i : items_)
    out << "item " << Hex(i.Description) << ' ' << i.UnitPrice << ' ' << i.RateHundredths << ' '
        << i.Quantity << ' ' << i.AmountCents << ' ' << i.VatCents << "\n";
  return out.str();
}

void FiscalPrinterModel::LoadState(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || (line != kHeader && line != kHeader1))
    throw Exception("not a printer state (it does not start with \"" + std::string(kHeader) +
                    "\")");
  const bool first = line == kHeader1;
  FiscalPrinterModel m;
  try {
    while (std::getline(in, line)) {
      std::istringstream l(line);
      std::string key;
      l >> key;
      Counters& c = m.counters_;
      if (key == "counters") {
        l >> c.LastTicket >> c.LastInvoiceA >> c.LastInvoiceC >> c.ZNumber >> c.XSinceZ >>
            c.FiscalDocs >> c.NonFiscalDocs >> c.DaySalesCents >> c.CancelledDocs >>
            c.LastNonFiscal >> c.LastDocument;
      } else if (key == "document") {
        int state = 0;
        std::string letter;
        l >> state >> letter >> m.docTotal_ >> m.docPaid_ >> m.totalPrinted_ >> m.lines_;
        if (state < 0 || state > static_cast<int>(DocState::NonFiscal))
          throw Exception("unknown document state");
        m.state_ = static_cast<DocState>(state);
        const AnsiString l1 = Unhex(letter);
        m.invoiceLetter_ = l1.empty() ? 0 : l1[0];
      } else if (key == "done") {
        std::string date, time;
        l >> c.LastTicketDone >> c.LastADone >> c.ADocs >> c.DayVatCents >> date >> time;
        c.FirstDocDate = Unhex(date);
        c.FirstDocTime = Unhex(time);
      } else if (key == "open") {
        std::string kind;
        l >> m.docVat_ >> m.payments_ >> kind;
        const AnsiString k = Unhex(kind);
        m.docKind_ = k.empty() ? 0 : k[0];
      } else if (key == "clock") {
        l >> m.clockOffset_;
      } else if (key == "zclosing") {
        ZClosing z;
        std::string date;
        l >> z.Number >> date >> z.FiscalDocs >> z.CancelledDocs >> z.SalesCents >> z.VatCents >>
            z.LastTicket >> z.LastInvoiceA;
        z.Date = Unhex(date);
        m.closings_.push_back(std::move(z));
      } else if (key == "item") {
        SoldItem i;
        std::string description;
        l >> description >> i.UnitPrice >> i.RateHundredths >> i.Quantity >> i.AmountCents;
        if (first) {
          i.UnitPrice *= 100;
          i.Quantity *= 10;
        } else {
          l >> i.VatCents;
        }
        i.Description = Unhex(description);
        m.items_.push_back(std::move(i));
      } else if (!key.empty()) {
        throw Exception("unknown line '" + key + "'");
      }
      if (l.fail()) throw Exception("a line that does not read: " + line);
    }
  } catch (const std::logic_error&) {
    throw Exception("the printer state holds a broken text");
  } catch (const Exception& e) {
    throw Exception("the printer state does not read: " + e.Message());
  }
  if (m.docKind_ == 0 && m.state_ != DocState::Idle)
    m.docKind_ = m.state_ == DocState::Ticket ? 'K' : m.state_ == DocState::NonFiscal ? 'O' : 'T';
  if (first) {
    m.counters_.LastTicketDone = m.counters_.LastTicket;
    m.counters_.LastADone = m.counters_.LastInvoiceA;
  }
  m.clock_ = std::move(clock_);
  m.variant_ = variant_;  // the variant is the printer's, not its state's
  *this = std::move(m);
}

}  // namespace plat
