#include "components/memory/sqlite_memory_store.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include <algorithm>

namespace ostrel::memory {

namespace json = boost::json;
using sqlite::Statement;

namespace {

json::value optional_text(const Statement& row, int column) {
  if (row.is_null(column)) return nullptr;
  return json::string(row.text(column));
}

json::object goal_record(const Statement& row) {
  return {{"id", row.integer(0)},         {"description", row.text(1)},  {"conversation_id", optional_text(row, 2)},
          {"active", row.integer(3) != 0}, {"created_at", row.text(4)}, {"updated_at", row.text(5)}};
}

constexpr const char* kGoalColumns = "SELECT id, description, conversation_id, active, created_at, updated_at FROM goals";

}  // namespace

void SqliteMemoryStore::touch_conversation(const std::string& conv_id, const std::string& now) {
  db_->db().run(
      "INSERT INTO conversations (id, title, created_at, updated_at) VALUES (?, '', ?, ?)"
      " ON CONFLICT (id) DO UPDATE SET updated_at = excluded.updated_at",
      conv_id, now, now);
}

awaitable<json::array> SqliteMemoryStore::list_conversations(std::int64_t limit) {
  json::array list;
  auto rows = db_->db().query(
      "SELECT c.id, c.title, c.created_at, c.updated_at,"
      " (SELECT COUNT(*) FROM messages m WHERE m.conversation_id = c.id)"
      " FROM conversations c ORDER BY c.updated_at DESC, c.rowid DESC LIMIT ?",
      std::max<std::int64_t>(limit, 0));
  while (rows.step())
    list.push_back(json::object{{"id", rows.text(0)},
                                {"title", rows.text(1)},
                                {"created_at", rows.text(2)},
                                {"updated_at", rows.text(3)},
                                {"message_count", rows.integer(4)}});
  co_return list;
}

awaitable<json::array> SqliteMemoryStore::get_messages(std::string conv_id) {
  json::array list;
  auto rows = db_->db().query(
      "SELECT id, role, content, created_at FROM messages WHERE conversation_id = ? ORDER BY id", conv_id);
  while (rows.step())
    list.push_back(json::object{{"id", rows.integer(0)},
                                {"conversation_id", conv_id},
                                {"role", rows.text(1)},
                                {"content", rows.text(2)},
                                {"created_at", rows.text(3)}});
  co_return list;
}

awaitable<void> SqliteMemoryStore::rename_conversation(std::string conv_id, std::string title) {
  db_->db().run("UPDATE conversations SET title = ? WHERE id = ?", title, conv_id);
  co_return;
}

awaitable<std::int64_t> SqliteMemoryStore::cleanup_stale_conversations(std::int64_t days) {
  using namespace std::chrono;
  // Stored times are after 1970, so an age reaching back before it finds nothing; checking
  // this first also keeps a huge `days` from overflowing the arithmetic.
  const auto since_epoch = duration_cast<hours>(db_->now_time().time_since_epoch()).count() / 24;
  if (days <= 0 || days > since_epoch) co_return 0;
  const std::string cutoff = sqlite::timestamp_text(db_->now_time() - hours(24) * days);
  auto& db = db_->db();
  // Messages, summaries and checkpoints go with their conversation (ON DELETE CASCADE).
  co_return db.transaction([&] {
    db.run("DELETE FROM conversations WHERE updated_at < ?", cutoff);
    return db.changes();
  });
}

awaitable<json::object> SqliteMemoryStore::get_memory_stats() {
  auto& db = db_->db();
  json::object categories;
  auto rows = db.query("SELECT category, COUNT(*) FROM facts GROUP BY category ORDER BY category");
  while (rows.step()) categories[rows.text(0)] = rows.integer(1);
  co_return json::object{{"conversations", db.scalar("SELECT COUNT(*) FROM conversations")},
                         {"messages", db.scalar("SELECT COUNT(*) FROM messages")},
                         {"facts", db.scalar("SELECT COUNT(*) FROM facts")},
                         {"fact_categories", std::move(categories)},
                         {"goals", db.scalar("SELECT COUNT(*) FROM goals")},
                         {"active_goals", db.scalar("SELECT COUNT(*) FROM goals WHERE active")},
                         {"summaries", db.scalar("SELECT COUNT(*) FROM summaries")},
                         {"checkpoints", db.scalar("SELECT COUNT(*) FROM checkpoints")}};
}

awaitable<json::array> SqliteMemoryStore::get_facts(std::optional<std::string> category, std::int64_t limit) {
  json::array list;
  auto rows = db_->db().query(
      "SELECT id, category, content, conversation_id, created_at FROM facts"
      " WHERE ?1 IS NULL OR category = ?1 ORDER BY id DESC LIMIT ?2",
      category, std::max<std::int64_t>(limit, 0));
  while (rows.step())
    list.push_back(json::object{{"id", rows.integer(0)},
                                {"category", rows.text(1)},
                                {"content", rows.text(2)},
                                {"conversation_id", optional_text(rows, 3)},
                                {"created_at", rows.text(4)}});
  co_return list;
}

awaitable<bool> SqliteMemoryStore::delete_fact(std::int64_t fact_id) {
  db_->db().run("DELETE FROM facts WHERE id = ?", fact_id);
  co_return db_->db().changes() > 0;
}

awaitable<json::array> SqliteMemoryStore::get_all_goals(std::optional<std::string> conversation_id,
                                                        std::int64_t limit) {
  json::array list;
  auto rows = db_->db().query(std::string(kGoalColumns) +
                                  " WHERE ?1 IS NULL OR conversation_id = ?1 ORDER BY id DESC LIMIT ?2",
                              conversation_id, std::max<std::int64_t>(limit, 0));
  while (rows.step()) list.push_back(goal_record(rows));
  co_return list;
}

awaitable<json::array> SqliteMemoryStore::get_active_goals(std::optional<std::string> conversation_id) {
  json::array list;
  auto rows = db_->db().query(std::string(kGoalColumns) +
                                  " WHERE active AND (?1 IS NULL OR conversation_id = ?1) ORDER BY id DESC",
                              conversation_id);
  while (rows.step()) list.push_back(goal_record(rows));
  co_return list;
}

awaitable<json::value> SqliteMemoryStore::get_conversation_summary(std::string conv_id) {
  auto row = db_->db().query("SELECT summary, updated_at FROM summaries WHERE conversation_id = ?", conv_id);
  if (!row.step()) co_return nullptr;
  co_return json::object{{"conversation_id", conv_id}, {"summary", row.text(0)}, {"updated_at", row.text(1)}};
}

awaitable<json::array> SqliteMemoryStore::list_checkpoints(std::string conv_id, std::int64_t limit) {
  json::array list;
  auto rows = db_->db().query(
      "SELECT id, label, state, created_at FROM checkpoints WHERE conversation_id = ? ORDER BY id DESC LIMIT ?",
      conv_id, std::max<std::int64_t>(limit, 0));
  while (rows.step()) {
    boost::system::error_code ec;
    json::value state = json::parse(rows.text(2), ec);
    list.push_back(json::object{{"id", rows.integer(0)},
                                {"conversation_id", conv_id},
                                {"label", rows.text(1)},
                                {"state", ec ? json::value(json::object{}) : std::move(state)},
                                {"created_at", rows.text(3)}});
  }
  co_return list;
}

void SqliteMemoryStore::create_conversation(const std::string& conv_id, const std::string& title) {
  auto& db = db_->db();
  db.transaction([&] {
    touch_conversation(conv_id, db_->now());
    db.run("UPDATE conversations SET title = ? WHERE id = ?", title, conv_id);
  });
}

std::int64_t SqliteMemoryStore::add_message(const std::string& conv_id, const std::string& role,
                                            const std::string& content) {
  auto& db = db_->db();
  return db.transaction([&] {
    std::string now = db_->now();
    touch_conversation(conv_id, now);
    db.run("INSERT INTO messages (conversation_id, role, content, created_at) VALUES (?, ?, ?, ?)", conv_id, role,
           content, now);
    return db.last_insert_rowid();
  });
}

std::int64_t SqliteMemoryStore::add_fact(const std::string& category, const std::string& content,
                                         const std::optional<std::string>& conversation_id) {
  auto& db = db_->db();
  db.run("INSERT INTO facts (category, content, conversation_id, created_at) VALUES (?, ?, ?, ?)", category, content,
         conversation_id, db_->now());
  return db.last_insert_rowid();
}

std::int64_t SqliteMemoryStore::add_goal(const std::string& description,
                                         const std::optional<std::string>& conversation_id) {
  auto& db = db_->db();
  std::string now = db_->now();
  db.run("INSERT INTO goals (description, conversation_id, active, created_at, updated_at) VALUES (?, ?, 1, ?, ?)",
         description, conversation_id, now, now);
  return db.last_insert_rowid();
}

bool SqliteMemoryStore::set_goal_active(std::int64_t goal_id, bool active) {
  auto& db = db_->db();
  db.run("UPDATE goals SET active = ?, updated_at = ? WHERE id = ?", active, db_->now(), goal_id);
  return db.changes() > 0;
}

void SqliteMemoryStore::save_summary(const std::string& conv_id, const std::string& summary) {
  auto& db = db_->db();
  db.transaction([&] {
    std::string now = db_->now();
    touch_conversation(conv_id, now);
    db.run(
        "INSERT INTO summaries (conversation_id, summary, updated_at) VALUES (?, ?, ?)"
        " ON CONFLICT (conversation_id) DO UPDATE SET summary = excluded.summary, updated_at = excluded.updated_at",
        conv_id, summary, now);
  });
}

std::int64_t SqliteMemoryStore::add_checkpoint(const std::string& conv_id, const std::string& label,
                                               const json::object& state) {
  auto& db = db_->db();
  return db.transaction([&] {
    std::string now = db_->now();
    touch_conversation(conv_id, now);
    db.run("INSERT INTO checkpoints (conversation_id, label, state, created_at) VALUES (?, ?, ?, ?)", conv_id, label,
           json::serialize(state), now);
    return db.last_insert_rowid();
  });
}

}  // namespace ostrel::memory
