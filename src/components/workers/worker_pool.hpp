#pragma once
// The pool of background workers.
#include <boost/json/object.hpp>

namespace ostrel::workers {

class WorkerPool {
 public:
  virtual ~WorkerPool() = default;
  // Pool statistics; a fresh mapping the caller may extend.
  virtual boost::json::object stats() = 0;
};

}  // namespace ostrel::workers
