#pragma once
// The application state: one nullable pointer per running service. A service is present when
// its pointer is set. Handlers read the state afresh on every request and never change it.
#include "components/agent/agent.hpp"
#include "components/config/config.hpp"
#include "components/guardrails/guardrails.hpp"
#include "components/heartbeat/heartbeat.hpp"
#include "components/memory/memory.hpp"
#include "components/models/model_router.hpp"
#include "components/scheduler/scheduler.hpp"
#include "components/tools/tool_registry.hpp"
#include "components/workers/worker_pool.hpp"
#include "gateway/live_update_sender.hpp"

#include <functional>
#include <memory>

namespace ostrel::gateway {

struct AppState {
  std::shared_ptr<agent::Agent> agent;
  std::shared_ptr<config::OstrelConfig> config;
  std::shared_ptr<guardrails::Guardrails> guardrails;
  std::shared_ptr<heartbeat::Heartbeat> heartbeat;
  std::shared_ptr<memory::MemoryStore> memory;
  std::shared_ptr<models::ModelRouter> model_router;
  std::shared_ptr<scheduler::Scheduler> scheduler;
  std::shared_ptr<tools::ToolRegistry> tool_registry;
  std::shared_ptr<workers::WorkerPool> worker_pool;

  // Not a service of the state table: the gateway-wide live-update channel to the connected
  // user interfaces (the WebSocket hub at /ws), reached by handlers that announce a change.
  // Null when nothing listens; a broadcast is then simply not sent.
  std::shared_ptr<LiveUpdateSender> live_updates;
};

// Returns the current application state; called once per request.
using StateProvider = std::function<std::shared_ptr<const AppState>()>;

}  // namespace ostrel::gateway
