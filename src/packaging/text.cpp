#include "packaging/text.hpp"

namespace ostrel::packaging::text {

std::size_t space_at(std::string_view s, std::size_t pos) noexcept {
  if (pos >= s.size()) return 0;
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 == ' ' || (b0 >= 0x09 && b0 <= 0x0d) || (b0 >= 0x1c && b0 <= 0x1f)) return 1;
  auto byte = [&](std::size_t i) -> unsigned {
    return pos + i < s.size() ? static_cast<unsigned char>(s[pos + i]) : 0u;
  };
  if (b0 == 0xc2 && (byte(1) == 0x85 || byte(1) == 0xa0)) return 2;                 // U+0085, U+00A0
  if (b0 == 0xe1 && byte(1) == 0x9a && byte(2) == 0x80) return 3;                    // U+1680
  if (b0 == 0xe2 && byte(1) == 0x80) {
    const unsigned b2 = byte(2);
    if ((b2 >= 0x80 && b2 <= 0x8a) || b2 == 0xa8 || b2 == 0xa9 || b2 == 0xaf) return 3;  // U+2000..200A, 2028, 2029, 202F
  }
  if (b0 == 0xe2 && byte(1) == 0x81 && byte(2) == 0x9f) return 3;                    // U+205F
  if (b0 == 0xe3 && byte(1) == 0x80 && byte(2) == 0x80) return 3;                    // U+3000
  return 0;
}

std::string_view strip(std::string_view s) noexcept {
  std::size_t begin = 0;
  while (std::size_t n = space_at(s, begin)) begin += n;
  // Scan forward so multi-byte spaces at the end are recognised correctly.
  std::size_t end = begin, pos = begin;
  while (pos < s.size()) {
    if (std::size_t n = space_at(s, pos)) {
      pos += n;
    } else {
      ++pos;
      end = pos;
    }
  }
  return s.substr(begin, end - begin);
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

bool starts_with_nocase(std::string_view s, std::size_t pos, std::string_view word) noexcept {
  if (pos > s.size() || s.size() - pos < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (lower(s[pos + i]) != word[i]) return false;
  return true;
}

std::string trim_zeros(std::string_view digits) {
  std::size_t i = 0;
  while (i + 1 < digits.size() && digits[i] == '0') ++i;
  return std::string(digits.substr(i));
}

std::strong_ordering compare_numbers(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return a.size() <=> b.size();
  const int c = a.compare(b);
  return c <=> 0;
}

}  // namespace ostrel::packaging::text
