// The customization files and the reset notice, sent through a recording fake and through the
// real WebSocket hub to a connected client.
#include "gateway/router.hpp"
#include "http/live_updates.hpp"
#include "support/test_client.hpp"
#include "support/temp_home.hpp"

#include <gtest/gtest.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/json.hpp>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel::gateway {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
namespace asio = boost::asio;
namespace beast = boost::beast;

struct RecordingSender : LiveUpdateSender {
  std::vector<json::object> sent;
  bool fail = false;
  asio::awaitable<void> broadcast(json::object message) override {
    sent.push_back(message);
    if (fail) throw std::runtime_error("no channel");
    co_return;
  }
};

class CustomizationTest : public ::testing::Test {
 protected:
  ostrel::testing::TempHome temp_home_{"ostrel-custom"};
  const std::filesystem::path home_ = temp_home_.path();

  void SetUp() override {
    state_->live_updates = sender_;
  }
  void write(std::string_view name, std::string_view text) {
    fs::create_directories(folder());
    std::ofstream(folder() / name) << text;
  }
  fs::path folder() const { return home_ / ".ostrel/customization"; }

  std::shared_ptr<RecordingSender> sender_ = std::make_shared<RecordingSender>();
  std::shared_ptr<AppState> state_ = std::make_shared<AppState>();
  http::Router router_ = create_router([s = state_] { return s; });
  testing::TestClient client_{router_};
};

const json::value kNotice = {{"type", "ui_customization_updated"}, {"changed", "all"}};

TEST_F(CustomizationTest, NothingCustomizedGivesTheEmptyForms) {
  auto theme = client_.get("/customization/theme.css");
  EXPECT_EQ(theme.raw.body, "/* no custom theme */");
  EXPECT_EQ(theme.raw.content_type.substr(0, 8), "text/css");
  EXPECT_EQ(theme.header("Cache-Control"), nullptr);
  EXPECT_EQ(client_.get("/customization/ui-config.json").json(), json::object{});

  auto reset = client_.post("/customization/reset");
  EXPECT_EQ(reset.json(), json::parse(R"({"status":"ok","removed":[]})"));
  ASSERT_EQ(sender_->sent.size(), 1u);
  EXPECT_EQ(sender_->sent[0], kNotice);
}

TEST_F(CustomizationTest, ServesTheFilesAndResetRemovesBoth) {
  write("custom-theme.css", "body { color: red; }");
  write("ui-config.json", R"([1, {"a": true}])");
  auto theme = client_.get("/customization/theme.css");
  EXPECT_EQ(theme.raw.body, "body { color: red; }");
  EXPECT_EQ(*theme.header("Cache-Control"), "no-cache");
  EXPECT_EQ(client_.get("/customization/ui-config.json").json(), json::parse(R"([1, {"a": true}])"));

  sender_->fail = true;  // a failing channel does not undo the reset
  auto reset = client_.post("/customization/reset");
  EXPECT_EQ(reset.status(), 200u);
  EXPECT_EQ(reset.json(), json::parse(R"({"status":"ok","removed":["custom-theme.css","ui-config.json"]})"));
  EXPECT_TRUE(fs::is_directory(folder()));
  EXPECT_EQ(client_.get("/customization/theme.css").raw.body, "/* no custom theme */");
  EXPECT_EQ(client_.get("/customization/ui-config.json").json(), json::object{});
}

TEST_F(CustomizationTest, BrokenLayoutIsEmpty) {
  write("ui-config.json", "{\"a\": ");
  EXPECT_EQ(client_.get("/customization/ui-config.json").json(), json::object{});
}

TEST_F(CustomizationTest, ConnectedInterfaceReceivesTheResetNotice) {
  asio::io_context io;
  auto hub = std::make_shared<http::LiveUpdateHub>();
  state_->live_updates = hub_sender(hub);
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  constexpr auto use_tuple = asio::as_tuple(asio::use_awaitable);

  // The server side: one upgrade request handed to the hub.
  asio::co_spawn(io, [&]() -> asio::awaitable<void> {
    auto socket = co_await acceptor.async_accept(asio::use_awaitable);
    beast::flat_buffer buffer;
    http::Request request;
    co_await beast::http::async_read(socket, buffer, request, asio::use_awaitable);
    hub->accept(std::move(socket), std::move(request));
  }, asio::detached);

  auto client = asio::co_spawn(io, [&]() -> asio::awaitable<std::string> {
    beast::websocket::stream<beast::tcp_stream> ws(io);
    co_await beast::get_lowest_layer(ws).async_connect(acceptor.local_endpoint(), asio::use_awaitable);
    co_await ws.async_handshake("127.0.0.1", "/ws", asio::use_awaitable);
    asio::steady_timer wait(io);
    while (hub->connection_count() == 0) {  // the hub finishes its side of the handshake
      wait.expires_after(std::chrono::milliseconds(1));
      co_await wait.async_wait(use_tuple);
    }
    http::Request reset{http::Verb::post, "/customization/reset", 11};
    http::Response answer = co_await router_.dispatch(reset);
    EXPECT_EQ(answer.status, 200u);
    beast::flat_buffer buffer;
    co_await ws.async_read(buffer, asio::use_awaitable);
    co_return beast::buffers_to_string(buffer.data());
  }, asio::use_future);
  io.run_for(std::chrono::seconds(10));
  ASSERT_EQ(client.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_EQ(json::parse(client.get()), kNotice);
}

}  // namespace
}  // namespace ostrel::gateway
