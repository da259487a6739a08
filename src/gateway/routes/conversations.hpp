#pragma once
#include "gateway/routes/handler.hpp"

namespace ostrel::gateway::routes {

// GET /conversations
awaitable<Result> list_conversations(Call& call, const AppState& state);
// DELETE /conversations/{conv_id}: through the agent's conversation store.
awaitable<Result> delete_conversation(Call& call, const AppState& state);
// PATCH /conversations/{conv_id}
awaitable<Result> rename_conversation(Call& call, const AppState& state);
// GET /conversations/{conv_id}/messages
awaitable<Result> get_messages(Call& call, const AppState& state);
// POST /conversations/cleanup: deletes conversations older than the configured age.
awaitable<Result> cleanup_conversations(Call& call, const AppState& state);

}  // namespace ostrel::gateway::routes
