// The server against real loopback connections: pipelining, limits, timeouts, the guard
// running before the body is read, the WebSocket hand-over and the graceful stop.
#include "http/raw_connection.hpp"
#include "http/server.hpp"
#include "http/worker_pool.hpp"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

namespace ostrel::http {
namespace {

using namespace std::chrono_literals;
using testing::RawConnection;
using testing::request_text;

const std::string kToken = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kAuth = "Authorization: Bearer " + kToken + "\r\n";

Route make_route(Verb method, std::string path, Handler handler) {
  Route r;
  r.method = method;
  r.path = std::move(path);
  r.name = "test";
  r.result = Returns::mapping;
  r.handler = std::move(handler);
  return r;
}

Router test_router() {
  Router router;
  Route which = make_route(Verb::get, "/api/which", [](Call& call) -> boost::asio::awaitable<Result> {
    co_return boost::json::value{{"n", *call.text("n")}};
  });
  which.params = {query_text("n")};
  Route echo = make_route(Verb::post, "/api/echo", [](Call& call) -> boost::asio::awaitable<Result> {
    co_return boost::json::value(call.json_body());
  });
  echo.body = free_object_body();
  Route slow = make_route(Verb::get, "/api/slow", [](Call&) -> boost::asio::awaitable<Result> {
    boost::asio::steady_timer timer(co_await boost::asio::this_coro::executor, 300ms);
    co_await timer.async_wait(boost::asio::use_awaitable);
    co_return boost::json::value{{"done", true}};
  });
  router.add(std::move(which)).add(std::move(echo)).add(std::move(slow));
  return router;
}

class ServerTest : public ::testing::Test {
 protected:
  void start(ServerOptions options = {}) {
    options.host = "127.0.0.1";
    options.port = 0;
    options.handle_signals = false;
    options.access_token = kToken;
    server_ = std::make_unique<Server>(std::move(options), router_);
    thread_ = std::thread([this] { server_->run(); });
  }
  void TearDown() override {
    if (!server_) return;
    server_->stop();
    thread_.join();
  }
  RawConnection connect() { return RawConnection(server_->port()); }

  Router router_ = test_router();
  std::unique_ptr<Server> server_;
  std::thread thread_;
};

TEST_F(ServerTest, PipelinedRequestsAreAnsweredInOrderOnOneConnection) {
  start();
  RawConnection c = connect();
  c.send(request_text("GET", "/api/which?n=1", kAuth) +
         request_text("POST", "/api/echo", kAuth + "Content-Type: application/json\r\n", R"({"n":"2"})") +
         request_text("GET", "/api/which?n=3", kAuth));
  for (std::string n : {"1", "2", "3"}) {
    auto r = c.read_response();
    ASSERT_TRUE(r) << "answer " << n;
    EXPECT_EQ(r->result_int(), 200u);
    EXPECT_EQ(boost::json::parse(r->body()), (boost::json::object{{"n", n}}));
    EXPECT_EQ((*r)["X-Content-Type-Options"], "nosniff");
    EXPECT_EQ((*r)["Cache-Control"], "no-store");
    EXPECT_TRUE(r->keep_alive());
  }
  // Outside /api: still nosniff, but cacheable.
  c.send(request_text("GET", "/elsewhere"));
  auto r = c.read_response();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->result_int(), 404u);
  EXPECT_EQ((*r)["X-Content-Type-Options"], "nosniff");
  EXPECT_EQ(r->count("Cache-Control"), 0u);
}

struct LimitCase {
  std::string name;
  std::string request;
  unsigned status;
};

class ServerLimits : public ServerTest, public ::testing::WithParamInterface<LimitCase> {};

// Each breach is answered and costs the connection, which is then closed.
TEST_P(ServerLimits, AnswerThenClose) {
  ServerOptions options;
  options.header_limit = 1024;
  options.body_limit = 64;
  start(options);
  RawConnection c = connect();
  c.send(GetParam().request);
  auto r = c.read_response();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->result_int(), GetParam().status);
  EXPECT_FALSE(r->keep_alive());
  EXPECT_TRUE(c.closed_within(3s));
}

const std::string kJson = "Content-Type: application/json\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerLimits,
    ::testing::Values(
        LimitCase{"header_too_large", request_text("GET", "/api/which?n=1", kAuth + "X-Fill: " + std::string(2000, 'a') + "\r\n"), 431},
        LimitCase{"declared_body_too_large", request_text("POST", "/api/echo", kAuth + kJson + "Content-Length: 1000\r\n"), 413},
        LimitCase{"chunked_body_too_large",
                  request_text("POST", "/api/echo", kAuth + kJson + "Transfer-Encoding: chunked\r\n") + "64\r\n" +
                      std::string(100, ' ') + "\r\n0\r\n\r\n",
                  413},
        // Refused on the header alone: the body is never waited for.
        LimitCase{"guard_before_body", "POST /api/echo HTTP/1.1\r\nHost: evil.example\r\n" + kJson + "Content-Length: 50\r\n\r\n", 403},
        LimitCase{"wrong_type_before_body", request_text("POST", "/api/echo", kAuth + "Content-Type: text/plain\r\nContent-Length: 50\r\n"), 415},
        LimitCase{"malformed", "GET /api/which?n=1 HTTP/1.1\r\nHost 127.0.0.1\r\n\r\n", 400}),
    [](const auto& info) { return info.param.name; });

TEST_F(ServerTest, SlowAndIdleClientsAreCutOff) {
  ServerOptions options;
  options.header_timeout = 300ms;
  options.idle_timeout = 300ms;
  start(options);

  RawConnection silent = connect();  // connects and never sends

  // Sends its header a line at a time, each line well within the timeout, the whole too slowly.
  RawConnection trickle = connect();
  trickle.send("GET /api/which?n=1 HTTP/1.1\r\n");
  for (int i = 0; i < 10; ++i) {
    std::this_thread::sleep_for(100ms);
    trickle.send("X-Line: " + std::to_string(i) + "\r\n");
  }
  EXPECT_TRUE(trickle.closed_within(3s));

  RawConnection idle = connect();
  idle.send(request_text("GET", "/api/which?n=1", kAuth));
  ASSERT_TRUE(idle.read_response());
  EXPECT_TRUE(idle.closed_within(3s));

  EXPECT_TRUE(silent.closed_within(3s));
}

TEST_F(ServerTest, ExpectContinueGetsTheBodySent) {
  start();
  RawConnection c = connect();
  c.send(request_text("POST", "/api/echo", kAuth + kJson + "Expect: 100-continue\r\nContent-Length: 9\r\n"));
  auto go_on = c.read_response();
  ASSERT_TRUE(go_on);
  EXPECT_EQ(go_on->result_int(), 100u);
  c.send(R"({"n":"1"})");
  auto r = c.read_response();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->result_int(), 200u);
  EXPECT_EQ(boost::json::parse(r->body()), (boost::json::object{{"n", "1"}}));
}

TEST_F(ServerTest, WebSocketUpgradeIsHandedOverOnlyPastTheGuard) {
  std::promise<std::string> handed;
  ServerOptions options;
  options.on_websocket_upgrade = [&handed](boost::asio::ip::tcp::socket socket, Request request) {
    handed.set_value(std::string(request.target()));
    socket.close();
  };
  start(options);
  const std::string upgrade =
      "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";

  RawConnection refused = connect();
  refused.send(request_text("GET", "/ws", upgrade));
  auto r = refused.read_response();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->result_int(), 401u);

  RawConnection accepted = connect();
  accepted.send(request_text("GET", "/ws", kAuth + upgrade));
  auto result = handed.get_future();
  ASSERT_EQ(result.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(result.get(), "/ws");
}

TEST_F(ServerTest, StopFinishesRequestsInFlightAndClosesIdleConnections) {
  start();
  const auto port = server_->port();
  RawConnection idle = connect();
  idle.send(request_text("GET", "/api/which?n=1", kAuth));
  ASSERT_TRUE(idle.read_response());

  RawConnection busy = connect();
  busy.send(request_text("GET", "/api/slow", kAuth));
  std::this_thread::sleep_for(100ms);  // the handler is now waiting on its timer
  server_->stop();

  EXPECT_TRUE(idle.closed_within(2s));
  auto r = busy.read_response();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->result_int(), 200u);
  EXPECT_EQ(boost::json::parse(r->body()), (boost::json::object{{"done", true}}));
  EXPECT_FALSE(r->keep_alive());

  thread_.join();  // run() returns once every connection is closed
  server_.reset();
  EXPECT_THROW(RawConnection{port}, boost::system::system_error);
}

TEST(RunBlocking, RunsOffTheLoopAndResumesOnIt) {
  WorkerPool pool{2};
  boost::asio::io_context loop;
  auto outcome = boost::asio::co_spawn(
      loop,
      [&]() -> boost::asio::awaitable<std::pair<bool, bool>> {
        const auto loop_thread = std::this_thread::get_id();
        auto worker_thread = co_await run_blocking(pool, [] { return std::this_thread::get_id(); });
        bool resumed_on_loop = std::this_thread::get_id() == loop_thread;
        bool threw = false;
        try {
          co_await run_blocking(pool, []() -> int { throw std::runtime_error("disk on fire"); });
        } catch (const std::runtime_error&) {
          threw = true;
        }
        co_return std::pair{worker_thread != loop_thread && resumed_on_loop, threw};
      },
      boost::asio::use_future);
  loop.run();
  auto [off_loop_and_back, exception_carried] = outcome.get();
  EXPECT_TRUE(off_loop_and_back);
  EXPECT_TRUE(exception_carried);
}

}  // namespace
}  // namespace ostrel::http
