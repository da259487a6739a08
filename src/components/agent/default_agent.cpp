#include "components/agent/default_agent.hpp"

#include <cstdlib>

namespace ostrel::agent {

bool DefaultAgent::key_configured() const {
  const std::string& name = config_->model.api_key_env;
  if (name.empty()) return false;
  const char* key = std::getenv(name.c_str());
  return key != nullptr && *key != '\0';
}

}  // namespace ostrel::agent
