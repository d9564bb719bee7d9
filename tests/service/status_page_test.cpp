// The status page in a real browser: headless Chromium loads it from a running service after a
// sale and the page, once its scripts ran, shows the printer, the operation and the paper.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/service/service_process.h"

namespace {

using namespace servicetest;

constexpr const char* kChromium = "/usr/bin/chromium";

// The page's DOM after its scripts ran. The browser may reach 127.0.0.1 only: every other host
// name fails to resolve, and nothing runs in the background that would call out. What the
// browser says on standard error is dropped.
std::string DumpDom(const std::string& url, const std::string& profile) {
  const std::string command =
      std::string("(timeout 120 ") + kChromium +
      " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
      " --disable-background-networking --disable-component-update --disable-sync"
      " --disable-default-apps --disable-extensions --no-proxy-server"
      " '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1'"
      " --user-data-dir='" +
      profile + "' --virtual-time-budget=10000 --dump-dom '" + url + "' 2>/dev/null)";
  return Shell(command).output;
}

// The markup inside the element with this id, as the dump shows it.
std::string Element(const std::string& dom, const std::string& id) {
  const size_t at = dom.find("id=\"" + id + "\"");
  if (at == std::string::npos) return "<missing " + id + ">";
  const size_t start = dom.rfind('<', at) + 1;
  const std::string tag = dom.substr(start, dom.find_first_of(" >", start) - start);
  const size_t open = dom.find('>', at) + 1;
  return dom.substr(open, dom.find("</" + tag + ">", open) - open);
}

TEST(StatusPage, BrowserShowsPrinterOperationsAndPaperAfterASale) {
  if (::access(kChromium, X_OK) != 0) {
    GTEST_SKIP() << "Chromium is not installed (" << kChromium
                 << "); scripts/deps installs it where the package can be installed";
  }
  TempDir state, profile;
  ServiceProcess service(state.Path());
  const Answer sale = service.Post("/v1/sales", TicketSale("Cafe con leche", 12.5), "page-sale-1");
  ASSERT_EQ(sale.status, 200) << sale.body.dump();

  // A False that is the entry point's answer is done, not failed.
  ASSERT_EQ(service.Post("/v1/call/DadosUltimaRedZ", Json::object(), "page-fixed").status, 200);

  const Answer page = service.Get("/");
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.headers.find("Content-Type")->second.find("text/html"), std::string::npos);

  const std::string dom = DumpDom(service.Url() + "/", profile.Path());
  ASSERT_NE(dom.find("<main>"), std::string::npos) << "no page from the browser: " << dom;
  EXPECT_EQ(Element(dom, "problem"), "") << dom;
  EXPECT_EQ(Element(dom, "printer-state"), "reachable");
  EXPECT_EQ(Element(dom, "printer-backend"), "emulator");
  EXPECT_NE(Element(dom, "printer-last").find("00000001"), std::string::npos) << dom;
  EXPECT_EQ(Element(dom, "document"), "none");
  const std::string journal = Element(dom, "journal");
  EXPECT_NE(journal.find("page-sale-1"), std::string::npos) << journal;
  EXPECT_NE(journal.find("sales (ticket: Cafe con leche)"), std::string::npos) << journal;
  EXPECT_NE(journal.find("ok (200)"), std::string::npos) << journal;
  EXPECT_NE(journal.find("done: False (200)"), std::string::npos) << journal;
  EXPECT_EQ(journal.find("failed"), std::string::npos) << journal;
  const std::string paper = Element(dom, "paper");
  EXPECT_NE(paper.find("Cafe con leche"), std::string::npos) << paper;
  EXPECT_NE(paper.find("TIQUE"), std::string::npos) << paper;
}

}  // namespace
