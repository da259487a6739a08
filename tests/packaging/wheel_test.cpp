#include <gtest/gtest.h>

#include <set>

#include "packaging/wheel.hpp"

namespace pk = ostrel::packaging;

TEST(WheelName, ParsesNameVersionBuildAndExpandedTags) {
  auto w = pk::parse_wheel_filename("Ostrel.AI-1.4.0-12beta-py2.py3-none-manylinux_2_17_x86_64.manylinux2014_x86_64.whl");
  ASSERT_TRUE(w.ok()) << w.error();
  EXPECT_EQ(w->name, "ostrel-ai");
  EXPECT_EQ(w->version.str(), "1.4.0");
  ASSERT_TRUE(w->build.has_value());
  EXPECT_EQ(w->build->number, "12");
  EXPECT_EQ(w->build->rest, "beta");
  EXPECT_EQ(w->tags, (std::set<std::string>{"py2-none-manylinux2014_x86_64", "py2-none-manylinux_2_17_x86_64",
                                            "py3-none-manylinux2014_x86_64", "py3-none-manylinux_2_17_x86_64"}));

  auto plain = pk::parse_wheel_filename("ostrel_ai-1.0.0-PY3-None-Any.whl");
  ASSERT_TRUE(plain.ok());
  EXPECT_FALSE(plain->build.has_value());
  EXPECT_EQ(plain->tags, (std::set<std::string>{"py3-none-any"}));
}

TEST(WheelName, InvalidNamesAreErrors) {
  for (const char* name : {"ostrel_ai-1.0.0-py3-none-any.WHL", "ostrel_ai-1.0.0-py3-none-any.zip",
                           "ostrel_ai-1.0.0-any.whl", "a-b-c-d-e-f-g.whl", "ostrel__ai-1.0-py3-none-any.whl",
                           "ostrel+ai-1.0-py3-none-any.whl", "ostrel_ai-banana-py3-none-any.whl",
                           "ostrel_ai-1.0-x1-py3-none-any.whl", "ostrel_ai-1.0--py3-none-any.whl"}) {
    EXPECT_FALSE(pk::parse_wheel_filename(name).ok()) << name;
  }
}
