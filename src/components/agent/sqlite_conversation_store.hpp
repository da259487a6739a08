#pragma once
// The agent's conversation store over the memory database.
#include "components/agent/agent.hpp"
#include "components/memory/memory_db.hpp"

#include <memory>

namespace ostrel::agent {

class SqliteConversationStore : public ConversationStore {
 public:
  explicit SqliteConversationStore(std::shared_ptr<memory::MemoryDb> db) : db_(std::move(db)) {}
  // Messages, summary and checkpoints go with the conversation, in one transaction.
  awaitable<void> delete_conversation(std::string conv_id) override;

 private:
  std::shared_ptr<memory::MemoryDb> db_;
};

}  // namespace ostrel::agent
