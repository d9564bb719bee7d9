// SPDX-License-Identifier: Apache-2.0
// Requests a careless or hostile client sends, each answered with its documented code before
// anything reaches the printer: bodies that are missing, empty, too deep or too large, a foreign
// Host, bad keys and query numbers, oversized headers, and sales the printer would refuse once
// the document is open.
#include <gtest/gtest.h>

#include "tests/service/raw_http.h"
#include "tests/service/service_process.h"

namespace {

using servicetest::Json;
using servicetest::PostBytes;
using servicetest::RawConnection;
using servicetest::RawRequest;
using servicetest::ServiceProcess;
using servicetest::TempDir;

class RequestLimits : public ::testing::Test {
 protected:
  std::string Get(const std::string& target, const std::string& host = "") const {
    return "GET " + target + " HTTP/1.1\r\nHost: " +
           (host.empty() ? "127.0.0.1:" + std::to_string(s_.Port()) : host) + "\r\n\r\n";
  }
  // Nothing reached the printer or the journal.
  void ExpectNothingDone() const {
    EXPECT_EQ(s_.Get("/v1/paper").body["next"], 0);
    EXPECT_TRUE(s_.Get("/v1/journal").body["entries"].empty());
  }

  TempDir dir_;
  ServiceProcess s_{dir_.Path()};
};

TEST_F(RequestLimits, RefusedRequestsGetTheirCodesAndPrintNothing) {
  const int port = s_.Port();
  const std::string key = "Idempotency-Key: k1\r\n";
  const std::string deep = std::string(50000, '[') + std::string(50000, ']');
  struct Case {
    const char* name;
    std::string bytes;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"an empty body", PostBytes(port, "/v1/x", key, ""), 400, "bad_json"},
      {"an empty body on an entry point", PostBytes(port, "/v1/call/Abre_Gaveta_Imp", key, ""), 400,
       "bad_json"},
      {"a body that is not an object", PostBytes(port, "/v1/x", key, "null"), 400, "bad_json"},
      {"a POST without a length",
       "POST /v1/x HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" + key + "\r\n",
       411, "length_required"},
      {"an unknown path", PostBytes(port, "/v1/nowhere", key, "{}"), 404, "not_found"},
      {"a foreign Host", Get("/v1/journal", "shop.example:" + std::to_string(port)), 421,
       "misdirected"},
      {"a Host on another port", Get("/v1/status", "127.0.0.1:1"), 421, "misdirected"},
      {"a NUL in the key",
       PostBytes(port, "/v1/x", std::string("Idempotency-Key: a\0b\r\n", 22), "{}"), 400,
       "bad_idempotency_key"},
      {"two keys", PostBytes(port, "/v1/x", key + "Idempotency-Key: k2\r\n", "{}"), 400,
       "bad_idempotency_key"},
      {"a 10 KB key",
       PostBytes(port, "/v1/x", "Idempotency-Key: " + std::string(10000, 'k') + "\r\n", "{}"), 400,
       "bad_idempotency_key"},
      {"a 100 KB header",
       "GET /v1/status HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nX-Filler: " + std::string(100000, 'x') + "\r\n\r\n",
       431, "header_too_large"},
      {"a negative line number", Get("/v1/paper?from=-5"), 400, "bad_field"},
      {"a negative limit", Get("/v1/journal?limit=-1"), 400, "bad_field"},
      {"a body 50,000 levels deep", PostBytes(port, "/v1/call/Estado_Imp", key, deep), 400,
       "bad_json"},
      {"a cash supply past the printer's field",
       PostBytes(port, "/v1/cash/supply", key, R"({"amount":1e300})"), 400, "bad_field"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto a = RawRequest(port, c.bytes);
    EXPECT_EQ(a.status, c.status) << a.body;
    EXPECT_EQ(a.code, c.code) << a.body;
  }
  ExpectNothingDone();
  // The deep body names where the nesting went too deep; localhost names a loopback listener.
  const auto deepAnswer = Json::parse(RawRequest(port, cases[13].bytes).body);
  EXPECT_EQ(deepAnswer["error"]["field"].get<std::string>().substr(0, 6), "[0][0]");
  EXPECT_EQ(RawRequest(port, Get("/v1/status", "localhost:" + std::to_string(port))).status, 200);
}

TEST_F(RequestLimits, AChunkedBodyIsCountedAgainstTheLimitAndCutThere) {
  RawConnection c(s_.Port());
  // Sent at once, without waiting for "100 Continue", as a plain client does.
  c.Send("POST /v1/x HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(s_.Port()) +
         "\r\nIdempotency-Key: big\r\nContent-Type: application/json\r\n"
         "Transfer-Encoding: chunked\r\n\r\n");
  const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
  size_t sent = 0;
  while (sent < (64u << 20) && c.Send(chunk)) sent += 0x10000;
  const auto a = c.Read();
  EXPECT_EQ(a.status, 413) << a.body;
  EXPECT_EQ(a.code, "too_large");
  EXPECT_LT(sent, 32u << 20) << "the service read on past its limit";
  ExpectNothingDone();
}

TEST_F(RequestLimits, ASaleThePrinterWouldRefuseIsRefusedBeforeItIsOpened) {
  const auto sale = [](double quantity, double price, double paid) {
    Json s = servicetest::TicketSale("Pan", price);
    s["items"][0]["quantity"] = quantity;
    s["payments"][0]["amount"] = paid;
    return s;
  };
  Json sixPayments = sale(1, 6, 6);
  sixPayments["payments"] = Json::array();
  for (int i = 0; i < 6; ++i)
    sixPayments["payments"].push_back({{"description", "E"}, {"amount", 1}});
  Json bigDiscount = sale(1, 10, 10);
  bigDiscount["discount"] = 1e12;
  struct Case {
    const char* name;
    Json body;
    const char* field;
  };
  const Case cases[] = {
      {"paid short", sale(2, 10, 19.9), "payments"},
      {"six payments", sixPayments, "payments"},
      {"a quantity past 5+3 digits", sale(100000, 1, 100000), "items[0].quantity"},
      {"a price past 7+2 digits", sale(1, 1e8, 1e8), "items[0].price"},
      {"a discount past 9+2 digits", bigDiscount, "discount"},
      {"a total past 10+2 digits", sale(99999, 9999999, 999999999), "items"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto a = s_.Post("/v1/sales", c.body, "short-" + std::to_string(++n));
    EXPECT_EQ(a.status, 400) << a.body.dump();
    const Json::json_pointer field("/error/field");
    EXPECT_EQ(a.body.contains(field) ? a.body.at(field) : Json(), c.field) << a.body.dump();
  }
  ExpectNothingDone();
  // Three lines of 3.333 print as 3.33 each: paid 9.99, short of 9.999 by less than a cent a
  // line, the sale goes through.
  Json rounded = servicetest::TicketSale("Pan", 3.333);
  rounded["items"].push_back(rounded["items"][0]);
  rounded["items"].push_back(rounded["items"][0]);
  rounded["payments"][0]["amount"] = 9.99;
  const auto a = s_.Post("/v1/sales", rounded, "rounded");
  EXPECT_EQ(a.status, 200) << a.body.dump();
  EXPECT_EQ(a.body.value("ok", Json()), true) << a.body.dump();
}

}  // namespace
