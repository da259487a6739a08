#include "gateway/default_state.hpp"

namespace ostrel::gateway {

std::shared_ptr<AppState> build_default_state() {
  auto state = std::make_shared<AppState>();
  state->config = std::make_shared<config::OstrelConfig>(config::OstrelConfig::load());
  return state;
}

}  // namespace ostrel::gateway
