#pragma once
#include "gateway/routes/handler.hpp"

namespace ostrel::gateway::routes {

// GET /plans
awaitable<Result> list_plans(Call& call, const AppState& state);
// POST /plans
awaitable<Result> create_plan(Call& call, const AppState& state);
// GET /plans/active: the plan the agent is working from, or null.
awaitable<Result> get_active_plan(Call& call, const AppState& state);
// GET /plans/{plan_id}
awaitable<Result> get_plan(Call& call, const AppState& state);
// PUT /plans/{plan_id}/status
awaitable<Result> update_plan_status(Call& call, const AppState& state);
// PUT /plans/{plan_id}/steps/{step_index}
awaitable<Result> update_plan_step(Call& call, const AppState& state);
// DELETE /plans/{plan_id}
awaitable<Result> delete_plan(Call& call, const AppState& state);

}  // namespace ostrel::gateway::routes
