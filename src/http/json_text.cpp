#include "http/json_text.hpp"

#include <boost/json.hpp>

#include <array>
#include <charconv>
#include <cmath>

namespace ostrel::http {
namespace json = boost::json;

namespace {

struct Style {
  bool indent;
  bool ascii;
};

void write_number(std::string& out, double d) {
  if (!std::isfinite(d)) {  // JSON has no NaN or infinity; Python writes these names too
    out += std::isnan(d) ? "NaN" : (d > 0 ? "Infinity" : "-Infinity");
    return;
  }
  std::array<char, 32> buf{};
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), d);
  std::string_view text(buf.data(), static_cast<std::size_t>(end - buf.data()));
  out += text;
  // Keep a double recognisable as one: 1.0 stays 1.0, not 1.
  if (text.find_first_of(".eEn") == std::string_view::npos) out += ".0";
}

void append_hex4(std::string& out, unsigned v) {
  static constexpr char digits[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += digits[(v >> shift) & 0xF];
}

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i.
// An invalid byte is taken as U+FFFD so the output stays valid JSON.
unsigned decode_utf8(std::string_view s, std::size_t& i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned c = byte(i);
  int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
  if ((c >= 0x80 && extra == 0) || c >= 0xF8) { ++i; return 0xFFFD; }
  unsigned cp = extra == 0 ? c : c & (0x3Fu >> extra);
  for (int k = 1; k <= extra; ++k) {
    if (i + static_cast<std::size_t>(k) >= s.size() || (byte(i + static_cast<std::size_t>(k)) & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(i + static_cast<std::size_t>(k)) & 0x3F);
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

void write_string(std::string& out, std::string_view s, bool ascii) {
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': out += "\\\""; ++i; continue;
      case '\\': out += "\\\\"; ++i; continue;
      case '\n': out += "\\n"; ++i; continue;
      case '\r': out += "\\r"; ++i; continue;
      case '\t': out += "\\t"; ++i; continue;
      case '\b': out += "\\b"; ++i; continue;
      case '\f': out += "\\f"; ++i; continue;
      default: break;
    }
    if (c < 0x20) { append_hex4(out, c); ++i; continue; }
    if (c < 0x80) { out += static_cast<char>(c); ++i; continue; }
    std::size_t start = i;
    unsigned cp = decode_utf8(s, i);
    if (ascii) {
      if (cp >= 0x10000) {
        cp -= 0x10000;
        append_hex4(out, 0xD800 + (cp >> 10));
        append_hex4(out, 0xDC00 + (cp & 0x3FF));
      } else {
        append_hex4(out, cp);
      }
    } else if (cp == 0xFFFD && !(i - start == 3 && s.substr(start, 3) == "\xEF\xBF\xBD")) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(s.substr(start, i - start));
    }
  }
  out += '"';
}

void newline(std::string& out, int depth) {
  out += '\n';
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
}

void write(std::string& out, const json::value& v, Style style, int depth) {
  switch (v.kind()) {
    case json::kind::null: out += "null"; return;
    case json::kind::bool_: out += v.get_bool() ? "true" : "false"; return;
    case json::kind::int64: out += std::to_string(v.get_int64()); return;
    case json::kind::uint64: out += std::to_string(v.get_uint64()); return;
    case json::kind::double_: write_number(out, v.get_double()); return;
    case json::kind::string: write_string(out, v.get_string(), style.ascii); return;
    case json::kind::array: {
      const auto& arr = v.get_array();
      if (arr.empty()) { out += "[]"; return; }
      out += '[';
      bool first = true;
      for (const auto& item : arr) {
        if (!first) out += ',';
        first = false;
        if (style.indent) newline(out, depth + 1);
        write(out, item, style, depth + 1);
      }
      if (style.indent) newline(out, depth);
      out += ']';
      return;
    }
    case json::kind::object: {
      const auto& obj = v.get_object();
      if (obj.empty()) { out += "{}"; return; }
      out += '{';
      bool first = true;
      for (const auto& [key, item] : obj) {
        if (!first) out += ',';
        first = false;
        if (style.indent) newline(out, depth + 1);
        write_string(out, key, style.ascii);
        out += style.indent ? ": " : ":";
        write(out, item, style, depth + 1);
      }
      if (style.indent) newline(out, depth);
      out += '}';
      return;
    }
  }
}

}  // namespace

std::string to_json(const json::value& value) {
  std::string out;
  write(out, value, Style{.indent = false, .ascii = false}, 0);
  return out;
}

std::string to_json_file_text(const json::value& value) {
  std::string out;
  write(out, value, Style{.indent = true, .ascii = true}, 0);
  return out;
}

}  // namespace ostrel::http
