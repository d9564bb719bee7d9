// SPDX-License-Identifier: Apache-2.0
// The control's translation between the driver's arguments and the printer's fields: each
// method's arguments become the fields of its printer command in the printer's own forms
// (fixed widths, zero padding, implied decimals, the letters each field takes, texts cut to
// their field), and the printer's reply becomes the method's answer (reply field N is
// AnswerField_(N+2); amounts stay in the printer's digits). docs/printer-link.md has the same
// table. Both built-in backends translate with it, so the emulator and a printer on a serial
// line see the same fields. A Translator belongs to one backend and its owner serializes it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"
#include "printer/api.h"
#include "printer/backend.h"
#include "printer/commands.h"
#include "printer/variants.h"

namespace plat::wire {

// One printer command with its fields, as the printer takes them.
struct Request {
  Command Id = Command::Status;
  std::vector<AnsiString> Fields;
};

// A method's arguments that have no printer form: the method is refused without being sent.
struct Untranslatable {
  size_t Argument = 0;  // 1-based
  std::string Why;
};

class FISCAL_PRINTER_API Translator {
 public:
  // The printer commands for a method and the driver's arguments, run in order until one is
  // refused (one command for every method but setting the clock, which reads it back); nothing,
  // with why, when an argument has no printer form (a quantity that is no number, an amount
  // beyond the field's digits).
  std::optional<std::vector<Request>> ToPrinter(const CommandInfo& method,
                                                const std::vector<WideString*>& args,
                                                Untranslatable* why = nullptr);
  // The method's answer from the printer's answer to its last request.
  static PrinterAnswer ToAnswer(const CommandInfo& method, PrinterAnswer printer);

  // The variant whose field widths the fields take (ours unless set).
  void SetVariant(const variants::ModelVariant& v) { variant_ = &v; }

 private:
  char invoiceLetter_ = 0;  // of the last invoice opened: letter C items carry VAT
  const variants::ModelVariant* variant_ = &variants::Default();
};

// The refusal the control answers for an untranslatable method: the invalid-field condition
// on top of the given status words.
FISCAL_PRINTER_API PrinterAnswer Refusal(uint16_t printerStatus, uint16_t fiscalStatus);

// ---- The printer's number forms, for the translation and for the printer model.

// A decimal text of the driver ("000012.50", "12,5", "3", "-1.5" when signed) scaled to
// `decimals` decimals, rounded half up; nothing when it is no number.
FISCAL_PRINTER_API std::optional<int64_t> ParseDecimal(const AnsiString& s, int decimals,
                                                       bool allowNegative = false);
// A value as zero-padded digits of exactly `width` ("00001000"); nothing when it is negative
// or does not fit.
FISCAL_PRINTER_API std::optional<AnsiString> Digits(int64_t value, size_t width);
// Digits of exactly `width`, read back; nothing for anything else.
FISCAL_PRINTER_API std::optional<int64_t> ReadDigits(const AnsiString& s, size_t width);
// The unit price form: 7 integer digits, a point, 4 decimals ("0000012.5000"), from
// ten-thousandths.
FISCAL_PRINTER_API std::optional<AnsiString> PriceText(int64_t tenThousandths);
// ... and back, also from the printer's other form, 9 digits with 2 implied decimals
// ("000001250"); nothing for anything else.
FISCAL_PRINTER_API std::optional<int64_t> ReadPrice(const AnsiString& s);

}  // namespace plat::wire
