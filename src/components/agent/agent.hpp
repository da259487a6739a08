#pragma once
// The agent: its conversation store, its planner and whether a model API key is set.

namespace ostrel::agent {

class Agent {
 public:
  virtual ~Agent() = default;
  virtual bool key_configured() const = 0;
};

}  // namespace ostrel::agent
