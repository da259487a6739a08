#include "http/live_updates.hpp"

#include "http/json_text.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket.hpp>
#include <spdlog/spdlog.h>

#include <deque>
#include <exception>
#include <list>
#include <optional>
#include <utility>

namespace ostrel::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using asio::ip::tcp;

namespace {
constexpr auto use_tuple = asio::as_tuple(asio::use_awaitable);

void log_failure(std::exception_ptr e) {
  if (!e) return;
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    spdlog::error("live-update connection failed: {}", ex.what());
  }
}
}  // namespace

struct LiveUpdateHub::Connection {
  websocket::stream<beast::tcp_stream> ws;
  asio::steady_timer wakeup;  // the writer sleeps on it; cancelled when there is something to do
  std::deque<std::shared_ptr<const std::string>> queue;
  std::size_t queued_bytes = 0;
  bool open = false;     // handshake completed
  bool closing = false;  // a close frame is wanted once the queue is sent
  bool dropped = false;  // the socket is shut; nothing more is sent

  explicit Connection(tcp::socket socket) : ws(std::move(socket)), wakeup(ws.get_executor()) {
    wakeup.expires_at(asio::steady_timer::time_point::max());
  }
  void notify() { wakeup.cancel(); }
  void drop() {
    if (dropped) return;
    dropped = true;
    beast::error_code ignored;
    beast::get_lowest_layer(ws).socket().shutdown(tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(ws).close();
    notify();
  }
};

// Connections and the close deadline are owned by the coroutines that serve them, so they go
// away with the event loop even when the hub outlives it; the hub only tracks them.
struct LiveUpdateHub::State {
  LiveUpdateOptions options;
  std::list<std::weak_ptr<Connection>> connections;
  bool stopped = false;
  std::weak_ptr<asio::steady_timer> grace;  // close_all()'s deadline

  template <class Fn>
  void for_each(Fn fn) {
    for (auto& weak : connections)
      if (auto c = weak.lock()) fn(*c);
  }
  void forget(const std::shared_ptr<Connection>& c) {
    connections.remove_if([&](const std::weak_ptr<Connection>& w) { return w.expired() || w.lock() == c; });
    if (connections.empty())
      if (auto timer = grace.lock()) timer->cancel();
  }
};

namespace {

// Reads (and ignores) what the client sends, which also answers its pings and close frame.
// Ends when the connection closes, and then stops the writer too.
template <class ConnectionPtr>
asio::awaitable<void> read_loop(ConnectionPtr c) {
  beast::flat_buffer buffer;
  for (;;) {
    auto [ec, n] = co_await c->ws.async_read(buffer, use_tuple);
    if (ec) break;
    buffer.consume(buffer.size());
  }
  c->drop();
}

}  // namespace

LiveUpdateHub::LiveUpdateHub(LiveUpdateOptions options) : state_(std::make_shared<State>()) {
  state_->options = options;
}

LiveUpdateHub::~LiveUpdateHub() {
  state_->stopped = true;
  state_->for_each([](Connection& c) { c.drop(); });
}

void LiveUpdateHub::accept(tcp::socket socket, Request request) {
  auto c = std::make_shared<Connection>(std::move(socket));
  if (state_->stopped) {
    c->drop();
    return;
  }
  state_->connections.push_back(c);
  auto executor = c->ws.get_executor();
  asio::co_spawn(
      executor,
      [state = state_, c, request = std::move(request)]() -> asio::awaitable<void> {
        const auto& o = state->options;
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = o.handshake_timeout;
        timeouts.idle_timeout = o.idle_timeout;
        timeouts.keep_alive_pings = true;
        c->ws.set_option(timeouts);
        c->ws.read_message_max(64 * 1024);
        c->ws.text(true);
        auto [accept_ec] = co_await c->ws.async_accept(request, use_tuple);
        if (accept_ec || state->stopped || c->dropped) {
          c->drop();
          state->forget(c);
          co_return;
        }
        c->open = true;
        asio::co_spawn(c->ws.get_executor(), read_loop(c), log_failure);

        // The writer: sends the queue in order, then closes when asked.
        while (!c->dropped) {
          if (!c->queue.empty()) {
            std::shared_ptr<const std::string> text = c->queue.front();
            auto [ec, n] = co_await c->ws.async_write(asio::buffer(*text), use_tuple);
            if (ec) break;
            c->queue.pop_front();
            c->queued_bytes -= text->size();
          } else if (c->closing) {
            co_await c->ws.async_close(websocket::close_code::going_away, use_tuple);
            break;
          } else {
            c->wakeup.expires_at(asio::steady_timer::time_point::max());
            co_await c->wakeup.async_wait(use_tuple);
          }
        }
        c->drop();
        state->forget(c);
      },
      log_failure);
}

void LiveUpdateHub::broadcast(const boost::json::value& message) {
  if (state_->stopped) return;
  auto text = std::make_shared<const std::string>(to_json(message));
  const auto& o = state_->options;
  state_->for_each([&](Connection& c) {
    if (!c.open || c.dropped || c.closing) return;
    if (c.queue.size() + 1 > o.max_queued_messages || c.queued_bytes + text->size() > o.max_queued_bytes) {
      spdlog::warn("live-update client does not keep up; disconnecting it");
      c.drop();
      return;
    }
    c.queue.push_back(text);
    c.queued_bytes += text->size();
    c.notify();
  });
}

void LiveUpdateHub::close_all() {
  if (state_->stopped) return;
  state_->stopped = true;
  std::optional<asio::any_io_executor> executor;
  state_->for_each([&](Connection& c) {
    executor = c.ws.get_executor();
    if (c.open) {
      c.closing = true;
      c.notify();
    } else {
      c.drop();  // still in its handshake
    }
  });
  if (!executor) return;
  auto timer = std::make_shared<asio::steady_timer>(*executor, state_->options.close_grace);
  state_->grace = timer;
  asio::co_spawn(
      *executor,
      [state = state_, timer]() -> asio::awaitable<void> {
        auto [ec] = co_await timer->async_wait(use_tuple);
        if (ec) co_return;  // every connection closed in time
        state->for_each([](Connection& c) { c.drop(); });
      },
      log_failure);
}

std::size_t LiveUpdateHub::connection_count() const {
  std::size_t n = 0;
  state_->for_each([&](Connection& c) { n += c.open && !c.dropped ? 1 : 0; });
  return n;
}

}  // namespace ostrel::http
