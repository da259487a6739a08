#include "components/guardrails/sqlite_audit_log.hpp"

#include "components/config/config.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

namespace ostrel::guardrails {

namespace json = boost::json;

json::object AuditEntry::to_dict() const {
  return {{"id", id},       {"timestamp", timestamp}, {"action", action}, {"tool_name", tool_name},
          {"decision", decision}, {"tier", tier},   {"details", details}};
}

std::filesystem::path SqliteAuditLog::default_path() {
  return config::OstrelConfig::default_path().parent_path() / "audit.db";
}

SqliteAuditLog::SqliteAuditLog(const std::filesystem::path& file, Clock clock) : db_(file), clock_(std::move(clock)) {
  db_.migrate({
      [](sqlite::Database& db) {
        db.run(
            "CREATE TABLE audit_log ("
            " id INTEGER PRIMARY KEY AUTOINCREMENT,"
            " timestamp TEXT NOT NULL,"
            " action TEXT NOT NULL,"
            " tool_name TEXT NOT NULL DEFAULT '',"
            " decision TEXT NOT NULL DEFAULT '',"
            " tier TEXT NOT NULL DEFAULT '',"
            " details TEXT NOT NULL DEFAULT '{}')");
      },
  });
}

std::vector<AuditEntry> SqliteAuditLog::recent(std::int64_t limit, std::int64_t offset) {
  std::vector<AuditEntry> entries;
  if (limit <= 0) return entries;
  auto rows = db_.query(
      "SELECT id, timestamp, action, tool_name, decision, tier, details FROM audit_log"
      " ORDER BY id DESC LIMIT ? OFFSET ?",
      limit, std::max<std::int64_t>(offset, 0));
  while (rows.step()) {
    AuditEntry entry{rows.integer(0), rows.text(1), rows.text(2), rows.text(3), rows.text(4), rows.text(5), {}};
    boost::system::error_code ec;
    json::value details = json::parse(rows.text(6), ec);
    if (!ec && details.is_object()) entry.details = std::move(details.get_object());
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::int64_t SqliteAuditLog::count() { return db_.scalar("SELECT COUNT(*) FROM audit_log"); }

std::int64_t SqliteAuditLog::record(const AuditEntry& entry) {
  db_.run("INSERT INTO audit_log (timestamp, action, tool_name, decision, tier, details) VALUES (?, ?, ?, ?, ?, ?)",
          sqlite::timestamp_text(clock_()), entry.action, entry.tool_name, entry.decision, entry.tier,
          json::serialize(entry.details));
  return db_.last_insert_rowid();
}

}  // namespace ostrel::guardrails
