#include "components/memory/memory_db.hpp"

#include "components/config/config.hpp"

namespace ostrel::memory {

std::filesystem::path MemoryDb::default_path() {
  return config::OstrelConfig::default_path().parent_path() / "memory.db";
}

MemoryDb::MemoryDb(const std::filesystem::path& file, Clock clock) : db_(file), clock_(std::move(clock)) {
  // Messages, summaries and checkpoints belong to their conversation and go with it. Facts,
  // goals and plans only mention a conversation: they outlive it and may name one that was
  // never stored. AUTOINCREMENT keeps a deleted id from being given to a new row, so a stale
  // screen cannot delete the wrong fact.
  db_.migrate({
      [](sqlite::Database& db) {
        db.run(
            "CREATE TABLE conversations ("
            " id TEXT PRIMARY KEY,"
            " title TEXT NOT NULL DEFAULT '',"
            " created_at TEXT NOT NULL,"
            " updated_at TEXT NOT NULL)");
        db.run("CREATE INDEX conversations_by_update ON conversations (updated_at)");
        db.run(
            "CREATE TABLE messages ("
            " id INTEGER PRIMARY KEY AUTOINCREMENT,"
            " conversation_id TEXT NOT NULL REFERENCES conversations (id) ON DELETE CASCADE,"
            " role TEXT NOT NULL,"
            " content TEXT NOT NULL,"
            " created_at TEXT NOT NULL)");
        db.run("CREATE INDEX messages_by_conversation ON messages (conversation_id, id)");
        db.run(
            "CREATE TABLE summaries ("
            " conversation_id TEXT PRIMARY KEY REFERENCES conversations (id) ON DELETE CASCADE,"
            " summary TEXT NOT NULL,"
            " updated_at TEXT NOT NULL)");
        db.run(
            "CREATE TABLE checkpoints ("
            " id INTEGER PRIMARY KEY AUTOINCREMENT,"
            " conversation_id TEXT NOT NULL REFERENCES conversations (id) ON DELETE CASCADE,"
            " label TEXT NOT NULL DEFAULT '',"
            " state TEXT NOT NULL DEFAULT '{}',"
            " created_at TEXT NOT NULL)");
        db.run("CREATE INDEX checkpoints_by_conversation ON checkpoints (conversation_id, id)");
        db.run(
            "CREATE TABLE facts ("
            " id INTEGER PRIMARY KEY AUTOINCREMENT,"
            " category TEXT NOT NULL,"
            " content TEXT NOT NULL,"
            " conversation_id TEXT,"
            " created_at TEXT NOT NULL)");
        db.run("CREATE INDEX facts_by_category ON facts (category, id)");
        db.run(
            "CREATE TABLE goals ("
            " id INTEGER PRIMARY KEY AUTOINCREMENT,"
            " description TEXT NOT NULL,"
            " conversation_id TEXT,"
            " active INTEGER NOT NULL DEFAULT 1,"
            " created_at TEXT NOT NULL,"
            " updated_at TEXT NOT NULL)");
        db.run("CREATE INDEX goals_by_conversation ON goals (conversation_id, id)");
        db.run(
            "CREATE TABLE plans ("
            " id TEXT PRIMARY KEY,"
            " title TEXT NOT NULL,"
            " goal TEXT,"
            " conversation_id TEXT,"
            " status TEXT NOT NULL,"
            " created_at TEXT NOT NULL,"
            " updated_at TEXT NOT NULL)");
        db.run("CREATE INDEX plans_by_update ON plans (updated_at)");
        db.run(
            "CREATE TABLE plan_steps ("
            " plan_id TEXT NOT NULL REFERENCES plans (id) ON DELETE CASCADE,"
            " step_index INTEGER NOT NULL,"
            " detail TEXT NOT NULL,"
            " status TEXT NOT NULL,"
            " result TEXT,"
            " updated_at TEXT NOT NULL,"
            " PRIMARY KEY (plan_id, step_index))");
      },
  });
}

}  // namespace ostrel::memory
