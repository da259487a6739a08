// Micro benchmarks of the release compatibility rules: version parsing and
// comparison, and choosing the newest installable release from a large index
// document (500 releases of 30 files each).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <boost/json.hpp>

#include "packaging/release.hpp"
#include "packaging/version.hpp"

namespace pk = ostrel::packaging;
namespace json = boost::json;

namespace {

const std::vector<std::string> kVersions = {"1.0", "2.3.4", "v1.0.0rc1", "1!2.0.post3.dev4+ubuntu.1", "0.9.9a12",
                                            "  3.12.1  ", "10.20.30.40", "1.0-1", "2024.6.11.dev0", "1.4.0b2"};

void BM_ParseVersion(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    auto v = pk::parse_version(kVersions[i++ % kVersions.size()]);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_ParseVersion);

void BM_CompareVersions(benchmark::State& state) {
  std::vector<pk::Version> parsed;
  for (const auto& s : kVersions) parsed.push_back(*pk::parse_version(s));
  std::size_t i = 0;
  for (auto _ : state) {
    const bool less = parsed[i % parsed.size()] < parsed[(i + 3) % parsed.size()];
    benchmark::DoNotOptimize(less);
    ++i;
  }
}
BENCHMARK(BM_CompareVersions);

// 500 releases x 30 files: sdists, wheels for other platforms and Python
// versions, yanked ones, and one compatible wheel in every tenth release.
json::value index_document() {
  json::object releases;
  const char* platforms[] = {"win_amd64", "macosx_11_0_arm64", "musllinux_1_1_x86_64", "win32", "macosx_10_9_x86_64"};
  for (int r = 0; r < 500; ++r) {
    const std::string version = std::to_string(r / 100) + "." + std::to_string(r / 10 % 10) + "." + std::to_string(r % 10);
    json::array files;
    files.push_back(json::object{{"packagetype", "sdist"}, {"filename", "ostrel_ai-" + version + ".tar.gz"}, {"requires_python", ">=3.9"}});
    for (int f = 1; f < 30; ++f) {
      const std::string py = "cp3" + std::to_string(8 + f % 5);
      std::string name = "ostrel_ai-" + version + "-" + py + "-" + py + "-" + platforms[f % 5] + ".whl";
      bool yanked = f == 7;
      if (r % 10 == 0 && f == 29) name = "ostrel_ai-" + version + "-py3-none-any.whl";
      files.push_back(json::object{{"packagetype", "bdist_wheel"}, {"filename", name},
                                   {"requires_python", ">=3.9,!=3.10.*"}, {"yanked", yanked}});
    }
    releases[version] = std::move(files);
  }
  return json::object{{"info", json::object{{"version", "4.9.9"}}}, {"releases", std::move(releases)}};
}

void BM_LatestCompatibleRelease(benchmark::State& state) {
  const json::value doc = index_document();
  const pk::RunningInterpreter linux312{
      [] { return std::optional<std::string>("3.12.1"); },
      [] {
        return std::optional<pk::TagSet>(pk::TagSet{"cp312-cp312-manylinux_2_36_x86_64", "cp312-cp312-linux_x86_64",
                                                    "cp312-abi3-linux_x86_64", "py3-none-any", "py312-none-any"});
      }};
  for (auto _ : state) {
    auto latest = pk::latest_compatible_release_version(doc, nullptr, nullptr, linux312);
    benchmark::DoNotOptimize(latest);
  }
}
BENCHMARK(BM_LatestCompatibleRelease)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
