#include "packaging/wheel.hpp"

#include <vector>

#include "packaging/text.hpp"

namespace ostrel::packaging {
namespace {

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i < s.size() && s[i] != sep) continue;
    out.push_back(s.substr(start, i - start));
    start = i + 1;
  }
  return out;
}

bool is_name_char(char c) {
  const char l = text::lower(c);
  return text::is_digit(c) || (l >= 'a' && l <= 'z') || c == '_' || c == '.';
}

}  // namespace

Result<std::set<TagText>> parse_tag(std::string_view tag) {
  const auto fields = split(tag, '-');
  if (fields.size() != 3) return Error{"Invalid tag: '" + std::string(tag) + "'"};
  std::set<TagText> out;
  for (std::string_view interpreter : split(fields[0], '.'))
    for (std::string_view abi : split(fields[1], '.'))
      for (std::string_view platform : split(fields[2], '.'))
        out.insert(text::lower(interpreter) + "-" + text::lower(abi) + "-" + text::lower(platform));
  return out;
}

std::string canonicalize_name(std::string_view name) {
  std::string out;
  bool in_run = false;
  for (char c : name) {
    if (c == '-' || c == '_' || c == '.') {
      if (!in_run) out += '-';
      in_run = true;
    } else {
      out += text::lower(c);
      in_run = false;
    }
  }
  return out;
}

Result<WheelName> parse_wheel_filename(std::string_view filename) {
  const std::string shown(filename);
  if (!filename.ends_with(".whl")) return Error{"Invalid wheel filename (extension must be '.whl'): " + shown};
  const std::string_view stem = filename.substr(0, filename.size() - 4);
  const auto parts = split(stem, '-');
  if (parts.size() != 5 && parts.size() != 6) return Error{"Invalid wheel filename (wrong number of parts): " + shown};

  const std::string_view name = parts[0];
  if (name.find("__") != std::string_view::npos) return Error{"Invalid project name: " + shown};
  for (char c : name)
    if (!is_name_char(c)) return Error{"Invalid project name: " + shown};

  auto version = parse_version(parts[1]);
  if (!version) return Error{version.error()};

  WheelName wheel{canonicalize_name(name), std::move(version).value(), std::nullopt, {}};
  if (parts.size() == 6) {
    const std::string_view build = parts[2];
    std::size_t d = 0;
    while (d < build.size() && text::is_digit(build[d])) ++d;
    if (d == 0) return Error{"Invalid build number: " + std::string(build) + " in '" + shown + "'"};
    // The text after the number ends at a line break, as the reference tools read it.
    std::string_view rest = build.substr(d);
    rest = rest.substr(0, rest.find('\n'));
    wheel.build = WheelName::Build{text::trim_zeros(build.substr(0, d)), std::string(rest)};
  }
  const std::size_t n = parts.size();
  const std::string tag = std::string(parts[n - 3]) + "-" + std::string(parts[n - 2]) + "-" + std::string(parts[n - 1]);
  auto tags = parse_tag(tag);
  if (!tags) return Error{tags.error()};
  wheel.tags = std::move(tags).value();
  return wheel;
}

}  // namespace ostrel::packaging
