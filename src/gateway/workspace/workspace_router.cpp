#include "gateway/workspace/workspace_router.hpp"

#include "gateway/workspace/file_text.hpp"
#include "gateway/workspace/paths.hpp"
#include "gateway/workspace/walk.hpp"
#include "http/http_error.hpp"
#include "http/records.hpp"
#include "http/response.hpp"

#include "components/config/config.hpp"

#include <boost/describe/class.hpp>
#include <boost/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace ostrel::gateway {

// Bodies of POST /workspace/files and PATCH /workspace. Every field is optional; a value that
// is not a string is refused with 422 before the handler runs.
struct WorkspaceFileCreate {
  std::string path = "untitled.txt";
  std::string content;
  static constexpr std::array<std::string_view, 0> kRequired{};
};
BOOST_DESCRIBE_STRUCT(WorkspaceFileCreate, (), (path, content))

struct WorkspaceDirUpdate {
  std::string workspace_dir;
  static constexpr std::array<std::string_view, 0> kRequired{};
};
BOOST_DESCRIBE_STRUCT(WorkspaceDirUpdate, (), (workspace_dir))

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using boost::asio::awaitable;
using http::Call;
using http::HttpError;
using http::Result;
using namespace workspace;

[[noreturn]] void throw_errno(const std::string& what, const fs::path& path) {
  throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

// stat() with links followed; false when the path does not exist (or is a dangling link).
bool stat_of(const fs::path& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

double mtime_of(const struct stat& st) { return seconds_of(st.st_mtim.tv_sec, st.st_mtim.tv_nsec); }

// A path relative to `base` with "/" separators; `path` lies inside `base` (both resolved).
std::string relative_text(const fs::path& path, const fs::path& base) {
  return path.lexically_relative(base).generic_string();
}

void write_whole(const fs::path& path, std::string_view text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw_errno("cannot write", path);
  for (std::size_t done = 0; done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      errno = saved;
      throw_errno("cannot write", path);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) throw_errno("cannot write", path);
}

// A path the client gave that must name an existing file (not a folder, pipe or device).
fs::path existing_file(const fs::path& root, std::string_view rel, struct stat& st) {
  fs::path target = safe_path(root, rel);
  if (!stat_of(target, st) || !S_ISREG(st.st_mode)) throw HttpError(404, "File not found");
  return target;
}

// ---- handlers (each runs its file-system work on the pool) ----

json::value manifest() {
  fs::path root = workspace_root();
  json::array files;
  walk_files(
      root,
      [&](const FileFacts& f) {
        if (!is_user_file(f.rel)) return;
        files.push_back(json::object{{"path", f.rel}, {"size", f.size}, {"mtime", f.mtime}});
      },
      WalkOptions{skips_whole_folder});
  std::size_t total = files.size();
  return json::object{{"files", std::move(files)}, {"total", total}};
}

json::value list_folder(const std::string& path) {
  fs::path root = workspace_root();
  fs::path resolved_root = resolve(root);
  fs::path target = path.empty() ? resolved_root : safe_path(root, path);
  if (!fs::exists(target)) throw HttpError(404, "Path not found");
  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(target)) entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename().native() < b.filename().native(); });
  json::array files;
  for (const fs::path& p : entries) {
    struct stat st {};
    if (!stat_of(p, st)) throw_errno("cannot read the facts of", p);
    json::value size = nullptr;
    if (S_ISREG(st.st_mode)) size = static_cast<std::uint64_t>(st.st_size);
    files.push_back(json::object{{"name", p.filename().string()},
                                 {"path", relative_text(p, resolved_root)},
                                 {"type", S_ISDIR(st.st_mode) ? "directory" : "file"},
                                 {"size", std::move(size)},
                                 {"mtime", mtime_of(st)}});
  }
  return json::object{{"files", std::move(files)}, {"path", path.empty() ? std::string("/") : path}};
}

json::value read_text_or_base64(const std::string& file_path) {
  fs::path root = workspace_root();
  struct stat st {};
  fs::path target = existing_file(root, file_path, st);
  std::string bytes = read_whole(target);
  bool binary = !valid_utf8(bytes);
  json::object out;
  out["path"] = file_path;
  out["content"] = binary ? base64(bytes) : std::move(bytes);
  out["binary"] = binary;
  out["size"] = static_cast<std::uint64_t>(st.st_size);
  out["mtime"] = mtime_of(st);
  return out;
}

json::value create(const WorkspaceFileCreate& body) {
  fs::path root = workspace_root();
  fs::path target = safe_path(root, body.path);
  fs::create_directories(target.parent_path());
  write_whole(target, body.content);
  struct stat st {};
  if (!stat_of(target, st)) throw_errno("cannot read the facts of", target);
  return json::object{{"path", relative_text(target, resolve(root))}, {"size", static_cast<std::uint64_t>(st.st_size)}};
}

json::value remove(const std::string& file_path) {
  fs::path root = workspace_root();
  fs::path target = safe_path(root, file_path);
  // One request must not wipe the user's whole workspace.
  if (target == resolve(root)) throw HttpError(400, "Cannot delete the workspace root");
  struct stat st {};
  if (!stat_of(target, st)) throw HttpError(404, "Not found");
  if (S_ISDIR(st.st_mode)) fs::remove_all(target);
  else fs::remove(target);
  return json::object{{"deleted", file_path}};
}

json::value info() {
  fs::path root = workspace_root();
  std::uint64_t total = 0, count = 0;
  walk_files(root, [&](const FileFacts& f) {
    total += f.size;
    ++count;
  });
  const config::OstrelConfig cfg = config::OstrelConfig::load();
  json::object out;
  out["path"] = root.string();
  out["default_path"] = default_root().string();
  out["custom_path"] = cfg.cloud_sync.workspace_dir;
  out["total_size_bytes"] = total;
  out["file_count"] = count;
  return out;
}

json::value set_dir(const WorkspaceDirUpdate& body) {
  std::string new_dir = body.workspace_dir;
  if (!new_dir.empty()) {
    fs::path canonical = resolve(expand_user(new_dir));
    fs::create_directories(canonical);
    new_dir = canonical.string();
  }
  config::OstrelConfig cfg = config::OstrelConfig::load();
  cfg.update(json::object{{"cloud_sync", json::object{{"workspace_dir", new_dir}}}});
  fs::path root = workspace_root();
  return json::object{{"path", root.string()}, {"custom_path", new_dir}};
}

}  // namespace

http::Router create_workspace_router(http::WorkerPool& pool) {
  using enum http::Returns;
  constexpr auto GET = http::Verb::get;
  constexpr auto POST = http::Verb::post;
  constexpr auto DELETE = http::Verb::delete_;
  constexpr auto PATCH = http::Verb::patch;
  http::WorkerPool* p = &pool;
  // Answers that can be large (a manifest of every file, a whole file) are written out as JSON
  // text on the pool too, so the event loop only sends them.
  auto text_answer = [p](auto work) -> http::Handler {
    return [p, work](Call& call) -> awaitable<Result> {
      co_return co_await http::run_blocking(*p, [&] { return http::json_response(work(call)); });
    };
  };
  auto value_answer = [p](auto work) -> http::Handler {
    return [p, work](Call& call) -> awaitable<Result> {
      co_return co_await http::run_blocking(*p, [&] { return work(call); });
    };
  };

  http::Router r("/workspace");
  r.add({GET, "/manifest", "local_manifest", text_answer([](Call&) { return manifest(); }), own_response, {}, {},
         "Return all workspace files with mtime for sync diff."});
  r.add({GET, "/files", "list_files", text_answer([](Call& c) { return list_folder(c.text("path").value_or("")); }),
         own_response, {http::ParamSpec{"path", http::ParamIn::query, http::ParamType::text, false, json::value("")}}});
  r.add({GET, "/files/{file_path:path}", "read_file",
         text_answer([](Call& c) { return read_text_or_base64(c.path("file_path")); }), own_response});
  r.add({GET, "/download/{file_path:path}", "download_file",
         [p](Call& c) -> awaitable<Result> {
           co_return co_await http::run_blocking(*p, [&] {
             struct stat st {};
             fs::path target = existing_file(workspace_root(), c.path("file_path"), st);
             return http::file_response(target, target.filename().string(), "application/octet-stream");
           });
         },
         file});
  r.add({POST, "/files", "create_file", value_answer([](Call& c) { return create(c.body<WorkspaceFileCreate>()); }),
         mapping, {}, http::record_body<WorkspaceFileCreate>("WorkspaceFileCreate")});
  r.add({DELETE, "/files/{file_path:path}", "delete_file",
         value_answer([](Call& c) { return remove(c.path("file_path")); }), mapping});
  r.add({GET, "", "workspace_info", value_answer([](Call&) { return info(); }), mapping});
  r.add({PATCH, "", "set_workspace_dir", value_answer([](Call& c) { return set_dir(c.body<WorkspaceDirUpdate>()); }),
         mapping, {}, http::record_body<WorkspaceDirUpdate>("WorkspaceDirUpdate"),
         "Change the local workspace directory.\n\n"
         "Body: {\"workspace_dir\": \"/path/to/folder\"}; an empty value returns to the default folder "
         "~/ostrel-workspace."});
  return r;
}

}  // namespace ostrel::gateway
