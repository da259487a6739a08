#include "packaging/tags.hpp"

#include <map>

#include "packaging/text.hpp"

namespace ostrel::packaging {
namespace json = boost::json;
namespace {

// Larger numbers are not real interpreter or system versions, and they would
// make the tag lists (which count down from them) absurdly long.
constexpr std::int64_t kMaxVersionPart = 999;

Result<int> small_int(const json::value& v, const std::string& what) {
  if (v.is_int64() || v.is_uint64()) {
    const auto n = v.is_int64() ? v.get_int64() : static_cast<std::int64_t>(std::min<std::uint64_t>(v.get_uint64(), 1u << 30));
    if (n >= 0 && n <= kMaxVersionPart) return static_cast<int>(n);
  }
  return Error{what + " must hold integers from 0 to " + std::to_string(kMaxVersionPart)};
}

Result<std::optional<InterpreterFacts::Pair>> optional_pair(const json::object& o, const char* key) {
  const json::value* v = o.if_contains(key);
  if (!v || v->is_null()) return std::optional<InterpreterFacts::Pair>{};
  const std::string what = std::string("\"") + key + "\"";
  if (!v->is_array() || v->get_array().size() != 2) return Error{what + " must be [major, minor] or null"};
  auto a = small_int(v->get_array()[0], what);
  auto b = small_int(v->get_array()[1], what);
  if (!a) return Error{a.error()};
  if (!b) return Error{b.error()};
  return std::optional<InterpreterFacts::Pair>{InterpreterFacts::Pair{*a, *b}};
}

Result<std::optional<std::string>> optional_text(const json::object& o, const char* key) {
  const json::value* v = o.if_contains(key);
  if (!v || v->is_null()) return std::optional<std::string>{};
  if (!v->is_string()) return Error{std::string("\"") + key + "\" must be text or null"};
  return std::optional<std::string>{std::string(v->get_string())};
}

Result<bool> optional_bool(const json::object& o, const char* key, bool fallback) {
  const json::value* v = o.if_contains(key);
  if (!v || v->is_null()) return fallback;
  if (!v->is_bool()) return Error{std::string("\"") + key + "\" must be true or false"};
  return v->get_bool();
}

std::string normalize_platform(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '.' || c == '-') c = '_';
  return out;
}

std::string replace_all(std::string_view s, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = s.find(from, pos)) != std::string_view::npos; pos = hit + from.size()) {
    out.append(s.substr(pos, hit - pos));
    out.append(to);
  }
  out.append(s.substr(pos));
  return out;
}

std::string nodot(int major, int minor) { return std::to_string(major) + std::to_string(minor); }

std::string interpreter_short_name(const std::string& name) {
  static const std::map<std::string, std::string> kShort = {
      {"python", "py"}, {"cpython", "cp"}, {"pypy", "pp"}, {"ironpython", "ip"}, {"jython", "jy"}};
  auto it = kShort.find(name);
  return it == kShort.end() ? name : it->second;
}

std::string interpreter_version(const InterpreterFacts& f) {
  if (f.py_version_nodot && !f.py_version_nodot->empty()) return *f.py_version_nodot;
  return nodot(f.major(), f.minor());
}

std::vector<std::string> cpython_abis(const InterpreterFacts& f) {
  const bool debug = f.abiflags.find('d') != std::string::npos;
  const std::pair<int, int> v{f.major(), f.minor()};
  std::string pymalloc, ucs4;
  std::vector<std::string> abis;
  if (v < std::pair{3, 8}) {
    if (f.abiflags.find('m') != std::string::npos) pymalloc = "m";
    if (v < std::pair{3, 3} && f.abiflags.find('u') != std::string::npos) ucs4 = "u";
  } else if (debug) {
    // A debug build also loads ordinary extension modules.
    abis.push_back("cp" + nodot(v.first, v.second));
  }
  abis.insert(abis.begin(), "cp" + nodot(v.first, v.second) + (debug ? "d" : "") + pymalloc + ucs4);
  return abis;
}

// The ABI of a non-CPython interpreter, read from its extension-module suffix.
Result<std::vector<std::string>> generic_abis(const InterpreterFacts& f) {
  if (!f.ext_suffix || f.ext_suffix->empty() || (*f.ext_suffix)[0] != '.')
    return Error{"\"ext_suffix\" must be text starting with \".\" for this interpreter"};
  std::vector<std::string_view> parts;
  {
    std::string_view s = *f.ext_suffix;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i)
      if (i == s.size() || s[i] == '.') parts.push_back(s.substr(start, i - start)), start = i + 1;
  }
  if (parts.size() < 3) return cpython_abis(f);  // ".pyd": older Windows builds
  const std::string_view soabi = parts[1];
  auto dash_fields = [&](std::size_t count) {
    std::string out;
    std::size_t start = 0, taken = 0;
    for (std::size_t i = 0; i <= soabi.size() && taken < count; ++i) {
      if (i < soabi.size() && soabi[i] != '-') continue;
      if (taken) out += '-';
      out.append(soabi.substr(start, i - start));
      start = i + 1;
      ++taken;
    }
    return out;
  };
  std::string abi;
  if (soabi.starts_with("cpython")) {
    const auto dash = soabi.find('-');
    if (dash == std::string_view::npos) return Error{"\"ext_suffix\" names no CPython ABI"};
    const auto next = soabi.find('-', dash + 1);
    abi = "cp" + std::string(soabi.substr(dash + 1, next == std::string_view::npos ? std::string_view::npos : next - dash - 1));
  } else if (soabi.starts_with("cp")) {
    abi = dash_fields(1);
  } else if (soabi.starts_with("pypy")) {
    abi = dash_fields(2);
  } else if (soabi.starts_with("graalpy")) {
    abi = dash_fields(3);
  } else if (!soabi.empty()) {
    abi = std::string(soabi);
  } else {
    return std::vector<std::string>{};
  }
  return std::vector<std::string>{normalize_platform(abi)};
}

std::vector<std::string> mac_binary_formats(std::pair<int, int> version, const std::string& arch) {
  std::vector<std::string> formats{arch};
  if (arch == "x86_64") {
    if (version < std::pair{10, 4}) return {};
    formats.insert(formats.end(), {"intel", "fat64", "fat32"});
  } else if (arch == "i386") {
    if (version < std::pair{10, 4}) return {};
    formats.insert(formats.end(), {"intel", "fat32", "fat"});
  } else if (arch == "ppc64") {
    if (version > std::pair{10, 5} || version < std::pair{10, 4}) return {};
    formats.push_back("fat64");
  } else if (arch == "ppc") {
    if (version > std::pair{10, 6}) return {};
    formats.insert(formats.end(), {"fat32", "fat"});
  }
  if (arch == "arm64" || arch == "x86_64") formats.push_back("universal2");
  if (arch == "x86_64" || arch == "i386" || arch == "ppc64" || arch == "ppc" || arch == "intel") formats.push_back("universal");
  return formats;
}

std::vector<std::string> mac_platforms(std::pair<int, int> version, std::string arch, bool is_32bit) {
  if (is_32bit) arch = arch.starts_with("ppc") ? "ppc" : "i386";
  std::vector<std::string> out;
  auto emit = [&](int major, int minor, const std::string& format) {
    out.push_back("macosx_" + std::to_string(major) + "_" + std::to_string(minor) + "_" + format);
  };
  if (version >= std::pair{10, 0} && version < std::pair{11, 0})
    for (int minor = version.second; minor >= 0; --minor)
      for (const auto& format : mac_binary_formats({10, minor}, arch)) emit(10, minor, format);
  if (version >= std::pair{11, 0}) {
    // From macOS 11 on, each yearly release bumps the major number.
    for (int major = version.first; major > 10; --major)
      for (const auto& format : mac_binary_formats({major, 0}, arch)) emit(major, 0, format);
    // x86_64 runs binaries built for 10.x; arm64 only universal2 ones.
    for (int minor = 16; minor > 3; --minor) {
      if (arch == "x86_64") {
        for (const auto& format : mac_binary_formats({10, minor}, arch)) emit(10, minor, format);
      } else {
        emit(10, minor, "universal2");
      }
    }
  }
  return out;
}

std::vector<std::string> manylinux_platforms(const InterpreterFacts& f, const std::string& linux, const std::string& arch) {
  std::vector<std::string> out;
  const bool compatible_abi = (arch == "armv7l" || arch == "i686")
                                  ? f.elf_compatible
                                  : (arch == "x86_64" || arch == "aarch64" || arch == "ppc64" || arch == "ppc64le" || arch == "s390x");
  if (!compatible_abi || !f.glibc) return out;
  // The oldest glibc a manylinux tag exists for: 2.5 on x86, 2.17 elsewhere.
  const std::pair<int, int> too_old = (arch == "x86_64" || arch == "i686") ? std::pair{2, 4} : std::pair{2, 16};
  std::vector<std::pair<int, int>> max_list{*f.glibc};
  for (int major = f.glibc->first - 1; major > 1; --major) max_list.emplace_back(major, 50);
  for (const auto& [major, max_minor] : max_list) {
    const int min_minor = major == too_old.first ? too_old.second : -1;
    for (int minor = max_minor; minor > min_minor; --minor) {
      out.push_back(replace_all(linux, "linux", "manylinux_" + std::to_string(major) + "_" + std::to_string(minor)));
      if (major == 2 && minor == 17) out.push_back(replace_all(linux, "linux", "manylinux2014"));
      if (major == 2 && minor == 12) out.push_back(replace_all(linux, "linux", "manylinux2010"));
      if (major == 2 && minor == 5) out.push_back(replace_all(linux, "linux", "manylinux1"));
    }
  }
  return out;
}

}  // namespace

Result<InterpreterFacts> facts_from_json(const json::value& value) {
  const json::object* o = value.if_object();
  if (!o) return Error{"interpreter facts must be a JSON object"};
  InterpreterFacts f;

  const json::value* impl = o->if_contains("implementation");
  if (!impl || !impl->is_string() || impl->get_string().empty()) return Error{"\"implementation\" must be non-empty text"};
  f.implementation = std::string(impl->get_string());

  const json::value* ver = o->if_contains("version");
  if (!ver || !ver->is_array() || ver->get_array().size() < 2) return Error{"\"version\" must be a list of at least two integers"};
  for (const json::value& part : ver->get_array()) {
    if (f.version.size() == 2) break;  // only major and minor matter
    auto n = small_int(part, "\"version\"");
    if (!n) return Error{n.error()};
    f.version.push_back(*n);
  }

  if (const json::value* flags = o->if_contains("abiflags"); flags && !flags->is_null()) {
    if (!flags->is_string()) return Error{"\"abiflags\" must be text"};
    f.abiflags = std::string(flags->get_string());
  }
  auto nodot_fact = optional_text(*o, "py_version_nodot");
  auto suffix = optional_text(*o, "ext_suffix");
  auto platform = optional_text(*o, "platform");
  auto is_32bit = optional_bool(*o, "is_32bit", false);
  auto elf = optional_bool(*o, "elf_compatible", true);
  auto glibc = optional_pair(*o, "glibc");
  auto musl = optional_pair(*o, "musl");
  auto mac = optional_pair(*o, "mac_version");
  for (const std::string* err : {nodot_fact ? nullptr : &nodot_fact.error(), suffix ? nullptr : &suffix.error(),
                                 platform ? nullptr : &platform.error(), is_32bit ? nullptr : &is_32bit.error(),
                                 elf ? nullptr : &elf.error(), glibc ? nullptr : &glibc.error(),
                                 musl ? nullptr : &musl.error(), mac ? nullptr : &mac.error()})
    if (err) return Error{*err};
  f.py_version_nodot = *nodot_fact;
  f.ext_suffix = *suffix;
  f.is_32bit = *is_32bit;
  f.elf_compatible = *elf;
  f.glibc = *glibc;
  f.musl = *musl;
  f.mac_version = *mac;

  const json::value* system = o->if_contains("system");
  if (!system || !system->is_string()) return Error{"\"system\" must be text"};
  f.system = std::string(system->get_string());

  if (f.system == "Darwin") {
    const json::value* arch = o->if_contains("mac_arch");
    if (!f.mac_version || !arch || !arch->is_string() || arch->get_string().empty())
      return Error{"\"mac_version\" and \"mac_arch\" are required on Darwin"};
    // 10.16 is what interpreters built against an old SDK report instead of the real version.
    if (*f.mac_version == InterpreterFacts::Pair{10, 16}) return Error{"\"mac_version\" 10.16 is not a real macOS version"};
    f.mac_arch = std::string(arch->get_string());
    f.platform = platform->value_or("");
  } else {
    if (!*platform) return Error{"\"platform\" is required"};
    f.platform = **platform;
  }
  return f;
}

json::object facts_to_json(const InterpreterFacts& f) {
  auto pair = [](const std::optional<InterpreterFacts::Pair>& p) -> json::value {
    if (!p) return nullptr;
    return json::array{p->first, p->second};
  };
  auto text_or_null = [](const std::optional<std::string>& s) -> json::value {
    if (!s) return nullptr;
    return json::string(*s);
  };
  json::array version;
  for (int v : f.version) version.emplace_back(v);
  return json::object{{"implementation", f.implementation},
                      {"version", std::move(version)},
                      {"abiflags", f.abiflags},
                      {"py_version_nodot", text_or_null(f.py_version_nodot)},
                      {"ext_suffix", text_or_null(f.ext_suffix)},
                      {"system", f.system},
                      {"platform", f.platform},
                      {"is_32bit", f.is_32bit},
                      {"glibc", pair(f.glibc)},
                      {"musl", pair(f.musl)},
                      {"elf_compatible", f.elf_compatible},
                      {"mac_version", pair(f.mac_version)},
                      {"mac_arch", f.mac_arch}};
}

Result<std::vector<std::string>> platform_tags(const InterpreterFacts& f) {
  if (f.system == "Darwin") return mac_platforms(*f.mac_version, f.mac_arch, f.is_32bit);
  std::string platform = normalize_platform(f.platform);
  if (f.system != "Linux") return std::vector<std::string>{platform};

  if (f.is_32bit) {
    if (platform == "linux_x86_64") platform = "linux_i686";
    else if (platform == "linux_aarch64") platform = "linux_armv7l";
  }
  const auto underscore = platform.find('_');
  if (underscore == std::string::npos) return Error{"\"platform\" has no architecture part"};
  const std::string arch = platform.substr(underscore + 1);
  std::vector<std::string> out = manylinux_platforms(f, platform, arch);
  if (f.musl)
    for (int minor = f.musl->second; minor >= 0; --minor)
      out.push_back("musllinux_" + std::to_string(f.musl->first) + "_" + std::to_string(minor) + "_" + arch);
  out.push_back(platform);
  return out;
}

Result<std::vector<TagText>> supported_tags(const InterpreterFacts& f) {
  auto platforms_result = platform_tags(f);
  if (!platforms_result) return Error{platforms_result.error()};
  std::vector<std::string> platforms;
  for (const std::string& p : *platforms_result) platforms.push_back(text::lower(p));

  const int major = f.major(), minor = f.minor();
  const std::string short_name = interpreter_short_name(f.implementation);
  std::vector<TagText> tags;
  auto emit = [&](const std::string& interpreter, const std::string& abi, const std::string& platform) {
    tags.push_back(text::lower(interpreter) + "-" + text::lower(abi) + "-" + platform);
  };

  if (short_name == "cp") {
    const std::string interpreter = "cp" + nodot(major, minor);
    const bool abi3 = std::pair{major, minor} >= std::pair{3, 2};
    for (const std::string& abi : cpython_abis(f))
      if (abi != "abi3" && abi != "none")
        for (const auto& p : platforms) emit(interpreter, abi, p);
    if (abi3)
      for (const auto& p : platforms) emit(interpreter, "abi3", p);
    for (const auto& p : platforms) emit(interpreter, "none", p);
    if (abi3)
      for (int m = minor - 1; m > 1; --m)
        for (const auto& p : platforms) emit("cp" + nodot(major, m), "abi3", p);
  } else {
    auto abis = generic_abis(f);
    if (!abis) return Error{abis.error()};
    std::vector<std::string> list = *abis;
    if (std::find(list.begin(), list.end(), "none") == list.end()) list.push_back("none");
    const std::string interpreter = short_name + interpreter_version(f);
    for (const auto& abi : list)
      for (const auto& p : platforms) emit(interpreter, abi, p);
  }

  // Pure-Python tags: this version, the bare major version, then older minors.
  std::vector<std::string> py_range{"py" + nodot(major, minor), "py" + std::to_string(major)};
  for (int m = minor - 1; m >= 0; --m) py_range.push_back("py" + nodot(major, m));
  for (const auto& py : py_range)
    for (const auto& p : platforms) emit(py, "none", p);
  if (short_name == "pp") emit("pp3", "none", "any");
  else if (short_name == "cp") emit("cp" + interpreter_version(f), "none", "any");
  for (const auto& py : py_range) emit(py, "none", "any");
  return tags;
}

}  // namespace ostrel::packaging
