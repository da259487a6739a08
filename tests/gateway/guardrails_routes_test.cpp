// The guardrail tier, tool overrides, approvals and the audit log through the real router.
#include "gateway/oversight_fakes.hpp"
#include "http/json_text.hpp"

#include <fstream>

namespace ostrel::gateway::testing {
namespace {

TEST_F(OversightRoutes, GuardrailsShowTierTiersOverridesInTheirOrderAndAuditing) {
  guardrails_->current = guardrails::Tier::supervised();
  state_->config->guardrails.tool_overrides["shell"] = {.enabled = false, .require_approval = false};
  state_->config->guardrails.tool_overrides["browser"] = {.enabled = true, .require_approval = true};
  state_->config->guardrails.audit_enabled = false;
  auto r = client().get("/guardrails");
  ASSERT_EQ(r.status(), 200u);
  EXPECT_EQ(r.raw.body, http::to_json(json::object{
                            {"current_tier", "supervised"},
                            {"tier_info", guardrails::get_tier_info()},
                            {"overrides", {{"shell", {{"enabled", false}, {"require_approval", false}}},
                                           {"browser", {{"enabled", true}, {"require_approval", true}}}}},
                            {"audit_enabled", false}}));
}

TEST_F(OversightRoutes, SetTierHandsTheTierToTheServiceOrRefusesAnUnknownOne) {
  auto c = client();
  auto bad = c.put("/guardrails/tier", json::object{{"tier", "Balanced "}});
  EXPECT_EQ(bad.status(), 400u);
  EXPECT_EQ(bad.raw.body, R"({"detail":"Invalid tier: Balanced "})");
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(guardrails_->current, guardrails::Tier::balanced());

  auto good = c.put("/guardrails/tier", json::object{{"tier", "autonomous"}});
  EXPECT_EQ(good.status(), 200u);
  EXPECT_EQ(good.raw.body, R"({"tier":"autonomous","message":"Tier set to Autonomous"})");
  EXPECT_EQ(calls(), std::vector<std::string>{"set_tier(\"autonomous\")"});
}

TEST_F(OversightRoutes, OverrideDefaultsReplaceWholeAndAreSaved) {
  auto c = client();
  auto first = c.put("/guardrails/override", json::object{{"tool_name", "shell"}});
  EXPECT_EQ(first.status(), 200u);
  EXPECT_EQ(first.raw.body, R"({"tool_name":"shell","message":"Override set for shell"})");
  c.put("/guardrails/override", json::object{{"tool_name", "web"}, {"enabled", false}});
  c.put("/guardrails/override", json::object{{"tool_name", "shell"}, {"require_approval", true}});

  json::object expected{{"shell", {{"enabled", true}, {"require_approval", true}}},
                        {"web", {{"enabled", false}, {"require_approval", false}}}};
  EXPECT_EQ(http::to_json(c.get("/guardrails").json().at("overrides")), http::to_json(expected));
  // The guardrails service is not involved; the configuration on disk has the overrides.
  EXPECT_TRUE(calls().empty());
  auto reloaded = config::OstrelConfig::load();
  ASSERT_EQ(reloaded.guardrails.tool_overrides.size(), 2u);
  EXPECT_EQ(reloaded.guardrails.tool_overrides["shell"], (config::ToolOverride{true, true}));
}

TEST_F(OversightRoutes, OverrideThatCannotBeSavedIsNotShownAsSet) {
  auto c = client();
  c.put("/guardrails/override", json::object{{"tool_name", "shell"}, {"enabled", false}});
  // A plain file where the settings folder should be: every save fails.
  std::filesystem::remove_all(home_ / ".ostrel");
  std::ofstream(home_ / ".ostrel") << "not a folder";

  EXPECT_EQ(c.put("/guardrails/override", json::object{{"tool_name", "shell"}}).status(), 500u);
  EXPECT_EQ(c.put("/guardrails/override", json::object{{"tool_name", "web"}}).status(), 500u);
  EXPECT_EQ(c.get("/guardrails").json().at("overrides"),
            (json::object{{"shell", {{"enabled", false}, {"require_approval", false}}}}));
}

TEST_F(OversightRoutes, ResolvingADenialSucceedsAndAnUnknownIdIs404) {
  guardrails_->known_approvals = {"a1"};
  auto c = client();
  auto denied = c.post("/approvals/resolve", json::object{{"approval_id", "a1"}, {"approved", false}});
  EXPECT_EQ(denied.status(), 200u);
  EXPECT_EQ(denied.raw.body, R"({"resolved":true,"approved":false})");
  auto unknown = c.post("/approvals/resolve", json::object{{"approval_id", "zz"}, {"approved", true}});
  EXPECT_EQ(unknown.status(), 404u);
  EXPECT_EQ(unknown.raw.body, R"({"detail":"Approval zz not found"})");
}

TEST_F(OversightRoutes, ApprovalsAndAuditPageAreTheServicesOwn) {
  guardrails_->pending = json::array{json::object{{"id", "a1"}, {"tool_name", "shell"}}};
  guardrails_->audit_log.page = {{7, "t7", "tool_call", "shell", "allowed", "balanced", {}},
                                 {6, "t6", "tool_call", "web", "blocked", "balanced", {{"why", "off"}}}};
  guardrails_->audit_log.total = 120;
  auto c = client();
  EXPECT_EQ(c.get("/approvals").raw.body, R"([{"id":"a1","tool_name":"shell"}])");
  auto audit = c.get("/audit?offset=100").json();
  EXPECT_EQ(audit.at("entries"), (json::array{guardrails_->audit_log.page[0].to_dict(),
                                              guardrails_->audit_log.page[1].to_dict()}));
  EXPECT_EQ(audit.at("total"), 120);
}

}  // namespace
}  // namespace ostrel::gateway::testing
