// SPDX-License-Identifier: Apache-2.0
// The fleet's figures in the Prometheus text exposition format: the link to the broker, and
// one series per shop and printer (with a label per roll or state where a value is one of a
// few).
#include <sstream>

#include "platform/version.h"
#include "tools/fleet/fleet_state.h"

namespace fleet {

namespace {

// A label value as the exposition format writes it.
std::string Escaped(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

class Exposition {
 public:
  Exposition() { out_.precision(15); }  // seconds since the epoch, whole
  void Family(const char* name, const char* type, const char* help) {
    out_ << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
    name_ = name;
  }
  // One sample of the current family; labels is the text inside the braces, or empty.
  void Sample(const std::string& labels, double value) {
    out_ << name_;
    if (!labels.empty()) out_ << '{' << labels << '}';
    out_ << ' ' << value << '\n';
  }
  std::string Text() const { return out_.str(); }

 private:
  std::ostringstream out_;
  std::string name_;
};

std::string Label(const char* name, const std::string& value) {
  return std::string(name) + "=\"" + Escaped(value) + '"';
}

}  // namespace

std::string FleetState::Metrics(Clock::time_point now) const {
  const Json view = View(now);
  const Json& printers = view["printers"];
  Exposition e;
  e.Family("fiscal_fleet_build_info", "gauge", "Always 1, with the program's version.");
  e.Sample(Label("version", FISCAL_VERSION), 1);
  e.Family("fiscal_fleet_broker_connected", "gauge", "1 while the link to the broker is up.");
  e.Sample("", view["broker"]["connected"].get<bool>() ? 1 : 0);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    e.Family("fiscal_fleet_status_messages_total", "counter", "Status messages received.");
    e.Sample("", static_cast<double>(messages_));
    e.Family("fiscal_fleet_status_rejected_total", "counter",
             "Status messages refused for breaking the chain link's contract.");
    e.Sample("", static_cast<double>(rejected_));
  }
  e.Family("fiscal_fleet_printers", "gauge", "Printers known to the fleet.");
  e.Sample("", static_cast<double>(printers.size()));

  // Each family lists every printer that has a value for it.
  using Each = void (*)(Exposition&, const std::string&, const Json&);
  struct FamilyOf {
    const char* name;
    const char* help;
    Each each;
  };
  static const FamilyOf kFamilies[] = {
      {"fiscal_fleet_printer_online", "1 while the printer's service is on the link.",
       [](Exposition& x, const std::string& l, const Json& p) {
         x.Sample(l, p["online"].get<bool>() ? 1 : 0);
       }},
      {"fiscal_fleet_printer_status_stale", "1 when an online printer missed three heartbeats.",
       [](Exposition& x, const std::string& l, const Json& p) {
         x.Sample(l, p["stale"].get<bool>() ? 1 : 0);
       }},
      {"fiscal_fleet_printer_last_status_timestamp_seconds",
       "When the printer's last status came, in seconds since the epoch.",
       [](Exposition& x, const std::string& l, const Json& p) {
         x.Sample(l, static_cast<double>(*EpochSeconds(p["lastSeen"].get<std::string>())));
       }},
      {"fiscal_fleet_printer_online_since_timestamp_seconds",
       "When the printer's service came online, in seconds since the epoch.",
       [](Exposition& x, const std::string& l, const Json& p) {
         const auto since = EpochSeconds(p["since"].get<std::string>());
         if (p["online"].get<bool>() && since) x.Sample(l, static_cast<double>(*since));
       }},
      {"fiscal_fleet_printer_reachable", "1 when the printer answered its service.",
       [](Exposition& x, const std::string& l, const Json& p) {
         if (p["reachable"].is_boolean()) x.Sample(l, p["reachable"].get<bool>() ? 1 : 0);
       }},
      {"fiscal_fleet_printer_paper", "1 for the state of each roll's paper: ok, low or out.",
       [](Exposition& x, const std::string& l, const Json& p) {
         for (const char* roll : {"journal", "receipt"}) {
           const Json& state = p["paper"][roll];
           if (!state.is_string()) continue;
           for (const char* s : {"ok", "low", "out"}) {
             x.Sample(l + "," + Label("roll", roll) + "," + Label("state", s), state == s ? 1 : 0);
           }
         }
       }},
      {"fiscal_fleet_printer_document_open", "1 while a document is open on the printer.",
       [](Exposition& x, const std::string& l, const Json& p) {
         if (p["documentOpen"].is_boolean()) x.Sample(l, p["documentOpen"].get<bool>() ? 1 : 0);
       }},
      {"fiscal_fleet_printer_fiscalisation",
       "1 for the printer's fiscalisation: not-certified, training, de-fiscalised, fiscalised.",
       [](Exposition& x, const std::string& l, const Json& p) {
         if (!p["fiscalisation"].is_string()) return;
         for (const char* s : {"not-certified", "training", "de-fiscalised", "fiscalised"}) {
           x.Sample(l + "," + Label("state", s), p["fiscalisation"] == s ? 1 : 0);
         }
       }},
      {"fiscal_fleet_printer_last_z_number", "The number of the printer's last Z reduction.",
       [](Exposition& x, const std::string& l, const Json& p) {
         const Json& z = p["lastZ"];
         if (z.is_object() && z.value("number", Json()).is_number_integer()) {
           x.Sample(l, z["number"].get<double>());
         }
       }},
      {"fiscal_fleet_printer_last_z_timestamp_seconds",
       "When the printer's last Z reduction was taken, in seconds since the epoch.",
       [](Exposition& x, const std::string& l, const Json& p) {
         const Json& z = p["lastZ"];
         const auto at = z.is_object() && z.value("at", Json()).is_string()
                             ? EpochSeconds(z["at"].get<std::string>())
                             : std::nullopt;
         if (at) x.Sample(l, static_cast<double>(*at));
       }},
      {"fiscal_fleet_printer_keys_in_doubt",
       "Keys the printer's service holds in doubt, as it last told.",
       [](Exposition& x, const std::string& l, const Json& p) {
         if (p["inDoubtCount"].is_number_integer()) x.Sample(l, p["inDoubtCount"].get<double>());
       }},
      {"fiscal_fleet_printer_service_info", "Always 1, with the version of the printer's service.",
       [](Exposition& x, const std::string& l, const Json& p) {
         if (p["version"].is_string()) {
           x.Sample(l + "," + Label("version", p["version"].get<std::string>()), 1);
         }
       }},
  };
  for (const FamilyOf& family : kFamilies) {
    e.Family(family.name, "gauge", family.help);
    for (const Json& p : printers) {
      family.each(e,
                  Label("shop", p["shop"].get<std::string>()) + "," +
                      Label("printer", p["printer"].get<std::string>()),
                  p);
    }
  }
  return e.Text();
}

}  // namespace fleet
