#include "http/access_token.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <fmt/format.h>

namespace ostrel::http {

namespace {

namespace fs = std::filesystem;

std::string errno_text(int err) { return std::strerror(err); }

// Closes a file descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

std::string random_hex_token() {
  std::array<unsigned char, 32> bytes{};
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t n = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw AccessTokenError("cannot get random bytes from the operating system: " + errno_text(errno));
    }
    filled += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 0x0f];
  }
  return out;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void ensure_folder(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return;
  if (!folder.parent_path().empty()) fs::create_directories(folder.parent_path(), ec);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw AccessTokenError(fmt::format("cannot create {}: {}", folder.string(), errno_text(errno)));
}

// Writes a new token to a private temporary file, then links it into place: link() fails when
// the name exists, so a concurrent start never sees a half-written file nor overwrites one.
// Returns false when another process created the file first.
bool create_token_file(const fs::path& file) {
  std::string temp = (file.parent_path() / ".gateway-token.XXXXXX").string();
  int raw = ::mkostemp(temp.data(), O_CLOEXEC);  // mode 0600
  if (raw < 0) throw AccessTokenError(fmt::format("cannot create a file in {}: {}", file.parent_path().string(), errno_text(errno)));
  Fd fd(raw);
  bool ok = write_all(fd.fd, random_hex_token() + "\n") && ::fsync(fd.fd) == 0;
  int err = errno;
  if (!ok) {
    ::unlink(temp.c_str());
    throw AccessTokenError(fmt::format("cannot write {}: {}", temp, errno_text(err)));
  }
  int linked = ::link(temp.c_str(), file.c_str());
  err = errno;
  ::unlink(temp.c_str());
  if (linked != 0 && err == EEXIST) return false;
  if (linked != 0) throw AccessTokenError(fmt::format("cannot create {}: {}", file.string(), errno_text(err)));
  Fd dir(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd >= 0) ::fsync(dir.fd);
  return true;
}

bool token_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_' || c == '.' || c == '~';
}

// Reads the token; nullopt when the file does not exist.
std::optional<std::string> read_token_file(const fs::path& file) {
  Fd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (fd.fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP) throw AccessTokenError(fmt::format("{} is a symbolic link; remove it and start again", file.string()));
    throw AccessTokenError(fmt::format("cannot open {}: {}", file.string(), errno_text(errno)));
  }
  struct stat st {};
  if (::fstat(fd.fd, &st) != 0) throw AccessTokenError(fmt::format("cannot inspect {}: {}", file.string(), errno_text(errno)));
  if (!S_ISREG(st.st_mode)) throw AccessTokenError(fmt::format("{} is not a regular file; remove it and start again", file.string()));
  if (st.st_uid != ::geteuid())
    throw AccessTokenError(fmt::format("{} belongs to another user; remove it and start again", file.string()));
  // Group or other access means the token may already be known to someone else: refuse rather
  // than quietly keep using it.
  if ((st.st_mode & 077) != 0)
    throw AccessTokenError(fmt::format(
        "{} is accessible to other users (mode {:04o}), so the token may have leaked. Remove it to get a new token "
        "(rm {}), or, if you are sure nobody read it, restrict it with: chmod 600 {}",
        file.string(), st.st_mode & 07777, file.string(), file.string()));
  std::string text;
  std::array<char, 512> buf{};
  while (text.size() < 4096) {
    ssize_t n = ::read(fd.fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw AccessTokenError(fmt::format("cannot read {}: {}", file.string(), errno_text(errno)));
    if (n == 0) break;
    text.append(buf.data(), static_cast<std::size_t>(n));
  }
  auto begin = text.find_first_not_of(" \t\r\n");
  auto end = text.find_last_not_of(" \t\r\n");
  std::string token = begin == std::string::npos ? std::string{} : text.substr(begin, end - begin + 1);
  if (token.size() < 32 || !std::all_of(token.begin(), token.end(), token_char))
    throw AccessTokenError(fmt::format(
        "{} does not hold a usable token (at least 32 letters, digits or -._~); remove it to get a new one", file.string()));
  return token;
}

}  // namespace

std::filesystem::path default_token_path() {
  std::string home;
  if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') home = env;
  else if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_dir != nullptr) home = pw->pw_dir;
  if (home.empty()) throw AccessTokenError("cannot find the home folder: HOME is not set");
  return fs::path(home) / ".ostrel" / "gateway-token";
}

AccessToken load_or_create_access_token(const std::filesystem::path& file) {
  if (auto token = read_token_file(file)) return {*token, file, false};
  ensure_folder(file.parent_path());
  bool created = create_token_file(file);
  auto token = read_token_file(file);
  if (!token) throw AccessTokenError(fmt::format("{} vanished while it was being created; start again", file.string()));
  return {*token, file, created};
}

}  // namespace ostrel::http
