#include "components/sqlite/database.hpp"

#include <sqlite3.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <ctime>
#include <system_error>
#include <vector>

namespace ostrel::sqlite {

namespace {

[[noreturn]] void fail(sqlite3* db, std::string_view what) {
  throw Error(std::string(what) + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

}  // namespace

// ---- Statement ----

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
    fail(db_, "cannot prepare \"" + std::string(sql) + "\"");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) fail(db_, "cannot bind");
  return *this;
}
Statement& Statement::bind(int index, double value) {
  if (sqlite3_bind_double(stmt_, index, value) != SQLITE_OK) fail(db_, "cannot bind");
  return *this;
}
Statement& Statement::bind(int index, std::string_view value) {
  if (sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK)
    fail(db_, "cannot bind");
  return *this;
}
Statement& Statement::bind(int index, std::nullptr_t) {
  if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) fail(db_, "cannot bind");
  return *this;
}
Statement& Statement::bind(int index, const std::optional<std::string>& value) {
  return value ? bind(index, std::string_view(*value)) : bind(index, nullptr);
}

bool Statement::step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  fail(db_, "statement failed");
}

void Statement::run() {
  while (step()) {
  }
}

bool Statement::is_null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }
double Statement::real(int column) const { return sqlite3_column_double(stmt_, column); }
std::string Statement::text(int column) const {
  const auto* data = sqlite3_column_text(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  return data != nullptr ? std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size)) : std::string();
}
std::optional<std::string> Statement::optional_text(int column) const {
  if (is_null(column)) return std::nullopt;
  return text(column);
}

// ---- Database ----

Database::Database(const std::filesystem::path& file) : path_(file) {
  if (file.has_parent_path()) {
    std::error_code ec;
    if (std::filesystem::create_directories(file.parent_path(), ec))
      std::filesystem::permissions(file.parent_path(), std::filesystem::perms::owner_all, ec);
  }
#ifndef _WIN32
  // The file holds the user's conversations: create it readable by the user only. SQLite gives
  // its -wal and -shm files the same permissions.
  if (int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); fd >= 0) ::close(fd);
#endif
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(file.string().c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw Error("cannot open " + file.string() + ": " + message);
  }
  try {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 5000);  // another gateway process may hold a write lock briefly
    run("PRAGMA foreign_keys = ON");
    Statement journal(db_, "PRAGMA journal_mode = WAL");
    journal.run();
    run("PRAGMA synchronous = NORMAL");  // safe with WAL: a crash loses at most the last commits, never the file
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

Database::~Database() { sqlite3_close(db_); }

void Database::rollback() noexcept {
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::int64_t Database::user_version() { return scalar("PRAGMA user_version"); }

void Database::migrate(const std::vector<std::function<void(Database&)>>& migrations) {
  const auto target = static_cast<std::int64_t>(migrations.size());
  transaction([&] {
    std::int64_t version = user_version();
    if (version > target)
      throw Error(path_.string() + " has schema version " + std::to_string(version) + ", newer than this build (" +
                  std::to_string(target) + ")");
    for (; version < target; ++version) migrations[static_cast<std::size_t>(version)](*this);
    // PRAGMA takes no bound parameters; the value is our own integer.
    run("PRAGMA user_version = " + std::to_string(target));
  });
}

std::int64_t Database::changes() const { return sqlite3_changes64(db_); }
std::int64_t Database::last_insert_rowid() const { return sqlite3_last_insert_rowid(db_); }

std::string timestamp_text(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
  auto seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  auto millis = static_cast<int>(ms - static_cast<long long>(seconds) * 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
  return text;
}

}  // namespace ostrel::sqlite
