// The built ostrel-gateway with its default services: a plan created, advanced, read and
// deleted over HTTP, and a guardrail tier that is still set after a restart.
#include "e2e/gateway_process.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <string>

namespace {

namespace json = boost::json;
using Gateway = ostrel::testing::GatewayProcess;

class PlansFlow : public ::testing::Test {
 protected:
  ostrel::testing::TempFolder home_folder_{"ostrel-e2e-plans"};
  const std::filesystem::path& home_ = home_folder_.path();
};

TEST_F(PlansFlow, CreateAdvanceReadDeleteAndDeleteAgain) {
  Gateway gateway(home_);
  json::value request = {{"title", "Release"}, {"steps", json::array{{{"description", "Build"}}, {{"description", "Ship"}}}}};
  auto created = gateway.call("POST", "/api/plans", request);
  ASSERT_EQ(created.status, 200u) << json::serialize(created.body);
  const std::string id(created.body.at("id").as_string());
  EXPECT_EQ(created.body.at("goal"), nullptr);
  EXPECT_EQ(created.body.at("steps").as_array().size(), 2u);

  json::value step = {{"step_index", 0}, {"status", "done"}, {"result", "built"}};
  auto advanced = gateway.call("PUT", "/api/plans/" + id + "/steps/0", step);
  ASSERT_EQ(advanced.status, 200u) << json::serialize(advanced.body);
  auto beyond = gateway.call("PUT", "/api/plans/" + id + "/steps/2", step);
  EXPECT_EQ(beyond.status, 404u);
  EXPECT_EQ(beyond.body, (json::object{{"detail", "Plan " + id + " or step 2 not found"}}));

  auto read = gateway.call("GET", "/api/plans/" + id);
  ASSERT_EQ(read.status, 200u);
  EXPECT_EQ(read.body.at("steps").at(0).at("status"), "done");
  EXPECT_EQ(read.body.at("steps").at(0).at("result"), "built");
  EXPECT_EQ(read.body.at("steps").at(1).at("status"), "pending");
  EXPECT_EQ(gateway.call("GET", "/api/plans/active").body.at("id"), json::value(id));

  auto deleted = gateway.call("DELETE", "/api/plans/" + id);
  EXPECT_EQ(deleted.status, 200u);
  EXPECT_EQ(deleted.body, (json::object{{"message", "Plan deleted"}}));
  auto again = gateway.call("DELETE", "/api/plans/" + id);
  EXPECT_EQ(again.status, 404u);
  EXPECT_EQ(again.body, (json::object{{"detail", "Plan " + id + " not found"}}));
  EXPECT_EQ(gateway.call("GET", "/api/plans").body, json::array{});
}

TEST_F(PlansFlow, TierChosenBeforeARestartIsStillSetAfterIt) {
  {
    Gateway gateway(home_);
    auto set = gateway.call("PUT", "/api/guardrails/tier", json::value{{"tier", "supervised"}});
    EXPECT_EQ(set.status, 200u);
    EXPECT_EQ(set.body, (json::object{{"tier", "supervised"}, {"message", "Tier set to Supervised"}}));
  }
  Gateway restarted(home_);
  EXPECT_EQ(restarted.call("GET", "/api/guardrails").body.at("current_tier"), "supervised");
}

}  // namespace
