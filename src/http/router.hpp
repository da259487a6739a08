#pragma once
// Ordered routes with path templates, typed path and query parameters, at most one JSON body,
// and a declared result kind. Dispatch validates everything before the handler runs.
#include "http/response.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include <any>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ostrel::http {

using Request = boost::beast::http::request<boost::beast::http::string_body>;
using Verb = boost::beast::http::verb;

enum class ParamIn { path, query };
enum class ParamType { text, integer };

// One declared path or query parameter. A query parameter with neither a default nor
// `required` is optional: left out, it is absent.
struct ParamSpec {
  std::string name;
  ParamIn in = ParamIn::query;
  ParamType type = ParamType::text;
  bool required = false;
  std::optional<boost::json::value> default_value;
};

ParamSpec query_text(std::string name);                       // optional text
ParamSpec query_text_required(std::string name);              // required text
ParamSpec query_integer(std::string name, std::int64_t fallback);
ParamSpec path_integer(std::string name);                     // a path segment that must be an integer

// The declared body: a record read field by field, or a free JSON object.
struct BodySpec {
  using Reader = std::function<std::variant<std::any, boost::json::array>(const boost::json::value&)>;
  std::string record_name;  // empty for a free JSON object
  Reader read;              // record or the list of failing fields (422 details)
  std::function<boost::json::object()> schema;
};
BodySpec free_object_body();

// What a handler declares it returns; the router holds every answer to it.
enum class Returns { mapping, text_mapping, mapping_list, mapping_or_null, file, own_response };

class Call;
using Result = std::variant<boost::json::value, Response>;
using Handler = std::function<boost::asio::awaitable<Result>(Call&)>;

struct Route {
  Verb method;
  std::string path;  // template: "/plans/{plan_id}", "/files/{file_path:path}"
  std::string name;  // handler name, the route's operationId
  Handler handler;
  Returns result;
  std::vector<ParamSpec> params = {};  // path segments not listed here are text
  std::optional<BodySpec> body = {};
  std::string description = {};
};

// A request after validation, as a handler sees it.
class Call {
 public:
  Call(const Request& request, std::vector<std::pair<std::string, boost::json::value>> params,
       std::vector<std::pair<std::string, std::string>> path_texts, std::any body)
      : request_(request), params_(std::move(params)), path_texts_(std::move(path_texts)), body_(std::move(body)) {}

  const Request& request() const { return request_; }
  // A text path or query parameter; absent when an optional query parameter was left out.
  std::optional<std::string> text(std::string_view name) const;
  // A path parameter (always present once matched).
  const std::string& path(std::string_view name) const;
  // An integer parameter (declared with a default or required, so always present).
  std::int64_t integer(std::string_view name) const;

  template <class Record>
  const Record& body() const { return std::any_cast<const Record&>(body_); }
  const boost::json::object& json_body() const { return std::any_cast<const boost::json::object&>(body_); }

 private:
  const boost::json::value* find(std::string_view name) const;
  const Request& request_;
  std::vector<std::pair<std::string, boost::json::value>> params_;
  std::vector<std::pair<std::string, std::string>> path_texts_;
  std::any body_;
};

// Result of matching a method and path against the table.
struct Match {
  const Route* route = nullptr;                                // null: no route for this method
  std::vector<std::pair<std::string, std::string>> path_values;  // decoded path parameters
  std::vector<Verb> allowed;                                     // methods of a known path (405)
  bool takes_body() const { return route != nullptr && route->body.has_value(); }
};

class Router {
 public:
  Router() = default;
  explicit Router(std::string prefix) : prefix_(std::move(prefix)) {}

  Router& add(Route route);
  // Appends every route of `other`, with `mount_prefix` put before its own prefix.
  Router& include(const Router& other, std::string_view mount_prefix = "");

  const std::vector<Route>& routes() const { return routes_; }
  const std::string& prefix() const { return prefix_; }

  // Finds the route for a method and a raw (still percent-encoded) path without its query.
  Match match(Verb method, std::string_view raw_path) const;
  // Validates parameters and body, runs the handler and shapes its result. Never throws.
  boost::asio::awaitable<Response> dispatch(const Request& request) const;
  boost::asio::awaitable<Response> dispatch(const Match& match, const Request& request) const;

 private:
  struct Segment {
    enum class Kind { literal, param, rest } kind;
    std::string text;  // literal text or parameter name
  };
  using Pattern = std::vector<Segment>;
  static Pattern compile(std::string_view path_template);
  static bool match_segments(const Pattern& pattern, const std::vector<std::string>& parts,
                             std::vector<std::pair<std::string, std::string>>& values);

  std::string prefix_;
  std::vector<Route> routes_;
  std::vector<Pattern> patterns_;  // routes_[i]'s compiled path
};

}  // namespace ostrel::http
