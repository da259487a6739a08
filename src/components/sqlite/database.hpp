#pragma once
// A small owner of one SQLite connection: prepared statements with bound parameters,
// transactions that roll back when the work throws, and schema versions kept in
// PRAGMA user_version. Used from one thread (the event loop) at a time.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ostrel::sqlite {

struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  Statement(Statement&& other) noexcept : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& operator=(Statement&&) = delete;
  ~Statement();

  // Parameters are numbered from 1, in the order of the ?s of the statement.
  Statement& bind(int index, std::int64_t value);
  Statement& bind(int index, double value);
  Statement& bind(int index, std::string_view value);
  Statement& bind(int index, std::nullptr_t);
  Statement& bind(int index, const std::optional<std::string>& value);
  Statement& bind(int index, const char* value) { return bind(index, std::string_view(value)); }
  Statement& bind(int index, const std::string& value) { return bind(index, std::string_view(value)); }
  Statement& bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
  Statement& bind(int index, bool value) { return bind(index, static_cast<std::int64_t>(value ? 1 : 0)); }

  template <class... Args>
  Statement& bind_all(const Args&... args) {
    int index = 0;
    (bind(++index, args), ...);
    return *this;
  }

  // Advances to the next row: true while there is one, false when done.
  bool step();
  // Runs a statement that returns no rows.
  void run();

  bool is_null(int column) const;
  std::int64_t integer(int column) const;
  double real(int column) const;
  std::string text(int column) const;
  std::optional<std::string> optional_text(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class Database {
 public:
  // Opens (creating if needed) the database file with WAL journaling and foreign keys on.
  // The parent folder is created with mode 0700.
  explicit Database(const std::filesystem::path& file);
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database();

  template <class... Args>
  Statement query(std::string_view sql, const Args&... args) {
    Statement statement(db_, sql);
    statement.bind_all(args...);
    return statement;
  }
  template <class... Args>
  void run(std::string_view sql, const Args&... args) {
    query(sql, args...).run();
  }
  // A single integer answered by a query (COUNT(*), PRAGMA values).
  template <class... Args>
  std::int64_t scalar(std::string_view sql, const Args&... args) {
    Statement statement = query(sql, args...);
    if (!statement.step()) throw Error("query returned no row: " + std::string(sql));
    return statement.integer(0);
  }

  // Runs `work` inside BEGIN IMMEDIATE ... COMMIT; rolls back and rethrows if it throws.
  template <class Work>
  auto transaction(Work&& work) -> decltype(work()) {
    run("BEGIN IMMEDIATE");
    try {
      if constexpr (std::is_void_v<decltype(work())>) {
        work();
        run("COMMIT");
      } else {
        auto result = work();
        run("COMMIT");
        return result;
      }
    } catch (...) {
      rollback();
      throw;
    }
  }

  // Brings the schema from its stored PRAGMA user_version up to `migrations.size()`, running
  // each missing step and the version bump in one transaction. A file written by a newer
  // schema than this build knows is refused rather than modified.
  void migrate(const std::vector<std::function<void(Database&)>>& migrations);
  std::int64_t user_version();

  // Rows changed by the last INSERT, UPDATE or DELETE; rowid of the last INSERT.
  std::int64_t changes() const;
  std::int64_t last_insert_rowid() const;

  const std::filesystem::path& path() const { return path_; }

 private:
  void rollback() noexcept;
  std::filesystem::path path_;
  sqlite3* db_ = nullptr;
};

// A UTC time as stored in our tables: "2024-05-01T12:34:56.789Z". Texts of this fixed width
// sort in time order, so they can be compared in SQL.
std::string timestamp_text(std::chrono::system_clock::time_point time);

}  // namespace ostrel::sqlite
