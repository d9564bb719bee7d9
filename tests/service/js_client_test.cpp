// SPDX-License-Identifier: Apache-2.0
// The browser client in a real browser. A page from another origin of the till imports
// fiscal-printd.js from the service, sells a ticket whose first answer the network loses, gets
// the stored answer on the retry with the same key (Idempotent-Replay), and reads a bad field.
// A web till on a site of the internet sells once the till allowed its site, and explains a
// refusal.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/service/service_process.h"

namespace {

using namespace servicetest;

// The page: its result, as JSON, lands in <pre id="result">.
std::string Page(int servicePort) {
  const std::string url = "http://127.0.0.1:" + std::to_string(servicePort);
  return R"(<!doctype html><html><body><pre id="result">pending</pre>
<script type="module">
import { Client, BadField, InDoubt } from ")" +
         url + R"(/v1/client.js";
const keys = [];
let lose = true;
// The first answer is lost on the way back, as a cut network would lose it.
async function flaky(url, init) {
  if (init && init.headers && init.headers["Idempotency-Key"]) keys.push(init.headers["Idempotency-Key"]);
  const res = await fetch(url, init);
  if (lose && init && init.method === "POST") {
    lose = false;
    throw new TypeError("network failure");
  }
  return res;
}
const r = {};
try {
  const c = new Client(")" +
         url + R"(", { fetch: flaky, retryDelayMs: 50 });
  const sale = { kind: "T", items: [{ description: "Cafe", quantity: 1, price: 10, vat: 21 }],
                 payments: [{ description: "Efectivo", amount: 10 }] };
  const first = await c.sale(sale, { key: "js-sale-1" });
  r.ok = first.ok;
  r.number = first.number;
  r.retriedReplay = c.lastReplayed;
  r.keys = keys.slice();
  await c.sale(sale, { key: "js-sale-1" });
  r.againReplay = c.lastReplayed;
  const fresh = await c.x();
  r.xOk = fresh.ok;
  r.xReplay = c.lastReplayed;
  try {
    await c.sale({ kind: "X" });
  } catch (e) {
    r.badField = e instanceof BadField ? e.field : "not BadField: " + e.name;
  }
  r.inDoubtKnown = typeof InDoubt === "function";
  r.last = (await c.status()).printer.lastDocumentNumber;
} catch (e) {
  r.error = String(e);
}
document.getElementById("result").textContent = JSON.stringify(r);
</script></body></html>)";
}

TEST(BrowserClient, SellsRetriesWithTheSameKeyAndReadsTheReplay) {
  SKIP_WITHOUT_CHROMIUM();
  TillSite till;
  TempDir state, profile;
  ServiceProcess service(state.Path(), {"--allow-origin", till.Origin()});
  till.Put("index.html", Page(service.Port()));

  const std::string dom = BrowserDom(till.Origin() + "/", profile.Path());
  const Json r = Json::parse(ElementText(dom, "result"), nullptr, false);
  ASSERT_TRUE(r.is_object()) << dom;
  EXPECT_FALSE(r.contains("error")) << r.dump();
  EXPECT_EQ(r["ok"], true) << r.dump();
  EXPECT_EQ(r["number"], "00000001");
  EXPECT_EQ(r["keys"], Json::array({"js-sale-1", "js-sale-1"}));  // the retry kept the key
  EXPECT_EQ(r["retriedReplay"], true);
  EXPECT_EQ(r["againReplay"], true);
  EXPECT_EQ(r["xOk"], true);
  EXPECT_EQ(r["xReplay"], false);
  EXPECT_EQ(r["badField"], "kind");
  EXPECT_EQ(r["inDoubtKnown"], true);
  EXPECT_EQ(r["last"], "00000001");  // one ticket printed, however many tries
  EXPECT_EQ(service.Get("/v1/journal").body["entries"].size(), 2u);  // the sale and the X
}

// A web till on the internet serves its own copy of the client and sells a ticket; what it
// gets, as JSON in <pre id="result">: the sale's number and the last one, or the error.
std::string InternetPage(int servicePort) {
  return R"(<!doctype html><html><body><pre id="result">pending</pre>
<script type="module">
import { Client, Unavailable } from "./fiscal-printd.js";
const r = {};
try {
  const c = new Client("http://127.0.0.1:)" +
         std::to_string(servicePort) + R"(", { retryDelayMs: 50 });
  r.number = (await c.sale()" +
         TicketSale("Cafe").dump() + R"()).number;
  r.last = (await c.status()).printer.lastDocumentNumber;
} catch (e) {
  r.error = { name: e.name, code: e.code, unavailable: e instanceof Unavailable,
              message: e.message };
}
document.getElementById("result").textContent = JSON.stringify(r);
</script></body></html>)";
}

// The browser lets an HTTPS page of a public address reach the till's loopback address only
// once the site was allowed on this till: by the operator's answer to the browser's prompt
// (kept in the profile), or by the browser's policy. A page refused gets the client's one clear
// error, and nothing reaches the service.
TEST(BrowserClient, AWebTillOnTheInternetSellsOnceItsSiteIsAllowedOnTheTill) {
  SKIP_WITHOUT_CHROMIUM();
  TillSite till(TillSite::Kind::Internet);
  till.PutClient();
  TempDir state;
  ServiceProcess service(state.Path(), {"--allow-origin", till.Origin()});
  till.Put("index.html", InternetPage(service.Port()));
  // The policy file docs/print-service.md gives the operator.
  const Json site = Json::array({till.Origin()});
  const std::string policy = Json{
      {"LoopbackNetworkAllowedForUrls", site},
      {"LocalNetworkAccessAllowedForUrls",
       site}}.dump();
  struct Case {
    const char* how;
    BrowserSetup setup;
    bool sells;
  };
  const Case cases[] = {
      {"allowed at the browser's prompt", {till.BrowserFlags(), {till.Origin()}, {}, ""}, true},
      {"allowed by the browser's policy", {till.BrowserFlags(), {}, {}, policy}, true},
      // A browser without a screen keeps the request at its prompt or refuses it, as it goes:
      // the operator's refusal is what a till without the permission shows for sure.
      {"refused at the browser's prompt", {till.BrowserFlags(), {}, {till.Origin()}, ""}, false},
  };
  int sold = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    if (!c.setup.Policy.empty() && !CanSetBrowserPolicy()) {
      std::printf(
          "The browser's policy was not tried: a run cannot mount its own policy folder "
          "(the tests do not run as root).\n");
      continue;
    }
    TempDir profile;
    const std::string dom = BrowserDom(till.Origin() + "/", profile.Path(), c.setup);
    const Json r = Json::parse(ElementText(dom, "result"), nullptr, false);
    ASSERT_TRUE(r.is_object()) << dom;
    if (c.sells) {
      char number[16];
      std::snprintf(number, sizeof number, "%08d", ++sold);
      EXPECT_EQ(r.value("number", Json()), number) << r.dump();
      EXPECT_EQ(r.value("last", Json()), number) << r.dump();
      continue;
    }
    const Json& e = r["error"];
    EXPECT_EQ(e["name"], "LocalNetworkDenied") << r.dump();
    EXPECT_EQ(e["code"], "local_network_denied");
    EXPECT_EQ(e["unavailable"], true);  // a caller handling Unavailable handles it too
    const std::string message = e.value("message", "");
    for (const std::string& part :
         {till.Origin(), std::string("Apps on device: Allow"),
          std::string("LoopbackNetworkAllowedForUrls listing ") + till.Origin()}) {
      EXPECT_NE(message.find(part), std::string::npos) << message;
    }
  }
  EXPECT_EQ(service.Get("/v1/journal").body["entries"].size(), static_cast<size_t>(sold));
}

}  // namespace
