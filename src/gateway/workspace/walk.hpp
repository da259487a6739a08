#pragma once
// A fast recursive walk over the regular files below a folder: one open folder descriptor per
// level and fstatat() on names, so no path is resolved from the top again for every entry.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

namespace ostrel::gateway::workspace {

struct FileFacts {
  std::string_view rel;  // relative to the walked folder, "/" separators; valid during the call
  std::uint64_t size;
  double mtime;  // seconds since 1970-01-01 UTC, with the file system's fraction
};

struct WalkOptions {
  // Called with a folder's relative path; true keeps the walk out of it.
  std::function<bool(std::string_view rel)> skip_folder;
};

// Calls `visit` for every regular file at any depth below `root`, folders first met first.
// A link to a regular file counts as a file and reports its target's size and time; links to
// folders are not entered (so a link loop cannot trap the walk). Folders that cannot be read
// and entries that vanish during the walk are passed over. Throws std::filesystem::filesystem_error
// when `root` itself cannot be opened.
void walk_files(const std::filesystem::path& root, const std::function<void(const FileFacts&)>& visit,
                const WalkOptions& options = {});

// Seconds since 1970-01-01 UTC of a modification time, as a double the way the platform's
// scripting tools report it (whole seconds plus nanoseconds * 1e-9).
double seconds_of(std::int64_t sec, std::int64_t nsec);

}  // namespace ostrel::gateway::workspace
