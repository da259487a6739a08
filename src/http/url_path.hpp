#pragma once
// Splitting and decoding of URL paths, shared by the router and the request guard so both see
// a path the same way.
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::http {

// "/a/b/" -> {"a", "b", ""}: the segments after the leading slash, still percent-encoded.
std::vector<std::string_view> split_path(std::string_view path);

// Percent-decodes one segment or value; malformed escapes are taken literally.
std::string percent_decode(std::string_view raw);

}  // namespace ostrel::http
