#include "packaging/release.hpp"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "packaging/interpreter.hpp"
#include "packaging/specifier.hpp"
#include "packaging/text.hpp"
#include "packaging/version.hpp"

namespace ostrel::packaging {
namespace json = boost::json;
namespace {

const char* type_name(const json::value& v) {
  switch (v.kind()) {
    case json::kind::null: return "null";
    case json::kind::bool_: return "bool";
    case json::kind::int64:
    case json::kind::uint64: return "int";
    case json::kind::double_: return "float";
    case json::kind::string: return "str";
    case json::kind::array: return "list";
    case json::kind::object: return "dict";
  }
  return "value";
}

void require_text(const json::value& v, const char* name, bool optional) {
  if (v.is_string() || (optional && v.is_null())) return;
  throw TypeError(std::string(name) + " must be a string" + (optional ? " or None" : "") + ", not " + type_name(v));
}

bool truthy(const json::value& v) {
  switch (v.kind()) {
    case json::kind::null: return false;
    case json::kind::bool_: return v.get_bool();
    case json::kind::int64: return v.get_int64() != 0;
    case json::kind::uint64: return v.get_uint64() != 0;
    case json::kind::double_: return v.get_double() != 0.0;
    case json::kind::string: return !v.get_string().empty();
    case json::kind::array: return !v.get_array().empty();
    case json::kind::object: return !v.get_object().empty();
  }
  return false;
}

const json::value& member(const json::object& o, std::string_view key) {
  static const json::value null_value;
  const json::value* v = o.if_contains(key);
  return v ? *v : null_value;
}

// An integer as the dot-separated segments of a version string are read:
// optional surrounding white space and sign, digits with single "_" between them.
struct Integer {
  bool negative = false;
  std::string digits;  // no leading zeros
};

std::optional<Integer> to_integer(std::string_view s) {
  s = text::strip(s);
  Integer n;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    n.negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || !text::is_digit(s.front()) || !text::is_digit(s.back())) return std::nullopt;
  std::string digits;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '_' && text::is_digit(s[i - 1]) && text::is_digit(s[i + 1])) continue;
    if (!text::is_digit(s[i])) return std::nullopt;
    digits += s[i];
  }
  n.digits = text::trim_zeros(digits);
  if (n.digits == "0") n.negative = false;
  return n;
}

std::strong_ordering compare(const Integer& a, const Integer& b) {
  if (a.negative != b.negative) return a.negative ? std::strong_ordering::less : std::strong_ordering::greater;
  const auto c = text::compare_numbers(a.digits, b.digits);
  return a.negative ? 0 <=> c : c;
}

std::optional<std::vector<Integer>> segments(std::string_view s) {
  std::vector<Integer> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i < s.size() && s[i] != '.') continue;
    auto n = to_integer(s.substr(start, i - start));
    if (!n) return std::nullopt;
    out.push_back(std::move(*n));
    start = i + 1;
  }
  return out;
}

bool any_wheel_not_yanked(const json::array& files) {
  return std::any_of(files.begin(), files.end(), [](const json::value& f) {
    const json::object* o = f.if_object();
    if (!o || truthy(member(*o, "yanked"))) return false;
    const json::value& type = member(*o, "packagetype");
    return type.is_string() && type.get_string() == "bdist_wheel";
  });
}

}  // namespace

const RunningInterpreter& installation_runtime() {
  static const RunningInterpreter runtime{
      [] {
        const auto& info = installation_interpreter();
        return info ? std::optional<std::string>(info->python_version) : std::nullopt;
      },
      [] {
        const auto& info = installation_interpreter();
        return info ? std::optional<TagSet>(TagSet(info->tags.begin(), info->tags.end())) : std::nullopt;
      }};
  return runtime;
}

bool version_newer(std::string_view latest, std::string_view current) {
  const auto a = segments(latest);
  const auto b = segments(current);
  if (!a || !b) return false;
  for (std::size_t i = 0; i < a->size() && i < b->size(); ++i)
    if (const auto c = compare((*a)[i], (*b)[i]); c != 0) return c > 0;
  return a->size() > b->size();
}

bool version_newer_value(const json::value& latest, const json::value& current) {
  require_text(latest, "latest", false);
  require_text(current, "current", false);
  return version_newer(std::string_view(latest.get_string()), std::string_view(current.get_string()));
}

namespace {

// Decides requires-python for one interpreter version. The version is resolved
// and parsed once, and each specifier text once, however many files share it.
class RequiresPythonCheck {
 public:
  RequiresPythonCheck(const json::value& python_version, const RunningInterpreter& running)
      : python_version_(python_version), running_(running) {}

  bool operator()(const json::value& requires_python) {
    require_text(requires_python, "requires_python", true);
    if (requires_python.is_null() || requires_python.get_string().empty()) return true;
    const Version* version = interpreter_version();
    if (!version) return true;  // cannot be decided: assume compatible
    const std::string_view requirement = requires_python.get_string();
    if (auto it = seen_.find(requirement); it != seen_.end()) return it->second;
    const auto set = SpecifierSet::parse(requirement);
    const bool ok = !set || set->contains(*version);
    seen_.emplace(std::string(requirement), ok);
    return ok;
  }

 private:
  const Version* interpreter_version() {
    if (!resolved_) {
      resolved_ = true;
      std::optional<std::string> text;
      if (python_version_.is_string() && !python_version_.get_string().empty())
        text = std::string(python_version_.get_string());
      else if (running_.python_version)
        text = running_.python_version();
      if (text)
        if (auto parsed = parse_version(*text)) version_ = std::move(parsed).value();
    }
    return version_ ? &*version_ : nullptr;
  }

  struct Hash : std::hash<std::string_view> {
    using is_transparent = void;
  };
  const json::value& python_version_;
  const RunningInterpreter& running_;
  bool resolved_ = false;
  std::optional<Version> version_;
  std::unordered_map<std::string, bool, Hash, std::equal_to<>> seen_;
};

bool has_compatible_wheel(const json::value& release_files, const TagSet* supported_tags,
                          RequiresPythonCheck& satisfies, const RunningInterpreter& running) {
  if (!release_files.is_null() && !release_files.is_array())
    throw TypeError(std::string("release_files must be a list or None, not ") + type_name(release_files));
  static const json::array no_files;
  const json::array& files = release_files.is_array() ? release_files.get_array() : no_files;

  std::optional<TagSet> own_tags;
  const TagSet* tags = supported_tags;
  if (!tags || tags->empty()) {
    if (running.supported_tags) own_tags = running.supported_tags();
    // Without the interpreter's tags, any wheel that is not yanked counts.
    if (!own_tags) return any_wheel_not_yanked(files);
    tags = &*own_tags;
  }

  for (const json::value& file : files) {
    const json::object* o = file.if_object();
    if (!o) continue;
    if (truthy(member(*o, "yanked"))) continue;
    const json::value& type = member(*o, "packagetype");
    if (!type.is_string() || type.get_string() != "bdist_wheel") continue;
    if (!satisfies(member(*o, "requires_python"))) continue;
    const json::value& name = member(*o, "filename");
    if (!name.is_string()) continue;  // the text form of any other value never ends with ".whl"
    const std::string_view filename = name.get_string();
    if (!filename.ends_with(".whl")) continue;
    const auto wheel = parse_wheel_filename(filename);
    if (!wheel) continue;
    for (const TagText& tag : wheel->tags)
      if (tags->contains(tag)) return true;
  }
  return false;
}

}  // namespace

bool python_satisfies_requires(const json::value& requires_python, const json::value& python_version,
                               const RunningInterpreter& running) {
  require_text(requires_python, "requires_python", true);
  require_text(python_version, "python_version", true);
  RequiresPythonCheck check(python_version, running);
  return check(requires_python);
}

bool release_has_compatible_wheel(const json::value& release_files, const TagSet* supported_tags,
                                  const json::value& python_version, const RunningInterpreter& running) {
  if (!release_files.is_null() && !release_files.is_array())
    throw TypeError(std::string("release_files must be a list or None, not ") + type_name(release_files));
  require_text(python_version, "python_version", true);
  RequiresPythonCheck check(python_version, running);
  return has_compatible_wheel(release_files, supported_tags, check, running);
}

std::optional<std::string> latest_compatible_release_version(const json::value& pypi_data, const TagSet* supported_tags,
                                                             const json::value& python_version,
                                                             const RunningInterpreter& running) {
  if (!pypi_data.is_object()) throw TypeError(std::string("pypi_data must be a dict, not ") + type_name(pypi_data));
  require_text(python_version, "python_version", true);
  const json::value& releases = member(pypi_data.get_object(), "releases");
  if (!truthy(releases)) return std::nullopt;
  if (!releases.is_object()) throw TypeError(std::string("releases must be a dict, not ") + type_name(releases));

  // The running interpreter's tags are the same for every release: fetch them once.
  std::optional<TagSet> own_tags;
  if ((!supported_tags || supported_tags->empty()) && running.supported_tags) {
    own_tags = running.supported_tags();
    if (own_tags && !own_tags->empty()) supported_tags = &*own_tags;
  }

  RequiresPythonCheck check(python_version, running);
  std::optional<Version> best;
  std::optional<std::string> best_key;
  for (const auto& [key, files] : releases.get_object()) {
    auto version = parse_version(key);
    if (!version) continue;
    if (!has_compatible_wheel(files, supported_tags, check, running)) continue;
    // Of equal versions the later key wins, as a stable ascending sort would leave it last.
    if (!best || *version >= *best) {
      best = std::move(version).value();
      best_key = std::string(key);
    }
  }
  return best_key;
}

}  // namespace ostrel::packaging
