#pragma once
// The agent: its conversation store, its planner and whether a model API key is set.
#include <boost/asio/awaitable.hpp>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel::agent {

template <class T>
using awaitable = boost::asio::awaitable<T>;

// Where the agent keeps its conversations.
class ConversationStore {
 public:
  virtual ~ConversationStore() = default;
  // Deletes the conversation with everything that belongs to it; an unknown id does nothing.
  virtual awaitable<void> delete_conversation(std::string conv_id) = 0;
};

// The agent's plans: a titled list of steps with an optional goal, optionally tied to a
// conversation, with a status of its own and a status and result per step. Plans and steps
// are JSON mappings; steps are addressed by their index, counting from 0.
class Planner {
 public:
  virtual ~Planner() = default;
  // Most recently updated first; of every conversation when `conversation_id` is absent.
  virtual awaitable<boost::json::array> list_plans(std::optional<std::string> conversation_id,
                                                   std::int64_t limit) = 0;
  // `steps` is a list of mappings from text to text.
  virtual awaitable<boost::json::object> create_plan(std::string title, boost::json::array steps,
                                                     std::optional<std::string> goal,
                                                     std::optional<std::string> conversation_id) = 0;
  // The most recently updated active plan (of the conversation, when one is named), if any.
  virtual awaitable<std::optional<boost::json::object>> get_active_plan(std::optional<std::string> conversation_id) = 0;
  // Nothing when there is no such plan.
  virtual awaitable<std::optional<boost::json::object>> get_plan(std::string plan_id) = 0;
  virtual awaitable<std::optional<boost::json::object>> set_plan_status(std::string plan_id, std::string status) = 0;
  // Nothing when there is no such plan or the plan has no such step. An absent `result`
  // keeps the step's previous result.
  virtual awaitable<std::optional<boost::json::object>> update_step(std::string plan_id, std::int64_t step_index,
                                                                    std::string status,
                                                                    std::optional<std::string> result) = 0;
  // False when there is no such plan.
  virtual awaitable<bool> delete_plan(std::string plan_id) = 0;
};

class Agent {
 public:
  virtual ~Agent() = default;
  virtual bool key_configured() const = 0;
  virtual ConversationStore& conversation() = 0;
  virtual Planner& planner() = 0;
};

}  // namespace ostrel::agent
