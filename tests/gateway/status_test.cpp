#include "gateway/router.hpp"
#include "support/test_client.hpp"
#include "version.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace ostrel::gateway {
namespace {

namespace json = boost::json;

struct FakeAgent : agent::Agent {
  bool key_configured() const override { return true; }
  agent::ConversationStore& conversation() override { throw std::logic_error("not used by /status"); }
  agent::Planner& planner() override { throw std::logic_error("not used by /status"); }
};
struct FakeGuardrails : guardrails::Guardrails {
  json::value get_status() override { return json::object{{"tier", "balanced"}}; }
  guardrails::Tier tier() const override { return guardrails::Tier::balanced(); }
  void set_tier(guardrails::Tier) override {}
  json::array pending_approvals() override { return {}; }
  bool resolve_approval(const std::string&, bool) override { return false; }
  guardrails::AuditLog& audit() override { throw std::logic_error("not used by /status"); }
};
struct FakeTools : tools::ToolRegistry {
  json::value list_tools() override { return json::array{json::object{{"name", "shell"}}}; }
};
struct FakeHeartbeat : heartbeat::Heartbeat {
  json::value status() override { return json::object{{"running", false}}; }
};
struct FakeWorkers : workers::WorkerPool {
  json::object stats() override { return {{"active", 0}}; }
};
struct FakeScheduler : scheduler::Scheduler {
  json::value stats() override { return json::object{{"jobs", 2}}; }
};
struct FakeModelRouter : models::ModelRouter {
  models::RoutingConfig routing{.cost_conscious = true};
  models::RoutingConfig& config() override { return routing; }
};

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() / ("ostrel-status-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home_);
    ::setenv("HOME", home_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(home_); }

  json::value status_with(std::shared_ptr<AppState> state) {
    http::Router router = create_router([state] { return state; });
    testing::TestClient client(router);
    auto r = client.get("/status");
    EXPECT_EQ(r.status(), 200u);
    return r.json();
  }

  std::filesystem::path home_;
};

std::string version() { return std::string(kVersion) + kBuildTag; }

TEST_F(StatusTest, EmptyStateAnswersTheAbsentValueForEveryServiceInOrder) {
  json::object expected{{"version", version()},   {"status", "running"},        {"key_configured", false},
                        {"onboarding_completed", false}, {"guardrails", nullptr}, {"tools", json::array{}},
                        {"heartbeat", nullptr},   {"planner_enabled", false}, {"worker_pool", nullptr},
                        {"scheduler", nullptr},   {"model_routing", nullptr}};
  json::value got = status_with(std::make_shared<AppState>());
  EXPECT_EQ(http::to_json(got), http::to_json(expected));  // text comparison also holds the key order
}

TEST_F(StatusTest, OnlyConfigurationPresent) {
  auto state = std::make_shared<AppState>();
  state->config = std::make_shared<config::OstrelConfig>(config::OstrelConfig::load());
  state->config->onboarding_completed = true;
  state->config->planner.enabled = true;
  json::value got = status_with(state);
  EXPECT_EQ(got.at("onboarding_completed"), true);
  EXPECT_EQ(got.at("planner_enabled"), true);
  EXPECT_EQ(got.at("guardrails"), nullptr);
  EXPECT_EQ(got.at("tools"), json::array{});
}

TEST_F(StatusTest, EveryServicePresentAnswersItsOwnSummary) {
  auto state = std::make_shared<AppState>();
  state->agent = std::make_shared<FakeAgent>();
  state->guardrails = std::make_shared<FakeGuardrails>();
  state->tool_registry = std::make_shared<FakeTools>();
  state->heartbeat = std::make_shared<FakeHeartbeat>();
  state->worker_pool = std::make_shared<FakeWorkers>();
  state->scheduler = std::make_shared<FakeScheduler>();
  state->model_router = std::make_shared<FakeModelRouter>();
  json::value got = status_with(state);
  EXPECT_EQ(http::to_json(got),
            http::to_json(json::object{
                {"version", version()}, {"status", "running"}, {"key_configured", true},
                {"onboarding_completed", false}, {"guardrails", {{"tier", "balanced"}}},
                {"tools", json::array{json::object{{"name", "shell"}}}}, {"heartbeat", {{"running", false}}},
                {"planner_enabled", false}, {"worker_pool", {{"active", 0}}}, {"scheduler", {{"jobs", 2}}},
                {"model_routing", {{"cost_conscious", true}, {"default_worker_model", "auto"},
                                   {"default_scheduler_model", "auto"}, {"enabled_models", json::array{}}}}}));
}

}  // namespace
}  // namespace ostrel::gateway
