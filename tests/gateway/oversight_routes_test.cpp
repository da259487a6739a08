// What every oversight route hands to its service, what it answers without one, and what the
// router refuses before any service is called.
#include "gateway/oversight_fakes.hpp"
#include "http/json_text.hpp"

namespace ostrel::gateway::testing {
namespace {

struct Case {
  http::Verb method;
  std::string target;
  std::optional<std::string> body;
  std::vector<std::string> calls;  // or, in the absent table, the expected answer
};

constexpr auto GET = http::Verb::get;
constexpr auto PUT = http::Verb::put;
constexpr auto POST = http::Verb::post;
constexpr auto PATCH = http::Verb::patch;
constexpr auto DELETE = http::Verb::delete_;

TEST_F(OversightRoutes, PassesParametersAndDefaultsToTheServiceUnchanged) {
  const std::vector<Case> cases = {
      {GET, "/audit", {}, {"recent(50, 0)"}},
      {GET, "/audit?limit=5&offset=100", {}, {"recent(5, 100)"}},
      {POST, "/approvals/resolve", R"({"approval_id": "a1", "approved": false})", {"resolve_approval(\"a1\", false)"}},
      {GET, "/conversations", {}, {"list_conversations(50)"}},
      {DELETE, "/conversations/c1", {}, {"delete_conversation(\"c1\")"}},
      {PATCH, "/conversations/c1", R"({"title": ""})", {"rename_conversation(\"c1\", \"\")"}},
      {GET, "/conversations/c1/messages", {}, {"get_messages(\"c1\")"}},
      {GET, "/memory/stats", {}, {"get_memory_stats()"}},
      {GET, "/memory/facts", {}, {"get_facts(null, 50)"}},
      {GET, "/memory/facts?category=work&limit=3", {}, {"get_facts(\"work\", 3)"}},
      {DELETE, "/memory/facts/42", {}, {"delete_fact(42)"}},
      {GET, "/memory/goals", {}, {"get_all_goals(null, 50)"}},
      {GET, "/memory/goals/active?conversation_id=c1", {}, {"get_active_goals(\"c1\")"}},
      {GET, "/conversations/c1/summary", {}, {"get_conversation_summary(\"c1\")"}},
      {GET, "/conversations/c1/checkpoints", {}, {"list_checkpoints(\"c1\", 10)"}},
      {GET, "/plans", {}, {"list_plans(null, 20)"}},
      {GET, "/plans?conversation_id=c1&limit=2", {}, {"list_plans(\"c1\", 2)"}},
      {POST, "/plans", R"({"title": "T", "steps": [{"description": "a"}]})",
       {R"(create_plan("T", [{"description":"a"}], null, null))"}},
      {POST, "/plans", R"({"title": "T", "steps": [], "goal": "g", "conversation_id": "c1"})",
       {R"(create_plan("T", [], "g", "c1"))"}},
      {GET, "/plans/active", {}, {"get_active_plan(null)"}},  // never get_plan("active")
      {GET, "/plans/p1", {}, {"get_plan(\"p1\")"}},
      {PUT, "/plans/p1/status", R"({"status": "paused"})", {"set_plan_status(\"p1\", \"paused\")"}},
      // The path names the step; the body's own step_index is not used.
      {PUT, "/plans/p1/steps/1", R"({"step_index": 0, "status": "done", "result": "ok"})",
       {"update_step(\"p1\", 1, \"done\", \"ok\")"}},
      {PUT, "/plans/p1/steps/0", R"({"step_index": 0, "status": "running"})",
       {"update_step(\"p1\", 0, \"running\", null)"}},
      {DELETE, "/plans/p1", {}, {"delete_plan(\"p1\")"}},
  };
  guardrails_->known_approvals = {"a1"};
  auto c = client();
  for (const auto& [method, target, body, expected] : cases) {
    log_->calls.clear();
    auto r = c.request(method, target, body);
    EXPECT_EQ(r.status(), 200u) << target << ": " << r.raw.body;
    EXPECT_EQ(calls(), expected) << target;
  }
}

TEST_F(OversightRoutes, AnswersWithoutTheirServices) {
  struct Absent {
    http::Verb method;
    std::string target;
    std::optional<std::string> body;
    unsigned status;
    std::string answer;
  };
  const std::vector<Absent> cases = {
      {GET, "/guardrails", {}, 500, R"({"detail":"Guardrails not initialized"})"},
      {PUT, "/guardrails/tier", R"({"tier": "balanced"})", 500, R"({"detail":"Guardrails not initialized"})"},
      {PUT, "/guardrails/tier", R"({"tier": "reckless"})", 400, R"({"detail":"Invalid tier: reckless"})"},
      {PUT, "/guardrails/override", R"({"tool_name": "shell"})", 500, R"({"detail":"Config not loaded"})"},
      {GET, "/approvals", {}, 200, "[]"},
      {POST, "/approvals/resolve", R"({"approval_id": "a1", "approved": true})", 500,
       R"({"detail":"Guardrails not initialized"})"},
      {GET, "/audit", {}, 200, R"({"entries":[],"total":0})"},
      {GET, "/conversations", {}, 200, "[]"},
      {DELETE, "/conversations/c1", {}, 200, R"({"message":"Deleted"})"},
      {PATCH, "/conversations/c1", R"({"title": "New"})", 200, R"({"message":"Renamed","title":"New"})"},
      {GET, "/conversations/c1/messages", {}, 200, "[]"},
      {POST, "/conversations/cleanup", {}, 200, R"({"deleted":0})"},
      {GET, "/memory/stats", {}, 200, "{}"},
      {GET, "/memory/facts", {}, 200, R"({"facts":[],"count":0})"},
      {DELETE, "/memory/facts/3", {}, 500, R"({"detail":"Memory not initialized"})"},
      {GET, "/memory/goals", {}, 200, R"({"goals":[],"count":0})"},
      {GET, "/memory/goals/active", {}, 200, R"({"goals":[],"count":0})"},
      {GET, "/conversations/c1/summary", {}, 200, R"({"summary":null})"},
      {GET, "/conversations/c1/checkpoints", {}, 200, R"({"checkpoints":[],"count":0})"},
      {GET, "/plans", {}, 200, "[]"},
      {POST, "/plans", R"({"title": "T", "steps": []})", 500, R"({"detail":"Agent not initialized"})"},
      {GET, "/plans/active", {}, 200, "null"},
      {GET, "/plans/p1", {}, 500, R"({"detail":"Agent not initialized"})"},
      {PUT, "/plans/p1/status", R"({"status": "done"})", 500, R"({"detail":"Agent not initialized"})"},
      {PUT, "/plans/p1/steps/0", R"({"step_index": 0, "status": "done"})", 500, R"({"detail":"Agent not initialized"})"},
      {DELETE, "/plans/p1", {}, 500, R"({"detail":"Agent not initialized"})"},
  };
  *state_ = AppState{};
  auto c = client();
  for (const auto& [method, target, body, status, answer] : cases) {
    auto r = c.request(method, target, body);
    EXPECT_EQ(r.status(), status) << target;
    EXPECT_EQ(r.raw.body, answer) << target;
  }
}

TEST_F(OversightRoutes, RefusesMistypedInputWith422BeforeAnyServiceIsCalled) {
  const std::vector<Case> cases = {
      {DELETE, "/memory/facts/abc", {}, {}},
      {DELETE, "/memory/facts/1.5", {}, {}},
      {PUT, "/plans/p1/steps/first", R"({"step_index": 0, "status": "done"})", {}},
      {PUT, "/plans/p1/steps/0", R"({"status": "done"})", {}},  // step_index is required in the body too
      {POST, "/plans", R"({"title": "T"})", {}},
      {GET, "/audit?limit=ten", {}, {}},
      {GET, "/conversations/c1/checkpoints?limit=", {}, {}},
  };
  auto c = client();
  for (const auto& [method, target, body, unused] : cases) {
    auto r = c.request(method, target, body);
    EXPECT_EQ(r.status(), 422u) << target;
  }
  EXPECT_TRUE(calls().empty());
}

TEST_F(OversightRoutes, ListViewsCountWhatTheStoreReturned) {
  auto c = client();
  for (std::string target : {"/memory/facts", "/memory/goals", "/memory/goals/active", "/conversations/c1/checkpoints"}) {
    auto answer = c.get(target).json().as_object();
    ASSERT_EQ(answer.size(), 2u) << target;
    EXPECT_EQ(answer.begin()->value(), memory_->list) << target;
    EXPECT_EQ(answer.at("count"), 3) << target;
  }
  EXPECT_EQ(c.get("/memory/stats").raw.body, R"({"facts":3})");
  EXPECT_EQ(c.get("/conversations/c1/summary").raw.body, R"({"summary":null})");
  memory_->summary = json::object{{"summary", "talked"}};
  EXPECT_EQ(c.get("/conversations/c1/summary").raw.body, R"({"summary":{"summary":"talked"}})");
}

TEST_F(OversightRoutes, CleanupUsesTheConfiguredAgeOrReportsItDisabled) {
  struct Row {
    int days;
    std::string answer;
    std::vector<std::string> calls;
  };
  const std::vector<Row> rows = {
      {0, R"({"deleted":0,"message":"Auto-delete is disabled"})", {}},
      {-5, R"({"deleted":0,"message":"Auto-delete is disabled"})", {}},
      {30, R"({"deleted":3,"max_age_days":30})", {"cleanup_stale_conversations(30)"}},
  };
  auto c = client();
  for (const auto& row : rows) {
    log_->calls.clear();
    state_->config->memory.conversation_auto_delete_days = row.days;
    auto r = c.post("/conversations/cleanup");
    EXPECT_EQ(r.status(), 200u);
    EXPECT_EQ(r.raw.body, row.answer) << row.days;
    EXPECT_EQ(calls(), row.calls) << row.days;
  }
  state_->config.reset();
  EXPECT_EQ(c.post("/conversations/cleanup").raw.body, R"({"deleted":0})");
}

TEST_F(OversightRoutes, PlansAnswerThePlannersResultOr404) {
  struct Row {
    http::Verb method;
    std::string target;
    std::optional<std::string> body;
    unsigned status;
    std::string answer;
  };
  const std::string plan = R"({"id":"p1","title":"Ship"})";
  const std::vector<Row> rows = {
      {GET, "/plans/p1", {}, 200, plan},
      {GET, "/plans/zz", {}, 404, R"({"detail":"Plan zz not found"})"},
      {PUT, "/plans/zz/status", R"({"status": "done"})", 404, R"({"detail":"Plan zz not found"})"},
      {PUT, "/plans/p1/steps/5", R"({"step_index": 5, "status": "done"})", 404,
       R"({"detail":"Plan p1 or step 5 not found"})"},
      {PUT, "/plans/p1/steps/-1", R"({"step_index": 0, "status": "done"})", 404,
       R"({"detail":"Plan p1 or step -1 not found"})"},
      {PUT, "/plans/zz/steps/0", R"({"step_index": 0, "status": "done"})", 404,
       R"({"detail":"Plan zz or step 0 not found"})"},
      {DELETE, "/plans/p1", {}, 200, R"({"message":"Plan deleted"})"},
      {DELETE, "/plans/zz", {}, 404, R"({"detail":"Plan zz not found"})"},
      {GET, "/plans/active", {}, 200, "null"},
      {POST, "/plans", R"({"title": "Ship", "steps": [{"description": "x"}]})", 200, plan},
  };
  auto c = client();
  for (const auto& [method, target, body, status, answer] : rows) {
    auto r = c.request(method, target, body);
    EXPECT_EQ(r.status(), status) << target;
    EXPECT_EQ(r.raw.body, answer) << target;
  }
  agent_->plans.active = agent_->plans.plan;
  EXPECT_EQ(c.get("/plans/active").raw.body, plan);
}

}  // namespace
}  // namespace ostrel::gateway::testing
