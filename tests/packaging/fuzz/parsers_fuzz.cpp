// libFuzzer target: the version, specifier and wheel-name parsers must never
// crash, and whatever they accept must survive a round trip through its
// normalised text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "packaging/specifier.hpp"
#include "packaging/version.hpp"
#include "packaging/wheel.hpp"

namespace pk = ostrel::packaging;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  if (auto v = pk::parse_version(input)) {
    auto again = pk::parse_version(v->str());
    if (!again || !(*again == *v) || again->str() != v->str()) std::abort();
  }
  if (auto set = pk::SpecifierSet::parse(input)) {
    for (const char* probe : {"1.0", "2.0rc1", "1.0.post1+local", "0!0"}) {
      const auto v = pk::parse_version(probe);
      (void)set->contains(*v);
      (void)set->contains(*v, true);
    }
  }
  (void)pk::parse_wheel_filename(input);
  return 0;
}
