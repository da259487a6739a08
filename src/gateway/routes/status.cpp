#include "gateway/routes/status.hpp"

#include "version.hpp"

#include <string>

namespace ostrel::gateway::routes {

awaitable<Result> get_status(Call&, const AppState& state) {
  const auto& s = state;
  json::object status;
  status["version"] = std::string(kVersion) + kBuildTag;
  status["status"] = "running";
  status["key_configured"] = s.agent ? s.agent->key_configured() : false;
  status["onboarding_completed"] = s.config ? s.config->onboarding_completed : false;
  status["guardrails"] = s.guardrails ? s.guardrails->get_status() : json::value(nullptr);
  status["tools"] = s.tool_registry ? s.tool_registry->list_tools() : json::value(json::array{});
  status["heartbeat"] = s.heartbeat ? s.heartbeat->status() : json::value(nullptr);
  status["planner_enabled"] = s.config ? s.config->planner.enabled : false;
  status["worker_pool"] = s.worker_pool ? json::value(s.worker_pool->stats()) : json::value(nullptr);
  status["scheduler"] = s.scheduler ? s.scheduler->stats() : json::value(nullptr);
  status["model_routing"] = s.model_router ? json::value(s.model_router->config().to_dict()) : json::value(nullptr);
  co_return json::value(std::move(status));
}

}  // namespace ostrel::gateway::routes
