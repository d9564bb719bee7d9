// SPDX-License-Identifier: Apache-2.0
// The model variants: each reply of a variant turns into the common layout and back, the fields
// take each variant's widths, the model keeps its variant's limits, and the variant is told
// from the printer's own answers.
#include "printer/variants.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "printer/model.h"
#include "printer/wire.h"

namespace {

using plat::AnsiString;
using plat::WideString;
namespace variants = plat::variants;

const variants::ModelVariant& Ours() {
  return *variants::Find("ours");
}
const variants::ModelVariant& Sibling() {
  return *variants::Find("SIBLING");
}

plat::PrinterAnswer Exec(plat::FiscalPrinterModel& m, const std::string& method,
                         std::vector<WideString> args) {
  std::vector<WideString*> ptrs;
  for (auto& a : args) ptrs.push_back(&a);
  return m.Execute(method, ptrs);
}

std::vector<AnsiString> Texts(const plat::PrinterAnswer& a) {
  std::vector<AnsiString> out;
  for (const auto& f : a.Fields) out.push_back(plat::WideToAnsi(f));
  return out;
}

TEST(Variants, EveryReplyTurnsIntoTheCommonLayoutAndBack) {
  struct Case {
    variants::Reply reply;
    plat::Command command;
    std::vector<AnsiString> request;
  };
  const Case cases[] = {
      {variants::Reply::StatusP, plat::Command::Status, {"P"}},
      {variants::Reply::StatusC, plat::Command::Status, {"C"}},
      {variants::Reply::StatusA, plat::Command::Status, {"A"}},
      {variants::Reply::StatusD, plat::Command::Status, {"D"}},
      {variants::Reply::Subtotal, plat::Command::GetInvoiceSubtotal, {"N", ""}},
      {variants::Reply::Closing, plat::Command::CloseJournal, {"Z", "P"}},
  };
  for (const auto& v : variants::All()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(v.Name) + " " + variants::ReplyName(c.reply));
      const variants::ReplyLayout& l = v.Layout(c.reply);
      std::vector<AnsiString> common;
      for (size_t i = 0; i < l.Places.size(); ++i) common.push_back("f" + std::to_string(i));
      if (!l.LetterFields.empty()) common[l.LetterFields[0]] = AnsiString(1, l.Common[0]);
      const auto sent = variants::FromCommon(v, c.reply, common);
      ASSERT_EQ(sent.size(), l.Fields);
      if (!l.LetterFields.empty()) {
        EXPECT_EQ(sent[static_cast<size_t>(l.Places[l.LetterFields[0]])],
                  AnsiString(1, l.Letters[0]));
      }
      plat::PrinterAnswer reply;
      reply.Result = 1;
      for (const auto& f : sent) reply.Fields.push_back(plat::AnsiToWide(f));
      const auto back = Texts(variants::ToCommon(v, c.command, c.request, reply));
      // What the variant does not answer is left out at the end, or empty between.
      for (size_t i = 0; i < l.Places.size(); ++i) {
        if (l.Places[i] >= 0) {
          EXPECT_EQ(back.at(i), common[i]);
        } else if (i < back.size()) {
          EXPECT_EQ(back[i], "");
        }
      }
    }
  }
}

TEST(Variants, ASiblingReplyMovesToTheCommonPlaces) {
  plat::PrinterAnswer reply;
  reply.Result = 1;
  // An older firmware's subtotal: the unused field, items, gross, VAT, paid.
  for (const char* f : {"S", "00002", "000000002500", "000000000434", "000000001000"})
    reply.Fields.push_back(plat::AnsiToWide(f));
  EXPECT_EQ(
      Texts(variants::ToCommon(Sibling(), plat::Command::GetTicketSubtotal, {"N", ""}, reply)),
      (std::vector<AnsiString>{"00002", "000000002500", "000000000434", "000000001000"}));
  // Mode D: the sibling's ticket-invoice is our T, its ticket our K; a field newer firmware
  // appends stays after the known ones.
  reply.Fields = {u"I", u"B", u"X"};
  EXPECT_EQ(Texts(variants::ToCommon(Sibling(), plat::Command::Status, {"D"}, reply)),
            (std::vector<AnsiString>{"T", "B", "X"}));
  reply.Fields = {u"T", u"N"};
  EXPECT_EQ(Texts(variants::ToCommon(Sibling(), plat::Command::Status, {"D"}, reply)),
            (std::vector<AnsiString>{"K", "N"}));
  // Ours passes through; a reply of a command whose layout is one is not touched.
  EXPECT_EQ(Texts(variants::ToCommon(Ours(), plat::Command::Status, {"D"}, reply)),
            (std::vector<AnsiString>{"T", "N"}));
  EXPECT_EQ(Texts(variants::ToCommon(Sibling(), plat::Command::Status, {"N"}, reply)),
            (std::vector<AnsiString>{"T", "N"}));
}

TEST(Variants, FieldsTakeTheVariantsWidthsAndTheModelItsLimits) {
  struct Case {
    const variants::ModelVariant* v;
    size_t description;
    size_t amount;
    int payments;
  };
  for (const Case& c : {Case{&Ours(), 26, 11, 5}, Case{&Sibling(), 20, 9, 6}}) {
    SCOPED_TRACE(c.v->Name);
    plat::wire::Translator t;
    t.SetVariant(*c.v);
    std::vector<WideString> item = {
        WideString(30, u'x'), u"1", u"10", u"21", u"M", u"0", u"0", u"0"};
    std::vector<WideString*> ip;
    for (auto& a : item) ip.push_back(&a);
    const auto items = t.ToPrinter(plat::Info(plat::Command::SendTicketItem), ip);
    ASSERT_TRUE(items);
    EXPECT_EQ(items->at(0).Fields[0].size(), c.description);
    std::vector<WideString> pay = {u"Efectivo", u"1.5", u"T"};
    std::vector<WideString*> pp;
    for (auto& a : pay) pp.push_back(&a);
    const auto pays = t.ToPrinter(plat::Info(plat::Command::SendTicketPayment), pp);
    ASSERT_TRUE(pays);
    EXPECT_EQ(pays->at(0).Fields[1].size(), c.amount);

    // The model takes as many payments as its variant allows, and answers in its layout.
    plat::FiscalPrinterModel m;
    m.SetVariant(*c.v);
    ASSERT_EQ(Exec(m, "OpenTicket", {u"C"}).Result, 1);
    ASSERT_EQ(Exec(m, "SendTicketItem",
                   {u"Agua", u"00001000", u"0000100.0000", u"2100", u"M", u"0", u"0", u"0"})
                  .Result,
              1);
    const WideString cent = plat::AnsiToWide(AnsiString(c.amount - 1, '0') + "1");
    for (int i = 0; i < c.payments; ++i)
      EXPECT_EQ(Exec(m, "SendTicketPayment", {u"Efectivo", cent, u"T"}).Result, 1) << i;
    EXPECT_EQ(Exec(m, "SendTicketPayment", {u"Efectivo", cent, u"T"}).Result, 0);
    EXPECT_EQ(Exec(m, "GetTicketSubtotal", {u"N", u""}).Fields.size(),
              c.v->Layout(variants::Reply::Subtotal).Fields);
  }
}

TEST(Variants, TheVariantIsToldFromThePrintersAnswers) {
  // A model's raw answers to the modes P, A and C, its name in mode P replaced.
  auto answers = [](const variants::ModelVariant& v, const char* name = nullptr) {
    plat::FiscalPrinterModel m;
    m.SetVariant(v);
    variants::Answers a{Exec(m, "Status", {u"P"}), Exec(m, "Status", {u"A"}),
                        Exec(m, "Status", {u"C"})};
    if (name) a.P->Fields[10] = plat::AnsiToWide(name);
    return a;
  };
  variants::Answers mixed = answers(Ours(), "PRINTER X");
  mixed.A = answers(Sibling()).A;  // eight counters, with our taxpayer and flags
  variants::Answers refused = answers(Ours());
  refused.P->Result = refused.A->Result = refused.C->Result = 0;
  struct Case {
    const char* name;
    variants::Answers answers;
    std::string configured;
    const variants::ModelVariant* variant;
    bool matched;
    const char* why;
  };
  const Case cases[] = {
      {"configured", answers(Sibling()), "sibling", &Sibling(), true, "FISCAL_PRINTER_MODEL"},
      {"configured, other replies", answers(Ours()), "sibling", &Sibling(), false,
       "FISCAL_PRINTER_MODEL names it; but status mode P field 6 '1' is none of SN"},
      {"by name", answers(Sibling()), "", &Sibling(), true, "names it 'EMULADOR SIB'"},
      {"sibling by shape", answers(Sibling(), "UNKNOWN"), "", &Sibling(), true,
       "its replies match sibling"},
      {"ours by shape", answers(Ours(), ""), "", &Ours(), true, "its replies match ours"},
      {"neither", mixed, "", &Ours(), false,
       "match no known variant, driven as the closest, ours (5 of 6 checks: status mode A "
       "answers 8 fields, not 11)"},
      {"nothing answered", refused, "", &Ours(), false, "no status reply"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const variants::Told t = variants::Tell(c.answers, c.configured);
    EXPECT_EQ(t.Variant, c.variant);
    EXPECT_EQ(t.Matched, c.matched);
    EXPECT_NE(t.Why.find(c.why), std::string::npos) << t.Why;
  }
  const variants::Told sibling = variants::Tell(answers(Sibling(), "UNKNOWN"));
  EXPECT_EQ(sibling.Seen,
            (std::vector<std::string>{"status mode P: 11 fields, flags SSN, name 'UNKNOWN'",
                                      "status mode A: 8 fields",
                                      "status mode C: 7 fields, sixth "
                                      "'000001000.'"}));
}

}  // namespace
