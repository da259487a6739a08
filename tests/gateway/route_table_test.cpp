// Holds the route table to the API we promise and checks its generated documentation.
#include "gateway/router.hpp"
#include "http/json_text.hpp"
#include "http/openapi.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ostrel::gateway {
namespace {

namespace json = boost::json;

struct Row {
  std::string method;
  std::string path;
  std::string handler;
};

// The main router's routes, in registration order.
const std::vector<Row> kPromised = {
    {"GET", "/status", "get_status"},
    {"GET", "/guardrails", "get_guardrails"},
    {"PUT", "/guardrails/tier", "set_tier"},
    {"PUT", "/guardrails/override", "set_tool_override"},
    {"GET", "/approvals", "get_pending_approvals"},
    {"POST", "/approvals/resolve", "resolve_approval"},
    {"GET", "/audit", "get_audit_log"},
    {"GET", "/conversations", "list_conversations"},
    {"DELETE", "/conversations/{conv_id}", "delete_conversation"},
    {"PATCH", "/conversations/{conv_id}", "rename_conversation"},
    {"GET", "/conversations/{conv_id}/messages", "get_messages"},
    {"POST", "/conversations/cleanup", "cleanup_conversations"},
    {"GET", "/plans", "list_plans"},
    {"POST", "/plans", "create_plan"},
    {"GET", "/plans/active", "get_active_plan"},
    {"GET", "/plans/{plan_id}", "get_plan"},
    {"PUT", "/plans/{plan_id}/status", "update_plan_status"},
    {"PUT", "/plans/{plan_id}/steps/{step_index}", "update_plan_step"},
    {"DELETE", "/plans/{plan_id}", "delete_plan"},
    {"GET", "/memory/stats", "get_memory_stats"},
    {"GET", "/memory/facts", "get_facts"},
    {"DELETE", "/memory/facts/{fact_id}", "delete_fact"},
    {"GET", "/memory/goals", "get_goals"},
    {"GET", "/memory/goals/active", "get_active_goals"},
    {"GET", "/conversations/{conv_id}/summary", "get_conversation_summary"},
    {"GET", "/conversations/{conv_id}/checkpoints", "get_checkpoints"},
    {"GET", "/files", "download_file"},
    {"GET", "/customization/theme.css", "get_custom_theme_css"},
    {"GET", "/customization/ui-config.json", "get_ui_config"},
    {"POST", "/customization/reset", "reset_customization"},
};

http::Router main_router() {
  auto state = std::make_shared<AppState>();
  return create_router([state] { return state; });
}

TEST(RouteTable, RegistersThePromisedRoutesInOrder) {
  http::Router router = main_router();
  std::vector<Row> actual;
  for (const auto& route : router.routes())
    actual.push_back({std::string(boost::beast::http::to_string(route.method)), route.path, route.name});
  ASSERT_EQ(actual.size(), kPromised.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(actual[i].method, kPromised[i].method) << "row " << i + 1;
    EXPECT_EQ(actual[i].path, kPromised[i].path) << "row " << i + 1;
    EXPECT_EQ(actual[i].handler, kPromised[i].handler) << "row " << i + 1;
  }
}

TEST(RouteTable, DocumentationListsEveryRouteAndValidatesAsOpenApi31) {
  http::Router app;
  app.include(main_router(), "/api");
  json::object doc = http::openapi_document(app, "Ostrel gateway", "test");
  EXPECT_EQ(doc.at("openapi"), "3.1.0");
  for (const auto& route : app.routes()) {
    std::string method(boost::beast::http::to_string(route.method));
    for (char& c : method) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string path = route.path;
    if (auto p = path.find(":path}"); p != std::string::npos) path.erase(p, 5);
    const json::value* op = doc.at("paths").as_object().if_contains(path);
    ASSERT_NE(op, nullptr) << path;
    ASSERT_TRUE(op->as_object().contains(method)) << method << " " << path;
    EXPECT_EQ(op->at(method).at("operationId"), json::value(route.name));
  }

  // The Python validator is used when the machine has it.
  if (std::system("python3 -c 'import openapi_spec_validator' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "the Python OpenAPI validator (openapi_spec_validator) is not installed";
  auto file = std::filesystem::temp_directory_path() / ("ostrel-openapi-" + std::to_string(::getpid()) + ".json");
  std::ofstream(file) << http::to_json(doc);
  std::string command = "python3 -c 'import json,sys; from openapi_spec_validator import validate; "
                        "validate(json.load(open(sys.argv[1])))' " + file.string();
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace ostrel::gateway
