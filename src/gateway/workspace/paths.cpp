#include "gateway/workspace/paths.hpp"

#include "components/config/config.hpp"
#include "http/http_error.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <system_error>
#include <vector>

namespace ostrel::gateway::workspace {

namespace fs = std::filesystem;

fs::path home_folder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/";
}

fs::path expand_user(std::string_view path) {
  if (path.empty() || path.front() != '~') return fs::path(path);
  std::size_t slash = path.find('/');
  std::string_view user = path.substr(1, slash == std::string_view::npos ? std::string_view::npos : slash - 1);
  std::string_view rest = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
  fs::path home;
  if (user.empty()) {
    home = home_folder();
  } else {
    const passwd* pw = ::getpwnam(std::string(user).c_str());
    if (pw == nullptr || pw->pw_dir == nullptr) return fs::path(path);  // unknown user: as written
    home = pw->pw_dir;
  }
  return rest.empty() ? home : home / rest;
}

namespace {

// Splits a path text into its components, empty ones and "." dropped.
void push_components(std::deque<std::string>& into, const std::string& text, bool front) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t slash = text.find('/', start);
    if (slash == std::string::npos) slash = text.size();
    std::string part = text.substr(start, slash - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = slash + 1;
  }
  if (front) into.insert(into.begin(), parts.begin(), parts.end());
  else into.insert(into.end(), parts.begin(), parts.end());
}

}  // namespace

fs::path resolve(const fs::path& path) {
  constexpr int kMaxLinks = 40;  // as the kernel allows in one lookup
  std::deque<std::string> pending;
  push_components(pending, fs::absolute(path).string(), false);
  std::string resolved = "/";
  int links = 0;
  while (!pending.empty()) {
    std::string name = std::move(pending.front());
    pending.pop_front();
    if (name == "..") {
      auto slash = resolved.find_last_of('/');
      resolved.erase(slash == 0 ? 1 : slash);
      continue;
    }
    std::string next = resolved == "/" ? "/" + name : resolved + "/" + name;
    struct stat st {};
    if (::lstat(next.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      resolved = std::move(next);  // a real folder or file, or a part that does not exist
      continue;
    }
    if (++links > kMaxLinks)
      throw fs::filesystem_error("too many levels of symbolic links", path,
                                 std::make_error_code(std::errc::too_many_symbolic_link_levels));
    std::array<char, 4096> buffer{};
    ssize_t n = ::readlink(next.c_str(), buffer.data(), buffer.size());
    if (n < 0 || static_cast<std::size_t>(n) >= buffer.size())
      throw fs::filesystem_error("cannot read a symbolic link", fs::path(next),
                                 std::error_code(n < 0 ? errno : ENAMETOOLONG, std::generic_category()));
    std::string target(buffer.data(), static_cast<std::size_t>(n));
    if (!target.empty() && target.front() == '/') resolved = "/";
    push_components(pending, target, true);
  }
  return resolved;
}

bool is_within(const fs::path& inner, const fs::path& outer) {
  auto strip = [](const fs::path& p) {
    std::vector<fs::path> parts;
    for (const auto& part : p)
      if (!part.empty() && part != ".") parts.push_back(part);
    return parts;
  };
  auto in = strip(inner), out = strip(outer);
  return out.size() <= in.size() && std::equal(out.begin(), out.end(), in.begin());
}

fs::path default_root() { return home_folder() / "ostrel-workspace"; }

fs::path workspace_root() {
  const config::OstrelConfig cfg = config::OstrelConfig::load();
  const std::string& custom = cfg.cloud_sync.workspace_dir;
  fs::path root = custom.empty() ? default_root() : expand_user(custom);
  fs::create_directories(root);
  return root;
}

fs::path safe_path(const fs::path& root, std::string_view rel) {
  while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
  fs::path target, resolved_root;
  try {
    target = resolve(root / rel);
    resolved_root = resolve(root);
  } catch (const fs::filesystem_error&) {
    throw http::HttpError(400, "Invalid path");  // a link loop leads nowhere we could check
  }
  if (!is_within(target, resolved_root)) throw http::HttpError(400, "Invalid path");
  return target;
}

namespace {

// Names of tool folders, caches and secret files, matched anywhere in a relative path.
constexpr std::array<std::string_view, 7> kSkip = {"__pycache__", ".git", "node_modules", ".DS_Store",
                                                   ".venv",       "venv", ".env"};
// Top-level folders named after the product, matched as the whole first component.
constexpr std::array<std::string_view, 4> kSkipTop = {"ostrel", ".ostrel", "ostrel_ai", "ostrel-ai"};

}  // namespace

bool is_user_file(std::string_view rel) {
  std::string_view first = rel.substr(0, rel.find('/'));
  for (auto top : kSkipTop)
    if (first == top) return false;
  for (auto name : kSkip)
    if (rel.find(name) != std::string_view::npos) return false;
  return true;
}

bool skips_whole_folder(std::string_view rel) {
  // Every file below holds the folder's path as a prefix, so it matches whatever the folder matches.
  return !is_user_file(rel);
}

}  // namespace ostrel::gateway::workspace
