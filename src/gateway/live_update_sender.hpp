#pragma once
// The gateway-wide live-update channel as handlers see it: one asynchronous broadcast of a
// message to every connected user interface. The running gateway sends through the WebSocket
// hub at /ws; tests give a recording fake.
#include <boost/asio/awaitable.hpp>
#include <boost/json/object.hpp>

#include <memory>

namespace ostrel::http {
class LiveUpdateHub;
}

namespace ostrel::gateway {

class LiveUpdateSender {
 public:
  virtual ~LiveUpdateSender() = default;
  virtual boost::asio::awaitable<void> broadcast(boost::json::object message) = 0;
};

// Sends through `hub`, which must be used on the event loop the handlers run on.
std::shared_ptr<LiveUpdateSender> hub_sender(std::shared_ptr<http::LiveUpdateHub> hub);

}  // namespace ostrel::gateway
