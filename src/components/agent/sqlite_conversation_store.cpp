#include "components/agent/sqlite_conversation_store.hpp"

namespace ostrel::agent {

awaitable<void> SqliteConversationStore::delete_conversation(std::string conv_id) {
  // Messages, summary and checkpoints go with it (ON DELETE CASCADE), in this one statement.
  db_->db().run("DELETE FROM conversations WHERE id = ?", conv_id);
  co_return;
}

}  // namespace ostrel::agent
