#include "gateway/routes/guardrails.hpp"

#include "components/guardrails/tiers.hpp"
#include "gateway/records.hpp"

#include <string>

namespace ostrel::gateway::routes {

namespace {

guardrails::Guardrails& require_guardrails(const AppState& state) {
  if (!state.guardrails) throw HttpError(500, "Guardrails not initialized");
  return *state.guardrails;
}

config::OstrelConfig& require_config(const AppState& state) {
  if (!state.config) throw HttpError(500, "Config not loaded");
  return *state.config;
}

}  // namespace

awaitable<Result> get_guardrails(Call&, const AppState& state) {
  auto& service = require_guardrails(state);
  const auto& settings = require_config(state).guardrails;
  json::object overrides;
  for (const auto& [tool_name, tool_override] : settings.tool_overrides) overrides[tool_name] = tool_override.model_dump();
  co_return json::object{{"current_tier", service.tier().value()},
                         {"tier_info", guardrails::get_tier_info()},
                         {"overrides", std::move(overrides)},
                         {"audit_enabled", settings.audit_enabled}};
}

awaitable<Result> set_tier(Call& call, const AppState& state) {
  const auto& body = call.body<TierUpdate>();
  // The tier is checked first: an unknown tier is the caller's mistake even when the service is missing.
  auto tier = [&] {
    try {
      return guardrails::Tier(body.tier);
    } catch (const guardrails::InvalidTier&) {
      throw HttpError(400, "Invalid tier: " + body.tier);
    }
  }();
  require_guardrails(state).set_tier(tier);
  co_return json::object{{"tier", tier.value()}, {"message", "Tier set to " + std::string(tier.label())}};
}

awaitable<Result> set_tool_override(Call& call, const AppState& state) {
  const auto& body = call.body<ToolOverrideUpdate>();
  auto& config = require_config(state);
  auto& overrides = config.guardrails.tool_overrides;
  // The new override replaces any earlier one for the tool whole. If saving fails, the
  // configuration goes back to what is on disk, so the screens never show an unsaved override.
  std::optional<config::ToolOverride> previous;
  if (auto it = overrides.find(body.tool_name); it != overrides.end()) previous = it->second;
  overrides[body.tool_name] = config::ToolOverride{.enabled = body.enabled, .require_approval = body.require_approval};
  try {
    config.save();
  } catch (...) {
    if (previous) overrides[body.tool_name] = *previous;
    else overrides.erase(body.tool_name);
    throw;
  }
  co_return json::object{{"tool_name", body.tool_name}, {"message", "Override set for " + body.tool_name}};
}

awaitable<Result> get_pending_approvals(Call&, const AppState& state) {
  if (!state.guardrails) co_return json::array{};
  co_return state.guardrails->pending_approvals();
}

awaitable<Result> resolve_approval(Call& call, const AppState& state) {
  const auto& body = call.body<ApprovalDecision>();
  if (!require_guardrails(state).resolve_approval(body.approval_id, body.approved))
    throw HttpError(404, "Approval " + body.approval_id + " not found");
  // A denial is a decision too: it resolves the approval just as a yes does.
  co_return json::object{{"resolved", true}, {"approved", body.approved}};
}

awaitable<Result> get_audit_log(Call& call, const AppState& state) {
  if (!state.guardrails) co_return json::object{{"entries", json::array{}}, {"total", 0}};
  auto& audit = state.guardrails->audit();
  json::array entries;
  for (const auto& entry : audit.recent(call.integer("limit"), call.integer("offset"))) entries.push_back(entry.to_dict());
  co_return json::object{{"entries", std::move(entries)}, {"total", audit.count()}};
}

}  // namespace ostrel::gateway::routes
