#pragma once
// Sends a file answer with sendfile(2): the kernel copies from the page cache to the socket, so
// a download costs neither a user-space buffer per chunk nor memory that grows with the file.
//
//   beast::error_code ec;
//   http::OpenFile file = http::OpenFile::open(path, ec);
//   if (!ec) {
//     bh::response<bh::empty_body> header{bh::status::ok, 11};
//     ... fill the header fields ...
//     ec = co_await http::async_send_file(stream, header, file, progress_timeout);
//   }
#include <boost/asio/awaitable.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>

namespace ostrel::http {

// A regular file open for reading, with its size taken when it was opened.
class OpenFile {
 public:
  OpenFile() = default;
  ~OpenFile();
  OpenFile(OpenFile&& other) noexcept;
  OpenFile& operator=(OpenFile&& other) noexcept;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  // Fails (ec set) when the file cannot be opened or is not a regular file.
  static OpenFile open(const std::filesystem::path& path, boost::beast::error_code& ec);

  int fd() const { return fd_; }
  std::uint64_t size() const { return size_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// Writes `header` (its Content-Length set to the file's size here) and then the file's bytes.
// The stream's own expiry covers the header; for the body, `progress_timeout` is the longest the
// client may take to accept more bytes. The event loop is never blocked: the socket is written
// only when it is ready, and a fast client cannot hold the loop for a whole large file.
// A file that shrinks while being sent ends the connection (the answer cannot be completed).
boost::asio::awaitable<boost::beast::error_code> async_send_file(
    boost::beast::tcp_stream& stream, boost::beast::http::response<boost::beast::http::empty_body>& header,
    const OpenFile& file, std::chrono::steady_clock::duration progress_timeout = std::chrono::seconds(60));

}  // namespace ostrel::http
