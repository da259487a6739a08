#pragma once
// A blocking HTTP/1.1 client over one loopback TCP connection, for tests that need to control
// the bytes on the wire: pipelining, partial requests, oversized headers.
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>

#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::testing {

using RawResponse = boost::beast::http::response<boost::beast::http::string_body>;

class RawConnection {
 public:
  explicit RawConnection(std::uint16_t port, std::string host = "127.0.0.1") : socket_(io_) {
    socket_.connect({boost::asio::ip::make_address(host), port});
  }

  void send(std::string_view bytes) {
    boost::system::error_code ec;
    boost::asio::write(socket_, boost::asio::buffer(bytes.data(), bytes.size()), ec);
  }

  // The next response, or nothing when the connection closed or `timeout` passed first.
  std::optional<RawResponse> read_response(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    set_receive_timeout(timeout);
    boost::beast::http::response_parser<boost::beast::http::string_body> parser;
    parser.body_limit(boost::none);
    boost::system::error_code ec;
    boost::beast::http::read(socket_, buffer_, parser, ec);
    if (ec) return std::nullopt;
    return parser.release();
  }

  // True when the server closes the connection within `timeout` (any bytes before are dropped).
  bool closed_within(std::chrono::milliseconds timeout) {
    set_receive_timeout(timeout);
    char sink[4096];
    while (true) {
      boost::system::error_code ec;
      socket_.read_some(boost::asio::buffer(sink), ec);
      if (!ec) continue;
      return ec == boost::asio::error::eof || ec == boost::asio::error::connection_reset;
    }
  }

 private:
  void set_receive_timeout(std::chrono::milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }

  boost::asio::io_context io_;
  boost::asio::ip::tcp::socket socket_;
  boost::beast::flat_buffer buffer_;
};

// "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\n<extra>\r\n" with `extra` lines ending in \r\n.
inline std::string request_text(std::string_view method, std::string_view target, std::string_view extra = "",
                                std::string_view body = "") {
  std::string text = std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                     std::string(extra);
  if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + std::string(body);
}

}  // namespace ostrel::testing
