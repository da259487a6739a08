#include "http/response.hpp"

#include "http/json_text.hpp"

#include <boost/beast/core/string.hpp>
#include <boost/json/object.hpp>

namespace ostrel::http {

const std::string* Response::header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (boost::beast::iequals(key, name)) return &value;
  return nullptr;
}

Response error_response(unsigned status, std::string_view detail) {
  return json_response(boost::json::object{{"detail", detail}}, status);
}

Response json_response(const boost::json::value& value, unsigned status) {
  Response r;
  r.status = status;
  r.body = to_json(value);
  return r;
}

Response raw_response(std::string content, std::string content_type, unsigned status) {
  Response r;
  r.status = status;
  r.content_type = std::move(content_type);
  r.body = std::move(content);
  return r;
}

namespace {

// RFC 5987 ext-value: UTF-8 with every byte outside attr-char percent-encoded.
std::string rfc5987_encode(std::string_view name) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    bool attr_char = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
    if (attr_char) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  }
  return out;
}

// A quoted-string fallback for old clients: ASCII only, quotes and backslashes escaped.
std::string ascii_quoted(std::string_view name) {
  std::string out = "\"";
  for (unsigned char c : name) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else if (c >= 0x80) {
      if ((c & 0xC0) != 0x80) out += '_';  // one placeholder per non-ASCII character
    }
  }
  out += '"';
  return out;
}

}  // namespace

Response file_response(std::filesystem::path file, std::string_view download_name,
                       std::string content_type) {
  Response r;
  r.content_type = std::move(content_type);
  r.file = std::move(file);
  bool plain = true;
  for (unsigned char c : download_name) plain = plain && c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
  std::string disposition = "attachment; filename=" + ascii_quoted(download_name);
  if (!plain) disposition += "; filename*=UTF-8''" + rfc5987_encode(download_name);
  r.headers.emplace_back("Content-Disposition", std::move(disposition));
  return r;
}

}  // namespace ostrel::http
