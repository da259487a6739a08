#include "gateway/router.hpp"

#include "gateway/records.hpp"
#include "gateway/routes/conversations.hpp"
#include "gateway/routes/customization.hpp"
#include "gateway/routes/files.hpp"
#include "gateway/routes/guardrails.hpp"
#include "gateway/routes/memory.hpp"
#include "gateway/routes/plans.hpp"
#include "gateway/routes/status.hpp"

#include <utility>

namespace ostrel::gateway {

namespace {

using namespace routes;
using http::path_integer;
using http::query_integer;
using http::query_text;
using http::record_body;
using enum http::Returns;

constexpr auto GET = http::Verb::get;
constexpr auto PUT = http::Verb::put;
constexpr auto POST = http::Verb::post;
constexpr auto PATCH = http::Verb::patch;
constexpr auto DELETE = http::Verb::delete_;

// Runs a handler with the state the provider gives for this request.
awaitable<Result> call_with_state(std::shared_ptr<const AppState> state, StateHandler handler, Call& call) {
  co_return co_await handler(call, *state);
}

}  // namespace

http::Router create_router(StateProvider get_state) {
  http::Router r;
  auto bind = [&get_state](StateHandler handler) -> http::Handler {
    return [get_state, handler](Call& call) { return call_with_state(get_state(), handler, call); };
  };
  // One row per route, in registration order: method, path, handler, declared result,
  // then query/path parameters, body and the description published in the API documentation.
#define H(name) #name, bind(&routes::name)
#define BODY(Record) record_body<Record>(#Record)
  r.add({GET, "/status", H(get_status), mapping});
  r.add({GET, "/guardrails", H(get_guardrails), mapping});
  r.add({PUT, "/guardrails/tier", H(set_tier), text_mapping, {}, BODY(TierUpdate)});
  r.add({PUT, "/guardrails/override", H(set_tool_override), text_mapping, {}, BODY(ToolOverrideUpdate)});
  r.add({GET, "/approvals", H(get_pending_approvals), mapping_list});
  r.add({POST, "/approvals/resolve", H(resolve_approval), mapping, {}, BODY(ApprovalDecision)});
  r.add({GET, "/audit", H(get_audit_log), mapping, {query_integer("limit", 50), query_integer("offset", 0)}});
  r.add({GET, "/conversations", H(list_conversations), mapping_list, {query_integer("limit", 50)}});
  r.add({DELETE, "/conversations/{conv_id}", H(delete_conversation), text_mapping});
  r.add({PATCH, "/conversations/{conv_id}", H(rename_conversation), text_mapping, {}, BODY(RenameConversationRequest)});
  r.add({GET, "/conversations/{conv_id}/messages", H(get_messages), mapping_list});
  r.add({POST, "/conversations/cleanup", H(cleanup_conversations), mapping, {}, {},
         "Manually trigger conversation cleanup."});
  r.add({GET, "/plans", H(list_plans), mapping_list, {query_text("conversation_id"), query_integer("limit", 20)}});
  r.add({POST, "/plans", H(create_plan), mapping, {}, BODY(CreatePlanRequest)});
  r.add({GET, "/plans/active", H(get_active_plan), mapping_or_null, {query_text("conversation_id")}});
  r.add({GET, "/plans/{plan_id}", H(get_plan), mapping});
  r.add({PUT, "/plans/{plan_id}/status", H(update_plan_status), mapping, {}, BODY(PlanStatusUpdate)});
  r.add({PUT, "/plans/{plan_id}/steps/{step_index}", H(update_plan_step), mapping, {path_integer("step_index")},
         BODY(UpdateStepRequest)});
  r.add({DELETE, "/plans/{plan_id}", H(delete_plan), text_mapping});
  r.add({GET, "/memory/stats", H(get_memory_stats), mapping, {}, {}, "Get overall memory statistics."});
  r.add({GET, "/memory/facts", H(get_facts), mapping, {query_text("category"), query_integer("limit", 50)}, {},
         "Get stored facts, optionally filtered by category."});
  r.add({DELETE, "/memory/facts/{fact_id}", H(delete_fact), text_mapping, {path_integer("fact_id")}, {},
         "Delete a stored fact."});
  r.add({GET, "/memory/goals", H(get_goals), mapping, {query_text("conversation_id"), query_integer("limit", 50)}, {},
         "Get all goals."});
  r.add({GET, "/memory/goals/active", H(get_active_goals), mapping, {query_text("conversation_id")}, {},
         "Get active goals."});
  r.add({GET, "/conversations/{conv_id}/summary", H(get_conversation_summary), mapping, {}, {},
         "Get the summary for a conversation."});
  r.add({GET, "/conversations/{conv_id}/checkpoints", H(get_checkpoints), mapping, {query_integer("limit", 10)}, {},
         "Get checkpoints for a conversation."});
  r.add({GET, "/files", H(download_file), file, {http::query_text_required("path")}, {},
         "Serve a file for download (used by the UI for attachment previews)."});
  r.add({GET, "/customization/theme.css", H(get_custom_theme_css), own_response, {}, {},
         "Serve the custom theme CSS file (if it exists)."});
  r.add({GET, "/customization/ui-config.json", H(get_ui_config), own_response, {}, {},
         "Serve the UI layout config (if it exists)."});
  r.add({POST, "/customization/reset", H(reset_customization), own_response, {}, {},
         "Delete all custom theme/layout files and broadcast a live reload."});
#undef BODY
#undef H
  return r;
}

}  // namespace ostrel::gateway
