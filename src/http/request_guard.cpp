#include "http/request_guard.hpp"

#include "http/url_path.hpp"

#include <boost/beast/http/field.hpp>

#include <algorithm>
#include <charconv>

namespace ostrel::http {

namespace {

namespace bh = boost::beast::http;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string to_lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), lower);
  return out;
}

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A reg-name or IPv4 literal: letters, digits, '-', '.', '_'; no empty labels at the ends.
bool valid_name(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.back() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return is_digit(c) || (lower(c) >= 'a' && lower(c) <= 'z') || c == '-' || c == '.' || c == '_';
  });
}

bool valid_ipv6_literal(std::string_view inner) {
  return !inner.empty() && std::all_of(inner.begin(), inner.end(), [](char c) {
    return is_digit(c) || (lower(c) >= 'a' && lower(c) <= 'f') || c == ':' || c == '.';
  });
}

std::optional<std::uint16_t> parse_port(std::string_view digits) {
  if (digits.empty() || digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), is_digit)) return std::nullopt;
  unsigned value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

constexpr std::string_view kLoopbackNames[] = {"localhost", "127.0.0.1", "[::1]"};

std::string with_port(std::string_view name, std::uint16_t port) {
  return port == 80 ? std::string(name) : std::string(name) + ":" + std::to_string(port);
}

// The origins this server is reachable under: its loopback names and the allowed host names.
std::vector<std::string> own_origins(const GuardConfig& config) {
  std::vector<std::string> origins;
  for (auto name : kLoopbackNames) origins.push_back("http://" + with_port(name, config.port));
  for (const auto& entry : config.allowed_hosts) {
    auto parsed = parse_host(entry);
    if (!parsed) continue;
    origins.push_back("http://" + (parsed->port ? with_port(parsed->name, *parsed->port) : with_port(parsed->name, config.port)));
  }
  return origins;
}


std::string_view path_of(const Request& request) {
  std::string_view target = request.target();
  return target.substr(0, target.find('?'));
}

}  // namespace

std::optional<HostPort> parse_host(std::string_view value) {
  HostPort out;
  std::string_view rest;
  if (!value.empty() && value.front() == '[') {
    auto close = value.find(']');
    if (close == std::string_view::npos || !valid_ipv6_literal(value.substr(1, close - 1))) return std::nullopt;
    out.name = to_lower(value.substr(0, close + 1));
    rest = value.substr(close + 1);
  } else {
    auto colon = value.find(':');
    std::string_view name = value.substr(0, colon);
    if (!valid_name(name)) return std::nullopt;
    out.name = to_lower(name);
    rest = colon == std::string_view::npos ? std::string_view{} : value.substr(colon);
  }
  if (!rest.empty()) {
    if (rest.front() != ':') return std::nullopt;
    out.port = parse_port(rest.substr(1));
    if (!out.port) return std::nullopt;
  }
  return out;
}

bool is_loopback_name(std::string_view lower_name) {
  return std::find(std::begin(kLoopbackNames), std::end(kLoopbackNames), lower_name) != std::end(kLoopbackNames);
}

bool host_allowed(std::string_view host_header, const GuardConfig& config) {
  auto parsed = parse_host(host_header);
  if (!parsed) return false;
  if (is_loopback_name(parsed->name)) return true;
  for (const auto& entry : config.allowed_hosts) {
    auto allowed = parse_host(entry);
    if (!allowed || allowed->name != parsed->name) continue;
    // An entry without a port allows the name on any port; with one, only that port.
    if (!allowed->port || allowed->port == parsed->port) return true;
  }
  return false;
}

bool origin_listed(std::string_view origin, const GuardConfig& config) {
  return std::any_of(config.allowed_origins.begin(), config.allowed_origins.end(), [&](const std::string& entry) {
    std::string_view e = entry;
    while (!e.empty() && e.back() == '/') e.remove_suffix(1);
    return iequals(e, origin);
  });
}

bool origin_allowed(std::string_view origin, const GuardConfig& config) {
  for (const auto& own : own_origins(config))
    if (iequals(own, origin)) return true;
  return origin_listed(origin, config);
}

std::string first_segment(std::string_view raw_path) {
  return percent_decode(split_path(raw_path).front());
}

bool needs_token(std::string_view raw_path, const Match& match) {
  auto protected_segment = [](std::string_view s) { return s == "api" || s == "ws"; };
  if (match.route != nullptr && protected_segment(split_path(match.route->path).front())) return true;
  return protected_segment(first_segment(raw_path));
}

bool is_api_path(std::string_view raw_path) { return first_segment(raw_path) == "api"; }

bool constant_time_equal(std::string_view given, std::string_view expected) {
  unsigned char diff = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    diff |= static_cast<unsigned char>(g ^ static_cast<unsigned char>(expected[i]));
  }
  return diff == 0;
}

bool carries_token(const Request& request, std::string_view token) {
  bool found = false;  // every candidate is compared, so timing does not tell which one matched
  auto [auth_begin, auth_end] = request.equal_range(bh::field::authorization);
  for (auto field = auth_begin; field != auth_end; ++field) {
    std::string_view value = trim(field->value());
    auto space = value.find(' ');
    if (space == std::string_view::npos || !iequals(value.substr(0, space), "Bearer")) continue;
    found |= constant_time_equal(trim(value.substr(space + 1)), token);
  }
  auto [cookie_begin, cookie_end] = request.equal_range(bh::field::cookie);
  for (auto field = cookie_begin; field != cookie_end; ++field) {
    std::string_view rest = field->value();
    while (!rest.empty()) {
      auto semi = rest.find(';');
      std::string_view pair = trim(rest.substr(0, semi));
      rest = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
      auto eq = pair.find('=');
      if (eq == std::string_view::npos || trim(pair.substr(0, eq)) != kTokenCookie) continue;
      std::string_view value = trim(pair.substr(eq + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      found |= constant_time_equal(value, token);
    }
  }
  return found;
}

bool is_json_media_type(std::string_view content_type) {
  return iequals(trim(content_type.substr(0, content_type.find(';'))), "application/json");
}

bool has_body(const Request& request) {
  if (request.chunked()) return true;
  auto it = request.find(bh::field::content_length);
  if (it == request.end()) return false;
  std::string_view v = trim(it->value());
  return !v.empty() && v.find_first_not_of('0') != std::string_view::npos;
}

std::optional<Response> check_request(const Request& request, const Match& match, const GuardConfig& config) {
  // Exactly one Host, and one of ours: a page on another site that rebinds its name to
  // 127.0.0.1 still sends its own name here.
  auto hosts = request.equal_range(bh::field::host);
  if (std::distance(hosts.first, hosts.second) != 1 || !host_allowed(hosts.first->value(), config))
    return error_response(403, "Host not allowed");

  auto origins = request.equal_range(bh::field::origin);
  for (auto it = origins.first; it != origins.second; ++it)
    if (!origin_allowed(it->value(), config)) return error_response(403, "Origin not allowed");

  // A browser's preflight carries no credentials, so it is answered before the token check,
  // and only for an origin the user allowed and a path that exists.
  if (request.method() == Verb::options && origins.first != origins.second &&
      request.find(bh::field::access_control_request_method) != request.end() &&
      origin_listed(origins.first->value(), config) && (match.route != nullptr || !match.allowed.empty())) {
    std::string methods;
    auto add = [&](Verb v) { methods += (methods.empty() ? "" : ", ") + std::string(bh::to_string(v)); };
    if (match.route != nullptr) add(match.route->method);
    for (Verb v : match.allowed) add(v);
    Response preflight{204, "", cors_headers(request, config), "", std::nullopt};
    preflight.headers.emplace_back("Access-Control-Allow-Methods", methods);
    preflight.headers.emplace_back("Access-Control-Allow-Headers", "Authorization, Content-Type");
    preflight.headers.emplace_back("Access-Control-Max-Age", "600");
    return preflight;
  }

  if (config.access_token && needs_token(path_of(request), match) && !carries_token(request, *config.access_token))
    return error_response(401, "Not authenticated");

  if (match.takes_body() && has_body(request) && !is_json_media_type(request[bh::field::content_type]))
    return error_response(415, "Content-Type must be application/json");
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> cors_headers(const Request& request, const GuardConfig& config) {
  auto it = request.find(bh::field::origin);
  if (it == request.end() || !origin_listed(it->value(), config)) return {};
  return {{"Access-Control-Allow-Origin", std::string(it->value())},
          {"Access-Control-Allow-Credentials", "true"},
          {"Vary", "Origin"}};
}

}  // namespace ostrel::http
