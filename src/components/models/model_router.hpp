#pragma once
// The model router: which model serves workers and scheduled jobs.
#include <boost/json/object.hpp>

#include <string>
#include <vector>

namespace ostrel::models {

struct RoutingConfig {
  bool cost_conscious = false;
  std::string default_worker_model = "auto";
  std::string default_scheduler_model = "auto";
  std::vector<std::string> enabled_models = {};

  boost::json::object to_dict() const {
    boost::json::array models;
    for (const auto& m : enabled_models) models.emplace_back(m);
    return {{"cost_conscious", cost_conscious},
            {"default_worker_model", default_worker_model},
            {"default_scheduler_model", default_scheduler_model},
            {"enabled_models", std::move(models)}};
  }
};

class ModelRouter {
 public:
  virtual ~ModelRouter() = default;
  virtual RoutingConfig& config() = 0;
};

}  // namespace ostrel::models
