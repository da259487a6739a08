#include "gateway/routes/plans.hpp"

#include "gateway/records.hpp"

#include <optional>
#include <string>

namespace ostrel::gateway::routes {

namespace {

agent::Planner& require_planner(const AppState& state) {
  if (!state.agent) throw HttpError(500, "Agent not initialized");
  return state.agent->planner();
}

// The planner's answer, or 404 with `detail` when it has no such plan (or step).
json::object found(std::optional<json::object> plan, const std::string& detail) {
  if (!plan || plan->empty()) throw HttpError(404, detail);
  return std::move(*plan);
}

std::string plan_not_found(const std::string& plan_id) { return "Plan " + plan_id + " not found"; }

}  // namespace

awaitable<Result> list_plans(Call& call, const AppState& state) {
  if (!state.agent) co_return json::array{};
  co_return co_await state.agent->planner().list_plans(call.text("conversation_id"), call.integer("limit"));
}

awaitable<Result> create_plan(Call& call, const AppState& state) {
  const auto& body = call.body<CreatePlanRequest>();
  auto& planner = require_planner(state);
  json::array steps;
  for (const auto& step : body.steps) steps.push_back(step.values);
  co_return co_await planner.create_plan(body.title, std::move(steps), body.goal, body.conversation_id);
}

awaitable<Result> get_active_plan(Call& call, const AppState& state) {
  if (!state.agent) co_return json::value(nullptr);
  auto plan = co_await state.agent->planner().get_active_plan(call.text("conversation_id"));
  co_return plan ? json::value(std::move(*plan)) : json::value(nullptr);
}

awaitable<Result> get_plan(Call& call, const AppState& state) {
  auto& planner = require_planner(state);
  const std::string& plan_id = call.path("plan_id");
  co_return found(co_await planner.get_plan(plan_id), plan_not_found(plan_id));
}

awaitable<Result> update_plan_status(Call& call, const AppState& state) {
  const auto& body = call.body<PlanStatusUpdate>();
  auto& planner = require_planner(state);
  const std::string& plan_id = call.path("plan_id");
  co_return found(co_await planner.set_plan_status(plan_id, body.status), plan_not_found(plan_id));
}

awaitable<Result> update_plan_step(Call& call, const AppState& state) {
  const auto& body = call.body<UpdateStepRequest>();
  auto& planner = require_planner(state);
  const std::string& plan_id = call.path("plan_id");
  // The step named in the path is the one changed; the body's own step_index is not used.
  std::int64_t step_index = call.integer("step_index");
  co_return found(co_await planner.update_step(plan_id, step_index, body.status, body.result),
                  "Plan " + plan_id + " or step " + std::to_string(step_index) + " not found");
}

awaitable<Result> delete_plan(Call& call, const AppState& state) {
  auto& planner = require_planner(state);
  const std::string& plan_id = call.path("plan_id");
  if (!co_await planner.delete_plan(plan_id)) throw HttpError(404, plan_not_found(plan_id));
  co_return json::object{{"message", "Plan deleted"}};
}

}  // namespace ostrel::gateway::routes
