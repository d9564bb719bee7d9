// SPDX-License-Identifier: Apache-2.0
// The status page in a real browser: headless Chromium loads it from a running service after a
// sale and the page, once its scripts ran, shows the printer, the operation and the paper.
#include <gtest/gtest.h>

#include <string>

#include "tests/service/service_process.h"

namespace {

using namespace servicetest;

TEST(StatusPage, BrowserShowsPrinterOperationsAndPaperAfterASale) {
  SKIP_WITHOUT_CHROMIUM();
  TempDir state, profile;
  ServiceProcess service(state.Path());
  const Answer sale = service.Post("/v1/sales", TicketSale("Cafe con leche", 12.5), "page-sale-1");
  ASSERT_EQ(sale.status, 200) << sale.body.dump();

  // A False that is the entry point's answer is done, not failed: a fixed answer, a withdrawal.
  ASSERT_EQ(service.Post("/v1/call/DadosUltimaRedZ", Json::object(), "page-fixed").status, 200);
  ASSERT_EQ(
      service
          .Post("/v1/call/GeraReciboSangria",
                {{"boSangria", true}, {"boImpRelSan", true}, {"cdsOperSup", Staff()}}, "page-out")
          .body["dialogs"],
      Json::array());

  const Answer page = service.Get("/");
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.headers.find("Content-Type")->second.find("text/html"), std::string::npos);

  const std::string dom = BrowserDom(service.Url() + "/", profile.Path());
  ASSERT_NE(dom.find("<main>"), std::string::npos) << "no page from the browser: " << dom;
  EXPECT_EQ(ElementText(dom, "problem"), "") << dom;
  EXPECT_EQ(ElementText(dom, "printer-state"), "reachable");
  EXPECT_EQ(ElementText(dom, "printer-backend"), "emulator");
  // The series the printer keeps, nothing it does not.
  EXPECT_EQ(ElementText(dom, "printer-last"), "00000001 (ticket or B/C 00000001, A 00000000)");
  EXPECT_EQ(ElementText(dom, "document"), "none");
  const std::string journal = ElementText(dom, "journal");
  EXPECT_NE(journal.find("page-sale-1"), std::string::npos) << journal;
  EXPECT_NE(journal.find("sales (ticket: Cafe con leche)"), std::string::npos) << journal;
  EXPECT_NE(journal.find("ok (200)"), std::string::npos) << journal;
  EXPECT_NE(journal.find("done: False (200)"), journal.rfind("done: False (200)")) << journal;
  EXPECT_EQ(journal.find("failed"), std::string::npos) << journal;
  const std::string paper = ElementText(dom, "paper");
  EXPECT_NE(paper.find("Cafe con leche"), std::string::npos) << paper;
  EXPECT_NE(paper.find("TIQUE"), std::string::npos) << paper;
}

}  // namespace
