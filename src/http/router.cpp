#include "http/router.hpp"

#include "http/http_error.hpp"
#include "http/records.hpp"
#include "http/url_path.hpp"

#include <boost/json/parse.hpp>
#include <boost/url/parse.hpp>
#include <spdlog/spdlog.h>

#include <algorithm>

namespace ostrel::http {
namespace json = boost::json;

ParamSpec query_text(std::string name) { return {std::move(name), ParamIn::query, ParamType::text, false, std::nullopt}; }
ParamSpec query_text_required(std::string name) {
  return {std::move(name), ParamIn::query, ParamType::text, true, std::nullopt};
}
ParamSpec query_integer(std::string name, std::int64_t fallback) {
  return {std::move(name), ParamIn::query, ParamType::integer, false, json::value(fallback)};
}
ParamSpec path_integer(std::string name) { return {std::move(name), ParamIn::path, ParamType::integer, true, std::nullopt}; }

BodySpec free_object_body() {
  BodySpec body_spec;
  body_spec.read = [](const json::value& body) -> std::variant<std::any, json::array> {
    if (body.is_object()) return std::any(body.get_object());
    return json::array{records::field_error("dict_type", json::array{"body"}, "Input should be a valid dictionary", body)};
  };
  body_spec.schema = [] { return json::object{{"type", "object"}, {"additionalProperties", true}}; };
  return body_spec;
}

// ---- Call ----

const json::value* Call::find(std::string_view name) const {
  for (const auto& [key, value] : params_)
    if (key == name) return &value;
  return nullptr;
}

std::optional<std::string> Call::text(std::string_view name) const {
  const json::value* v = find(name);
  if (v == nullptr || !v->is_string()) return std::nullopt;
  return std::string(v->get_string());
}

const std::string& Call::path(std::string_view name) const {
  for (const auto& [key, value] : path_texts_)
    if (key == name) return value;
  throw std::logic_error("no path parameter " + std::string(name));
}

std::int64_t Call::integer(std::string_view name) const {
  const json::value* v = find(name);
  if (v == nullptr || !v->is_int64()) throw std::logic_error("no integer parameter " + std::string(name));
  return v->get_int64();
}

// ---- path templates ----

namespace {



const ParamSpec* find_spec(const Route& route, std::string_view name, ParamIn in) {
  for (const auto& param : route.params)
    if (param.name == name && param.in == in) return &param;
  return nullptr;
}

void convert(const ParamSpec& param, std::string_view where, const std::string& text,
             std::vector<std::pair<std::string, json::value>>& out, json::array& errors) {
  if (param.type == ParamType::integer) {
    if (auto v = records::parse_integer_text(text)) {
      out.emplace_back(param.name, *v);
    } else {
      errors.push_back(records::field_error("int_parsing", json::array{where, param.name},
                                            "Input should be a valid integer, unable to parse string as an integer",
                                            json::string(text)));
    }
  } else {
    out.emplace_back(param.name, json::string(text));
  }
}

// Holds a handler's result to its declared kind.
std::optional<std::string> kind_problem(Returns kind, const json::value& v) {
  auto all = [](const auto& range, auto pred) { return std::all_of(range.begin(), range.end(), pred); };
  switch (kind) {
    case Returns::mapping:
    case Returns::mapping_or_null:
      if (v.is_object() || v.is_null()) return std::nullopt;
      return "a mapping";
    case Returns::text_mapping:
      if (v.is_null() || (v.is_object() && all(v.get_object(), [](const auto& kv) { return kv.value().is_string(); })))
        return std::nullopt;
      return "a mapping of texts";
    case Returns::mapping_list:
      if (v.is_null() || (v.is_array() && all(v.get_array(), [](const json::value& item) { return item.is_object(); })))
        return std::nullopt;
      return "a list of mappings";
    case Returns::file:
    case Returns::own_response:
      return "a response";
  }
  return "a known kind";
}

}  // namespace

// ---- Router ----

Router::Pattern Router::compile(std::string_view path_template) {
  Pattern segments;
  for (auto part : split_path(path_template)) {
    if (part.size() >= 2 && part.front() == '{' && part.back() == '}') {
      std::string_view inner = part.substr(1, part.size() - 2);
      if (inner.ends_with(":path")) segments.push_back({Segment::Kind::rest, std::string(inner.substr(0, inner.size() - 5))});
      else segments.push_back({Segment::Kind::param, std::string(inner)});
    } else {
      segments.push_back({Segment::Kind::literal, std::string(part)});
    }
  }
  return segments;
}

// Matches decoded segments against a template; fills the parameter values.
bool Router::match_segments(const Pattern& pattern, const std::vector<std::string>& parts,
                    std::vector<std::pair<std::string, std::string>>& values) {
  values.clear();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const Segment& seg = pattern[i];
    if (seg.kind == Segment::Kind::rest) {
      if (i >= parts.size()) return false;
      std::string rest;
      for (std::size_t k = i; k < parts.size(); ++k) {
        if (k > i) rest += '/';
        rest += parts[k];
      }
      values.emplace_back(seg.text, std::move(rest));
      return true;
    }
    if (i >= parts.size()) return false;
    if (seg.kind == Segment::Kind::literal) {
      if (parts[i] != seg.text) return false;
    } else {
      if (parts[i].empty()) return false;
      values.emplace_back(seg.text, parts[i]);
    }
  }
  return pattern.size() == parts.size();
}


Router& Router::add(Route route) {
  route.path = prefix_ + route.path;
  patterns_.push_back(compile(route.path));
  routes_.push_back(std::move(route));
  return *this;
}

Router& Router::include(const Router& other, std::string_view mount_prefix) {
  for (Route route : other.routes_) {
    route.path = std::string(mount_prefix) + route.path;
    patterns_.push_back(compile(route.path));
    routes_.push_back(std::move(route));
  }
  return *this;
}

Match Router::match(Verb method, std::string_view raw_path) const {
  std::vector<std::string> parts;
  for (auto raw : split_path(raw_path)) parts.push_back(percent_decode(raw));
  Match result;
  std::vector<std::pair<std::string, std::string>> values;
  for (std::size_t i = 0; i < routes_.size(); ++i) {
    const Route& route = routes_[i];
    if (!match_segments(patterns_[i], parts, values)) continue;
    if (route.method == method) {
      result.route = &route;
      result.path_values = std::move(values);
      return result;
    }
    if (std::find(result.allowed.begin(), result.allowed.end(), route.method) == result.allowed.end())
      result.allowed.push_back(route.method);
  }
  return result;
}

boost::asio::awaitable<Response> Router::dispatch(const Request& request) const {
  std::string_view target = request.target();
  co_return co_await dispatch(match(request.method(), target.substr(0, target.find('?'))), request);
}

boost::asio::awaitable<Response> Router::dispatch(const Match& match, const Request& request) const {
  if (match.route == nullptr) {
    if (match.allowed.empty()) co_return error_response(404, "Not Found");
    Response r = error_response(405, "Method Not Allowed");
    std::string allow;
    for (Verb v : match.allowed) allow += (allow.empty() ? "" : ", ") + std::string(boost::beast::http::to_string(v));
    r.headers.emplace_back("Allow", std::move(allow));
    co_return r;
  }
  const Route& route = *match.route;
  json::array errors;
  std::vector<std::pair<std::string, json::value>> params;
  std::vector<std::pair<std::string, std::string>> path_texts = match.path_values;

  for (const auto& [name, text] : match.path_values) {
    const ParamSpec* param = find_spec(route, name, ParamIn::path);
    ParamSpec as_text{name, ParamIn::path, ParamType::text, true, std::nullopt};
    convert(param ? *param : as_text, "path", text, params, errors);
  }

  std::vector<std::pair<std::string, std::string>> query;
  std::string_view target = request.target();
  if (auto q = target.find('?'); q != std::string_view::npos) {
    auto parsed = boost::urls::parse_origin_form(target);
    if (parsed) {
      for (auto param : parsed->params()) query.emplace_back(param.key, param.has_value ? param.value : "");
    }
  }
  for (const ParamSpec& param : route.params) {
    if (param.in != ParamIn::query) continue;
    const std::string* given = nullptr;
    for (const auto& [key, value] : query)
      if (key == param.name) given = &value;  // the last one wins
    if (given != nullptr) convert(param, "query", *given, params, errors);
    else if (param.default_value) params.emplace_back(param.name, *param.default_value);
    else if (param.required)
      errors.push_back(records::field_error("missing", json::array{"query", param.name}, "Field required", nullptr));
    else params.emplace_back(param.name, nullptr);
  }

  std::any body;
  if (route.body) {
    if (request.body().empty()) {
      errors.push_back(records::field_error("missing", json::array{"body"}, "Field required", nullptr));
    } else {
      boost::system::error_code ec;
      json::value parsed = json::parse(request.body(), ec);
      if (ec) {
        json::object err = records::field_error("json_invalid", json::array{"body"}, "JSON decode error", json::object{});
        err["ctx"] = json::object{{"error", ec.message()}};
        errors.push_back(std::move(err));
      } else {
        auto read = route.body->read(parsed);
        if (auto* failing = std::get_if<json::array>(&read)) {
          for (auto& e : *failing) errors.push_back(std::move(e));
        } else {
          body = std::move(std::get<std::any>(read));
        }
      }
    }
  }
  if (!errors.empty()) co_return json_response(json::object{{"detail", std::move(errors)}}, 422);

  Call call(request, std::move(params), std::move(path_texts), std::move(body));
  std::optional<Result> result;
  std::optional<Response> failure;
  try {
    result = co_await route.handler(call);
  } catch (const HttpError& e) {
    failure = error_response(e.status, e.detail);
  } catch (const std::exception& e) {
    spdlog::error("{} {} ({}) failed: {}", boost::beast::http::to_string(route.method), route.path, route.name, e.what());
    failure = error_response(500, "Internal Server Error");
  }
  if (failure) co_return std::move(*failure);

  if (auto* response = std::get_if<Response>(&*result)) {
    if (route.result == Returns::file || route.result == Returns::own_response) co_return std::move(*response);
    spdlog::error("{} {} ({}) answered a response object where a JSON value was declared",
                  boost::beast::http::to_string(route.method), route.path, route.name);
    co_return error_response(500, "Internal Server Error");
  }
  const json::value& value = std::get<json::value>(*result);
  if (auto problem = kind_problem(route.result, value)) {
    spdlog::error("{} {} ({}) answered a {} where {} was declared", boost::beast::http::to_string(route.method),
                  route.path, route.name, to_string(value.kind()), *problem);
    co_return error_response(500, "Internal Server Error");
  }
  co_return json_response(value);
}

}  // namespace ostrel::http
