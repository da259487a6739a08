// The live-update hub with real WebSocket clients on loopback.
#include "http/live_updates.hpp"

#include <gtest/gtest.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/json.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ostrel::http {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace json = boost::json;
using asio::ip::tcp;
using WsClient = beast::websocket::stream<beast::tcp_stream>;
constexpr auto use_tuple = asio::as_tuple(asio::use_awaitable);

class LiveUpdatesTest : public ::testing::Test {
 protected:
  void start(LiveUpdateOptions options = {}) {
    hub_ = std::make_unique<LiveUpdateHub>(options);
    asio::co_spawn(io_, [this]() -> asio::awaitable<void> {
      for (;;) {
        auto [ec, socket] = co_await acceptor_.async_accept(use_tuple);
        if (ec) co_return;
        beast::flat_buffer buffer;
        Request request;
        auto [read_ec, n] = co_await beast::http::async_read(socket, buffer, request, use_tuple);
        if (!read_ec) hub_->accept(std::move(socket), std::move(request));
      }
    }, asio::detached);
  }

  asio::awaitable<std::unique_ptr<WsClient>> connect() {
    auto ws = std::make_unique<WsClient>(io_);
    co_await beast::get_lowest_layer(*ws).async_connect(acceptor_.local_endpoint(), asio::use_awaitable);
    co_await ws->async_handshake("127.0.0.1", "/ws", asio::use_awaitable);
    co_return ws;
  }

  asio::awaitable<void> until(std::function<bool()> done) {
    asio::steady_timer wait(io_);
    while (!done()) {
      wait.expires_after(std::chrono::milliseconds(1));
      co_await wait.async_wait(use_tuple);
    }
  }

  // Runs `test` on the loop; fails when it does not finish in time.
  void run(std::function<asio::awaitable<void>()> test) {
    bool finished = false;
    asio::co_spawn(io_, [&]() -> asio::awaitable<void> {
      co_await test();
      finished = true;
      acceptor_.close();
    }, [](std::exception_ptr e) { if (e) std::rethrow_exception(e); });
    io_.run_for(std::chrono::seconds(20));
    EXPECT_TRUE(finished);
  }

  asio::io_context io_;
  tcp::acceptor acceptor_{io_, {asio::ip::make_address("127.0.0.1"), 0}};
  std::unique_ptr<LiveUpdateHub> hub_;
};

asio::awaitable<std::string> read_text(WsClient& ws) {
  beast::flat_buffer buffer;
  co_await ws.async_read(buffer, asio::use_awaitable);
  co_return beast::buffers_to_string(buffer.data());
}

TEST_F(LiveUpdatesTest, EveryOpenClientReceivesEachBroadcastAndClosedOnesAreDropped) {
  start();
  run([&]() -> asio::awaitable<void> {
    auto a = co_await connect();
    auto b = co_await connect();
    co_await until([&] { return hub_->connection_count() == 2; });
    hub_->broadcast(json::object{{"type", "x"}, {"n", 1}});
    EXPECT_EQ(co_await read_text(*a), R"({"type":"x","n":1})");
    EXPECT_EQ(co_await read_text(*b), R"({"type":"x","n":1})");

    co_await a->async_close(beast::websocket::close_code::normal, asio::use_awaitable);
    co_await until([&] { return hub_->connection_count() == 1; });
    hub_->broadcast(json::object{{"n", 2}});
    EXPECT_EQ(co_await read_text(*b), R"({"n":2})");
  });
}

TEST_F(LiveUpdatesTest, AClientThatDoesNotReadIsDisconnectedWhileOthersGetEverything) {
  start(LiveUpdateOptions{.max_queued_messages = 8, .max_queued_bytes = 1 << 20});
  run([&]() -> asio::awaitable<void> {
    auto slow = co_await connect();  // never reads
    auto fast = co_await connect();
    co_await until([&] { return hub_->connection_count() == 2; });
    const std::string payload(64 * 1024, 'p');
    constexpr int kMessages = 400;  // 25 MiB: far more than the socket buffers hold
    int received = 0;
    for (int i = 0; i < kMessages; ++i) {
      hub_->broadcast(json::object{{"i", i}, {"p", payload}});  // returns at once
      while (received <= i) {  // the fast client keeps up
        auto message = json::parse(co_await read_text(*fast));
        EXPECT_EQ(message.at("i"), received);
        ++received;
      }
    }
    EXPECT_EQ(received, kMessages);
    EXPECT_EQ(hub_->connection_count(), 1u);
    // The slow client finds its connection cut once it reads what was already sent.
    beast::flat_buffer buffer;
    beast::error_code ec;
    for (int i = 0; i <= kMessages && !ec; ++i) {
      auto [read_ec, n] = co_await slow->async_read(buffer, use_tuple);
      ec = read_ec;
      buffer.clear();
    }
    EXPECT_TRUE(ec);
  });
}

TEST_F(LiveUpdatesTest, CloseAllSendsCloseFramesAndRefusesNewClients) {
  start();
  run([&]() -> asio::awaitable<void> {
    auto a = co_await connect();
    co_await until([&] { return hub_->connection_count() == 1; });
    hub_->close_all();
    beast::flat_buffer buffer;
    auto [ec, n] = co_await a->async_read(buffer, use_tuple);
    EXPECT_EQ(ec, beast::websocket::error::closed);
    EXPECT_EQ(a->reason().code, beast::websocket::close_code::going_away);

    auto b = std::make_unique<WsClient>(io_);
    co_await beast::get_lowest_layer(*b).async_connect(acceptor_.local_endpoint(), asio::use_awaitable);
    auto [hs_ec] = co_await b->async_handshake("127.0.0.1", "/ws", use_tuple);
    EXPECT_TRUE(hs_ec);
    EXPECT_EQ(hub_->connection_count(), 0u);
  });
}

}  // namespace
}  // namespace ostrel::http
