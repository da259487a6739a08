#pragma once
// The registry of tools the agent may call.
#include <boost/json/value.hpp>

namespace ostrel::tools {

class ToolRegistry {
 public:
  virtual ~ToolRegistry() = default;
  // The registered tools, JSON-ready.
  virtual boost::json::value list_tools() = 0;
};

}  // namespace ostrel::tools
