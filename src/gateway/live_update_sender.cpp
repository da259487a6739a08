#include "gateway/live_update_sender.hpp"

#include "http/live_updates.hpp"

namespace ostrel::gateway {

namespace {

class HubSender final : public LiveUpdateSender {
 public:
  explicit HubSender(std::shared_ptr<http::LiveUpdateHub> hub) : hub_(std::move(hub)) {}
  boost::asio::awaitable<void> broadcast(boost::json::object message) override {
    hub_->broadcast(message);
    co_return;
  }

 private:
  std::shared_ptr<http::LiveUpdateHub> hub_;
};

}  // namespace

std::shared_ptr<LiveUpdateSender> hub_sender(std::shared_ptr<http::LiveUpdateHub> hub) {
  return std::make_shared<HubSender>(std::move(hub));
}

}  // namespace ostrel::gateway
