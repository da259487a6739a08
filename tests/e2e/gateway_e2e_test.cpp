// Starts the built ostrel-gateway with a fresh HOME on port 0 and talks to it over loopback.
#include "e2e/gateway_process.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <string>

namespace {

using ostrel::testing::GatewayProcess;
using ostrel::testing::RawConnection;
using ostrel::testing::request_text;
using ostrel::testing::TempFolder;

TEST(Gateway, ServesTheApiBehindItsGuardAndStopsOnSigterm) {
  TempFolder home("ostrel-e2e");
  GatewayProcess gateway(home.path());
  const std::string& line = gateway.first_line();
  EXPECT_NE(line.find(gateway.token_file().string()), std::string::npos) << line;
  const auto port = gateway.port();
  const std::string& token = gateway.token();
  ASSERT_EQ(token.size(), 64u);
  const std::string auth = "Authorization: Bearer " + token + "\r\n";

  struct Case {
    std::string request;
    unsigned status;
  };
  const Case cases[] = {
      {request_text("GET", "/api/status"), 401},
      {request_text("GET", "/api/status", auth), 200},
      {"GET /api/status HTTP/1.1\r\nHost: evil.example\r\n" + auth + "\r\n", 403},
      {request_text("GET", "/api/status", auth + "Origin: http://evil.example\r\n"), 403},
      {request_text("GET", "/openapi.json"), 200},
  };
  for (const auto& c : cases) {
    RawConnection conn(port);
    conn.send(c.request);
    auto r = conn.read_response();
    ASSERT_TRUE(r) << c.request;
    EXPECT_EQ(r->result_int(), c.status) << c.request;
    EXPECT_TRUE(boost::json::parse(r->body()).is_object()) << r->body();
  }

  RawConnection conn(port);
  conn.send(request_text("GET", "/openapi.json"));
  auto doc = conn.read_response();
  ASSERT_TRUE(doc);
  EXPECT_TRUE(boost::json::parse(doc->body()).at("openapi").as_string().starts_with("3.1"));
  EXPECT_EQ(gateway.stop(), std::optional<int>(0));
}

}  // namespace
