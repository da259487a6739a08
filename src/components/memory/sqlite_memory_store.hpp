#pragma once
// The memory store over the agent's memory database. Besides what the gateway reads, it offers
// the writes the agent makes as it works. SQLite work is short, so it runs on the loop.
#include "components/memory/memory.hpp"
#include "components/memory/memory_db.hpp"

#include <memory>

namespace ostrel::memory {

class SqliteMemoryStore : public MemoryStore {
 public:
  explicit SqliteMemoryStore(std::shared_ptr<MemoryDb> db) : db_(std::move(db)) {}

  awaitable<boost::json::array> list_conversations(std::int64_t limit) override;
  awaitable<boost::json::array> get_messages(std::string conv_id) override;
  awaitable<void> rename_conversation(std::string conv_id, std::string title) override;
  awaitable<std::int64_t> cleanup_stale_conversations(std::int64_t days) override;
  awaitable<boost::json::object> get_memory_stats() override;
  awaitable<boost::json::array> get_facts(std::optional<std::string> category, std::int64_t limit) override;
  awaitable<bool> delete_fact(std::int64_t fact_id) override;
  awaitable<boost::json::array> get_all_goals(std::optional<std::string> conversation_id, std::int64_t limit) override;
  awaitable<boost::json::array> get_active_goals(std::optional<std::string> conversation_id) override;
  awaitable<boost::json::value> get_conversation_summary(std::string conv_id) override;
  awaitable<boost::json::array> list_checkpoints(std::string conv_id, std::int64_t limit) override;

  // Writes of the agent. Each one is a single transaction; writing to a conversation that is
  // not stored yet creates it, and every write to a conversation marks it as updated.
  void create_conversation(const std::string& conv_id, const std::string& title);
  std::int64_t add_message(const std::string& conv_id, const std::string& role, const std::string& content);
  std::int64_t add_fact(const std::string& category, const std::string& content,
                        const std::optional<std::string>& conversation_id = std::nullopt);
  std::int64_t add_goal(const std::string& description, const std::optional<std::string>& conversation_id = std::nullopt);
  bool set_goal_active(std::int64_t goal_id, bool active);
  void save_summary(const std::string& conv_id, const std::string& summary);
  std::int64_t add_checkpoint(const std::string& conv_id, const std::string& label, const boost::json::object& state);

 private:
  // Inserts the conversation if missing and marks it updated now. Call inside a transaction.
  void touch_conversation(const std::string& conv_id, const std::string& now);

  std::shared_ptr<MemoryDb> db_;
};

}  // namespace ostrel::memory
