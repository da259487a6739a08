#include "gateway/workspace/walk.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace ostrel::gateway::workspace {

double seconds_of(std::int64_t sec, std::int64_t nsec) {
  return static_cast<double>(sec) + static_cast<double>(nsec) * 1e-9;
}

namespace {

struct Dir {
  DIR* handle = nullptr;
  explicit Dir(int fd) : handle(::fdopendir(fd)) {
    if (handle == nullptr) ::close(fd);
  }
  ~Dir() {
    if (handle != nullptr) ::closedir(handle);
  }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
};

constexpr int kOpenDir = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Walks the folder open as `fd` (taken over), whose relative path is `rel` ("" for the root).
void walk_folder(int fd, std::string& rel, const std::function<void(const FileFacts&)>& visit,
                 const WalkOptions& options) {
  Dir dir(fd);
  if (dir.handle == nullptr) return;
  const int dfd = ::dirfd(dir.handle);
  std::vector<std::string> folders;
  const std::size_t base = rel.size();
  while (const dirent* entry = ::readdir(dir.handle)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = entry->d_type;
    if (type == DT_DIR) {
      folders.emplace_back(name);
      continue;
    }
    if (type != DT_REG && type != DT_LNK && type != DT_UNKNOWN) continue;  // sockets, devices, pipes
    struct stat st {};
    // Links are followed: a link to a file is a file with its target's facts.
    if (::fstatat(dfd, entry->d_name, &st, 0) != 0) continue;  // vanished, or a dangling link
    if (S_ISDIR(st.st_mode)) {
      // Only a real folder is entered; a link to one is not.
      if (type == DT_UNKNOWN) {
        struct stat own {};
        if (::fstatat(dfd, entry->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(own.st_mode))
          folders.emplace_back(name);
      }
      continue;
    }
    if (!S_ISREG(st.st_mode)) continue;
    if (base != 0) rel += '/';
    rel += name;
    visit(FileFacts{rel, static_cast<std::uint64_t>(st.st_size), seconds_of(st.st_mtim.tv_sec, st.st_mtim.tv_nsec)});
    rel.resize(base);
  }
  for (const std::string& name : folders) {
    if (base != 0) rel += '/';
    rel += name;
    if (!options.skip_folder || !options.skip_folder(rel)) {
      int child = ::openat(dfd, name.c_str(), kOpenDir | O_NOFOLLOW);
      if (child >= 0) walk_folder(child, rel, visit, options);
    }
    rel.resize(base);
  }
}

}  // namespace

void walk_files(const std::filesystem::path& root, const std::function<void(const FileFacts&)>& visit,
                const WalkOptions& options) {
  int fd = ::open(root.c_str(), kOpenDir);
  if (fd < 0)
    throw std::filesystem::filesystem_error("cannot open the folder", root, std::error_code(errno, std::generic_category()));
  std::string rel;
  walk_folder(fd, rel, visit, options);
}

}  // namespace ostrel::gateway::workspace
