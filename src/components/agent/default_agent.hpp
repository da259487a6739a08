#pragma once
// The gateway's own agent as the API sees it: conversations and plans in the memory database,
// and the model API key read from the environment variable the configuration names.
#include "components/agent/agent.hpp"
#include "components/agent/sqlite_conversation_store.hpp"
#include "components/agent/sqlite_planner.hpp"
#include "components/config/config.hpp"

#include <memory>

namespace ostrel::agent {

class DefaultAgent : public Agent {
 public:
  DefaultAgent(std::shared_ptr<config::OstrelConfig> config, std::shared_ptr<memory::MemoryDb> db)
      : config_(std::move(config)), conversation_(db), planner_(db) {}

  // True when the environment variable named by `model.api_key_env` holds a non-empty key.
  bool key_configured() const override;
  ConversationStore& conversation() override { return conversation_; }
  Planner& planner() override { return planner_; }

 private:
  std::shared_ptr<config::OstrelConfig> config_;
  SqliteConversationStore conversation_;
  SqlitePlanner planner_;
};

}  // namespace ostrel::agent
