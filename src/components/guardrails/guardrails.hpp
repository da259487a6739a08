#pragma once
// The guardrails: the agent's permission tier, the actions waiting for the user's approval,
// and the audit log of what the agent did.
#include "components/guardrails/tiers.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::guardrails {

// One action of the agent as the audit log keeps it.
struct AuditEntry {
  std::int64_t id = 0;
  std::string timestamp;   // UTC, ISO 8601
  std::string action;      // what happened: "tool_call", "approval"…
  std::string tool_name;
  std::string decision;    // "allowed", "blocked", "approved", "denied", "expired"…
  std::string tier;        // the tier in force at the time
  boost::json::object details;

  boost::json::object to_dict() const;
};

class AuditLog {
 public:
  virtual ~AuditLog() = default;
  // Up to `limit` entries, newest first, skipping the `offset` newest.
  virtual std::vector<AuditEntry> recent(std::int64_t limit, std::int64_t offset) = 0;
  // Entries in the whole log.
  virtual std::int64_t count() = 0;
};

class Guardrails {
 public:
  virtual ~Guardrails() = default;
  // A JSON-ready summary for the gateway status.
  virtual boost::json::value get_status() = 0;

  virtual Tier tier() const = 0;
  // Makes `tier` the current tier and keeps it.
  virtual void set_tier(Tier tier) = 0;

  // The actions waiting for a decision, oldest first, one mapping each.
  virtual boost::json::array pending_approvals() = 0;
  // Decides a waiting action: true when one with that id was waiting, false otherwise.
  virtual bool resolve_approval(const std::string& approval_id, bool approved) = 0;

  virtual AuditLog& audit() = 0;
};

}  // namespace ostrel::guardrails
