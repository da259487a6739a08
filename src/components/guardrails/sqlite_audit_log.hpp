#pragma once
// The audit log kept in SQLite ($HOME/.ostrel/audit.db by default), newest entry first.
#include "components/guardrails/guardrails.hpp"
#include "components/sqlite/database.hpp"

#include <chrono>
#include <filesystem>
#include <functional>

namespace ostrel::guardrails {

class SqliteAuditLog : public AuditLog {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  static std::filesystem::path default_path();

  explicit SqliteAuditLog(const std::filesystem::path& file, Clock clock = std::chrono::system_clock::now);

  std::vector<AuditEntry> recent(std::int64_t limit, std::int64_t offset) override;
  std::int64_t count() override;

  // Appends an entry (its id and timestamp are assigned here) and returns its id.
  std::int64_t record(const AuditEntry& entry);

 private:
  sqlite::Database db_;
  Clock clock_;
};

}  // namespace ostrel::guardrails
