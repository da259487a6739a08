#include "http/openapi.hpp"

#include "http/json_text.hpp"

#include <boost/json.hpp>

#include <memory>

namespace ostrel::http {
namespace json = boost::json;

namespace {

json::object validation_error_schemas() {
  return json::parse(R"({
    "ValidationError": {
      "type": "object", "title": "ValidationError", "required": ["loc", "msg", "type"],
      "properties": {
        "loc": {"type": "array", "items": {"anyOf": [{"type": "string"}, {"type": "integer"}]}},
        "msg": {"type": "string"}, "type": {"type": "string"}, "input": {}
      }
    },
    "HTTPValidationError": {
      "type": "object", "title": "HTTPValidationError",
      "properties": {"detail": {"type": "array", "items": {"$ref": "#/components/schemas/ValidationError"}}}
    }
  })").as_object();
}

json::object result_schema(Returns kind) {
  json::object any_object{{"type", "object"}, {"additionalProperties", true}};
  switch (kind) {
    case Returns::mapping: return any_object;
    case Returns::text_mapping: return {{"type", "object"}, {"additionalProperties", {{"type", "string"}}}};
    case Returns::mapping_list: return {{"type", "array"}, {"items", any_object}};
    case Returns::mapping_or_null: return {{"anyOf", json::array{any_object, {{"type", "null"}}}}};
    case Returns::file: return {{"type", "string"}, {"format", "binary"}};
    case Returns::own_response: return {};
  }
  return {};
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "/files/{file_path:path}" is written "/files/{file_path}" in the document.
std::string document_path(std::string_view path) {
  std::string out;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path.compare(i, 6, ":path}") == 0) {
      out += '}';
      i += 5;
    } else {
      out += path[i];
    }
  }
  return out;
}

json::array parameters_of(const Route& route, std::string_view path) {
  json::array params;
  // Path parameters, in template order.
  for (std::size_t open = path.find('{'); open != std::string_view::npos; open = path.find('{', open + 1)) {
    std::size_t close = path.find('}', open);
    std::string name(path.substr(open + 1, close - open - 1));
    bool integer = false;
    for (const auto& param : route.params)
      if (param.in == ParamIn::path && param.name == name) integer = param.type == ParamType::integer;
    params.push_back({{"name", name}, {"in", "path"}, {"required", true},
                      {"schema", {{"type", integer ? "integer" : "string"}, {"title", name}}}});
  }
  for (const auto& param : route.params) {
    if (param.in != ParamIn::query) continue;
    json::object schema{{"type", param.type == ParamType::integer ? "integer" : "string"}, {"title", param.name}};
    if (param.default_value) schema["default"] = *param.default_value;
    else if (!param.required) schema = {{"anyOf", json::array{{{"type", schema["type"]}}, {{"type", "null"}}}}, {"title", param.name}};
    params.push_back({{"name", param.name}, {"in", "query"}, {"required", param.required}, {"schema", std::move(schema)}});
  }
  return params;
}

}  // namespace

json::object openapi_document(const Router& router, std::string_view title, std::string_view version) {
  json::object paths;
  json::object schemas = validation_error_schemas();
  for (const Route& route : router.routes()) {
    std::string path = document_path(route.path);
    json::object operation{{"operationId", route.name}, {"summary", route.name}};
    if (!route.description.empty()) operation["description"] = route.description;
    json::array params = parameters_of(route, path);
    if (!params.empty()) operation["parameters"] = std::move(params);
    if (route.body) {
      json::object schema;
      if (route.body->record_name.empty()) {
        schema = route.body->schema();
      } else {
        json::object record = route.body->schema();
        record["title"] = route.body->record_name;
        schemas[route.body->record_name] = std::move(record);
        schema = {{"$ref", "#/components/schemas/" + route.body->record_name}};
      }
      operation["requestBody"] = {{"required", true}, {"content", {{"application/json", {{"schema", std::move(schema)}}}}}};
    }
    json::object ok{{"description", "Successful Response"}};
    if (route.result == Returns::file) ok["content"] = {{"application/octet-stream", {{"schema", result_schema(route.result)}}}};
    else ok["content"] = {{"application/json", {{"schema", result_schema(route.result)}}}};
    json::object responses{{"200", std::move(ok)}};
    if (!params.empty() || route.body || operation.contains("parameters"))
      responses["422"] = {{"description", "Validation Error"},
                          {"content", {{"application/json", {{"schema", {{"$ref", "#/components/schemas/HTTPValidationError"}}}}}}}};
    operation["responses"] = std::move(responses);
    json::value& item = paths[path];
    if (!item.is_object()) item = json::object{};
    item.get_object()[lower(boost::beast::http::to_string(route.method))] = std::move(operation);
  }
  return {{"openapi", "3.1.0"},
          {"info", {{"title", title}, {"version", version}}},
          {"paths", std::move(paths)},
          {"components", {{"schemas", std::move(schemas)}}}};
}

Route openapi_route(const Router& documented, std::string title, std::string version) {
  auto cached = std::make_shared<std::string>();
  Route route;
  route.method = Verb::get;
  route.path = "/openapi.json";
  route.name = "openapi";
  route.result = Returns::own_response;
  route.description = "The OpenAPI document of this API.";
  route.handler = [&documented, cached, title = std::move(title), version = std::move(version)](
                      Call&) -> boost::asio::awaitable<Result> {
    if (cached->empty()) *cached = to_json(openapi_document(documented, title, version));
    co_return raw_response(*cached, "application/json");
  };
  return route;
}

}  // namespace ostrel::http
