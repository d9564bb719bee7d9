// SPDX-License-Identifier: Apache-2.0
// The browser client in a real browser: a page from another origin of the till imports
// fiscal-printd.js from the service, sells a ticket whose first answer the network loses, gets
// the stored answer on the retry with the same key (Idempotent-Replay), and reads a bad field.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

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
  if (::access(kChromium, X_OK) != 0) {
    GTEST_SKIP() << "Chromium is not installed (" << kChromium
                 << "); scripts/deps installs it where the package can be installed";
  }
  // The till's own web server, another origin than the service.
  httplib::Server till;
  const int tillPort = till.bind_to_any_port("127.0.0.1");
  ASSERT_GT(tillPort, 0);
  const std::string origin = "http://127.0.0.1:" + std::to_string(tillPort);
  TempDir state, profile;
  ServiceProcess service(state.Path(), {"--allow-origin", origin});
  const std::string page = Page(service.Port());
  till.Get("/", [&page](const httplib::Request&, httplib::Response& res) {
    res.set_content(page, "text/html; charset=utf-8");
  });
  std::thread serving([&till] { till.listen_after_bind(); });

  const std::string dom = BrowserDom(origin + "/", profile.Path());
  till.stop();
  serving.join();
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

}  // namespace
