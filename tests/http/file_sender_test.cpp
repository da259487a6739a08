// File answers written with sendfile(2), read back by a plain HTTP client on loopback.
#include "http/file_sender.hpp"

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace ostrel::http {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bh = beast::http;
namespace fs = std::filesystem;
using asio::ip::tcp;

class FileSenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ostrel-sendfile-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Sends `file` as the answer to one connection and returns what the client read.
  bh::response<bh::string_body> fetch(const fs::path& file) {
    asio::io_context io;
    tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    asio::co_spawn(io, [&]() -> asio::awaitable<void> {
      beast::tcp_stream stream(co_await acceptor.async_accept(asio::use_awaitable));
      beast::error_code ec;
      OpenFile open = OpenFile::open(file, ec);
      EXPECT_FALSE(ec);
      bh::response<bh::empty_body> header{bh::status::ok, 11};
      header.set(bh::field::content_type, "application/octet-stream");
      header.set(bh::field::content_disposition, "attachment; filename=\"f\"");
      EXPECT_FALSE(co_await async_send_file(stream, header, open));
    }, asio::detached);
    auto answer = asio::co_spawn(io, [&]() -> asio::awaitable<bh::response<bh::string_body>> {
      beast::tcp_stream stream(io);
      co_await stream.async_connect(acceptor.local_endpoint(), asio::use_awaitable);
      beast::flat_buffer buffer;
      bh::response_parser<bh::string_body> parser;
      parser.body_limit(64 << 20);
      co_await bh::async_read(stream, buffer, parser, asio::use_awaitable);
      co_return parser.release();
    }, asio::use_future);
    io.run_for(std::chrono::seconds(20));
    return answer.get();
  }

  fs::path dir_;
};

TEST_F(FileSenderTest, SendsTheWholeFileWithItsLength) {
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  std::mt19937 random(7);
  for (char& c : bytes) c = static_cast<char>(random());
  for (const std::string& content : {bytes, std::string()}) {
    std::ofstream(dir_ / "f", std::ios::binary | std::ios::trunc) << content;
    auto answer = fetch(dir_ / "f");
    EXPECT_EQ(answer.result(), bh::status::ok);
    EXPECT_EQ(answer[bh::field::content_length], std::to_string(content.size()));
    EXPECT_EQ(answer[bh::field::content_disposition], "attachment; filename=\"f\"");
    EXPECT_TRUE(answer.body() == content);
  }
}

TEST_F(FileSenderTest, OnlyRegularFilesOpen) {
  beast::error_code ec;
  OpenFile::open(dir_ / "missing", ec);
  EXPECT_TRUE(ec);
  OpenFile::open(dir_, ec);
  EXPECT_TRUE(ec);
  ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  OpenFile::open(dir_ / "pipe", ec);  // refused at once, not waiting for a writer
  EXPECT_TRUE(ec);
}

}  // namespace
}  // namespace ostrel::http
