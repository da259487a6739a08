#pragma once
// Version specifiers (PEP 440): single clauses such as ">=3.11" or "==1.4.*"
// and comma-separated sets of them, with the containment rules pip applies,
// including the treatment of pre-releases.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packaging/result.hpp"
#include "packaging/version.hpp"

namespace ostrel::packaging {

class Specifier {
 public:
  enum class Op { Compatible, Equal, NotEqual, LessEqual, GreaterEqual, Less, Greater, Arbitrary };

  static Result<Specifier> parse(std::string_view text);

  Op op() const noexcept { return op_; }
  const std::string& op_text() const noexcept { return op_text_; }
  const std::string& version_text() const noexcept { return version_; }
  std::string str() const { return op_text_ + version_; }

  // Whether this clause names a pre-release (and so admits pre-releases by default).
  bool admits_prereleases() const;

  // Containment; prereleases: nullopt = the clause's own default.
  bool contains(const Version& v, std::optional<bool> prereleases = std::nullopt) const;

 private:
  bool matches(const Version& v) const;

  Op op_ = Op::Equal;
  std::string op_text_;
  std::string version_;                 // as written, white space stripped
  std::optional<Version> parsed_;       // the version (wildcard removed); absent for "===" text that is no version
};

class SpecifierSet {
 public:
  // Comma-separated clauses; empty clauses are ignored, so "" is the set that admits everything.
  static Result<SpecifierSet> parse(std::string_view text);

  const std::vector<Specifier>& clauses() const noexcept { return clauses_; }

  // nullopt when the set is empty, else whether any clause admits pre-releases.
  std::optional<bool> admits_prereleases() const;

  // prereleases: nullopt = the set's own default (a pre-release matches only
  // when some clause names one).
  bool contains(const Version& v, std::optional<bool> prereleases = std::nullopt) const;

 private:
  std::vector<Specifier> clauses_;
};

}  // namespace ostrel::packaging
