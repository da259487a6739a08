#include "gateway/routes/conversations.hpp"

#include "gateway/records.hpp"

namespace ostrel::gateway::routes {

// Without a memory store or agent these answer empty lists and plain confirmations: the
// conversation screens stay usable while the agent is starting.

awaitable<Result> list_conversations(Call& call, const AppState& state) {
  if (!state.memory) co_return json::array{};
  co_return co_await state.memory->list_conversations(call.integer("limit"));
}

awaitable<Result> delete_conversation(Call& call, const AppState& state) {
  if (state.agent) co_await state.agent->conversation().delete_conversation(call.path("conv_id"));
  co_return json::object{{"message", "Deleted"}};
}

awaitable<Result> rename_conversation(Call& call, const AppState& state) {
  const auto& body = call.body<RenameConversationRequest>();
  if (state.memory) co_await state.memory->rename_conversation(call.path("conv_id"), body.title);
  co_return json::object{{"message", "Renamed"}, {"title", body.title}};
}

awaitable<Result> get_messages(Call& call, const AppState& state) {
  if (!state.memory) co_return json::array{};
  co_return co_await state.memory->get_messages(call.path("conv_id"));
}

awaitable<Result> cleanup_conversations(Call&, const AppState& state) {
  if (!state.memory || !state.config) co_return json::object{{"deleted", 0}};
  // Read on every call, so a changed setting applies to the next clean-up.
  std::int64_t days = state.config->memory.conversation_auto_delete_days;
  if (days <= 0) co_return json::object{{"deleted", 0}, {"message", "Auto-delete is disabled"}};
  std::int64_t deleted = co_await state.memory->cleanup_stale_conversations(days);
  co_return json::object{{"deleted", deleted}, {"max_age_days", days}};
}

}  // namespace ostrel::gateway::routes
