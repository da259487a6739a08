#include "http/file_sender.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/write.hpp>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <variant>

namespace ostrel::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bh = beast::http;

OpenFile::~OpenFile() {
  if (fd_ >= 0) ::close(fd_);
}

OpenFile::OpenFile(OpenFile&& other) noexcept : fd_(other.fd_), size_(other.size_) { other.fd_ = -1; }

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    size_ = other.size_;
    other.fd_ = -1;
  }
  return *this;
}

OpenFile OpenFile::open(const std::filesystem::path& path, beast::error_code& ec) {
  ec = {};
  OpenFile file;
  // O_NONBLOCK: opening a named pipe must not wait for a writer; it is refused below anyway.
  file.fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file.fd_ < 0) {
    ec = beast::error_code(errno, beast::system_category());
    return {};
  }
  struct stat st {};
  if (::fstat(file.fd_, &st) != 0) {
    ec = beast::error_code(errno, beast::system_category());
    return {};
  }
  if (!S_ISREG(st.st_mode)) {
    ec = beast::error_code(EINVAL, beast::system_category());
    return {};
  }
  file.size_ = static_cast<std::uint64_t>(st.st_size);
  return file;
}

asio::awaitable<beast::error_code> async_send_file(beast::tcp_stream& stream,
                                                   bh::response<bh::empty_body>& header, const OpenFile& file,
                                                   std::chrono::steady_clock::duration progress_timeout) {
  using namespace asio::experimental::awaitable_operators;
  constexpr auto use_tuple = asio::as_tuple(asio::use_awaitable);
  constexpr std::size_t kChunk = 4 << 20;  // per call; the loop gets a turn between chunks

  header.content_length(file.size());
  std::ostringstream head;
  head << header.base();
  std::string head_text = std::move(head).str();
  if (auto [ec, n] = co_await asio::async_write(stream, asio::buffer(head_text), use_tuple); ec) co_return ec;
  if (header.result() == bh::status::not_modified || header.result_int() < 200 ||
      header.result() == bh::status::no_content)
    co_return beast::error_code{};

  auto& socket = stream.socket();
  socket.non_blocking(true);
  const int out = socket.native_handle();
  off_t offset = 0;
  const auto total = static_cast<off_t>(file.size());
  while (offset < total) {
    std::size_t want = static_cast<std::size_t>(std::min<off_t>(total - offset, static_cast<off_t>(kChunk)));
    ssize_t sent = ::sendfile(out, file.fd(), &offset, want);
    if (sent > 0) {
      // Let other work on the loop run before the next chunk.
      co_await asio::post(socket.get_executor(), asio::use_awaitable);
      continue;
    }
    if (sent == 0) co_return beast::error_code(bh::error::partial_message);  // the file shrank
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) co_return beast::error_code(errno, beast::system_category());
    // The socket's buffer is full: wait until the client has taken some, or give up.
    asio::steady_timer deadline(socket.get_executor(), progress_timeout);
    auto ready = co_await (socket.async_wait(asio::ip::tcp::socket::wait_write, use_tuple) ||
                           deadline.async_wait(use_tuple));
    if (ready.index() == 1) co_return beast::error_code(beast::error::timeout);
    if (auto [ec] = std::get<0>(ready); ec) co_return ec;
  }
  co_return beast::error_code{};
}

}  // namespace ostrel::http
