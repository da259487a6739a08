#pragma once
// The heartbeat loop that wakes the agent on a timer.
#include <boost/json/value.hpp>

namespace ostrel::heartbeat {

class Heartbeat {
 public:
  virtual ~Heartbeat() = default;
  virtual boost::json::value status() = 0;
};

}  // namespace ostrel::heartbeat
