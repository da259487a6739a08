#pragma once
// The generic request-body reader. A record is a plain struct with default member
// initialisers, described with BOOST_DESCRIBE_STRUCT, naming its required fields in
// `kRequired`. Reading fills defaults, accepts null only for optional fields, ignores
// unknown keys and reports every failing field in the 422 detail shape.
#include "http/router.hpp"

#include <boost/describe.hpp>
#include <boost/json.hpp>
#include <boost/mp11/algorithm.hpp>

#include <algorithm>
#include <any>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace ostrel::http {

// A JSON object whose values are all texts ("mapping from text to text").
struct TextMapping {
  boost::json::object values;
};

namespace records {

namespace json = boost::json;

// One failing field: {"type", "loc", "msg", "input"}.
inline json::object field_error(std::string_view type, const json::array& loc, std::string_view msg,
                                const json::value& input) {
  return json::object{{"type", type}, {"loc", loc}, {"msg", msg}, {"input", input}};
}

inline json::array with(const json::array& loc, json::value part) {
  json::array out = loc;
  out.push_back(std::move(part));
  return out;
}

// Integer from a JSON integer, an integral float or a decimal text.
inline std::optional<std::int64_t> parse_integer_text(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

inline void read(const json::value& in, std::string& out, const json::array& loc, json::array& errors) {
  if (in.is_string()) out = std::string(in.get_string());
  else errors.push_back(field_error("string_type", loc, "Input should be a valid string", in));
}

inline void read(const json::value& in, std::int64_t& out, const json::array& loc, json::array& errors) {
  if (in.is_int64()) { out = in.get_int64(); return; }
  if (in.is_uint64()) {
    if (in.get_uint64() <= static_cast<std::uint64_t>(INT64_MAX)) { out = static_cast<std::int64_t>(in.get_uint64()); return; }
  } else if (in.is_double()) {
    double d = in.get_double();
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18) { out = static_cast<std::int64_t>(d); return; }
    errors.push_back(field_error("int_from_float", loc, "Input should be a valid integer, got a number with a fractional part", in));
    return;
  } else if (in.is_string()) {
    if (auto v = parse_integer_text(in.get_string())) { out = *v; return; }
    errors.push_back(field_error("int_parsing", loc, "Input should be a valid integer, unable to parse string as an integer", in));
    return;
  }
  errors.push_back(field_error("int_type", loc, "Input should be a valid integer", in));
}

inline void read(const json::value& in, bool& out, const json::array& loc, json::array& errors) {
  if (in.is_bool()) { out = in.get_bool(); return; }
  if (in.is_int64() || in.is_uint64()) {
    auto n = in.to_number<double>();
    if (n == 0 || n == 1) { out = n == 1; return; }
    errors.push_back(field_error("bool_parsing", loc, "Input should be a valid boolean, unable to interpret input", in));
    return;
  }
  if (in.is_string()) {
    std::string text(in.get_string());
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    for (std::string_view yes : {"true", "1", "yes", "on", "t", "y"})
      if (text == yes) { out = true; return; }
    for (std::string_view no : {"false", "0", "no", "off", "f", "n"})
      if (text == no) { out = false; return; }
    errors.push_back(field_error("bool_parsing", loc, "Input should be a valid boolean, unable to interpret input", in));
    return;
  }
  errors.push_back(field_error("bool_type", loc, "Input should be a valid boolean", in));
}

inline void read(const json::value& in, json::object& out, const json::array& loc, json::array& errors) {
  if (in.is_object()) out = in.get_object();
  else errors.push_back(field_error("dict_type", loc, "Input should be a valid dictionary", in));
}

inline void read(const json::value& in, TextMapping& out, const json::array& loc, json::array& errors) {
  if (!in.is_object()) {
    errors.push_back(field_error("dict_type", loc, "Input should be a valid dictionary", in));
    return;
  }
  bool ok = true;
  for (const auto& [key, item] : in.get_object()) {
    if (!item.is_string()) {
      errors.push_back(field_error("string_type", with(loc, json::string(key)), "Input should be a valid string", item));
      ok = false;
    }
  }
  if (ok) out.values = in.get_object();
}

template <class T>
void read(const json::value& in, std::vector<T>& out, const json::array& loc, json::array& errors) {
  if (!in.is_array()) {
    errors.push_back(field_error("list_type", loc, "Input should be a valid list", in));
    return;
  }
  std::vector<T> items;
  std::size_t before = errors.size();
  std::int64_t index = 0;
  for (const auto& item : in.get_array()) {
    T value{};
    read(item, value, with(loc, index++), errors);
    items.push_back(std::move(value));
  }
  if (errors.size() == before) out = std::move(items);
}

template <class T>
void read(const json::value& in, std::optional<T>& out, const json::array& loc, json::array& errors) {
  if (in.is_null()) { out.reset(); return; }
  T value{};
  std::size_t before = errors.size();
  read(in, value, loc, errors);
  if (errors.size() == before) out = std::move(value);
}

// JSON Schema of a field type, for the API documentation.
template <class T> struct Schema;
template <> struct Schema<std::string> { static json::object get() { return {{"type", "string"}}; } };
template <> struct Schema<std::int64_t> { static json::object get() { return {{"type", "integer"}}; } };
template <> struct Schema<bool> { static json::object get() { return {{"type", "boolean"}}; } };
template <> struct Schema<json::object> { static json::object get() { return {{"type", "object"}, {"additionalProperties", true}}; } };
template <> struct Schema<TextMapping> {
  static json::object get() { return {{"type", "object"}, {"additionalProperties", {{"type", "string"}}}}; }
};
template <class T> struct Schema<std::vector<T>> {
  static json::object get() { return {{"type", "array"}, {"items", Schema<T>::get()}}; }
};
template <class T> struct Schema<std::optional<T>> {
  static json::object get() { return {{"anyOf", json::array{Schema<T>::get(), json::object{{"type", "null"}}}}}; }
};

template <class T> json::value default_json(const T& v) { return json::value_from(v); }
inline json::value default_json(const TextMapping& v) { return v.values; }
template <class T> json::value default_json(const std::optional<T>& v);
template <class T> json::value default_json(const std::vector<T>& v) {
  json::array out;
  for (const auto& item : v) out.push_back(default_json(item));
  return out;
}
template <class T> json::value default_json(const std::optional<T>& v) { return v ? default_json(*v) : json::value(nullptr); }

template <class Record>
bool is_required(std::string_view field) {
  return std::find(std::begin(Record::kRequired), std::end(Record::kRequired), field) != std::end(Record::kRequired);
}

}  // namespace records

// Reads a record from a request body: the record, or the list of failing fields.
template <class Record>
std::variant<Record, boost::json::array> read_record(const boost::json::value& body) {
  namespace json = boost::json;
  json::array errors;
  if (!body.is_object()) {
    errors.push_back(records::field_error("model_attributes_type", json::array{"body"},
                                          "Input should be a valid dictionary or object to extract fields from", body));
    return errors;
  }
  const auto& object = body.get_object();
  Record record{};
  boost::mp11::mp_for_each<boost::describe::describe_members<Record, boost::describe::mod_public>>([&](auto member) {
    json::array loc{"body", member.name};
    if (const json::value* in = object.if_contains(member.name)) {
      records::read(*in, record.*member.pointer, loc, errors);
    } else if (records::is_required<Record>(member.name)) {
      errors.push_back(records::field_error("missing", loc, "Field required", nullptr));
    }
  });
  if (!errors.empty()) return errors;
  return record;
}

// The JSON Schema of a record, from the same description the reader uses.
template <class Record>
boost::json::object record_schema() {
  namespace json = boost::json;
  json::object properties;
  json::array required;
  const Record defaults{};
  boost::mp11::mp_for_each<boost::describe::describe_members<Record, boost::describe::mod_public>>([&](auto member) {
    using Field = std::remove_cvref_t<decltype(defaults.*member.pointer)>;
    json::object field = records::Schema<Field>::get();
    field["title"] = member.name;
    if (records::is_required<Record>(member.name)) required.push_back(json::string(member.name));
    else field["default"] = records::default_json(defaults.*member.pointer);
    properties[member.name] = std::move(field);
  });
  json::object schema{{"type", "object"}, {"properties", std::move(properties)}};
  if (!required.empty()) schema["required"] = std::move(required);
  return schema;
}

template <class Record>
BodySpec record_body(std::string name) {
  BodySpec body_spec;
  body_spec.record_name = std::move(name);
  body_spec.read = [](const boost::json::value& body) -> std::variant<std::any, boost::json::array> {
    auto result = read_record<Record>(body);
    if (auto* errors = std::get_if<boost::json::array>(&result)) return std::move(*errors);
    return std::any(std::move(std::get<Record>(result)));
  };
  body_spec.schema = [] { return record_schema<Record>(); };
  return body_spec;
}

}  // namespace ostrel::http
