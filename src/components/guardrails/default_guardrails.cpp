#include "components/guardrails/default_guardrails.hpp"

#include "components/sqlite/database.hpp"

#include <boost/asio/redirect_error.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <cstdio>
#include <random>

namespace ostrel::guardrails {

namespace asio = boost::asio;
namespace json = boost::json;

DefaultGuardrails::DefaultGuardrails(std::shared_ptr<config::OstrelConfig> config, std::shared_ptr<SqliteAuditLog> audit)
    : config_(std::move(config)), audit_(std::move(audit)) {}

json::value DefaultGuardrails::get_status() {
  Tier current = tier();
  return json::object{{"tier", current.value()},
                      {"tier_label", current.label()},
                      {"pending_approvals", static_cast<std::int64_t>(pending_->size())},
                      {"audit_enabled", config_->guardrails.audit_enabled}};
}

Tier DefaultGuardrails::tier() const {
  try {
    return Tier(config_->guardrails.tier);
  } catch (const InvalidTier&) {
    return Tier::balanced();
  }
}

void DefaultGuardrails::set_tier(Tier tier) {
  std::string previous = config_->guardrails.tier;
  config_->guardrails.tier = std::string(tier.value());
  try {
    config_->save();
  } catch (...) {
    config_->guardrails.tier = std::move(previous);
    throw;
  }
}

json::array DefaultGuardrails::pending_approvals() {
  json::array list;
  for (const auto& p : *pending_) list.push_back(p->info);
  return list;
}

bool DefaultGuardrails::resolve_approval(const std::string& approval_id, bool approved) {
  auto it = std::find_if(pending_->begin(), pending_->end(), [&](const auto& p) { return p->id == approval_id; });
  if (it == pending_->end()) return false;
  std::shared_ptr<Pending> pending = *it;
  pending_->erase(it);
  pending->decision = approved;
  pending->wake.cancel();
  return true;
}

asio::awaitable<bool> DefaultGuardrails::request_approval(std::string tool_name, json::object arguments,
                                                          std::string reason,
                                                          std::chrono::steady_clock::duration timeout) {
  auto executor = co_await asio::this_coro::executor;
  std::string id = new_id();
  auto pending = std::make_shared<Pending>(Pending{id, {}, asio::steady_timer(executor), std::nullopt});
  pending->info = json::object{{"id", id},
                               {"tool_name", tool_name},
                               {"arguments", arguments},
                               {"reason", reason},
                               {"tier", tier().value()},
                               {"created_at", sqlite::timestamp_text(std::chrono::system_clock::now())}};
  pending->wake.expires_after(timeout);
  pending_->push_back(pending);
  // Off the list however this ends: decided, expired, or the loop torn down while waiting.
  struct Unlist {
    std::shared_ptr<PendingList> list;
    std::shared_ptr<Pending> entry;
    ~Unlist() { std::erase(*list, entry); }
  } unlist{pending_, pending};

  boost::system::error_code ec;
  co_await pending->wake.async_wait(asio::redirect_error(asio::use_awaitable, ec));
  // Woken by resolve_approval (cancelled, decision set) or by the deadline (no decision).
  const char* outcome = !pending->decision ? "expired" : *pending->decision ? "approved" : "denied";
  record(AuditEntry{0, {}, "approval", tool_name, outcome, std::string(tier().value()),
                    json::object{{"approval_id", id}, {"arguments", std::move(arguments)}, {"reason", reason}}});
  co_return pending->decision.value_or(false);
}

void DefaultGuardrails::record(AuditEntry entry) {
  if (!config_->guardrails.audit_enabled) return;
  audit_->record(entry);
}

std::string DefaultGuardrails::new_id() {
  // Random, so a stale browser tab cannot decide a newer request by guessing the next number.
  static std::mt19937_64 random{std::random_device{}()};
  char text[32];
  do {
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
  } while (std::any_of(pending_->begin(), pending_->end(), [&](const auto& p) { return p->id == text; }));
  return text;
}

}  // namespace ostrel::guardrails
