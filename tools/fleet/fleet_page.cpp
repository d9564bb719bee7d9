// SPDX-License-Identifier: Apache-2.0
#include "tools/fleet/fleet_page.h"

namespace fleet {

std::string_view FleetPageHtml() {
  // Texts from the broker reach the page only through textContent, never as markup.
  static constexpr std::string_view kPage = R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Fiscal printers of the chain</title>
<style>
body { font: 14px system-ui, sans-serif; margin: 1.5em; color: #222; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: .35em .6em; border-bottom: 1px solid #ddd; }
th { background: #f4f4f4; }
.bad { color: #b00020; font-weight: 600; }
.warn { color: #8a5a00; }
#problem:empty { display: none; }
#problem { background: #fde8e8; padding: .5em; margin-bottom: 1em; }
</style>
</head>
<body>
<main>
<h1>Fiscal printers of the chain</h1>
<p id="problem"></p>
<p id="summary">Loading…</p>
<table>
<thead><tr><th>Shop</th><th>Printer</th><th>Link</th><th>Printer state</th><th>Paper</th>
<th>Document open</th><th>Fiscalisation</th><th>Last Z</th><th>Keys in doubt</th>
<th>Version</th></tr></thead>
<tbody id="printers"></tbody>
</table>
</main>
<script>
"use strict";
const token = new URLSearchParams(location.hash.slice(1)).get("token");
const when = (t) => t ? new Date(t).toLocaleString() : "";

function cell(row, id, text, mark) {
  const td = document.createElement("td");
  td.id = id;
  td.textContent = text;
  if (mark) td.className = mark;
  row.appendChild(td);
}

function show(fleet) {
  const problem = document.getElementById("problem");
  problem.textContent = fleet.broker.connected ? "" :
      "Not connected to the broker: " + fleet.broker.error;
  const body = document.getElementById("printers");
  body.replaceChildren();
  let offline = 0, attention = 0;
  const shops = new Set();
  for (const p of fleet.printers) {
    shops.add(p.shop);
    const id = p.shop + "/" + p.printer + "/";
    const row = document.createElement("tr");
    row.id = id + "row";
    const link = !p.online ? "offline since " + when(p.since) +
        (p.reason === "stopped" ? " (stopped)" : "") :
        p.stale ? "no heartbeat since " + when(p.lastSeen) : "online since " + when(p.since);
    if (!p.online || p.stale) offline++;
    const paper = p.paper.journal === null ? "" :
        "journal " + p.paper.journal + ", receipt " + p.paper.receipt;
    const paperBad = [p.paper.journal, p.paper.receipt].includes("out") ? "bad" :
        [p.paper.journal, p.paper.receipt].includes("low") ? "warn" : "";
    const doubt = p.inDoubtCount === null ? "" : String(p.inDoubtCount) +
        (p.inDoubt && p.inDoubt.length ? ": " + p.inDoubt.map((k) => k.till + "/" + k.key).join(", ") : "");
    if (paperBad || p.inDoubtCount > 0 || p.reachable === false) attention++;
    cell(row, id + "shop", p.shop);
    cell(row, id + "printer", p.printer);
    cell(row, id + "link", link, p.online && !p.stale ? "" : "bad");
    cell(row, id + "state", p.reachable === null ? "" : p.reachable ? "reachable" : "not answering",
         p.reachable === false ? "bad" : "");
    cell(row, id + "paper", paper, paperBad);
    cell(row, id + "document", p.documentOpen === null ? "" :
         p.documentOpen ? "yes" + (p.document ? " (" + p.document + ")" : "") : "no");
    cell(row, id + "fiscalisation", p.fiscalisation || "",
         p.fiscalisation && p.fiscalisation !== "fiscalised" ? "warn" : "");
    cell(row, id + "lastz", p.lastZ ? "#" + p.lastZ.number + (p.lastZ.at ? " " + when(p.lastZ.at) : "") : "");
    cell(row, id + "doubt", doubt, p.inDoubtCount > 0 ? "bad" : "");
    cell(row, id + "version", p.version || "");
    body.appendChild(row);
  }
  document.getElementById("summary").textContent = fleet.printers.length + " printers in " +
      shops.size + " shops; offline: " + offline + "; needing attention: " + attention + ".";
}

async function refresh() {
  try {
    const res = await fetch("/v1/fleet", token ? {headers: {Authorization: "Bearer " + token}} : {});
    if (!res.ok) throw new Error("the fleet answered " + res.status);
    show(await res.json());
  } catch (e) {
    document.getElementById("problem").textContent = "Cannot read the fleet: " + e.message;
  }
}
refresh();
setInterval(refresh, 5000);
</script>
</body>
</html>
)page";
  return kPage;
}

}  // namespace fleet
