#pragma once
// The compatibility tags an interpreter can install, in priority order, computed
// from a handful of facts about it (implementation, version, ABI, platform and
// C library), following the rules pip and the Python packaging tools apply:
// PEP 425, manylinux (PEP 600), musllinux (PEP 656) and the macOS rules.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/json/value.hpp>

#include "packaging/result.hpp"
#include "packaging/wheel.hpp"

namespace ostrel::packaging {

struct InterpreterFacts {
  using Pair = std::pair<int, int>;

  std::string implementation;                  // sys.implementation.name: "cpython", "pypy", ...
  std::vector<int> version;                    // sys.version_info numbers, at least major and minor
  std::string abiflags;                        // CPython: "d" debug, "m" pymalloc (< 3.8), "u" wide unicode (< 3.3)
  std::optional<std::string> py_version_nodot; // sysconfig py_version_nodot
  std::optional<std::string> ext_suffix;       // sysconfig EXT_SUFFIX
  std::string system;                          // platform.system(): "Linux", "Darwin", "Windows", ...
  std::string platform;                        // sysconfig.get_platform(), e.g. "linux-x86_64"
  bool is_32bit = false;
  std::optional<Pair> glibc;
  std::optional<Pair> musl;
  bool elf_compatible = true;                  // Linux armv7l / i686: the binary is of that ELF kind
  std::optional<Pair> mac_version;
  std::string mac_arch;

  int major() const { return version.at(0); }
  int minor() const { return version.at(1); }
};

// Reads the facts object; unknown members are ignored, invalid ones are an error.
Result<InterpreterFacts> facts_from_json(const boost::json::value& json);
boost::json::object facts_to_json(const InterpreterFacts& facts);

// Every tag the interpreter supports, most preferred first.
Result<std::vector<TagText>> supported_tags(const InterpreterFacts& facts);

// Platform tags alone, most preferred first.
Result<std::vector<std::string>> platform_tags(const InterpreterFacts& facts);

}  // namespace ostrel::packaging
