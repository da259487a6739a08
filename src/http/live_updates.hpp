#pragma once
// The live-update hub behind GET /ws: user interfaces connect with a WebSocket and receive every
// broadcast message as JSON text. A broadcast only queues the text for each connection and
// returns; each connection sends its queue on its own. A connection whose queue overflows
// (its client does not read fast enough) is dropped, so one slow client never holds up the
// others or the event loop. Messages a client sends are read and ignored.
//
// All member functions are called on the event loop that runs the accepted sockets.
#include "http/router.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/json/value.hpp>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace ostrel::http {

struct LiveUpdateOptions {
  std::size_t max_queued_messages = 256;          // per connection
  std::size_t max_queued_bytes = 4 * 1024 * 1024;  // per connection
  std::chrono::milliseconds handshake_timeout{10'000};
  // No frame from the client for this long (pings are sent at half of it): the connection is dropped.
  std::chrono::milliseconds idle_timeout{60'000};
  std::chrono::milliseconds close_grace{2'000};  // close_all(): then the sockets are shut
};

class LiveUpdateHub {
 public:
  explicit LiveUpdateHub(LiveUpdateOptions options = {});
  ~LiveUpdateHub();
  LiveUpdateHub(const LiveUpdateHub&) = delete;
  LiveUpdateHub& operator=(const LiveUpdateHub&) = delete;

  // Takes over a connection whose request asked for a WebSocket upgrade and completes the handshake.
  void accept(boost::asio::ip::tcp::socket socket, Request request);

  // Queues `message` as JSON text for every open connection; never waits.
  void broadcast(const boost::json::value& message);

  // Sends a close frame to every connection and refuses new ones; sockets still open after
  // `close_grace` are shut.
  void close_all();

  // Connections that completed the handshake and are still open.
  std::size_t connection_count() const;

 private:
  struct State;
  struct Connection;
  std::shared_ptr<State> state_;
};

}  // namespace ostrel::http
