#pragma once
// The guardrails: the agent's permission tier, pending approvals and the audit log.
#include <boost/json/value.hpp>

namespace ostrel::guardrails {

class Guardrails {
 public:
  virtual ~Guardrails() = default;
  // A JSON-ready summary for the gateway status.
  virtual boost::json::value get_status() = 0;
};

}  // namespace ostrel::guardrails
