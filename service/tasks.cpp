// SPDX-License-Identifier: Apache-2.0
#include "tasks.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/os.h"
#include "platform/support.h"

namespace fpd {

namespace {

using plat::AnsiString;
using plat::Variant;

// Why a task did not do all it should, for a person: the driver's own dialog, else what the
// printer link reported, else the printer's state.
std::string FailureReason(const Json& dialogs, const DriverSession::LinkEvents& link,
                          const Json& printer) {
  for (const auto& d : dialogs) {
    if (d.value("question", false) == false && !d.value("text", "").empty()) return d["text"];
  }
  if (!link.Failure.empty()) return link.Failure;
  if (!link.Refused.empty()) return link.Refused;
  std::string why;
  if (printer.is_object() && printer.contains("reasons")) {
    for (const auto& r : printer["reasons"])
      why += (why.empty() ? "" : ", ") + r.get<std::string>();
  }
  if (printer.value("reachable", true) == false) return "the printer does not answer";
  return why.empty() ? "the driver answered False and the printer reports nothing wrong" : why;
}

// The calls of one task, the first failure the driver raised, and the answer they make.
class Steps {
 public:
  Steps(DriverSession& s, const std::vector<bool>& answers) : s_(s) { s_.Begin(answers); }

  // Runs one driver call (or, with "method", a call of the service's own control); false when
  // it answered false or raised (raised() then tells).
  template <class F>
  bool Run(const char* name, F&& f, const char* what = "entryPoint") {
    if (!raised_.empty()) return false;
    try {
      const bool ok = f();
      calls_.push_back(Json{{what, name}, {"result", ok}});
      return ok;
    } catch (...) {
      raised_ = FailureText(std::current_exception());
      calls_.push_back(Json{{what, name}, {"raised", raised_}});
      return false;
    }
  }
  // The same for a call whose failure must not stop what follows (the cancel after a failure).
  template <class F>
  bool RunAnyway(const char* name, F&& f) {
    const std::string earlier = raised_;
    raised_.clear();
    const bool ok = Run(name, std::forward<F>(f));
    if (raised_.empty()) raised_ = earlier;
    return ok;
  }
  bool Raised() const { return !raised_.empty(); }
  const std::string& RaisedMessage() const { return raised_; }
  const plat::Package& P() const { return s_.Package(); }
  DriverSession& Session() { return s_; }

  // Ends the capture, asks the printer and completes the answer. A task whose "ok" false is an
  // answer (the closing: the till stays closed) gives no reason for it; its "ok" true stands
  // only while the driver showed no error.
  TaskResult Finish(Json body, bool falseIsAnswer = false) {
    DriverSession::Capture c = s_.End();
    body["calls"] = calls_;
    body["dialogs"] = std::move(c.Dialogs);
    body["log"] = std::move(c.Log);
    body["printer"] = s_.Probe();
    const bool shown = ShowedError(body["dialogs"]);
    if (falseIsAnswer && shown) body["ok"] = false;
    if ((!falseIsAnswer || Raised() || shown) && body.value("ok", true) == false) {
      body["reason"] = FailureReason(body["dialogs"], s_.Link(), body["printer"]);
    }
    TaskResult o;
    if (Raised()) {
      o.Status = 500;
      body["error"] = ErrorBody("driver_raised", raised_)["error"];
    }
    o.Body = std::move(body);
    return o;
  }

 private:
  DriverSession& s_;
  Json calls_ = Json::array();
  std::string raised_;
};

AnsiString Scheme(Members& m, const AnsiString& fallback) {
  const Json* v = m.Get("scheme");
  return v ? ToAnsi(*v, "scheme") : fallback;
}

AnsiString OptText(Members& m, const std::string& name, const AnsiString& fallback = "") {
  const Json* v = m.Get(name);
  return v ? ToAnsi(*v, m.Path(name)) : fallback;
}

bool OptBool(Members& m, const std::string& name, bool fallback) {
  const Json* v = m.Get(name);
  return v ? ToBool(*v, m.Path(name)) : fallback;
}

// The largest values the printer's fields hold: quantity 5+3 digits, unit price 7+2, payment and
// document amounts 9+2, the document's total 10+2, a VAT rate 2+2.
constexpr double kMaxQuantity = 99999.999;
constexpr double kMaxPrice = 9999999.99;
constexpr double kMaxAmount = 999999999.99;
constexpr double kMaxTotal = 9999999999.99;
constexpr double kMaxVat = 99.99;
// The payments of one document the printer takes.
constexpr size_t kMaxPayments = 5;

std::string Shown(double d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  return buf;
}

// A number of a body member from min (or above it, when above) to max.
double Number(const Json& v, const std::string& field, double min, bool above, double max) {
  const double d = ToDouble(v, field);
  if (above ? d <= min : d < min) {
    BadField(field, above ? "must be above " + Shown(min) : "must not be below " + Shown(min));
  }
  if (d > max) BadField(field, "must be at most " + Shown(max) + " (the printer's field)");
  return d;
}

std::unique_ptr<plat::TClientDataSet> Table(const AnsiString& name,
                                            std::vector<plat::FieldDef> fields,
                                            std::vector<std::vector<Variant>> rows) {
  auto packet = std::make_shared<plat::DataPacket>();
  packet->Fields = std::move(fields);
  packet->Rows = std::move(rows);
  auto ds = std::make_unique<plat::TClientDataSet>(name);
  ds->SetData(Variant(std::shared_ptr<const plat::DataPacket>(packet)));
  return ds;
}

// ---- Sales ------------------------------------------------------------------------------------

struct SaleItem {
  AnsiString Description, Code, Unit, Vat;
  double Quantity = 0, Price = 0;
  bool Cancel = false;
};

struct Payment {
  AnsiString Description, Card;
  double Amount = 0;
};

struct Sale {
  AnsiString Kind, Scheme, Number, Table, SellerVat;
  AnsiString BuyerName, BuyerAddress, BuyerVat, BuyerDocType, BuyerDocNumber;
  std::vector<SaleItem> Items;
  double Discount = 0;
  std::vector<Payment> Payments;
  std::vector<bool> Answers;
};

// What the printer would refuse only once the document is open: a total beyond its field, or
// payments that do not cover it. The printer rounds each line to the cent, so payments may fall
// short of the exact total by at most a cent a line.
void CheckTotals(const Sale& s) {
  double total = -s.Discount, paid = 0;
  for (const auto& item : s.Items) total += item.Quantity * item.Price * (item.Cancel ? -1 : 1);
  for (const auto& p : s.Payments) paid += p.Amount;
  if (total > kMaxTotal) {
    BadField("items", "the total " + Shown(total) + " is more than the printer's field holds (" +
                          Shown(kMaxTotal) + ")");
  }
  const double margin = 0.01 * static_cast<double>(s.Items.size()) + 1e-9;
  if (paid + margin < total) {
    BadField("payments",
             "the payments (" + Shown(paid) + ") are short of the total (" + Shown(total) + ")");
  }
}

Sale DecodeSale(const Json& body, const AnsiString& defaultScheme) {
  Sale s;
  Members m(body, "");
  s.Kind = ToAnsi(m.Required("kind"), "kind");
  if (s.Kind != "T" && s.Kind != "A" && s.Kind != "C")
    BadField("kind", "expected \"T\", \"A\" or \"C\"");
  s.Scheme = Scheme(m, defaultScheme);
  s.Number = OptText(m, "number");
  s.Table = OptText(m, "table");
  s.SellerVat = OptText(m, "sellerVatCondition", "R");
  if (const Json* buyer = m.Get("buyer")) {
    if (s.Kind == "T") BadField("buyer", "a ticket has no buyer");
    if (!buyer->is_object()) BadField("buyer", "expected an object");
    Members b(*buyer, "buyer.");
    s.BuyerName = OptText(b, "name");
    s.BuyerAddress = OptText(b, "address");
    s.BuyerVat = OptText(b, "vatCondition");
    s.BuyerDocType = OptText(b, "documentType");
    s.BuyerDocNumber = OptText(b, "documentNumber");
    b.Done();
  } else if (s.Kind != "T") {
    BadField("buyer", "required for an invoice");
  }
  const Json& items = m.Required("items");
  if (!items.is_array() || items.empty())
    BadField("items", "expected an array of at least one item");
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string path = "items[" + std::to_string(i) + "]";
    if (!items[i].is_object()) BadField(path, "expected an object");
    Members it(items[i], path + ".");
    SaleItem item;
    item.Description = ToAnsi(it.Required("description"), it.Path("description"));
    item.Quantity = Number(it.Required("quantity"), it.Path("quantity"), 0, true, kMaxQuantity);
    item.Price = Number(it.Required("price"), it.Path("price"), 0, false, kMaxPrice);
    const Json& vat = it.Required("vat");
    if (vat.is_number()) {
      item.Vat = plat::FloatToStr(Number(vat, it.Path("vat"), 0, false, kMaxVat));
    } else {
      item.Vat = ToAnsi(vat, it.Path("vat"));
    }
    item.Code = OptText(it, "code");
    item.Unit = OptText(it, "unit", "UN");
    item.Cancel = OptBool(it, "cancel", false);
    it.Done();
    s.Items.push_back(std::move(item));
  }
  if (const Json* d = m.Get("discount")) s.Discount = Number(*d, "discount", 0, false, kMaxAmount);
  const Json& payments = m.Required("payments");
  if (!payments.is_array() || payments.empty() || payments.size() > kMaxPayments) {
    BadField("payments", "expected an array of 1 to 5 payments (the printer takes 5 at most)");
  }
  for (size_t i = 0; i < payments.size(); ++i) {
    const std::string path = "payments[" + std::to_string(i) + "]";
    if (!payments[i].is_object()) BadField(path, "expected an object");
    Members pm(payments[i], path + ".");
    Payment p;
    p.Description = ToAnsi(pm.Required("description"), pm.Path("description"));
    p.Amount = Number(pm.Required("amount"), pm.Path("amount"), 0, true, kMaxAmount);
    p.Card = OptText(pm, "card");
    pm.Done();
    s.Payments.push_back(std::move(p));
  }
  m.Done();
  CheckTotals(s);
  s.Answers = DecodeAnswers(body);
  return s;
}

// The host's sale file with the items sent so far: a taken-back item counts negative.
void WriteSaleFile(DriverSession& session, const std::vector<SaleItem>& sent) {
  std::vector<std::vector<Variant>> rows;
  for (const auto& item : sent) {
    const double amount = item.Quantity * item.Price * (item.Cancel ? -1 : 1);
    rows.push_back({Variant(item.Description), Variant(item.Quantity), Variant(amount)});
  }
  auto sale = Table("cdsVenda",
                    {{"NMPRODUTO", plat::FieldType::String, 40},
                     {"QTPRODUTO", plat::FieldType::Float, 0},
                     {"VRPRECCOMVEN", plat::FieldType::Float, 0}},
                    std::move(rows));
  sale->SaveToFile(session.HostFile("cdsVenda.cds"));
}

bool SendItem(Steps& st, const Sale& s, const SaleItem& item) {
  if (item.Cancel) {
    return st.Run("Cancela_ItGenerico", [&] {
      const auto fn = st.P().Get<decltype(::Cancela_ItGenerico)>("Cancela_ItGenerico");
      return fn(s.Scheme, "", plat::AnsiToWide(item.Description), plat::AnsiToWide(item.Vat), u"m",
                u"0", u"0", u"0", plat::AnsiToWide(s.Kind), item.Quantity, item.Price);
    });
  }
  return st.Run("VendaItem", [&] {
    const auto fn = st.P().Get<decltype(::VendaItem)>("VendaItem");
    return fn(plat::MakeBundle({{"ESQUEMACOR", Variant(s.Scheme)},
                                {"MESA", Variant(s.Table)},
                                {"FLAG", "N"},
                                {"CDARVPROD", Variant(item.Code)},
                                {"NMPROD", Variant(item.Description)},
                                {"CDALIQ", "1"},
                                {"IDALIQ", "T"},
                                {"QTDE", Variant(item.Quantity)},
                                {"VALOR", Variant(item.Price)},
                                {"UNIDADE", Variant(item.Unit)},
                                {"TIPOTICKET", Variant(s.Kind)},
                                {"VRPERCALIQ", Variant(item.Vat)}}));
  });
}

bool CloseSale(Steps& st, const Sale& s) {
  std::vector<std::vector<Variant>> moves, types;
  for (size_t i = 0; i < s.Payments.size(); ++i) {
    char code[24];
    std::snprintf(code, sizeof code, "%03zu", i + 1);
    const Payment& p = s.Payments[i];
    moves.push_back({"E", Variant(p.Card), Variant(AnsiString(code)), Variant(AnsiString(code)),
                     Variant(p.Amount)});
    types.push_back({Variant(AnsiString(code)), Variant(p.Description)});
  }
  auto movements = Table("cdsMovCaixa",
                         {{"IDTIPOMOVIVE", plat::FieldType::String, 1},
                          {"CDBANCARTCR", plat::FieldType::String, 10},
                          {"CDTIPORECE", plat::FieldType::String, 3},
                          {"CDTIPORECEORIG", plat::FieldType::String, 3},
                          {"VRMOVIVEND", plat::FieldType::Float, 0}},
                         std::move(moves));
  auto receipts = Table(
      "cdsTipoRece",
      {{"CDTIPORECE", plat::FieldType::String, 3}, {"NMTIPORECE", plat::FieldType::String, 40}},
      std::move(types));
  ArfisOpenArray close(43);
  close[2] = Variant(s.Scheme);
  close[6] = Variant(s.Discount);
  close[13] = movements->Data();
  close[14] = receipts->Data();
  close[30] = Variant(s.Kind);
  close[42] = Variant(s.Number);
  Variant answer = plat::VarArrayOf({Variant(), Variant(), Variant()});
  return st.Run("FechaCupom", [&] {
    return st.P().Get<decltype(::FechaCupom)>("FechaCupom")(close, nullptr, answer);
  });
}

TaskResult RunSale(DriverSession& session, const Sale& s) {
  Steps st(session, s.Answers);
  Json body = Json::object();
  body["kind"] = FromAnsi(s.Kind);
  Json failed = nullptr;
  bool opened = false, closed = false;
  std::vector<SaleItem> sent;
  Variant open = plat::MakeBundle({{"ESQUEMACOR", Variant(s.Scheme)},
                                   {"INCLUICPF", "N"},
                                   {"INCLUINOME", Variant(s.BuyerName)},
                                   {"INCLUIENDERECO", Variant(s.BuyerAddress)},
                                   {"CUPNR", Variant(s.Number)},
                                   {"CONTCUPOM", Variant(s.Number)},
                                   {"TIPOTICKET", Variant(s.Kind)},
                                   {"IVACOMP", Variant(s.BuyerVat)},
                                   {"IVAPROP", Variant(s.SellerVat)},
                                   {"TIPODOC", Variant(s.BuyerDocType)},
                                   {"NRDOC", Variant(s.BuyerDocNumber)},
                                   {"MESA", Variant(s.Table)},
                                   {"IDUTILTEF", "N"},
                                   {"INTTEFERRO", 0}});
  if (!st.Run("AbreCupom", [&] { return st.P().Get<decltype(::AbreCupom)>("AbreCupom")(open); })) {
    failed = Json{{"entryPoint", "AbreCupom"}};
  } else {
    opened = true;
    for (size_t i = 0; i < s.Items.size() && failed.is_null(); ++i) {
      if (SendItem(st, s, s.Items[i])) {
        sent.push_back(s.Items[i]);
      } else {
        failed = Json{{"entryPoint", s.Items[i].Cancel ? "Cancela_ItGenerico" : "VendaItem"},
                      {"item", i}};
      }
    }
    if (failed.is_null()) {
      if (CloseSale(st, s)) {
        closed = true;
      } else {
        failed = Json{{"entryPoint", "FechaCupom"}};
      }
    }
  }
  if (closed) {
    AnsiString number;
    st.RunAnyway("Nr_Cupom", [&] {
      number = st.P().Get<decltype(::Nr_Cupom)>("Nr_Cupom")("", "");
      return true;
    });
    session.NoteDocumentNumber(number);
    body["number"] = FromAnsi(number);
  }
  if (opened && !closed) {
    if (s.Kind == "T") {
      bool cancelled = false;
      // A status query that answers lets the cancel through after a silent spell.
      session.Probe();
      try {
        WriteSaleFile(session, sent);
        cancelled = st.RunAnyway("Cancela_Cupom_Imp", [&] {
          ArfisOpenArray unused;
          Variant untouched;
          return st.P().Get<decltype(::Cancela_Cupom_Imp)>("Cancela_Cupom_Imp")(unused, untouched);
        });
      } catch (...) {
        body["cancelError"] = FailureText(std::current_exception());
      }
      body["cancelled"] = cancelled;
    } else {
      body["cancelled"] = false;  // the driver cannot cancel an invoice: it stays open
    }
  }
  body["ok"] = closed && !st.Raised();
  if (!failed.is_null()) body["failedStep"] = failed;
  TaskResult o = st.Finish(std::move(body));
  o.Body["documentOpen"] = o.Body["printer"]["documentOpen"];
  return o;
}

// ---- Z figures --------------------------------------------------------------------------------

bool TakeZ(Steps& st, const AnsiString& scheme, Json& figures) {
  const bool ok = st.Run("Reducao_Z_Imp", [&] {
    return st.P().Get<decltype(::Reducao_Z_Imp)>("Reducao_Z_Imp")("", scheme, "");
  });
  figures = ZFigures(st.Session());
  return ok;
}

}  // namespace

Json ZFigures(const DriverSession& session) {
  const std::string path = session.HostFile("REDUCAOZ_MP35.CDS");
  plat::TClientDataSet z("ReducaoZ");
  try {
    z.LoadFromFile(path);
    z.Open();
  } catch (const std::exception&) {
    return nullptr;
  }
  Json figures = Json::object();
  if (z.IsEmpty()) return figures;
  z.First();
  for (int i = 0; i < z.FieldCount(); ++i) {
    plat::TField f = z.Fields(i);
    figures[FromAnsi(f.FieldName())] = FromVariant(f.Value());
  }
  return figures;
}

bool Failed(const TaskResult& o) {
  if (o.Status >= 400) return true;
  const Json& b = o.Body;
  if (!b.is_object()) return false;
  if (b.contains("ok")) return b["ok"] == false && b.contains("reason");
  return b.value("result", Json()) == false && ShowedError(b.value("dialogs", Json::array()));
}

Task PrepareCall(const EntryPoint& entry, const Json& body) {
  auto call = std::make_shared<CallArgs>(DecodeCall(entry, body));
  auto answers = DecodeAnswers(body);
  return [call, answers](DriverSession& session) {
    TaskResult o;
    session.Begin(answers);
    Json body = Json::object();
    body["entryPoint"] = call->Entry->Name;
    std::string raised, code = "driver_raised";
    try {
      for (const auto& f : call->Files) {
        code = "host_file_failed";
        plat::TClientDataSet ds(f.Name);
        ds.SetData(Variant(f.Data));
        ds.SaveToFile(session.HostFile(f.Name));
      }
      code = "driver_raised";
      body["result"] = call->Entry->Invoke(session.Package(), *call);
    } catch (...) {
      raised = FailureText(std::current_exception());
    }
    body["out"] = OutArgs(*call);
    DriverSession::Capture c = session.End();
    body["dialogs"] = std::move(c.Dialogs);
    body["log"] = std::move(c.Log);
    const std::string name = call->Entry->Name;
    if (raised.empty() && name == "StartImpFiscal" && body["result"] == true) {
      session.SetPort(plat::RecebeParams(call->Args[0].Value, "CDPORTAIMPFIS").AsString());
    }
    if (raised.empty() && name == "Nr_Cupom") {
      session.NoteDocumentNumber(plat::Utf8ToAnsi(body["result"].get<std::string>()));
    }
    if (!raised.empty()) {
      o.Status = 500;
      body["error"] = ErrorBody(code, raised)["error"];
    }
    o.Body = std::move(body);
    return o;
  };
}

Task PrepareSale(const Json& body, const AnsiString& defaultScheme) {
  auto sale = std::make_shared<Sale>(DecodeSale(body, defaultScheme));
  return [sale](DriverSession& session) { return RunSale(session, *sale); };
}

Task PrepareSupply(const Json& body, const AnsiString& defaultScheme) {
  Members m(body, "");
  const AnsiString scheme = Scheme(m, defaultScheme);
  const double amount = Number(m.Required("amount"), "amount", 0, true, kMaxAmount);
  const bool opening = OptBool(m, "opening", false);
  m.Done();
  const auto answers = DecodeAnswers(body);
  return [=](DriverSession& session) {
    Steps st(session, answers);
    const bool ok = st.Run("Suprimento", [&] {
      return st.P().Get<decltype(::Suprimento)>("Suprimento")("", scheme, amount, opening);
    });
    return st.Finish(Json{{"ok", ok}});
  };
}

// A task whose body names only the colour scheme and the operator's answers: run(st, scheme)
// makes its calls and gives the answer's members.
template <typename Run>
Task SchemeOnlyTask(const Json& body, const AnsiString& defaultScheme, Run run) {
  Members m(body, "");
  const AnsiString scheme = Scheme(m, defaultScheme);
  m.Done();
  const auto answers = DecodeAnswers(body);
  return [=](DriverSession& session) {
    Steps st(session, answers);
    Json out = run(st, scheme);
    return st.Finish(std::move(out));
  };
}

Task PrepareX(const Json& body, const AnsiString& defaultScheme) {
  return SchemeOnlyTask(body, defaultScheme, [](Steps& st, const AnsiString& scheme) {
    const bool ok = st.Run("Leitura_X_Imp", [&] {
      return st.P().Get<decltype(::Leitura_X_Imp)>("Leitura_X_Imp")("", scheme, "");
    });
    return Json{{"ok", ok}};
  });
}

Task PrepareZ(const Json& body, const AnsiString& defaultScheme) {
  return SchemeOnlyTask(body, defaultScheme, [](Steps& st, const AnsiString& scheme) {
    Json figures;
    const bool ok = TakeZ(st, scheme, figures);
    return Json{{"ok", ok}, {"figures", figures}};
  });
}

Task PrepareClosing(const Json& body, const AnsiString& defaultScheme) {
  struct Closing {
    AnsiString Scheme, ProductReport, Reason, Note, Port, Serial, Branch, Till;
    bool Withdrawal, PrintReceipt, XFirst, OfferZ, MayTakeZ, TakeZ, ByTax, Envelope;
    std::shared_ptr<const plat::DataPacket> Sets[8];
    std::vector<bool> Answers;
  };
  static const char* const kSets[8] = {"closeAmounts", "withdrawals",  "shiftProducts",
                                       "staff",        "dayMovements", "shiftMovements",
                                       "dayProducts",  "receiptTypes"};
  auto c = std::make_shared<Closing>();
  Members m(body, "");
  c->Scheme = Scheme(m, defaultScheme);
  c->Withdrawal = OptBool(m, "withdrawal", false);
  c->PrintReceipt = OptBool(m, "printReceipt", true);
  c->XFirst = OptBool(m, "xFirst", false);
  c->OfferZ = OptBool(m, "offerZ", true);
  c->MayTakeZ = OptBool(m, "mayTakeZ", true);
  c->TakeZ = OptBool(m, "takeZ", true);
  c->ProductReport = OptText(m, "productReport", "N");
  c->ByTax = OptBool(m, "productsByTax", false);
  c->Envelope = OptBool(m, "envelope", false);
  c->Reason = OptText(m, "reason");
  c->Note = OptText(m, "note");
  c->Port = OptText(m, "port");
  c->Serial = OptText(m, "serial");
  c->Branch = OptText(m, "branch");
  c->Till = OptText(m, "till");
  for (int i = 0; i < 8; ++i) {
    const Json* v = m.Get(kSets[i]);
    c->Sets[i] = v ? ToPacket(*v, kSets[i]) : std::make_shared<const plat::DataPacket>();
  }
  m.Done();
  c->Answers = DecodeAnswers(body);
  return [c](DriverSession& session) {
    Steps st(session, c->Answers);
    std::unique_ptr<plat::TClientDataSet> sets[8];
    for (int i = 0; i < 8; ++i) {
      sets[i] = std::make_unique<plat::TClientDataSet>(kSets[i]);
      sets[i]->SetData(Variant(c->Sets[i]));
    }
    AnsiString cupomDia;
    plat::TClientDataSet* none[4] = {nullptr, nullptr, nullptr, nullptr};
    bool reduziu = false;
    const bool reopen = st.Run("GeraReciboSangria", [&] {
      return st.P().Get<decltype(::GeraReciboSangria)>("GeraReciboSangria")(
          c->Port, c->Serial, c->Branch, c->Till, "", 0, cupomDia, sets[0].get(), sets[1].get(),
          sets[2].get(), sets[3].get(), sets[4].get(), sets[5].get(), sets[6].get(), plat::Now(),
          c->PrintReceipt, c->OfferZ, false, none[0], none[1], none[2], none[3], reduziu,
          sets[7].get(), c->ProductReport, c->ByTax ? "S" : "N", c->XFirst ? "S" : "N",
          c->Envelope ? "S" : "N", c->Scheme, c->Withdrawal, false, c->MayTakeZ, c->Reason,
          c->Note);
    });
    Json z = nullptr;
    if (reduziu && c->TakeZ && !st.Raised()) {
      Json figures;
      const bool ok = TakeZ(st, c->Scheme, figures);
      z = Json{{"ok", ok}, {"figures", figures}};
    }
    // A withdrawal's False is its answer: it did all it should unless it raised or showed an
    // error.
    const bool ok = (c->Withdrawal || reopen) && !st.Raised();
    return st.Finish(Json{{"ok", ok}, {"reopen", reopen}, {"zConfirmed", reduziu}, {"z", z}}, true);
  };
}

// ---- Fiscal-memory reports -------------------------------------------------------------------

// "YYYY-MM-DD" of the years the printer's dates hold, as the printer takes it: YYMMDD.
AnsiString ReportDate(const Json& v, const std::string& field) {
  const AnsiString text = ToAnsi(v, field);
  int y = 0, m = 0, d = 0;
  char end = 0;
  bool valid = std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &end) == 3 &&
               text.size() == 10 && text.find_first_not_of("0123456789-") == AnsiString::npos &&
               y >= 2000 && y <= 2099;
  try {
    if (valid) plat::EncodeDate(y, m, d);
  } catch (const plat::Exception&) {
    valid = false;
  }
  if (!valid) BadField(field, "expected a date \"YYYY-MM-DD\" from 2000 to 2099");
  char yymmdd[16];
  std::snprintf(yymmdd, sizeof yymmdd, "%02d%02d%02d", y % 100, m, d);
  return yymmdd;
}

// A Z number as the printer's report takes it: 1 to 9999.
AnsiString ReportZ(const Json& v, const std::string& field) {
  const int n = ToInt(v, field);
  if (n < 1 || n > 9999) BadField(field, "expected a Z number from 1 to 9999");
  return std::to_string(n);
}

Task PrepareFiscalMemoryReport(const Json& body, const AnsiString& defaultScheme) {
  Members m(body, "");
  const AnsiString by = ToAnsi(m.Required("by"), "by");
  if (by != "date" && by != "z") BadField("by", "expected \"date\" or \"z\"");
  const bool byDate = by == "date";
  const auto read = byDate ? ReportDate : ReportZ;
  const AnsiString from = read(m.Required("from"), "from"), to = read(m.Required("to"), "to");
  // YYMMDD of one century compare as texts; Z numbers as numbers.
  if (byDate ? from > to : std::stoi(from) > std::stoi(to)) BadField("to", "is before from");
  const bool detail = OptBool(m, "detail", false);
  Scheme(m, defaultScheme);  // taken as by every task; the report shows no dialog
  m.Done();
  return [=](DriverSession& session) {
    // Runs only between documents: the owner of the open document refuses it before (routes.h).
    Steps st(session, {});
    const char* method = byDate ? "FiscalMemoryReportByDate" : "FiscalMemoryReportByZ";
    plat::WideString a1 = plat::AnsiToWide(from), a2 = plat::AnsiToWide(to),
                     a3(1, static_cast<char16_t>(detail ? plat::report_kind::kDetailed
                                                        : plat::report_kind::kTotals));
    plat::TPrinterFiscal& control = session.Control();
    const bool ok = st.Run(
        method,
        [&] {
          return (byDate ? control.FiscalMemoryReportByDate(a1, a2, a3)
                         : control.FiscalMemoryReportByZ(a1, a2, a3)) != 0;
        },
        "method");
    return st.Finish(Json{{"ok", ok}});
  };
}

Json CancelOpenTicket(DriverSession& session, const std::string& path, const Json& request) {
  Steps st(session, {});
  Json out = Json::object();
  try {
    if (path == "/v1/sales") {
      const Sale s = DecodeSale(request, "");
      WriteSaleFile(session, s.Items);
    } else if (path.empty()) {
      WriteSaleFile(session, {});
    }
  } catch (...) {
    out["error"] = FailureText(std::current_exception());
  }
  const bool cancelled = st.Run("Cancela_Cupom_Imp", [&] {
    ArfisOpenArray unused;
    Variant untouched;
    return st.P().Get<decltype(::Cancela_Cupom_Imp)>("Cancela_Cupom_Imp")(unused, untouched);
  });
  const TaskResult o = st.Finish(Json::object());
  out["cancelled"] = cancelled;
  out["calls"] = o.Body["calls"];
  out["log"] = o.Body["log"];
  out["printer"] = o.Body["printer"];
  if (st.Raised()) out["error"] = st.RaisedMessage();
  return out;
}

}  // namespace fpd
