#include "components/config/config.hpp"

#include "http/json_text.hpp"

#include <boost/describe/members.hpp>
#include <boost/json.hpp>
#include <boost/mp11/algorithm.hpp>
#include <spdlog/spdlog.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <system_error>
#include <type_traits>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::config {
namespace json = boost::json;
namespace fs = std::filesystem;

const std::vector<std::pair<std::string, std::string>> PROVIDER_ENV_VARS = {
    {"anthropic", "ANTHROPIC_API_KEY"},   {"openai", "OPENAI_API_KEY"},
    {"google", "GOOGLE_API_KEY"},         {"openrouter", "OPENROUTER_API_KEY"},
    {"groq", "GROQ_API_KEY"},             {"mistral", "MISTRAL_API_KEY"},
    {"deepseek", "DEEPSEEK_API_KEY"},     {"xai", "XAI_API_KEY"},
};

std::optional<std::string> provider_env_var(std::string_view provider) {
  for (const auto& [name, variable] : PROVIDER_ENV_VARS)
    if (name == provider) return variable;
  return std::nullopt;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Typed values <-> JSON, generic over the described sections.

template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};
template <class T>
struct is_vector : std::false_type {};
template <class T>
struct is_vector<std::vector<T>> : std::true_type {};
template <class T>
struct is_ordered_map : std::false_type {};
template <class V>
struct is_ordered_map<OrderedMap<V>> : std::true_type {};

template <class T>
constexpr bool is_record = boost::describe::has_describe_members<T>::value;

template <class T>
using public_members = boost::describe::describe_members<T, boost::describe::mod_public>;

template <class T>
json::value to_json(const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    return json::value(value);
  } else if constexpr (std::is_same_v<T, int>) {
    return json::value(static_cast<std::int64_t>(value));
  } else if constexpr (std::is_same_v<T, std::string>) {
    return json::value(value);
  } else if constexpr (is_optional<T>::value) {
    return value ? to_json(*value) : json::value(nullptr);
  } else if constexpr (is_vector<T>::value) {
    json::array out;
    for (const auto& item : value) out.push_back(to_json(item));
    return out;
  } else if constexpr (is_ordered_map<T>::value) {
    json::object out;
    for (const auto& [name, item] : value) out[name] = to_json(item);
    return out;
  } else {
    static_assert(is_record<T>, "no JSON form for this settings type");
    json::object out;
    boost::mp11::mp_for_each<public_members<T>>(
        [&](auto member) { out[member.name] = to_json(value.*member.pointer); });
    return out;
  }
}

[[noreturn]] void refuse(const std::string& field, const char* must_be) {
  throw std::invalid_argument(field + " must be " + must_be);
}

// Reads `value` into `out`, or throws std::invalid_argument naming `field`. A record reads the
// keys present and leaves the others as they are; every other type is replaced whole.
template <class T>
void from_json(const json::value& value, T& out, const std::string& field) {
  if constexpr (std::is_same_v<T, bool>) {
    if (!value.is_bool()) refuse(field, "a truth value");
    out = value.get_bool();
  } else if constexpr (std::is_same_v<T, int>) {
    if (value.is_int64() && value.get_int64() >= INT_MIN && value.get_int64() <= INT_MAX) {
      out = static_cast<int>(value.get_int64());
    } else if (value.is_uint64() && value.get_uint64() <= static_cast<std::uint64_t>(INT_MAX)) {
      out = static_cast<int>(value.get_uint64());
    } else if (value.is_double() && std::trunc(value.get_double()) == value.get_double() &&
               value.get_double() >= INT_MIN && value.get_double() <= INT_MAX) {
      out = static_cast<int>(value.get_double());  // 1800.0 as some editors write it
    } else {
      refuse(field, "an integer");
    }
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (!value.is_string()) refuse(field, "text");
    out = std::string(value.get_string());
  } else if constexpr (std::is_same_v<T, std::optional<std::string>>) {
    if (value.is_null()) {
      out.reset();
    } else {
      if (!value.is_string()) refuse(field, "text or null");
      out = std::string(value.get_string());
    }
  } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
    if (!value.is_array()) refuse(field, "a list of text");
    T items;
    for (const auto& item : value.get_array()) {
      if (!item.is_string()) refuse(field, "a list of text");
      items.emplace_back(item.get_string());
    }
    out = std::move(items);
  } else if constexpr (is_ordered_map<T>::value) {
    if (!value.is_object()) refuse(field, "an object");
    T items;
    for (const auto& [name, item] : value.get_object()) {
      std::string key(name);
      from_json(item, items[key], field + "." + key);
    }
    out = std::move(items);
  } else {
    static_assert(is_record<T>, "no JSON form for this settings type");
    if (!value.is_object()) refuse(field, "an object");
    boost::mp11::mp_for_each<public_members<T>>([&](auto member) {
      if (const json::value* item = value.get_object().if_contains(member.name))
        from_json(*item, out.*member.pointer, field + "." + member.name);
    });
  }
}

// Integer settings with a range. Where they come from a patch, a value outside is refused;
// where they come from the file, it is clamped so a hand-edited 100 workers still means "many".
struct IntRange {
  std::string_view field;
  int min;
  int max;
};
constexpr IntRange kIntRanges[] = {
    {"workers.max_concurrent_workers", 1, 20},
    {"workers.max_tool_rounds", 1, 50},
    {"heartbeat.interval_seconds", 1, INT_MAX},
    {"heartbeat.max_consecutive", 1, INT_MAX},
};

enum class Mode {
  strict,   // a bad value throws std::invalid_argument
  lenient,  // a bad value keeps the field's current value; out-of-range integers are clamped
};

void check_range(const std::string& field, int& value, Mode mode) {
  for (const auto& range : kIntRanges) {
    if (range.field != field || (value >= range.min && value <= range.max)) continue;
    if (mode == Mode::lenient) {
      value = std::clamp(value, range.min, range.max);
    } else if (range.max == INT_MAX) {
      throw std::invalid_argument(field + " must be at least " + std::to_string(range.min));
    } else {
      throw std::invalid_argument(field + " must be between " + std::to_string(range.min) +
                                  " and " + std::to_string(range.max));
    }
  }
}

template <class T>
void read_field(const json::value& value, T& out, const std::string& field, Mode mode,
                bool report_problems) {
  T candidate = out;
  try {
    from_json(value, candidate, field);
    if constexpr (std::is_same_v<T, int>) check_range(field, candidate, mode);
  } catch (const std::invalid_argument& e) {
    if (mode == Mode::strict) throw;
    if (report_problems)
      spdlog::warn("configuration: {}; the default is used and the file's value kept", e.what());
    return;
  }
  out = std::move(candidate);
}

// Reads the settings present in `document` into `config`. A field is the unit: a section member
// (or a top-level setting) that is wrong as a whole keeps its current value.
void read_settings(OstrelConfig& config, const json::object& document, Mode mode,
                   bool report_problems) {
  boost::mp11::mp_for_each<public_members<OstrelConfig>>([&](auto top) {
    auto& setting = config.*top.pointer;
    using Setting = std::remove_cvref_t<decltype(setting)>;
    const json::value* value = document.if_contains(top.name);
    if (value == nullptr) return;
    if constexpr (is_record<Setting>) {
      if (!value->is_object()) {
        if (mode == Mode::strict) refuse(top.name, "an object");
        if (report_problems)
          spdlog::warn("configuration: {} must be an object; defaults are used", top.name);
        return;
      }
      boost::mp11::mp_for_each<public_members<Setting>>([&](auto member) {
        if (const json::value* item = value->get_object().if_contains(member.name))
          read_field(*item, setting.*member.pointer, std::string(top.name) + "." + member.name,
                     mode, report_problems);
      });
    } else {
      read_field(*value, setting, top.name, mode, report_problems);
    }
  });
}

// ---------------------------------------------------------------------------------------------
// Document helpers. The typed settings' JSON form (`fields`) has the known sections as objects
// and the top-level settings as plain values; a document may hold anything.

void deep_merge(json::object& into, const json::object& patch) {
  for (const auto& [key, value] : patch) {
    json::value* existing = into.if_contains(key);
    if (existing != nullptr && existing->is_object() && value.is_object())
      deep_merge(existing->get_object(), value.get_object());
    else
      into[key] = value;
  }
}

// Applies to `target` what changed from `before` to `after`, descending into objects that are
// objects on all three sides.
void apply_changes(const json::object& before, const json::object& after, json::object& target) {
  for (const auto& [key, value] : after) {
    const json::value* old = before.if_contains(key);
    if (old != nullptr && *old == value) continue;
    json::value* there = target.if_contains(key);
    if (old != nullptr && old->is_object() && value.is_object() && there != nullptr &&
        there->is_object())
      apply_changes(old->get_object(), value.get_object(), there->get_object());
    else
      target[key] = value;
  }
}

// The document with its known keys first, in declaration order, then the others as they were,
// at the top level and inside each known section.
json::object known_first(const json::object& document, const json::object& fields) {
  json::object out;
  for (const auto& [key, field] : fields) {
    const json::value* value = document.if_contains(key);
    if (value == nullptr) continue;
    if (!field.is_object() || !value->is_object()) {
      out[key] = *value;
      continue;
    }
    json::object section;
    for (const auto& [name, ignored] : field.get_object())
      if (const json::value* item = value->get_object().if_contains(name)) section[name] = *item;
    for (const auto& [name, item] : value->get_object())
      if (!section.contains(name)) section[name] = item;
    out[key] = std::move(section);
  }
  for (const auto& [key, value] : document)
    if (!out.contains(key)) out[key] = value;
  return out;
}

// Visits every typed setting as (section or "", name, value).
template <class F>
void for_each_setting(const json::object& fields, F&& visit) {
  for (const auto& [key, field] : fields) {
    if (field.is_object()) {
      for (const auto& [name, value] : field.get_object()) visit(key, name, value);
    } else {
      visit(json::string_view(), key, field);
    }
  }
}

const json::value* find_setting(const json::object& document, json::string_view section,
                                json::string_view name) {
  if (section.empty()) return document.if_contains(name);
  const json::value* holder = document.if_contains(section);
  return holder != nullptr && holder->is_object() ? holder->get_object().if_contains(name)
                                                  : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Files.

std::string utc_stamp() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
  return text;
}

[[noreturn]] void throw_errno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Moves an unreadable settings file out of the way under a name no other file has, so it is
// never overwritten: neither by our next save nor by an earlier set-aside copy.
void set_aside(const fs::path& file) {
  const std::string base = file.string() + ".bad-" + utc_stamp();
  for (int attempt = 0;; ++attempt) {
    std::string aside = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    if (::link(file.c_str(), aside.c_str()) == 0) {
      if (::unlink(file.c_str()) != 0) throw_errno("cannot remove " + file.string());
      spdlog::warn("configuration: {} is not a JSON object; kept as {}, defaults are used",
                   file.string(), aside);
      return;
    }
    if (errno != EEXIST) throw_errno("cannot set aside " + file.string());
  }
}

// The file's document; nothing when it does not exist or was set aside as unreadable.
std::optional<json::object> read_document(const fs::path& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;  // no such file
    throw_errno("cannot open " + file.string());
  }
  std::string text;
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int saved = errno;
      ::close(fd);
      errno = saved;
      throw_errno("cannot read " + file.string());
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);

  boost::system::error_code ec;
  json::value parsed = json::parse(text, ec);
  if (ec || !parsed.is_object()) {
    set_aside(file);
    return std::nullopt;
  }
  return std::move(parsed.get_object());
}

// Creates each missing folder of `dir` with mode 0700; existing folders are left as they are.
void make_private_folders(const fs::path& dir) {
  fs::path walked;
  for (const auto& part : dir) {
    walked /= part;
    if (::mkdir(walked.c_str(), 0700) != 0 && errno != EEXIST)
      throw_errno("cannot create " + walked.string());
  }
}

void fsync_folder(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw_errno("cannot open " + dir.string());
  int rc = ::fsync(fd);
  int saved = errno;
  ::close(fd);
  errno = saved;
  if (rc != 0) throw_errno("cannot sync " + dir.string());
}

// Replaces `file` with `text` so that a reader or a crash sees either the old or the new
// content, never a mix. A symbolic link is followed, so a linked settings file stays linked.
void write_atomically(fs::path file, std::string_view text) {
  if (fs::is_symlink(file)) file = fs::weakly_canonical(file);
  const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
  make_private_folders(dir);

  std::string temp = (dir / ("." + file.filename().string() + ".tmp-XXXXXX")).string();
  int fd = ::mkstemp(temp.data());  // created with mode 0600
  if (fd < 0) throw_errno("cannot create a temporary file in " + dir.string());
  auto fail = [&](const std::string& what) {
    int saved = errno;
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    errno = saved;
    throw_errno(what);
  };
  if (::fchmod(fd, 0600) != 0) fail("cannot set the mode of " + temp);
  for (std::size_t done = 0; done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("cannot write " + temp);
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) fail("cannot sync " + temp);
  int rc = ::close(fd);
  fd = -1;
  if (rc != 0) fail("cannot write " + temp);
  if (::rename(temp.c_str(), file.c_str()) != 0) fail("cannot replace " + file.string());
  fsync_folder(dir);
}

}  // namespace

boost::json::object ToolOverride::model_dump() const { return to_json(*this).get_object(); }

OstrelConfig::OstrelConfig() : OstrelConfig(default_path()) {}

OstrelConfig::OstrelConfig(std::filesystem::path file) : path_(std::move(file)) {}

std::filesystem::path OstrelConfig::default_path() {
#ifdef _WIN32
  const char* home = std::getenv("USERPROFILE");
#else
  const char* home = std::getenv("HOME");
#endif
  fs::path folder;
  if (home != nullptr && *home != '\0') {
    folder = home;
  } else {
#ifndef _WIN32
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr)
      folder = user->pw_dir;
#endif
    if (folder.empty()) throw std::runtime_error("cannot find the home folder");
  }
  return folder / ".ostrel" / "config.json";
}

OstrelConfig OstrelConfig::load() { return load(default_path()); }

OstrelConfig OstrelConfig::load(const std::filesystem::path& file) {
  return from_document(file, read_document(file).value_or(json::object()), true);
}

OstrelConfig OstrelConfig::from_document(std::filesystem::path file, boost::json::object document,
                                         bool report_problems) {
  OstrelConfig config(std::move(file));
  read_settings(config, document, Mode::lenient, report_problems);
  config.synced_fields_ = to_json(config).get_object();
  config.synced_document_ = document;
  config.document_ = std::move(document);
  return config;
}

void OstrelConfig::save() {
  // Start from the file as it is now, so changes another writer made since our last load stay.
  json::object target = read_document(path_).value_or(synced_document_);
  apply_changes(synced_document_, document_, target);

  // Typed settings: write those changed here, and fill in those the file lacks. A setting the
  // file holds in a form we could not read is left alone unless it was changed here.
  const json::object fields = to_json(*this).get_object();
  for_each_setting(fields, [&](json::string_view section, json::string_view name,
                               const json::value& value) {
    const json::value* synced = find_setting(synced_fields_, section, name);
    const bool changed = synced == nullptr || *synced != value;
    if (section.empty()) {
      if (changed || !target.contains(name)) target[name] = value;
      return;
    }
    json::value* holder = target.if_contains(section);
    if (holder != nullptr && !holder->is_object()) {
      if (!changed) return;
      *holder = json::object();
    }
    json::object& stored = holder != nullptr ? holder->get_object() : target[section].emplace_object();
    if (changed || !stored.contains(name)) stored[name] = value;
  });

  json::object written = known_first(target, fields);
  write_atomically(path_, http::to_json_file_text(written) + "\n");
  *this = from_document(path_, std::move(written), false);
}

void OstrelConfig::update(const boost::json::object& patch) {
  json::object merged = model_dump();
  deep_merge(merged, patch);
  OstrelConfig next(path_);
  read_settings(next, merged, Mode::strict, false);  // throws before anything has changed
  next.document_ = document_;
  deep_merge(next.document_, patch);
  next.synced_document_ = synced_document_;
  next.synced_fields_ = synced_fields_;

  OstrelConfig before = std::exchange(*this, std::move(next));
  try {
    save();
  } catch (...) {
    *this = std::move(before);
    throw;
  }
}

boost::json::object OstrelConfig::model_dump() const {
  const json::object fields = to_json(*this).get_object();
  json::object document = document_;
  for_each_setting(fields, [&](json::string_view section, json::string_view name,
                               const json::value& value) {
    if (section.empty()) {
      document[name] = value;
      return;
    }
    json::value& holder = document[section];
    if (!holder.is_object()) holder = json::object();
    holder.get_object()[name] = value;
  });
  return known_first(document, fields);
}

const std::filesystem::path& OstrelConfig::path() const { return path_; }

}  // namespace ostrel::config
