#pragma once
// The memory store: the agent's conversations and their messages, the facts it has learned,
// its goals, and per-conversation summaries and checkpoints. Records are JSON mappings.
#include <boost/asio/awaitable.hpp>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel::memory {

template <class T>
using awaitable = boost::asio::awaitable<T>;

class MemoryStore {
 public:
  virtual ~MemoryStore() = default;

  // Conversations, most recently active first.
  virtual awaitable<boost::json::array> list_conversations(std::int64_t limit) = 0;
  // A conversation's messages in the order they were written; [] for an unknown conversation.
  virtual awaitable<boost::json::array> get_messages(std::string conv_id) = 0;
  // Renaming an unknown conversation does nothing.
  virtual awaitable<void> rename_conversation(std::string conv_id, std::string title) = 0;
  // Deletes the conversations not updated for more than `days` days; answers how many.
  virtual awaitable<std::int64_t> cleanup_stale_conversations(std::int64_t days) = 0;

  virtual awaitable<boost::json::object> get_memory_stats() = 0;
  // Facts, newest first; all categories when `category` is absent.
  virtual awaitable<boost::json::array> get_facts(std::optional<std::string> category, std::int64_t limit) = 0;
  // True when a fact with that id existed.
  virtual awaitable<bool> delete_fact(std::int64_t fact_id) = 0;
  // Goals, newest first; of every conversation when `conversation_id` is absent.
  virtual awaitable<boost::json::array> get_all_goals(std::optional<std::string> conversation_id,
                                                      std::int64_t limit) = 0;
  virtual awaitable<boost::json::array> get_active_goals(std::optional<std::string> conversation_id) = 0;
  // The conversation's summary, or null when it has none.
  virtual awaitable<boost::json::value> get_conversation_summary(std::string conv_id) = 0;
  // Checkpoints, newest first.
  virtual awaitable<boost::json::array> list_checkpoints(std::string conv_id, std::int64_t limit) = 0;
};

}  // namespace ostrel::memory
