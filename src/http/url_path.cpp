#include "http/url_path.hpp"

#include <boost/url/pct_string_view.hpp>

namespace ostrel::http {

std::vector<std::string_view> split_path(std::string_view path) {
  std::vector<std::string_view> parts;
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  while (true) {
    auto slash = path.find('/');
    parts.push_back(path.substr(0, slash));
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return parts;
}

std::string percent_decode(std::string_view raw) {
  auto pct = boost::urls::make_pct_string_view(raw);
  if (!pct) return std::string(raw);
  return pct->decode();
}

}  // namespace ostrel::http
