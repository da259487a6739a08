#include "gateway/routes/memory.hpp"

#include <cstdint>
#include <string_view>

namespace ostrel::gateway::routes {

namespace {

// {<key>: list, "count": its length}: the count is of this answer, not of the store.
json::object counted(std::string_view key, json::array list) {
  auto count = static_cast<std::int64_t>(list.size());
  return json::object{{key, std::move(list)}, {"count", count}};
}

}  // namespace

// The read views answer empty shapes when there is no memory store; only deleting a fact
// reports it as an error.

awaitable<Result> get_memory_stats(Call&, const AppState& state) {
  if (!state.memory) co_return json::object{};
  co_return co_await state.memory->get_memory_stats();
}

awaitable<Result> get_facts(Call& call, const AppState& state) {
  if (!state.memory) co_return counted("facts", {});
  co_return counted("facts", co_await state.memory->get_facts(call.text("category"), call.integer("limit")));
}

awaitable<Result> delete_fact(Call& call, const AppState& state) {
  if (!state.memory) throw HttpError(500, "Memory not initialized");
  co_await state.memory->delete_fact(call.integer("fact_id"));
  co_return json::object{{"message", "Fact deleted"}};
}

awaitable<Result> get_goals(Call& call, const AppState& state) {
  if (!state.memory) co_return counted("goals", {});
  co_return counted("goals", co_await state.memory->get_all_goals(call.text("conversation_id"), call.integer("limit")));
}

awaitable<Result> get_active_goals(Call& call, const AppState& state) {
  if (!state.memory) co_return counted("goals", {});
  co_return counted("goals", co_await state.memory->get_active_goals(call.text("conversation_id")));
}

awaitable<Result> get_conversation_summary(Call& call, const AppState& state) {
  if (!state.memory) co_return json::object{{"summary", nullptr}};
  json::value summary = co_await state.memory->get_conversation_summary(call.path("conv_id"));
  co_return json::object{{"summary", std::move(summary)}};
}

awaitable<Result> get_checkpoints(Call& call, const AppState& state) {
  if (!state.memory) co_return counted("checkpoints", {});
  co_return counted("checkpoints",
                    co_await state.memory->list_checkpoints(call.path("conv_id"), call.integer("limit")));
}

}  // namespace ostrel::gateway::routes
