#pragma once
// The guardrail tiers: how freely the agent may act, from asking before every consequential
// action to acting on its own. A tier is named by its value text ("balanced").
#include <boost/json/array.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostrel::guardrails {

// Thrown when a text is not the value of any tier.
struct InvalidTier : std::invalid_argument {
  explicit InvalidTier(const std::string& text) : std::invalid_argument("not a tier: " + text) {}
};

class Tier {
 public:
  // The tier whose value is `text`; throws InvalidTier otherwise.
  explicit Tier(std::string_view text);

  static Tier supervised();
  static Tier balanced();
  static Tier autonomous();

  std::string_view value() const;
  std::string_view label() const;
  std::string_view description() const;

  friend bool operator==(const Tier&, const Tier&) = default;

 private:
  explicit Tier(std::size_t index) : index_(index) {}
  std::size_t index_;
};

// Every tier as {"value", "label", "description"}, in order of increasing freedom.
boost::json::array get_tier_info();

}  // namespace ostrel::guardrails
