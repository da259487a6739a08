#pragma once
// Recording fakes of the guardrails, the memory store and the agent for the route tests: each
// call is written to a shared log as text ("get_facts(null, 50)"), and answers are canned.
#include "gateway/app_state.hpp"
#include "gateway/router.hpp"
#include "support/test_client.hpp"
#include "support/temp_home.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::gateway::testing {

namespace json = boost::json;
template <class T>
using awaitable = boost::asio::awaitable<T>;

struct CallLog {
  std::vector<std::string> calls;
  void add(std::string call) { calls.push_back(std::move(call)); }
};

inline std::string arg(const std::optional<std::string>& text) { return text ? "\"" + *text + "\"" : "null"; }
inline std::string arg(const std::string& text) { return "\"" + text + "\""; }
inline std::string arg(std::int64_t n) { return std::to_string(n); }
inline std::string arg(bool b) { return b ? "true" : "false"; }

struct FakeAuditLog : guardrails::AuditLog {
  std::shared_ptr<CallLog> log;
  std::vector<guardrails::AuditEntry> page;
  std::int64_t total = 0;
  std::vector<guardrails::AuditEntry> recent(std::int64_t limit, std::int64_t offset) override {
    log->add("recent(" + arg(limit) + ", " + arg(offset) + ")");
    return page;
  }
  std::int64_t count() override { return total; }
};

struct FakeGuardrails : guardrails::Guardrails {
  std::shared_ptr<CallLog> log;
  guardrails::Tier current = guardrails::Tier::balanced();
  json::array pending;
  std::vector<std::string> known_approvals;
  FakeAuditLog audit_log;

  explicit FakeGuardrails(std::shared_ptr<CallLog> l) : log(l) { audit_log.log = l; }
  json::value get_status() override { return json::object{}; }
  guardrails::Tier tier() const override { return current; }
  void set_tier(guardrails::Tier tier) override {
    log->add("set_tier(" + arg(std::string(tier.value())) + ")");
    current = tier;
  }
  json::array pending_approvals() override { return pending; }
  bool resolve_approval(const std::string& id, bool approved) override {
    log->add("resolve_approval(" + arg(id) + ", " + arg(approved) + ")");
    return std::find(known_approvals.begin(), known_approvals.end(), id) != known_approvals.end();
  }
  guardrails::AuditLog& audit() override { return audit_log; }
};

struct FakeMemory : memory::MemoryStore {
  std::shared_ptr<CallLog> log;
  json::array list{json::object{{"id", 1}}, json::object{{"id", 2}}, json::object{{"id", 3}}};
  json::value summary = nullptr;
  std::int64_t stale = 3;

  explicit FakeMemory(std::shared_ptr<CallLog> l) : log(std::move(l)) {}
  awaitable<json::array> list_conversations(std::int64_t limit) override {
    log->add("list_conversations(" + arg(limit) + ")");
    co_return list;
  }
  awaitable<json::array> get_messages(std::string conv_id) override {
    log->add("get_messages(" + arg(conv_id) + ")");
    co_return list;
  }
  awaitable<void> rename_conversation(std::string conv_id, std::string title) override {
    log->add("rename_conversation(" + arg(conv_id) + ", " + arg(title) + ")");
    co_return;
  }
  awaitable<std::int64_t> cleanup_stale_conversations(std::int64_t days) override {
    log->add("cleanup_stale_conversations(" + arg(days) + ")");
    co_return stale;
  }
  awaitable<json::object> get_memory_stats() override {
    log->add("get_memory_stats()");
    co_return json::object{{"facts", 3}};
  }
  awaitable<json::array> get_facts(std::optional<std::string> category, std::int64_t limit) override {
    log->add("get_facts(" + arg(category) + ", " + arg(limit) + ")");
    co_return list;
  }
  awaitable<bool> delete_fact(std::int64_t fact_id) override {
    log->add("delete_fact(" + arg(fact_id) + ")");
    co_return false;
  }
  awaitable<json::array> get_all_goals(std::optional<std::string> conversation_id, std::int64_t limit) override {
    log->add("get_all_goals(" + arg(conversation_id) + ", " + arg(limit) + ")");
    co_return list;
  }
  awaitable<json::array> get_active_goals(std::optional<std::string> conversation_id) override {
    log->add("get_active_goals(" + arg(conversation_id) + ")");
    co_return list;
  }
  awaitable<json::value> get_conversation_summary(std::string conv_id) override {
    log->add("get_conversation_summary(" + arg(conv_id) + ")");
    co_return summary;
  }
  awaitable<json::array> list_checkpoints(std::string conv_id, std::int64_t limit) override {
    log->add("list_checkpoints(" + arg(conv_id) + ", " + arg(limit) + ")");
    co_return list;
  }
};

struct FakeConversations : agent::ConversationStore {
  std::shared_ptr<CallLog> log;
  awaitable<void> delete_conversation(std::string conv_id) override {
    log->add("delete_conversation(" + arg(conv_id) + ")");
    co_return;
  }
};

// Knows one plan, "p1", with two steps (0 and 1).
struct FakePlanner : agent::Planner {
  std::shared_ptr<CallLog> log;
  std::optional<json::object> active;
  json::object plan{{"id", "p1"}, {"title", "Ship"}};

  std::optional<json::object> known(const std::string& id) { return id == "p1" ? std::optional(plan) : std::nullopt; }

  awaitable<json::array> list_plans(std::optional<std::string> conversation_id, std::int64_t limit) override {
    log->add("list_plans(" + arg(conversation_id) + ", " + arg(limit) + ")");
    co_return json::array{plan};
  }
  awaitable<json::object> create_plan(std::string title, json::array steps, std::optional<std::string> goal,
                                      std::optional<std::string> conversation_id) override {
    log->add("create_plan(" + arg(title) + ", " + json::serialize(steps) + ", " + arg(goal) + ", " +
             arg(conversation_id) + ")");
    co_return plan;
  }
  awaitable<std::optional<json::object>> get_active_plan(std::optional<std::string> conversation_id) override {
    log->add("get_active_plan(" + arg(conversation_id) + ")");
    co_return active;
  }
  awaitable<std::optional<json::object>> get_plan(std::string plan_id) override {
    log->add("get_plan(" + arg(plan_id) + ")");
    co_return known(plan_id);
  }
  awaitable<std::optional<json::object>> set_plan_status(std::string plan_id, std::string status) override {
    log->add("set_plan_status(" + arg(plan_id) + ", " + arg(status) + ")");
    co_return known(plan_id);
  }
  awaitable<std::optional<json::object>> update_step(std::string plan_id, std::int64_t step_index, std::string status,
                                                     std::optional<std::string> result) override {
    log->add("update_step(" + arg(plan_id) + ", " + arg(step_index) + ", " + arg(status) + ", " + arg(result) + ")");
    if (step_index < 0 || step_index > 1) co_return std::nullopt;
    co_return known(plan_id);
  }
  awaitable<bool> delete_plan(std::string plan_id) override {
    log->add("delete_plan(" + arg(plan_id) + ")");
    co_return plan_id == "p1";
  }
};

struct FakeAgent : agent::Agent {
  FakeConversations conversations;
  FakePlanner plans;
  explicit FakeAgent(std::shared_ptr<CallLog> log) {
    conversations.log = log;
    plans.log = log;
  }
  bool key_configured() const override { return false; }
  agent::ConversationStore& conversation() override { return conversations; }
  agent::Planner& planner() override { return plans; }
};

// The real router over a state of fakes (and a real configuration in a temporary home).
class OversightRoutes : public ::testing::Test {
 protected:
  ostrel::testing::TempHome temp_home_{"ostrel-oversight"};
  const std::filesystem::path home_ = temp_home_.path();

  void SetUp() override {
    state_->config = std::make_shared<config::OstrelConfig>(config::OstrelConfig::load());
    state_->guardrails = guardrails_;
    state_->memory = memory_;
    state_->agent = agent_;
  }

  ostrel::testing::TestClient client() {
    router_ = create_router([state = state_] { return state; });
    return ostrel::testing::TestClient(router_);
  }
  const std::vector<std::string>& calls() const { return log_->calls; }

  std::shared_ptr<CallLog> log_ = std::make_shared<CallLog>();
  std::shared_ptr<FakeGuardrails> guardrails_ = std::make_shared<FakeGuardrails>(log_);
  std::shared_ptr<FakeMemory> memory_ = std::make_shared<FakeMemory>(log_);
  std::shared_ptr<FakeAgent> agent_ = std::make_shared<FakeAgent>(log_);
  std::shared_ptr<AppState> state_ = std::make_shared<AppState>();
  http::Router router_;
};

}  // namespace ostrel::gateway::testing
