#include <gtest/gtest.h>

#include <algorithm>

#include <boost/json.hpp>

#include "packaging/tags.hpp"

namespace pk = ostrel::packaging;
namespace json = boost::json;

namespace {
std::vector<std::string> tags_of(const char* facts) {
  auto f = pk::facts_from_json(json::parse(facts));
  EXPECT_TRUE(f.ok()) << facts << ": " << (f ? "" : f.error());
  auto t = pk::supported_tags(*f);
  EXPECT_TRUE(t.ok()) << (t ? "" : t.error());
  return t ? *t : std::vector<std::string>{};
}
std::ptrdiff_t position(const std::vector<std::string>& tags, const std::string& tag) {
  auto it = std::find(tags.begin(), tags.end(), tag);
  return it == tags.end() ? -1 : it - tags.begin();
}
}  // namespace

// Priority relations that hold whatever else the list contains.
TEST(SupportedTags, PriorityOrder) {
  const auto linux = tags_of(R"({"implementation":"cpython","version":[3,12],"system":"Linux",
      "platform":"linux-x86_64","glibc":[2,36]})");
  ASSERT_FALSE(linux.empty());
  EXPECT_EQ(linux.front(), "cp312-cp312-manylinux_2_36_x86_64");
  EXPECT_EQ(linux.back(), "py30-none-any");
  EXPECT_EQ(position(linux, "cp312-cp312-manylinux2014_x86_64"), position(linux, "cp312-cp312-manylinux_2_17_x86_64") + 1);
  EXPECT_LT(position(linux, "cp312-cp312-linux_x86_64"), position(linux, "cp312-abi3-manylinux_2_36_x86_64"));
  EXPECT_LT(position(linux, "cp312-none-linux_x86_64"), position(linux, "cp311-abi3-manylinux_2_36_x86_64"));
  EXPECT_EQ(position(linux, "cp312-cp312-manylinux_2_4_x86_64"), -1);
  EXPECT_LT(position(linux, "cp312-none-any"), position(linux, "py312-none-any"));

  const auto musl = tags_of(R"({"implementation":"cpython","version":[3,11],"system":"Linux",
      "platform":"linux-aarch64","musl":[1,2]})");
  EXPECT_EQ(std::vector<std::string>(musl.begin(), musl.begin() + 4),
            (std::vector<std::string>{"cp311-cp311-musllinux_1_2_aarch64", "cp311-cp311-musllinux_1_1_aarch64",
                                      "cp311-cp311-musllinux_1_0_aarch64", "cp311-cp311-linux_aarch64"}));

  const auto mac = tags_of(R"({"implementation":"cpython","version":[3,12],"system":"Darwin",
      "mac_version":[14,2],"mac_arch":"arm64"})");
  EXPECT_EQ(mac.front(), "cp312-cp312-macosx_14_0_arm64");
  EXPECT_GE(position(mac, "cp312-cp312-macosx_10_4_universal2"), 0);
  EXPECT_EQ(position(mac, "cp312-cp312-macosx_10_9_x86_64"), -1);

  const auto pypy = tags_of(R"({"implementation":"pypy","version":[3,9,18],"py_version_nodot":"39",
      "ext_suffix":".pypy39-pp73-x86_64-linux-gnu.so","system":"Windows","platform":"win-amd64"})");
  EXPECT_EQ(pypy.front(), "pp39-pypy39_pp73-win_amd64");
  EXPECT_GE(position(pypy, "pp3-none-any"), 0);
}

TEST(SupportedTags, InvalidFactsAreErrors) {
  for (const char* facts : {R"([])", R"({"version":[3,12],"system":"Linux","platform":"linux-x86_64"})",
                            R"({"implementation":"cpython","version":[3],"system":"Linux","platform":"linux-x86_64"})",
                            R"({"implementation":"cpython","version":[3,12],"system":"Linux"})",
                            R"({"implementation":"cpython","version":[3,12],"system":"Darwin","mac_version":[10,16],"mac_arch":"x86_64"})",
                            R"({"implementation":"cpython","version":[3,12],"system":"Linux","platform":"linux-x86_64","glibc":"2.36"})"}) {
    EXPECT_FALSE(pk::facts_from_json(json::parse(facts)).ok()) << facts;
  }
  auto no_suffix = pk::facts_from_json(json::parse(R"({"implementation":"pypy","version":[3,9],"system":"Linux","platform":"linux-x86_64"})"));
  ASSERT_TRUE(no_suffix.ok());
  EXPECT_FALSE(pk::supported_tags(*no_suffix).ok());
}
