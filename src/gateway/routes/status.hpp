#pragma once
#include "gateway/routes/handler.hpp"

namespace ostrel::gateway::routes {

// GET /status: version, liveness and each service's own summary.
awaitable<Result> get_status(Call& call, const AppState& state);

}  // namespace ostrel::gateway::routes
