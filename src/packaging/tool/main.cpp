// ostrel-packaging: the release compatibility rules as a JSON-lines service.
// Reads one request object per line on stdin and writes one answer line per
// request on stdout, flushed at once, so other tools can check the rules and
// users can debug an update decision.

#include <cstring>
#include <iostream>
#include <string>

#include <boost/json.hpp>

#include "packaging/interpreter.hpp"
#include "packaging/release.hpp"
#include "packaging/specifier.hpp"
#include "packaging/tags.hpp"
#include "packaging/version.hpp"
#include "packaging/wheel.hpp"

namespace json = boost::json;
namespace pk = ostrel::packaging;

namespace {

struct RequestError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Stands in for a build number too long for a JSON integer of the parser; replaced by its digits.
constexpr std::string_view kBuildMarker = "\x01build\x01";

const json::value& arg(const json::object& request, std::string_view key) {
  static const json::value null_value;
  const json::value* v = request.if_contains(key);
  return v ? *v : null_value;
}

std::string text_arg(const json::object& request, std::string_view key) {
  const json::value& v = arg(request, key);
  if (!v.is_string()) throw RequestError("\"" + std::string(key) + "\" must be a string");
  return std::string(v.get_string());
}

pk::Version version_arg(const json::object& request, std::string_view key) {
  auto v = pk::parse_version(text_arg(request, key));
  if (!v) throw RequestError(v.error());
  return std::move(v).value();
}

std::optional<pk::TagSet> tags_arg(const json::object& request) {
  const json::value& v = arg(request, "supported_tags");
  if (v.is_null()) return std::nullopt;
  if (!v.is_array()) throw pk::TypeError("supported_tags must be a set of tags or None");
  pk::TagSet tags;
  for (const json::value& t : v.get_array()) {
    if (!t.is_string()) throw pk::TypeError("supported_tags must hold tag texts");
    auto parsed = pk::parse_tag(t.get_string());
    if (!parsed) throw RequestError(parsed.error());
    tags.insert(parsed->begin(), parsed->end());
  }
  return tags;
}

json::value wheel_result(const pk::WheelName& w) {
  json::array tags;
  for (const auto& t : w.tags) tags.emplace_back(t);
  json::value build = nullptr;
  if (w.build) build = json::array{json::string(kBuildMarker), json::string(w.build->rest)};
  return json::object{{"name", w.name}, {"version", w.version.str()}, {"build", std::move(build)}, {"tags", std::move(tags)}};
}

json::value handle(const json::object& request) {
  const std::string op = text_arg(request, "op");
  if (op == "parse") return json::string(version_arg(request, "version").str());
  if (op == "compare") {
    const auto c = version_arg(request, "a") <=> version_arg(request, "b");
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  if (op == "contains") {
    auto set = pk::SpecifierSet::parse(text_arg(request, "specifier"));
    if (!set) throw RequestError(set.error());
    const pk::Version v = version_arg(request, "version");
    const json::value& pre = arg(request, "prereleases");
    if (!pre.is_null() && !pre.is_bool()) throw RequestError("\"prereleases\" must be null, true or false");
    return set->contains(v, pre.is_bool() ? std::optional<bool>(pre.get_bool()) : std::nullopt);
  }
  if (op == "wheel") {
    auto w = pk::parse_wheel_filename(text_arg(request, "filename"));
    if (!w) throw RequestError(w.error());
    return wheel_result(*w);
  }
  if (op == "version_newer") return pk::version_newer_value(arg(request, "latest"), arg(request, "current"));
  if (op == "python_satisfies_requires")
    return pk::python_satisfies_requires(arg(request, "requires_python"), arg(request, "python_version"));
  if (op == "release_has_compatible_wheel") {
    const auto tags = tags_arg(request);
    return pk::release_has_compatible_wheel(arg(request, "release_files"), tags ? &*tags : nullptr,
                                            arg(request, "python_version"));
  }
  if (op == "latest_compatible_release_version") {
    const auto tags = tags_arg(request);
    auto latest = pk::latest_compatible_release_version(arg(request, "pypi_data"), tags ? &*tags : nullptr,
                                                        arg(request, "python_version"));
    return latest ? json::value(json::string(*latest)) : json::value(nullptr);
  }
  if (op == "tags") {
    std::vector<pk::TagText> tags;
    if (const json::value* facts_json = request.if_contains("interpreter")) {
      auto facts = pk::facts_from_json(*facts_json);
      if (!facts) throw RequestError(facts.error());
      auto computed = pk::supported_tags(*facts);
      if (!computed) throw RequestError(computed.error());
      tags = std::move(computed).value();
    } else {
      const auto& info = pk::installation_interpreter();
      if (!info) throw RequestError(info.error());
      tags = info->tags;
    }
    json::array out;
    for (auto& t : tags) out.emplace_back(std::move(t));
    return out;
  }
  throw RequestError("unknown op: " + op);
}

std::string answer(const std::string& line) {
  try {
    boost::system::error_code ec;
    const json::value request = json::parse(line, ec);
    if (ec) return json::serialize(json::object{{"ok", false}, {"error", "malformed request: " + ec.message()}});
    if (!request.is_object()) return json::serialize(json::object{{"ok", false}, {"error", "a request must be a JSON object"}});
    const json::value result = handle(request.get_object());
    std::string out = json::serialize(json::object{{"ok", true}, {"result", result}});
    // A build number may exceed every integer type; it is written as its digits.
    if (const auto& o = request.get_object(); o.if_contains("op") && o.at("op") == "wheel" && result.at("build").is_array()) {
      const std::string marker = json::serialize(json::string(kBuildMarker));
      auto w = pk::parse_wheel_filename(o.at("filename").get_string());
      out.replace(out.find(marker), marker.size(), w->build->number);
    }
    return out;
  } catch (const std::exception& e) {
    return json::serialize(json::object{{"ok", false}, {"error", e.what()}});
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--python") == 0 && i + 1 < argc) {
      pk::set_installation_python(argv[++i]);
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << "usage: ostrel-packaging [--python INTERPRETER]\n"
                   "Reads JSON requests, one per line, on stdin; writes one JSON answer per line.\n"
                   "The interpreter (default $OSTREL_PYTHON, else python3) is probed for the \"tags\" op\n"
                   "and wherever a request leaves the interpreter version or tags out.\n";
      return 0;
    } else {
      std::cerr << "ostrel-packaging: unknown argument " << argv[i] << "\n";
      return 2;
    }
  }
  std::ios::sync_with_stdio(false);
  std::string line;
  while (std::getline(std::cin, line)) std::cout << answer(line) << '\n' << std::flush;
  return 0;
}
