#pragma once
// The agent's memory database, $HOME/.ostrel/memory.db: one SQLite file shared by the memory
// store, the agent's conversation store and its planner, with one versioned schema.
#include "components/sqlite/database.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace ostrel::memory {

class MemoryDb {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  static std::filesystem::path default_path();

  // Opens the file and brings its schema up to date. Throws sqlite::Error on failure.
  explicit MemoryDb(const std::filesystem::path& file, Clock clock = std::chrono::system_clock::now);

  sqlite::Database& db() { return db_; }
  // The current time as stored in the tables.
  std::string now() const { return sqlite::timestamp_text(clock_()); }
  std::chrono::system_clock::time_point now_time() const { return clock_(); }

 private:
  sqlite::Database db_;
  Clock clock_;
};

}  // namespace ostrel::memory
