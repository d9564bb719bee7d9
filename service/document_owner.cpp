// SPDX-License-Identifier: Apache-2.0
#include "document_owner.h"

#include <ctime>

#include "log.h"

namespace fpd {

std::string HolderName(const std::string& till, const std::string& key) {
  return till.empty() ? key : till + "/" + key;
}

DocumentOwner::DocumentOwner(DriverSession& session, Journal& journal)
    : session_(session), journal_(journal) {}

std::optional<bool> DocumentOwner::DocumentOpen() const {
  return session_.View().DocumentOpen;
}

std::string DocumentOwner::DocumentKind() const {
  return session_.View().Document.value_or("fiscal");
}

Json DocumentOwner::BeforeJob(const std::string& path) {
  // The service owns the printer: a sale starts on a printer with no document that no job
  // holds open.
  const Json stray = path == "/v1/sales" ? Reconcile() : Json(nullptr);
  openBefore_ = DocumentOpen() == true;
  return stray;
}

std::optional<TaskResult> DocumentOwner::RefuseWhileOpen(const std::string& what) {
  const Json printer = session_.Probe();
  if (DocumentOpen() != true) return std::nullopt;
  TaskResult o;
  o.Status = 409;
  o.Body = ErrorBody("document_open", "the printer holds a " + DocumentKind() + " document open; " +
                                          what +
                                          " prints only between documents: finish or cancel it "
                                          "first");
  o.Body["printer"] = printer;
  o.Retryable = true;
  return o;
}

bool DocumentOwner::Holds(const std::string& till, const std::string& key) const {
  return !session_.HeldBy().empty() && session_.HeldBy() == HolderName(till, key);
}

Json DocumentOwner::AfterJob(const std::string& till, const std::string& key, const TaskResult& r) {
  const DriverSession::LinkEvents link = session_.Link();
  if (r.InDoubt || !link.Failure.empty()) return Reconcile();
  // A job that answers the printer's state asked it last; any other is asked now.
  if (!r.Body.is_object() || !r.Body.contains("printer")) session_.Probe();
  const std::optional<bool> open = DocumentOpen();
  if (open == false) session_.SetHeldBy("");
  if (open != true || !session_.HeldBy().empty()) return nullptr;
  // A ticket a failed sale left open (its cancel failed too) is dealt with as any stray one, and
  // so is one this job did not open.
  const bool ticketSale = r.Body.is_object() && r.Body.contains("kind") && r.Body["kind"] == "T";
  if (openBefore_ || ticketSale) return Reconcile();
  session_.SetHeldBy(HolderName(till, key));
  return nullptr;
}

Json DocumentOwner::Reconcile() {
  session_.Probe();
  const std::optional<bool> open = DocumentOpen();
  if (open != true) {
    if (open == false) session_.SetHeldBy("");
    return nullptr;
  }
  if (!session_.HeldBy().empty()) return nullptr;
  const PrinterView view = session_.View();
  const std::string doc = DocumentKind();
  Json record = {{"at", view.CheckedAt.empty() ? Json(nullptr) : Json(view.CheckedAt)},
                 {"document", view.Document ? Json(*view.Document) : Json(nullptr)}};
  bool cancelled = false;
  if (doc == "ticket" || doc == "fiscal") {
    // On a serial line the printer tells only "fiscal": a ticket cancels, an invoice refuses.
    const Json c = CancelOpenTicket(session_, "", nullptr);
    cancelled = c.value("cancelled", false);
    record["calls"] = c["calls"];
    if (c.contains("error")) record["error"] = c["error"];
  }
  record["cancelled"] = cancelled;
  // A ticket whose cancel failed here (its sale file, the link) is tried again before the next
  // sale; one the printer does not cancel is reported once, and the next sale is refused with
  // the printer's reason.
  const bool retried = !cancelled && record.contains("error");
  if (cancelled) {
    record["message"] = "the printer held open a ticket that no request held; it was cancelled";
  } else if (retried) {
    record["message"] = "the printer holds open a " + doc +
                        " document that no request held; its cancel failed (" +
                        record["error"].get<std::string>() + ") and is tried again";
  } else {
    record["message"] = "the printer holds open a " + doc +
                        " document that no request held; it cannot be cancelled here and is "
                        "left for the till to finish";
  }
  const std::string key =
      "printer-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(++strays_);
  record["key"] = key;
  try {
    journal_.Claim(kLocalTill, key, "", "/printer/open-document", Json::object(), nullptr);
    journal_.Started(kLocalTill, key);
    journal_.Finished(kLocalTill, key, 200, record);
  } catch (...) {
    journal_.Release(kLocalTill, key);  // when not even started
    record["journal"] = FailureText(std::current_exception());
  }
  Log(LogLevel::Warn, record["message"].get<std::string>() + " key=" + LogValue(key));
  if (!cancelled && !retried) session_.SetHeldBy(key);
  session_.NoteStray(record);
  return record;
}

Json DocumentOwner::Release(const JournalEntry& e) {
  session_.SetHeldBy("");
  const Json stray = Reconcile();
  Json answer = {{"key", e.Key},
                 {"state", StateName(e.State)},
                 {"released", true},
                 {"cancelled", stray.is_object() && stray.value("cancelled", false)},
                 {"printer", session_.Snapshot()}};
  if (!stray.is_null()) answer["strayDocument"] = stray;
  return answer;
}

}  // namespace fpd
