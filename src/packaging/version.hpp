#pragma once
// Release versions as the Python packaging ecosystem defines them (PEP 440):
// parsing of every accepted spelling, the normalised text form and the total
// order used to pick the newest release.
//
// Numbers are kept as decimal digit strings, so release segments, epochs and
// suffix numbers of any length are exact.

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packaging/result.hpp"

namespace ostrel::packaging {

class Version {
 public:
  struct Pre {
    std::string label;   // "a", "b" or "rc"
    std::string number;  // decimal, no leading zeros
    bool operator==(const Pre&) const = default;
  };
  struct LocalPart {
    bool numeric;      // digits only (compared as a number)
    std::string text;  // number without leading zeros, or lower-case letters and digits
    bool operator==(const LocalPart&) const = default;
  };

  std::string epoch = "0";
  std::vector<std::string> release;
  std::optional<Pre> pre;
  std::optional<std::string> post;
  std::optional<std::string> dev;
  std::vector<LocalPart> local;  // empty: no local label

  bool is_prerelease() const noexcept { return pre.has_value() || dev.has_value(); }
  bool is_postrelease() const noexcept { return post.has_value(); }
  bool has_local() const noexcept { return !local.empty(); }

  // Normalised form, e.g. "1!2.0rc1.post3.dev4+ubuntu.1".
  std::string str() const;
  // Normalised form without the local label.
  std::string public_str() const;
  // Epoch and release only, e.g. "1!2.0".
  std::string base_version() const;
  // The local label alone ("ubuntu.1"), empty when there is none.
  std::string local_str() const;

  // The same version without pre/post/dev/local parts.
  Version base() const;
  Version without_local() const;

  // Normalised form with trailing ".0" release segments removed unless strip_trailing_zero is false.
  std::string canonical(bool strip_trailing_zero = true) const;

  friend std::strong_ordering operator<=>(const Version& a, const Version& b);
  friend bool operator==(const Version& a, const Version& b) { return (a <=> b) == 0; }
};

// Parses a version (leading "v", surrounding white space and letter case are accepted).
Result<Version> parse_version(std::string_view text);

// Where the version-like grammar shows up inside specifiers the accepted forms differ slightly.
struct VersionGrammar {
  bool allow_local = true;
  bool allow_wildcard = false;       // "1.2.*" (nothing may follow the wildcard)
  std::size_t min_release_parts = 1;
};

// Whether text (surrounding white space allowed) is accepted by the given grammar.
bool matches_version_grammar(std::string_view text, const VersionGrammar& grammar);

}  // namespace ostrel::packaging
