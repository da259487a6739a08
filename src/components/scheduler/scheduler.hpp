#pragma once
// The job scheduler.
#include <boost/json/value.hpp>

namespace ostrel::scheduler {

class Scheduler {
 public:
  virtual ~Scheduler() = default;
  virtual boost::json::value stats() = 0;
};

}  // namespace ostrel::scheduler
