#pragma once
// The checks every request passes before its body is read and before any handler runs:
// Host (DNS rebinding), Origin (cross-site requests), the access token, and the media type of
// a body. Pure functions over the request header, so each rule can be tested on its own.
#include "http/response.hpp"
#include "http/router.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::http {

struct GuardConfig {
  std::uint16_t port = 0;                    // the port the server is bound to (its own origin)
  std::vector<std::string> allowed_hosts;    // --allow-host: a name, or a name with its port
  std::vector<std::string> allowed_origins;  // --allow-origin: "scheme://host[:port]"
  std::optional<std::string> access_token;   // absent: no token required (--no-auth)
};

// The cookie that carries the access token for browsers (set by GET /auth).
inline constexpr std::string_view kTokenCookie = "ostrel_token";

// A Host header value split strictly into its name and port: "localhost", "localhost:8765",
// "127.0.0.1", "[::1]:8765". Absent for anything else (empty, bad characters, a port that is not
// 1-5 digits or above 65535, text after the port, a bracket without its pair).
struct HostPort {
  std::string name;  // lower case; IPv6 keeps its brackets: "[::1]"
  std::optional<std::uint16_t> port;
};
std::optional<HostPort> parse_host(std::string_view value);

bool is_loopback_name(std::string_view lower_name);
bool host_allowed(std::string_view host_header, const GuardConfig& config);
// The Origin value (present) is the server's own origin, or one the user allowed.
bool origin_allowed(std::string_view origin, const GuardConfig& config);
// An origin the user allowed with --allow-origin: only these get CORS headers.
bool origin_listed(std::string_view origin, const GuardConfig& config);

// The first segment of the path, percent-decoded: "api" for "/api/status" and "/%61pi/status".
std::string first_segment(std::string_view raw_path);
// /api/... and /ws need the token; the matched route's template decides when there is one.
bool needs_token(std::string_view raw_path, const Match& match);
// Answers under /api get Cache-Control: no-store.
bool is_api_path(std::string_view raw_path);

// Compares in time that depends only on the length of `expected`.
bool constant_time_equal(std::string_view given, std::string_view expected);
// The token from "Authorization: Bearer <token>" or from the ostrel_token cookie.
bool carries_token(const Request& request, std::string_view token);

// application/json, with or without parameters such as charset; case-insensitive.
bool is_json_media_type(std::string_view content_type);
// Content-Length above zero, or a chunked body.
bool has_body(const Request& request);

// Runs the checks in order: Host, Origin, CORS preflight, token, content type. Returns the answer
// to send instead of dispatching (a 403/401/415 error, or the 204 of an allowed preflight), or
// nothing when the request may go on. `request` needs only its header.
std::optional<Response> check_request(const Request& request, const Match& match, const GuardConfig& config);

// CORS headers for an answer to a request from an allowed origin; empty otherwise.
std::vector<std::pair<std::string, std::string>> cors_headers(const Request& request, const GuardConfig& config);

}  // namespace ostrel::http
