// The guardrail tiers and the default guardrails: the tier kept in the configuration, approvals
// held until decided, and the audit log in SQLite.
#include "components/guardrails/default_guardrails.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/temp_home.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using namespace std::chrono_literals;
using namespace ostrel::guardrails;
using ostrel::config::OstrelConfig;

TEST(Tiers, AreNamedByTheirValuesInOrderOfIncreasingFreedom) {
  EXPECT_EQ(Tier("supervised"), Tier::supervised());
  EXPECT_EQ(Tier("autonomous").label(), "Autonomous");
  for (const char* text : {"", "Balanced", "balanced ", "unknown"}) EXPECT_THROW(Tier{text}, InvalidTier) << text;
  json::array info = get_tier_info();
  ASSERT_EQ(info.size(), 3u);
  std::vector<std::string> values;
  for (const auto& tier : info) {
    EXPECT_EQ(tier.as_object().size(), 3u);
    EXPECT_FALSE(tier.at("description").as_string().empty());
    values.emplace_back(tier.at("value").as_string());
  }
  EXPECT_EQ(values, (std::vector<std::string>{"supervised", "balanced", "autonomous"}));
}

class DefaultGuardrailsTest : public ::testing::Test {
 protected:
  ostrel::testing::TempHome temp_home_{"ostrel-guardrails"};
  const std::filesystem::path home_ = temp_home_.path();

  void SetUp() override {
    config_ = std::make_shared<OstrelConfig>(OstrelConfig::load());
    audit_ = std::make_shared<SqliteAuditLog>(SqliteAuditLog::default_path());
    guardrails_ = std::make_shared<DefaultGuardrails>(config_, audit_);
  }
  void TearDown() override {
    guardrails_.reset();
    audit_.reset();
  }

  // Starts an approval request and runs the loop until it is waiting.
  std::future<bool> request(std::chrono::steady_clock::duration timeout) {
    auto done = boost::asio::co_spawn(io_, guardrails_->request_approval("shell", {{"cmd", "ls"}}, "runs a command", timeout),
                                      boost::asio::use_future);
    io_.poll();
    return done;
  }
  std::vector<std::string> audit_decisions() {
    std::vector<std::string> decisions;
    for (const auto& entry : audit_->recent(50, 0)) decisions.push_back(entry.decision);
    return decisions;
  }

  boost::asio::io_context io_;
  std::shared_ptr<OstrelConfig> config_;
  std::shared_ptr<SqliteAuditLog> audit_;
  std::shared_ptr<DefaultGuardrails> guardrails_;
};

TEST_F(DefaultGuardrailsTest, TheTierSurvivesARestart) {
  EXPECT_EQ(guardrails_->tier(), Tier::balanced());
  guardrails_->set_tier(Tier::supervised());
  DefaultGuardrails restarted(std::make_shared<OstrelConfig>(OstrelConfig::load()), audit_);
  EXPECT_EQ(restarted.tier(), Tier::supervised());
  EXPECT_EQ(restarted.get_status().at("tier"), "supervised");
}

TEST_F(DefaultGuardrailsTest, TierThatCannotBeSavedStaysAsItWas) {
  fs::remove_all(home_ / ".ostrel");
  std::ofstream(home_ / ".ostrel") << "not a folder";
  EXPECT_ANY_THROW(guardrails_->set_tier(Tier::autonomous()));
  EXPECT_EQ(guardrails_->tier(), Tier::balanced());
}

TEST_F(DefaultGuardrailsTest, AnApprovalWaitsForTheUsersDecision) {
  auto denied = request(1h);
  json::array pending = guardrails_->pending_approvals();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].at("tool_name"), "shell");
  std::string id(pending[0].at("id").as_string());
  EXPECT_FALSE(guardrails_->resolve_approval("unknown", true));
  ASSERT_TRUE(guardrails_->resolve_approval(id, false));
  EXPECT_FALSE(guardrails_->resolve_approval(id, true));  // decided once only
  io_.run();
  EXPECT_FALSE(denied.get());

  io_.restart();
  auto approved = request(1h);
  ASSERT_TRUE(guardrails_->resolve_approval(std::string(guardrails_->pending_approvals()[0].at("id").as_string()), true));
  io_.run();
  EXPECT_TRUE(approved.get());
  EXPECT_TRUE(guardrails_->pending_approvals().empty());
  EXPECT_EQ(audit_decisions(), (std::vector<std::string>{"approved", "denied"}));
}

TEST_F(DefaultGuardrailsTest, AnUnansweredApprovalExpiresAsDenied) {
  auto expired = request(1ms);
  io_.run();
  EXPECT_FALSE(expired.get());
  EXPECT_TRUE(guardrails_->pending_approvals().empty());
  EXPECT_EQ(audit_decisions(), std::vector<std::string>{"expired"});
}

TEST_F(DefaultGuardrailsTest, ARequestTornDownWithTheLoopLeavesNoPendingApproval) {
  {
    boost::asio::io_context loop;
    boost::asio::co_spawn(loop, guardrails_->request_approval("shell", {}, "", 1h), boost::asio::detached);
    loop.poll();
    ASSERT_EQ(guardrails_->pending_approvals().size(), 1u);
  }
  EXPECT_TRUE(guardrails_->pending_approvals().empty());
}

TEST_F(DefaultGuardrailsTest, AuditLogPagesNewestFirstAndCountsTheWholeLog) {
  for (int i = 1; i <= 5; ++i)
    guardrails_->record({0, {}, "tool_call", "tool" + std::to_string(i), "allowed", "balanced", {{"n", i}}});
  config_->guardrails.audit_enabled = false;
  guardrails_->record({0, {}, "tool_call", "hidden", "allowed", "balanced", {}});

  auto names = [&](std::int64_t limit, std::int64_t offset) {
    std::vector<std::string> out;
    for (const auto& entry : audit_->recent(limit, offset)) out.push_back(entry.tool_name);
    return out;
  };
  EXPECT_EQ(names(2, 0), (std::vector<std::string>{"tool5", "tool4"}));
  EXPECT_EQ(names(2, 4), std::vector<std::string>{"tool1"});
  EXPECT_TRUE(names(10, 50).empty());
  EXPECT_EQ(audit_->count(), 5);
  json::object entry = audit_->recent(1, 0)[0].to_dict();
  EXPECT_EQ(entry.at("details"), (json::object{{"n", 5}}));
  EXPECT_EQ(entry.at("action"), "tool_call");
}

}  // namespace
