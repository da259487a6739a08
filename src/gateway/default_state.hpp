#pragma once
// Builds the application state with the gateway's embedded default services, so the program
// runs alone with no other process. State lives under $HOME/.ostrel.
#include "gateway/app_state.hpp"

#include <memory>

namespace ostrel::gateway {

std::shared_ptr<AppState> build_default_state();

}  // namespace ostrel::gateway
