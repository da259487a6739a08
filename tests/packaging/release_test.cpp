#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "packaging/release.hpp"

namespace pk = ostrel::packaging;
namespace json = boost::json;

namespace {

// A CPython 3.12 interpreter on Linux x86_64 with glibc, as far as these rules need it.
const pk::RunningInterpreter kLinux312{
    [] { return std::optional<std::string>("3.12.1"); },
    [] {
      return std::optional<pk::TagSet>(pk::TagSet{"cp312-cp312-manylinux_2_17_x86_64", "cp312-abi3-linux_x86_64",
                                                  "py3-none-any", "py312-none-any"});
    }};

// An interpreter whose facts could not be read.
const pk::RunningInterpreter kUnknown{[] { return std::optional<std::string>(); },
                                      [] { return std::optional<pk::TagSet>(); }};

json::value wheel(const char* filename, json::value requires_python = nullptr, bool yanked = false) {
  return json::object{{"packagetype", "bdist_wheel"}, {"filename", filename},
                      {"requires_python", std::move(requires_python)}, {"yanked", yanked}};
}
json::value sdist(const char* filename) { return json::object{{"packagetype", "sdist"}, {"filename", filename}}; }

bool compatible(const json::array& files, const pk::RunningInterpreter& running = kLinux312) {
  return pk::release_has_compatible_wheel(files, nullptr, nullptr, running);
}

}  // namespace

TEST(VersionNewer, ComparesIntegerSegments) {
  const std::vector<std::tuple<const char*, const char*, bool>> cases = {
      {"1.10.0", "1.9.9", true}, {"2", "1.9.9", true},       {"1.2.0", "1.2", true},
      {"1.2", "1.2.0", false},   {"1.2.3", "1.2.3", false},  {"2.0.0rc1", "1.0.0", false},
      {"", "0.9", false},        {"1.0.dev1", "0.9", false}, {"1.01", "1.1", false},
      {"1.0+local", "0.1", false}, {"1..2", "1.1", false},   {"99999999999999999999.1", "99999999999999999999", true},
  };
  for (const auto& [latest, current, expected] : cases)
    EXPECT_EQ(pk::version_newer(latest, current), expected) << latest << " vs " << current;
}

TEST(PythonSatisfiesRequires, DecidesOrAssumesCompatible) {
  const std::vector<std::tuple<json::value, json::value, bool>> cases = {
      {">=3.99", "3.12.1", false}, {">=3.11", "3.12.1", true}, {"banana", "3.12.1", true},
      {nullptr, "3.12.1", true},   {"", "3.12.1", true},       {">=3.11", "not a version", true},
      {">=3.13", nullptr, false},  {">=3.13", "", false},      {">=3.12", "3.13.0rc1", false},
  };
  for (const auto& [requirement, version, expected] : cases)
    EXPECT_EQ(pk::python_satisfies_requires(requirement, version, kLinux312), expected) << requirement << " / " << version;
  // The running interpreter's version is unknown: cannot decide, so compatible.
  EXPECT_TRUE(pk::python_satisfies_requires(">=3.99", nullptr, kUnknown));
}

TEST(ReleaseHasCompatibleWheel, CountsOnlyInstallableWheels) {
  EXPECT_TRUE(compatible({wheel("ostrel_ai-1.4.0-py3-none-any.whl")}));
  EXPECT_TRUE(compatible({sdist("ostrel_ai-1.4.0.tar.gz"), wheel("ostrel_ai-1.4.0-cp312-cp312-manylinux_2_17_x86_64.whl")}));
  EXPECT_FALSE(compatible({wheel("ostrel_ai-1.4.0-py3-none-any.whl", nullptr, true)}));
  EXPECT_FALSE(compatible({sdist("ostrel_ai-1.4.0.tar.gz")}));
  EXPECT_FALSE(compatible({wheel("ostrel_ai-1.4.0-cp312-cp312-win_amd64.whl")}));
  EXPECT_FALSE(compatible({wheel("ostrel_ai-1.4.0-py3-none-any.whl", ">=3.99")}));
  EXPECT_FALSE(compatible({wheel("ostrel_ai-1.0.0-py3-none-any.WHL")}));
  EXPECT_FALSE(compatible({wheel("not a wheel.whl"), 42, "text", nullptr}));
  EXPECT_FALSE(compatible({}));
  EXPECT_FALSE(pk::release_has_compatible_wheel(nullptr, nullptr, nullptr, kLinux312));

  // Tags given by the caller replace the interpreter's.
  const pk::TagSet windows{"cp312-cp312-win_amd64"};
  EXPECT_TRUE(pk::release_has_compatible_wheel(json::array{wheel("ostrel_ai-1.4.0-cp312-cp312-win_amd64.whl")}, &windows,
                                               nullptr, kLinux312));
}

TEST(ReleaseHasCompatibleWheel, WithoutInterpreterTagsAnyLiveWheelCounts) {
  EXPECT_TRUE(compatible({wheel("ostrel_ai-1.4.0-cp27-cp27m-win32.whl", ">=3.99")}, kUnknown));
  EXPECT_FALSE(compatible({wheel("ostrel_ai-1.4.0-py3-none-any.whl", nullptr, true), sdist("x.tar.gz")}, kUnknown));
}

TEST(ReleaseHasCompatibleWheel, WronglyTypedValuesAreTypeErrors) {
  EXPECT_THROW(compatible({json::object{{"packagetype", "bdist_wheel"}, {"requires_python", 3}}}), pk::TypeError);
  EXPECT_THROW(pk::release_has_compatible_wheel(json::object{}, nullptr, nullptr, kLinux312), pk::TypeError);
  EXPECT_THROW(pk::release_has_compatible_wheel(json::array{}, nullptr, 3.12, kLinux312), pk::TypeError);
  EXPECT_THROW(pk::version_newer_value(json::value(1), json::value("1.0")), pk::TypeError);
  EXPECT_THROW(pk::python_satisfies_requires(json::value(false), nullptr, kLinux312), pk::TypeError);
}

TEST(LatestCompatibleReleaseVersion, PicksNewestInstallableRelease) {
  auto latest = [](const char* releases) {
    return pk::latest_compatible_release_version(json::parse(releases), nullptr, nullptr, kLinux312);
  };
  const char* pure = R"([{"packagetype":"bdist_wheel","filename":"ostrel_ai-1.0-py3-none-any.whl"}])";
  auto doc = [&](std::initializer_list<std::pair<const char*, const char*>> releases) {
    std::string s = R"({"info":{"version":"9.9"},"releases":{)";
    bool first = true;
    for (const auto& [key, files] : releases) {
      s += (first ? "\"" : ",\"") + std::string(key) + "\":" + files;
      first = false;
    }
    return s + "}}";
  };
  const std::string only_sdist = R"([{"packagetype":"sdist","filename":"ostrel_ai-2.0.tar.gz"}])";

  EXPECT_EQ(latest(R"({"info":{"version":"1.0"}})"), std::nullopt);
  EXPECT_EQ(latest(R"({"releases":null})"), std::nullopt);
  EXPECT_EQ(latest(doc({{"1.9.0", pure}, {"2.0", only_sdist.c_str()}}).c_str()), "1.9.0");
  EXPECT_EQ(latest(doc({{"1.9.0", pure}, {"2.0.0rc1", pure}}).c_str()), "2.0.0rc1");
  EXPECT_EQ(latest(doc({{"1.0", pure}, {"1.0.0", pure}}).c_str()), "1.0.0");
  EXPECT_EQ(latest(doc({{"1.0.0", pure}, {"1.0", pure}}).c_str()), "1.0");
  EXPECT_EQ(latest(doc({{"1.10", pure}, {"1.9", pure}, {"not-a-version", pure}, {"1.2", "[]"}}).c_str()), "1.10");
  EXPECT_EQ(latest(doc({{"1.0", "[]"}, {"banana", "7"}}).c_str()), std::nullopt);

  EXPECT_THROW(latest(doc({{"1.0", "7"}}).c_str()), pk::TypeError);
  EXPECT_THROW(latest(R"({"releases":[1]})"), pk::TypeError);
  EXPECT_THROW(pk::latest_compatible_release_version(json::array{}, nullptr, nullptr, kLinux312), pk::TypeError);
}
