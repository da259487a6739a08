#pragma once
#include "gateway/routes/handler.hpp"

namespace ostrel::gateway::routes {

// GET /guardrails: the current tier, every tier, the tool overrides and whether auditing is on.
awaitable<Result> get_guardrails(Call& call, const AppState& state);
// PUT /guardrails/tier
awaitable<Result> set_tier(Call& call, const AppState& state);
// PUT /guardrails/override: switch a tool off or make it ask first.
awaitable<Result> set_tool_override(Call& call, const AppState& state);
// GET /approvals: actions waiting for the user's decision.
awaitable<Result> get_pending_approvals(Call& call, const AppState& state);
// POST /approvals/resolve
awaitable<Result> resolve_approval(Call& call, const AppState& state);
// GET /audit: one page of the audit log and the size of the whole log.
awaitable<Result> get_audit_log(Call& call, const AppState& state);

}  // namespace ostrel::gateway::routes
