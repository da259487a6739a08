#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "packaging/specifier.hpp"

namespace pk = ostrel::packaging;

namespace {
struct Case {
  const char* specifier;
  const char* version;
  std::optional<bool> prereleases;
  bool expected;
};
}  // namespace

TEST(SpecifierSet, Containment) {
  const std::vector<Case> cases = {
      // Comparison operators.
      {">=3.11", "3.12.1", {}, true},
      {">=3.99", "3.12.1", {}, false},
      {"<=2.0", "2.0+local", {}, true},
      {">=1.0, <2.0, !=1.5.*", "1.5.3", {}, false},
      {">=1.0, <2.0, !=1.5.*", "1.6", {}, true},
      // "==" with wildcard and local versions.
      {"==1.4.*", "1.4.0", {}, true},
      {"==1.4.*", "1.40", {}, false},
      {"==1.0.*", "1", {}, true},
      {"==1.0", "1.0+local", {}, true},
      {"==1.0+local", "1.0", {}, false},
      {"!=1.0", "1.0.0", {}, false},
      // Compatible release.
      {"~=1.4.5", "1.4.9", {}, true},
      {"~=1.4.5", "1.5.0", {}, false},
      {"~=1.4", "1.9", {}, true},
      {"~=2.2.post3", "2.3", {}, true},
      {"~=2.2.post3", "2.2.post2", {}, false},
      // Exclusive comparisons do not admit the bound's own pre/post/local releases.
      {"<1.0", "1.0rc1", true, false},
      {"<1.0rc2", "1.0rc1", {}, false},
      {"<1.0rc2", "1.0rc1", true, true},
      {">1.0", "1.0.post1", {}, false},
      {">1.0.post1", "1.0.post2", {}, true},
      {">1.0", "1.0+local", {}, false},
      {">1.0", "1.1", {}, true},
      // Pre-releases only where the set admits them.
      {">=1.0", "2.0a1", {}, false},
      {">=1.0", "2.0a1", true, true},
      {">=1.0a1", "2.0a1", {}, true},
      {">=1.0a1", "2.0a1", false, false},
      {"", "2.0a1", {}, false},
      {"", "2.0", {}, true},
      {"!=1.0a1", "2.0b1", {}, false},
      {">1.0a1", "2.0b1", {}, false},
      // Arbitrary equality compares text.
      {"===1.0", "1.0", {}, true},
      {"===1.0", "1.0.0", {}, false},
      {"===foo", "1.0", {}, false},
  };
  for (const Case& c : cases) {
    auto set = pk::SpecifierSet::parse(c.specifier);
    auto v = pk::parse_version(c.version);
    ASSERT_TRUE(set.ok()) << c.specifier << ": " << set.error();
    ASSERT_TRUE(v.ok()) << c.version;
    EXPECT_EQ(set->contains(*v, c.prereleases), c.expected) << c.specifier << " contains " << c.version;
  }
}

TEST(SpecifierSet, InvalidSpecifiersAreErrors) {
  for (const char* specifier : {"banana", ">=", "=>1.0", "~=1", "~=1.0.*", ">=1.0.*", "<1.0+local", ">=1.0, banana",
                           "== 1.0 .*", "==1.*.0", "1.0"}) {
    auto set = pk::SpecifierSet::parse(specifier);
    ASSERT_FALSE(set.ok()) << specifier;
    EXPECT_NE(set.error().find("Invalid specifier"), std::string::npos);
  }
}
