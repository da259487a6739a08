#pragma once
#include "gateway/routes/handler.hpp"

namespace ostrel::gateway::routes {

// GET /memory/stats
awaitable<Result> get_memory_stats(Call& call, const AppState& state);
// GET /memory/facts
awaitable<Result> get_facts(Call& call, const AppState& state);
// DELETE /memory/facts/{fact_id}
awaitable<Result> delete_fact(Call& call, const AppState& state);
// GET /memory/goals
awaitable<Result> get_goals(Call& call, const AppState& state);
// GET /memory/goals/active
awaitable<Result> get_active_goals(Call& call, const AppState& state);
// GET /conversations/{conv_id}/summary
awaitable<Result> get_conversation_summary(Call& call, const AppState& state);
// GET /conversations/{conv_id}/checkpoints
awaitable<Result> get_checkpoints(Call& call, const AppState& state);

}  // namespace ostrel::gateway::routes
