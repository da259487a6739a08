#include "http/request_guard.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace ostrel::http {
namespace {

namespace bh = boost::beast::http;

const std::string kToken = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

Route route(Verb method, std::string path, bool takes_body = false) {
  Route r;
  r.method = method;
  r.path = std::move(path);
  r.name = "r";
  r.result = Returns::mapping;
  if (takes_body) r.body = BodySpec{};
  return r;
}

struct GuardCase {
  std::string name;
  Verb method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;  // "Host" must be given to be present
  std::string body;
  std::string refused_with;  // expected detail; empty: the request goes on
  unsigned status = 0;
};

const std::string kAuth = "Bearer " + kToken;

std::vector<GuardCase> guard_cases() {
  const auto host = [](std::string h) { return std::pair<std::string, std::string>{"Host", std::move(h)}; };
  const std::pair<std::string, std::string> auth{"Authorization", kAuth};
  const std::pair<std::string, std::string> json{"Content-Type", "application/json"};
  const std::string no_host = "Host not allowed", no_origin = "Origin not allowed", no_token = "Not authenticated",
                    bad_type = "Content-Type must be application/json";
  return {
      // Host
      {"host_localhost", Verb::get, "/api/status", {host("localhost"), auth}, "", "", 0},
      {"host_localhost_port", Verb::get, "/api/status", {host("localhost:8765"), auth}, "", "", 0},
      {"host_ipv4", Verb::get, "/api/status", {host("127.0.0.1"), auth}, "", "", 0},
      {"host_ipv6_port", Verb::get, "/api/status", {host("[::1]:8765"), auth}, "", "", 0},
      {"host_upper_case", Verb::get, "/api/status", {host("LocalHost:8765"), auth}, "", "", 0},
      {"host_allowed_by_user", Verb::get, "/api/status", {host("mybox.lan:8765"), auth}, "", "", 0},
      {"host_suffix_attack", Verb::get, "/api/status", {host("localhost.evil.com"), auth}, "", no_host, 403},
      {"host_wildcard_dns", Verb::get, "/api/status", {host("127.0.0.1.nip.io"), auth}, "", no_host, 403},
      {"host_any_address", Verb::get, "/api/status", {host("0.0.0.0"), auth}, "", no_host, 403},
      {"host_empty", Verb::get, "/api/status", {host(""), auth}, "", no_host, 403},
      {"host_missing", Verb::get, "/api/status", {auth}, "", no_host, 403},
      {"host_twice", Verb::get, "/api/status", {host("localhost"), host("evil.example"), auth}, "", no_host, 403},
      {"host_foreign", Verb::get, "/api/status", {host("evil.example"), auth}, "", no_host, 403},
      {"host_port_not_digits", Verb::get, "/api/status", {host("localhost:80x"), auth}, "", no_host, 403},
      {"host_port_empty", Verb::get, "/api/status", {host("localhost:"), auth}, "", no_host, 403},
      {"host_port_too_large", Verb::get, "/api/status", {host("localhost:65536"), auth}, "", no_host, 403},
      {"host_unclosed_bracket", Verb::get, "/api/status", {host("[::1"), auth}, "", no_host, 403},
      {"host_userinfo", Verb::get, "/api/status", {host("evil@localhost"), auth}, "", no_host, 403},
      {"host_checked_before_token", Verb::get, "/api/status", {host("evil.example")}, "", no_host, 403},
      // Origin
      {"origin_own", Verb::get, "/api/status", {host("localhost:8765"), {"Origin", "http://localhost:8765"}, auth}, "", "", 0},
      {"origin_own_ipv6", Verb::get, "/api/status", {host("[::1]:8765"), {"Origin", "http://[::1]:8765"}, auth}, "", "", 0},
      {"origin_listed", Verb::get, "/api/status", {host("localhost"), {"Origin", "http://localhost:5173"}, auth}, "", "", 0},
      {"origin_allowed_host", Verb::get, "/api/status", {host("mybox.lan:8765"), {"Origin", "http://mybox.lan:8765"}, auth}, "", "", 0},
      {"origin_port_suffix", Verb::get, "/api/status", {host("localhost"), {"Origin", "http://localhost:8765.evil.com"}, auth}, "", no_origin, 403},
      {"origin_foreign", Verb::get, "/api/status", {host("localhost"), {"Origin", "http://evil.example"}, auth}, "", no_origin, 403},
      {"origin_other_port", Verb::get, "/api/status", {host("localhost"), {"Origin", "http://localhost:9999"}, auth}, "", no_origin, 403},
      {"origin_other_scheme", Verb::get, "/api/status", {host("localhost"), {"Origin", "https://localhost:8765"}, auth}, "", no_origin, 403},
      {"origin_null", Verb::get, "/api/status", {host("localhost"), {"Origin", "null"}, auth}, "", no_origin, 403},
      {"origin_checked_on_public_paths", Verb::get, "/docs", {host("localhost"), {"Origin", "http://evil.example"}}, "", no_origin, 403},
      {"origin_checked_before_token", Verb::get, "/api/status", {host("localhost"), {"Origin", "http://evil.example"}}, "", no_origin, 403},
      // Token
      {"token_missing", Verb::get, "/api/status", {host("localhost")}, "", no_token, 401},
      {"token_wrong", Verb::get, "/api/status", {host("localhost"), {"Authorization", "Bearer nope"}}, "", no_token, 401},
      {"token_prefix_only", Verb::get, "/api/status", {host("localhost"), {"Authorization", kAuth.substr(0, kAuth.size() - 1)}}, "", no_token, 401},
      {"token_extended", Verb::get, "/api/status", {host("localhost"), {"Authorization", kAuth + "0"}}, "", no_token, 401},
      {"token_other_scheme", Verb::get, "/api/status", {host("localhost"), {"Authorization", "Basic " + kToken}}, "", no_token, 401},
      {"token_scheme_any_case", Verb::get, "/api/status", {host("localhost"), {"Authorization", "bearer " + kToken}}, "", "", 0},
      {"token_cookie", Verb::get, "/api/status", {host("localhost"), {"Cookie", "theme=dark; ostrel_token=" + kToken}}, "", "", 0},
      {"token_cookie_wrong", Verb::get, "/api/status", {host("localhost"), {"Cookie", "ostrel_token=nope"}}, "", no_token, 401},
      {"token_cookie_other_name", Verb::get, "/api/status", {host("localhost"), {"Cookie", "x_ostrel_token=" + kToken}}, "", no_token, 401},
      {"token_encoded_api_path", Verb::get, "/%61pi/status", {host("localhost")}, "", no_token, 401},
      {"token_unknown_api_path", Verb::get, "/api/nowhere", {host("localhost")}, "", no_token, 401},
      {"token_websocket", Verb::get, "/ws", {host("localhost")}, "", no_token, 401},
      {"token_not_for_docs", Verb::get, "/docs", {host("localhost")}, "", "", 0},
      // Content type of a body
      {"type_json", Verb::post, "/api/echo", {host("localhost"), auth, json}, "{}", "", 0},
      {"type_json_charset", Verb::post, "/api/echo", {host("localhost"), auth, {"Content-Type", "Application/JSON; charset=utf-8"}}, "{}", "", 0},
      {"type_text", Verb::post, "/api/echo", {host("localhost"), auth, {"Content-Type", "text/plain"}}, "{}", bad_type, 415},
      {"type_form", Verb::post, "/api/echo", {host("localhost"), auth, {"Content-Type", "application/x-www-form-urlencoded"}}, "a=1", bad_type, 415},
      {"type_lookalike", Verb::post, "/api/echo", {host("localhost"), auth, {"Content-Type", "application/jsonx"}}, "{}", bad_type, 415},
      {"type_missing", Verb::post, "/api/echo", {host("localhost"), auth}, "{}", bad_type, 415},
      {"type_chunked_missing", Verb::post, "/api/echo", {host("localhost"), auth, {"Transfer-Encoding", "chunked"}}, "", bad_type, 415},
      {"type_no_body_needs_none", Verb::post, "/api/echo", {host("localhost"), auth}, "", "", 0},
      {"type_route_without_body", Verb::post, "/api/run", {host("localhost"), auth, {"Content-Type", "text/plain"}}, "x", "", 0},
      {"type_checked_after_token", Verb::post, "/api/echo", {host("localhost"), {"Content-Type", "text/plain"}}, "{}", no_token, 401},
  };
}

class GuardTable : public ::testing::TestWithParam<GuardCase> {};

TEST_P(GuardTable, AnswersOrLetsThrough) {
  Router router;
  router.add(route(Verb::get, "/api/status")).add(route(Verb::post, "/api/echo", true)).add(route(Verb::post, "/api/run"));
  router.add(route(Verb::get, "/docs"));
  const GuardConfig config{8765, {"mybox.lan"}, {"http://localhost:5173"}, kToken};

  const GuardCase& c = GetParam();
  Request request{c.method, c.target, 11};
  for (const auto& [name, value] : c.headers) request.insert(name, value);
  if (!c.body.empty()) request.set(bh::field::content_length, std::to_string(c.body.size()));

  auto target = std::string_view(c.target);
  auto refusal = check_request(request, router.match(c.method, target.substr(0, target.find('?'))), config);
  if (c.refused_with.empty()) {
    EXPECT_FALSE(refusal) << refusal->body;
  } else {
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->status, c.status);
    EXPECT_EQ(boost::json::parse(refusal->body), (boost::json::object{{"detail", c.refused_with}}));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, GuardTable, ::testing::ValuesIn(guard_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(Guard, NoTokenConfiguredLetsApiThrough) {
  Router router;
  router.add(route(Verb::get, "/api/status"));
  Request request{Verb::get, "/api/status", 11};
  request.set(bh::field::host, "localhost");
  EXPECT_FALSE(check_request(request, router.match(Verb::get, "/api/status"), GuardConfig{8765, {}, {}, std::nullopt}));
}

// CORS headers go only to an origin the user listed; its preflight is answered before the
// token check (browsers send no credentials with it), and any other preflight is not.
TEST(Guard, CorsOnlyForListedOrigins) {
  Router router;
  router.add(route(Verb::get, "/api/status")).add(route(Verb::post, "/api/status"));
  const GuardConfig config{8765, {}, {"http://localhost:5173"}, kToken};
  auto preflight = [&](std::string origin) {
    Request r{Verb::options, "/api/status", 11};
    r.set(bh::field::host, "localhost:8765");
    r.set(bh::field::origin, origin);
    r.set(bh::field::access_control_request_method, "POST");
    return r;
  };

  Request listed = preflight("http://localhost:5173");
  auto answer = check_request(listed, router.match(Verb::options, "/api/status"), config);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 204u);
  ASSERT_NE(answer->header("Access-Control-Allow-Origin"), nullptr);
  EXPECT_EQ(*answer->header("Access-Control-Allow-Origin"), "http://localhost:5173");
  EXPECT_EQ(*answer->header("Access-Control-Allow-Methods"), "GET, POST");
  EXPECT_FALSE(cors_headers(listed, config).empty());

  Request own = preflight("http://localhost:8765");
  answer = check_request(own, router.match(Verb::options, "/api/status"), config);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 401u);
  EXPECT_TRUE(cors_headers(own, config).empty());
}

}  // namespace
}  // namespace ostrel::http
