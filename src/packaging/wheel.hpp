#pragma once
// Compatibility tags (PEP 425) and wheel file names (PEP 427).

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "packaging/result.hpp"
#include "packaging/version.hpp"

namespace ostrel::packaging {

// One "interpreter-abi-platform" triple, held as its lower-case text.
using TagText = std::string;
using TagSet = std::unordered_set<TagText>;

// Expands a possibly compressed tag ("py2.py3-none-any") into its triples, in
// lower case. Fails unless the text has exactly three dash-separated fields.
Result<std::set<TagText>> parse_tag(std::string_view tag);

// Project name normalised: runs of "-", "_" and "." become "-", lower case.
std::string canonicalize_name(std::string_view name);

struct WheelName {
  std::string name;                  // canonical project name
  Version version;
  struct Build {
    std::string number;              // decimal digits, no leading zeros
    std::string rest;
  };
  std::optional<Build> build;
  std::set<TagText> tags;            // every expanded triple
};

// Parses "<name>-<version>[-<build>]-<python>-<abi>-<platform>.whl".
Result<WheelName> parse_wheel_filename(std::string_view filename);

}  // namespace ostrel::packaging
