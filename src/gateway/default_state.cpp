#include "gateway/default_state.hpp"

#include "components/agent/default_agent.hpp"
#include "components/guardrails/default_guardrails.hpp"
#include "components/memory/sqlite_memory_store.hpp"

namespace ostrel::gateway {

std::shared_ptr<AppState> build_default_state() {
  auto state = std::make_shared<AppState>();
  state->config = std::make_shared<config::OstrelConfig>(config::OstrelConfig::load());

  // The tier is kept in the configuration; the audit log in its own database.
  auto audit = std::make_shared<guardrails::SqliteAuditLog>(guardrails::SqliteAuditLog::default_path());
  state->guardrails = std::make_shared<guardrails::DefaultGuardrails>(state->config, std::move(audit));

  // The memory store, the agent's conversation store and its planner share one database.
  auto memory_db = std::make_shared<memory::MemoryDb>(memory::MemoryDb::default_path());
  state->memory = std::make_shared<memory::SqliteMemoryStore>(memory_db);
  state->agent = std::make_shared<agent::DefaultAgent>(state->config, memory_db);
  return state;
}

}  // namespace ostrel::gateway
