#include "gateway/routes/files.hpp"

#include "gateway/workspace/paths.hpp"
#include "http/access_token.hpp"
#include "http/response.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace ostrel::gateway::routes {

namespace {

namespace fs = std::filesystem;

// The path as the client wrote it, with empty and "." components dropped ("a//b/./c/" -> "a/b/c").
std::string normalised(std::string_view text) {
  std::string out = !text.empty() && text.front() == '/' ? "/" : "";
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t slash = std::min(text.find('/', start), text.size());
    std::string_view part = text.substr(start, slash - start);
    if (!part.empty() && part != ".") {
      if (!out.empty() && out.back() != '/') out += '/';
      out += part;
    }
    start = slash + 1;
  }
  return out.empty() ? "." : out;
}

// Media type from a file name's extension; application/octet-stream when it tells nothing.
std::string media_type_of(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 40> kTypes{{
      {"txt", "text/plain"},         {"md", "text/markdown"},       {"csv", "text/csv"},
      {"html", "text/html"},         {"htm", "text/html"},          {"css", "text/css"},
      {"js", "text/javascript"},     {"mjs", "text/javascript"},    {"json", "application/json"},
      {"xml", "application/xml"},    {"pdf", "application/pdf"},    {"zip", "application/zip"},
      {"gz", "application/gzip"},    {"tar", "application/x-tar"},  {"png", "image/png"},
      {"jpg", "image/jpeg"},         {"jpeg", "image/jpeg"},        {"gif", "image/gif"},
      {"webp", "image/webp"},        {"svg", "image/svg+xml"},      {"ico", "image/vnd.microsoft.icon"},
      {"bmp", "image/bmp"},          {"tif", "image/tiff"},         {"tiff", "image/tiff"},
      {"mp3", "audio/mpeg"},         {"wav", "audio/x-wav"},        {"ogg", "audio/ogg"},
      {"mp4", "video/mp4"},          {"webm", "video/webm"},        {"mov", "video/quicktime"},
      {"doc", "application/msword"}, {"xls", "application/vnd.ms-excel"},
      {"ppt", "application/vnd.ms-powerpoint"},
      {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
      {"py", "text/x-python"},       {"sh", "application/x-sh"},    {"yaml", "application/yaml"},
      {"yml", "application/yaml"},
  }};
  auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return "application/octet-stream";
  std::string ext(name.substr(dot + 1));
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const auto& [e, type] : kTypes)
    if (e == ext) return std::string(type);
  return "application/octet-stream";
}

// The gateway's own secrets: the provider keys and the access token. Never served, whatever
// path (link, hard link, another spelling) leads to them.
bool is_gateway_secret(const struct stat& file) {
  const std::array<fs::path, 2> secrets{workspace::home_folder() / ".ostrel" / "secrets.json",
                                        http::default_token_path()};
  for (const fs::path& secret : secrets) {
    struct stat st {};
    if (::stat(secret.c_str(), &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino) return true;
  }
  return false;
}

}  // namespace

awaitable<Result> download_file(Call& call, const AppState&) {
  const std::string path = normalised(call.text("path").value_or(""));
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) throw HttpError(404, "File not found");
  fs::path resolved;
  try {
    resolved = fs::canonical(fs::absolute(path));
  } catch (const fs::filesystem_error&) {
    throw HttpError(403, "Access denied");
  }
  const std::array<fs::path, 2> allowed{workspace::home_folder(), "/tmp"};
  if (std::none_of(allowed.begin(), allowed.end(), [&](const fs::path& root) { return workspace::is_within(resolved, root); }))
    throw HttpError(403, "Access denied");
  if (is_gateway_secret(st)) throw HttpError(403, "Access denied");
  const std::string name = fs::path(path).filename().string();
  co_return http::file_response(resolved, name, media_type_of(name));
}

}  // namespace ostrel::gateway::routes
