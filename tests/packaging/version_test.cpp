#include <gtest/gtest.h>

#include <vector>

#include "packaging/version.hpp"

namespace pk = ostrel::packaging;

TEST(Version, NormalisesEverySpelling) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"1.0", "1.0"},
      {"  v1.0\t", "1.0"},
      {"V01.002", "1.2"},
      {"1!2.3", "1!2.3"},
      {"0!1.0", "1.0"},
      {"1.0a", "1.0a0"},
      {"1.0.ALPHA.1", "1.0a1"},
      {"1.0-beta-2", "1.0b2"},
      {"1.0c3", "1.0rc3"},
      {"1.0_pre4", "1.0rc4"},
      {"1.0preview5", "1.0rc5"},
      {"1.0-1", "1.0.post1"},
      {"1.0.post", "1.0.post0"},
      {"1.0-rev2", "1.0.post2"},
      {"1.0_r3", "1.0.post3"},
      {"1.0dev", "1.0.dev0"},
      {"1.0-DEV_7", "1.0.dev7"},
      {"1.0a.", "1.0a0"},
      {"1.0.post-", "1.0.post0"},
      {"1.0a-1", "1.0a1"},
      {"1.0a.-1", "1.0a0.post1"},
      {"1.0+Ubuntu-1.007", "1.0+ubuntu.1.7"},
      {"1.0rc1.post2.dev3+abc", "1.0rc1.post2.dev3+abc"},
      {"123456789012345678901234567890.1", "123456789012345678901234567890.1"},
  };
  for (const auto& [input, expected] : cases) {
    auto v = pk::parse_version(input);
    ASSERT_TRUE(v.ok()) << input << ": " << v.error();
    EXPECT_EQ(v->str(), expected) << input;
  }
}

TEST(Version, RejectsMalformedText) {
  for (const char* input : {"", " ", "banana", "1.", ".1", "1..0", "1.0+", "1.0+a..b", "1.0-",
                            "1.0 .1", "1!", "v", "vv1", "1.0.*", "1.0a1b1", "1.0+loc al", "١.0"}) {
    EXPECT_FALSE(pk::parse_version(input).ok()) << input;
  }
}

// Every version is strictly greater than the one before it.
TEST(Version, TotalOrder) {
  const std::vector<const char*> ascending = {
      "1.0.dev0",    "1.0.dev1",   "1.0a0.dev1", "1.0a0",     "1.0a1",      "1.0a1.post1.dev1", "1.0a1.post1",
      "1.0b1",       "1.0rc1",     "1.0",        "1.0+abc",   "1.0+abc.1",  "1.0+1",            "1.0+2.a",
      "1.0.post1.dev1", "1.0.post1", "1.0.post1+x", "1.0.1", "1.1.dev1",   "1.10",             "2",
      "18446744073709551616", "18446744073709551617", "1!0.1",
  };
  for (std::size_t i = 0; i + 1 < ascending.size(); ++i) {
    auto a = pk::parse_version(ascending[i]);
    auto b = pk::parse_version(ascending[i + 1]);
    ASSERT_TRUE(a && b) << ascending[i] << " / " << ascending[i + 1];
    EXPECT_LT(*a, *b) << ascending[i] << " < " << ascending[i + 1];
    EXPECT_GT(*b, *a);
  }
}

TEST(Version, EqualityIgnoresTrailingZerosAndSpelling) {
  const std::vector<std::pair<const char*, const char*>> equal = {
      {"1.0", "1.0.0.0"}, {"1.0a", "1.0-alpha0"}, {"1.0-1", "1.0.post1"}, {"1.0+A.01", "1.0+a.1"}, {"0!1", "1.0"}};
  for (const auto& [a, b] : equal) EXPECT_EQ(*pk::parse_version(a), *pk::parse_version(b)) << a << " == " << b;
}
