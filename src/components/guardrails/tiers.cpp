#include "components/guardrails/tiers.hpp"

#include <array>

namespace ostrel::guardrails {

namespace {

struct TierFacts {
  std::string_view value;
  std::string_view label;
  std::string_view description;
};

// In order of increasing freedom; the index is the tier's identity.
constexpr std::array<TierFacts, 3> kTiers{{
    {"supervised", "Supervised", "Asks for approval before every action that changes files, runs commands or sends messages."},
    {"balanced", "Balanced", "Acts on its own for safe actions and asks for approval before risky ones."},
    {"autonomous", "Autonomous", "Acts on its own; per-tool overrides can still switch a tool off or make it ask first."},
}};

}  // namespace

Tier::Tier(std::string_view text) : index_(kTiers.size()) {
  for (std::size_t i = 0; i < kTiers.size(); ++i)
    if (kTiers[i].value == text) index_ = i;
  if (index_ == kTiers.size()) throw InvalidTier(std::string(text));
}

Tier Tier::supervised() { return Tier(std::size_t{0}); }
Tier Tier::balanced() { return Tier(std::size_t{1}); }
Tier Tier::autonomous() { return Tier(std::size_t{2}); }

std::string_view Tier::value() const { return kTiers[index_].value; }
std::string_view Tier::label() const { return kTiers[index_].label; }
std::string_view Tier::description() const { return kTiers[index_].description; }

boost::json::array get_tier_info() {
  boost::json::array info;
  for (const auto& tier : kTiers)
    info.push_back(boost::json::object{{"value", tier.value}, {"label", tier.label}, {"description", tier.description}});
  return info;
}

}  // namespace ostrel::guardrails
