#pragma once
// The answer the router hands to the server: a status, headers and either a text body
// or a file that the server streams from disk.
#include <boost/json/value.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel::http {

struct Response {
  unsigned status = 200;
  std::string content_type = "application/json";
  std::vector<std::pair<std::string, std::string>> headers;  // extra headers, in order
  std::string body;                                          // used when `file` is empty
  std::optional<std::filesystem::path> file;                 // streamed from disk when set

  const std::string* header(std::string_view name) const;
};

// {"detail": detail} with the given status.
Response error_response(unsigned status, std::string_view detail);
// A compact JSON answer.
Response json_response(const boost::json::value& value, unsigned status = 200);
// Raw content with its media type.
Response raw_response(std::string content, std::string content_type, unsigned status = 200);
// A file sent as an attachment named `download_name` (RFC 6266 / RFC 5987 Content-Disposition).
Response file_response(std::filesystem::path file, std::string_view download_name,
                       std::string content_type);

}  // namespace ostrel::http
