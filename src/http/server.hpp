#pragma once
// The HTTP/1.1 server: one event-loop thread, one read -> check -> dispatch -> write loop per
// connection (so pipelined requests are answered in order), limits and timeouts that cost the
// offending connection only, and a graceful stop.
#include "http/request_guard.hpp"
#include "http/router.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::http {

struct ServerOptions {
  std::string host = "127.0.0.1";  // an address or a name resolved once at start
  std::uint16_t port = 8765;       // 0: the system picks a free one (see Server::port())
  std::vector<std::string> allowed_hosts;
  std::vector<std::string> allowed_origins;
  std::optional<std::string> access_token;  // absent: requests need no token

  std::size_t header_limit = 16 * 1024;             // larger request headers: 431
  std::uint64_t body_limit = 64ull * 1024 * 1024;   // larger bodies: 413
  std::chrono::milliseconds header_timeout{15'000};  // from the first byte to the end of the header
  std::chrono::milliseconds idle_timeout{120'000};   // between requests on a kept-alive connection
  std::chrono::milliseconds body_timeout{60'000};    // to receive the whole body
  std::chrono::milliseconds write_timeout{60'000};   // to send the whole answer
  std::chrono::milliseconds shutdown_grace{5'000};   // in-flight requests may finish this long
  bool handle_signals = true;                        // SIGINT/SIGTERM stop the server gracefully

  // GET /ws asking for a WebSocket upgrade, after the request guard let it through: receives the
  // connection and the request, and owns both from then on. Unset, /ws goes to the router (404).
  std::function<void(boost::asio::ip::tcp::socket, Request)> on_websocket_upgrade;
  // Called on the loop when a graceful stop begins, e.g. to close WebSocket connections.
  std::function<void()> on_stop;
};

class Server {
 public:
  // Binds and listens at once, so port() is known before run(). Throws boost::system::system_error
  // when the address cannot be resolved or bound. `router` must outlive the server.
  Server(ServerOptions options, const Router& router);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  std::uint16_t port() const;
  // "http://127.0.0.1:8765", "http://[::1]:8765"
  std::string url() const;
  boost::asio::io_context& context();

  // Serves on the calling thread until stop() or a signal; returns once every connection is closed.
  void run();
  // Thread-safe. Stops accepting, closes idle connections, lets requests in flight finish for up
  // to `shutdown_grace`, then closes the rest.
  void stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ostrel::http
