#pragma once
// The gateway's own guardrails: the tier is kept in the configuration (so it survives a
// restart), actions waiting for approval are held in memory, and the audit log is in SQLite.
#include "components/config/config.hpp"
#include "components/guardrails/guardrails.hpp"
#include "components/guardrails/sqlite_audit_log.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::guardrails {

class DefaultGuardrails : public Guardrails {
 public:
  DefaultGuardrails(std::shared_ptr<config::OstrelConfig> config, std::shared_ptr<SqliteAuditLog> audit);

  boost::json::value get_status() override;
  // The configured tier; a configured text that is not a tier reads as "balanced".
  Tier tier() const override;
  // Saves the tier in the configuration; if saving fails the previous tier stays.
  void set_tier(Tier tier) override;
  boost::json::array pending_approvals() override;
  bool resolve_approval(const std::string& approval_id, bool approved) override;
  AuditLog& audit() override { return *audit_; }

  // For the agent: holds an action until the user decides or `timeout` passes. Answers true
  // only when the user approved; an expired request counts as denied. Runs on the loop; the
  // guardrails must outlive the requests that wait on them.
  boost::asio::awaitable<bool> request_approval(std::string tool_name, boost::json::object arguments,
                                                std::string reason, std::chrono::steady_clock::duration timeout);

  // For the agent: records an action in the audit log unless auditing is switched off in the
  // configuration.
  void record(AuditEntry entry);

 private:
  struct Pending {
    std::string id;
    boost::json::object info;
    boost::asio::steady_timer wake;
    std::optional<bool> decision;
  };

  std::string new_id();

  std::shared_ptr<config::OstrelConfig> config_;
  std::shared_ptr<SqliteAuditLog> audit_;
  using PendingList = std::vector<std::shared_ptr<Pending>>;
  // Oldest first. Shared with the waiting requests, so a request torn down with the event loop
  // can still take itself off the list, whichever of the two goes first.
  std::shared_ptr<PendingList> pending_ = std::make_shared<PendingList>();
};

}  // namespace ostrel::guardrails
