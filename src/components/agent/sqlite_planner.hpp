#pragma once
// The agent's planner over the memory database. A plan answers as
// {"id", "title", "goal", "conversation_id", "status", "steps", "created_at", "updated_at"};
// each step as {"index", <the fields it was created with>, "status", "result"}. A new plan is
// "active"; a new step is "pending" unless it was created with a "status" of its own.
#include "components/agent/agent.hpp"
#include "components/memory/memory_db.hpp"

#include <memory>
#include <random>

namespace ostrel::agent {

class SqlitePlanner : public Planner {
 public:
  explicit SqlitePlanner(std::shared_ptr<memory::MemoryDb> db);

  awaitable<boost::json::array> list_plans(std::optional<std::string> conversation_id, std::int64_t limit) override;
  awaitable<boost::json::object> create_plan(std::string title, boost::json::array steps,
                                             std::optional<std::string> goal,
                                             std::optional<std::string> conversation_id) override;
  awaitable<std::optional<boost::json::object>> get_active_plan(std::optional<std::string> conversation_id) override;
  awaitable<std::optional<boost::json::object>> get_plan(std::string plan_id) override;
  awaitable<std::optional<boost::json::object>> set_plan_status(std::string plan_id, std::string status) override;
  awaitable<std::optional<boost::json::object>> update_step(std::string plan_id, std::int64_t step_index,
                                                            std::string status,
                                                            std::optional<std::string> result) override;
  awaitable<bool> delete_plan(std::string plan_id) override;

 private:
  std::optional<boost::json::object> load(const std::string& plan_id);
  std::string new_id();

  std::shared_ptr<memory::MemoryDb> db_;
  std::mt19937_64 random_;
};

}  // namespace ostrel::agent
