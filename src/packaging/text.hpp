#pragma once
// Small text helpers shared by the parsers: the white space set that the
// Python packaging tools strip (every code point for which str.isspace() is
// true), ASCII case folding, and comparison of arbitrarily long decimal numbers.

#include <compare>
#include <cstddef>
#include <string>
#include <string_view>

namespace ostrel::packaging::text {

// Byte length of the white-space code point starting at s[pos] (UTF-8), or 0.
std::size_t space_at(std::string_view s, std::size_t pos) noexcept;

// s without leading and trailing white space.
std::string_view strip(std::string_view s) noexcept;

inline bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
inline char lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
std::string lower(std::string_view s);

// Case-insensitive (ASCII) test that s[pos..] begins with word (given in lower case).
bool starts_with_nocase(std::string_view s, std::size_t pos, std::string_view word) noexcept;

// Digits with leading zeros removed ("0" for zero); input must be ASCII digits.
std::string trim_zeros(std::string_view digits);

// Order of two numbers produced by trim_zeros.
std::strong_ordering compare_numbers(std::string_view a, std::string_view b) noexcept;

}  // namespace ostrel::packaging::text
