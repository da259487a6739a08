#include "gateway/workspace/file_text.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace ostrel::gateway::workspace {

namespace fs = std::filesystem;

bool valid_utf8(std::string_view s) {
  auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = at(i);
    if (c < 0x80) { ++i; continue; }
    std::size_t extra;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) extra = 1;
    else if (c == 0xE0) { extra = 2; lo = 0xA0; }
    else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) extra = 2;
    else if (c == 0xED) { extra = 2; hi = 0x9F; }
    else if (c == 0xF0) { extra = 3; lo = 0x90; }
    else if (c >= 0xF1 && c <= 0xF3) extra = 3;
    else if (c == 0xF4) { extra = 3; hi = 0x8F; }
    else return false;
    if (i + extra >= s.size()) return false;  // cut short
    if (at(i + 1) < lo || at(i + 1) > hi) return false;
    for (std::size_t k = 2; k <= extra; ++k)
      if ((at(i + k) & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

std::string base64(std::string_view bytes) {
  static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  auto b = [&](std::size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[k])); };
  for (; i + 3 <= bytes.size(); i += 3) {
    unsigned v = b(i) << 16 | b(i + 1) << 8 | b(i + 2);
    out += digits[v >> 18];
    out += digits[(v >> 12) & 63];
    out += digits[(v >> 6) & 63];
    out += digits[v & 63];
  }
  if (std::size_t left = bytes.size() - i; left > 0) {
    unsigned v = b(i) << 16 | (left == 2 ? b(i + 1) << 8 : 0);
    out += digits[v >> 18];
    out += digits[(v >> 12) & 63];
    out += left == 2 ? digits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string read_whole(const fs::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw fs::filesystem_error("cannot open", path, std::error_code(errno, std::generic_category()));
  std::string data;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) data.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      std::error_code ec(errno, std::generic_category());
      ::close(fd);
      throw fs::filesystem_error("cannot read", path, ec);
    }
    data.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

}  // namespace ostrel::gateway::workspace
