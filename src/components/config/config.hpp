#pragma once
// The gateway's persisted settings: one JSON document at $HOME/.ostrel/config.json, read into
// typed sections. Keys this build does not know are kept and written back unchanged, so a newer
// or older gateway sharing the file loses nothing.
#include <boost/describe/class.hpp>
#include <boost/json/object.hpp>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel::config {

// A per-tool switch of the guardrails: a tool can be turned off or made to ask first.
struct ToolOverride {
  bool enabled = true;
  bool require_approval = false;

  boost::json::object model_dump() const;
  friend bool operator==(const ToolOverride&, const ToolOverride&) = default;
};
BOOST_DESCRIBE_STRUCT(ToolOverride, (), (enabled, require_approval))

// A map that walks its entries in the order they were first inserted, as the settings
// screens show them. Assigning to an existing name keeps its place.
template <class V>
class OrderedMap {
 public:
  using value_type = std::pair<std::string, V>;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename std::vector<value_type>::const_iterator;

  V& operator[](std::string_view name) {
    if (auto it = find(name); it != end()) return it->second;
    return entries_.emplace_back(std::string(name), V{}).second;
  }
  iterator find(std::string_view name) {
    return std::find_if(begin(), end(), [&](const value_type& e) { return e.first == name; });
  }
  const_iterator find(std::string_view name) const {
    return std::find_if(begin(), end(), [&](const value_type& e) { return e.first == name; });
  }
  bool contains(std::string_view name) const { return find(name) != end(); }
  bool erase(std::string_view name) {
    auto it = find(name);
    if (it == end()) return false;
    entries_.erase(it);
    return true;
  }
  void clear() { entries_.clear(); }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  friend bool operator==(const OrderedMap&, const OrderedMap&) = default;

 private:
  std::vector<value_type> entries_;
};

struct ModelSection {
  std::string provider = "anthropic";
  std::string name = "claude-sonnet-4-20250514";
  std::string api_key_env = "ANTHROPIC_API_KEY";
};
BOOST_DESCRIBE_STRUCT(ModelSection, (), (provider, name, api_key_env))

struct PlannerSection {
  bool enabled = true;
};
BOOST_DESCRIBE_STRUCT(PlannerSection, (), (enabled))

struct GuardrailsSection {
  std::string tier = "balanced";
  OrderedMap<ToolOverride> tool_overrides;
  bool audit_enabled = true;
};
BOOST_DESCRIBE_STRUCT(GuardrailsSection, (), (tier, tool_overrides, audit_enabled))

struct MemorySection {
  int conversation_auto_delete_days = 0;  // 0 or less: conversations are never deleted automatically
};
BOOST_DESCRIBE_STRUCT(MemorySection, (), (conversation_auto_delete_days))

struct WorkersSection {
  int max_concurrent_workers = 3;  // 1..20
  int max_tool_rounds = 15;        // 1..50
};
BOOST_DESCRIBE_STRUCT(WorkersSection, (), (max_concurrent_workers, max_tool_rounds))

struct ModelRoutingSection {
  bool cost_conscious = false;
  std::string default_worker_model = "auto";
  std::string default_scheduler_model = "auto";
  std::vector<std::string> enabled_models;
};
BOOST_DESCRIBE_STRUCT(ModelRoutingSection, (),
                      (cost_conscious, default_worker_model, default_scheduler_model, enabled_models))

struct HeartbeatSection {
  bool enabled = false;
  int interval_seconds = 1800;  // at least 1
  std::optional<std::string> quiet_hours_start;
  std::optional<std::string> quiet_hours_end;
  int max_consecutive = 3;  // at least 1
  std::string prompt =
      "Check on pending tasks, scheduled jobs and anything that needs the user's attention. "
      "If nothing needs doing, reply briefly and do nothing else.";
  std::vector<std::string> blocked_ops;
};
BOOST_DESCRIBE_STRUCT(HeartbeatSection, (),
                      (enabled, interval_seconds, quiet_hours_start, quiet_hours_end, max_consecutive,
                       prompt, blocked_ops))

struct KeepAliveSection {
  bool enabled = false;
};
BOOST_DESCRIBE_STRUCT(KeepAliveSection, (), (enabled))

struct WslSection {
  bool enabled = false;
  bool setup_completed = false;
  std::string preferred_distro = "Ubuntu";
};
BOOST_DESCRIBE_STRUCT(WslSection, (), (enabled, setup_completed, preferred_distro))

struct UpdatesSection {
  std::string dismissed_version;
};
BOOST_DESCRIBE_STRUCT(UpdatesSection, (), (dismissed_version))

struct CloudSyncSection {
  std::string workspace_dir;  // empty: the default workspace folder
};
BOOST_DESCRIBE_STRUCT(CloudSyncSection, (), (workspace_dir))

// The settings object. Fields are assigned directly and then saved, or changed through
// update(patch). Not thread-safe: it is used from the event loop only.
//
// File rules:
// - a missing file loads as defaults; nothing is written until save();
// - a file that is not a JSON object is moved aside to config.json.bad-<UTC time> and
//   defaults are used, so the user's text is never overwritten;
// - a known field of the wrong type (or out of range) in the file is used as its default
//   (out-of-range integers are clamped), and the file's value is left in the file until that
//   field is changed;
// - save() writes only what this object changed since it last loaded or saved, on top of the
//   file as it is on disk now: two objects over the same file (the live one and one loaded by
//   a request) do not undo each other's changes.
class OstrelConfig {
 public:
  bool onboarding_completed = false;
  ModelSection model;
  PlannerSection planner;
  GuardrailsSection guardrails;
  MemorySection memory;
  WorkersSection workers;
  ModelRoutingSection model_routing;
  HeartbeatSection heartbeat;
  KeepAliveSection keep_alive;
  WslSection wsl;
  UpdatesSection updates;
  CloudSyncSection cloud_sync;

  // Defaults, bound to default_path() as it is at construction.
  OstrelConfig();

  // $HOME/.ostrel/config.json (%USERPROFILE% on Windows), with the home folder read at call time.
  static std::filesystem::path default_path();

  static OstrelConfig load();
  // Throws std::system_error when the file exists but cannot be read.
  static OstrelConfig load(const std::filesystem::path& file);

  // Atomic write (temp file in the same folder, fsync, rename, fsync the folder), mode 0600;
  // a missing parent folder is created with mode 0700. Throws std::system_error on failure.
  // Afterwards this object also reflects changes other writers made to the file.
  void save();

  // Deep-merges `patch` (objects merged key by key, anything else replaced) into the settings
  // and saves. A value of the wrong type for a known field throws std::invalid_argument naming
  // the field ("wsl.enabled must be a truth value"), and then nothing has changed. If saving
  // fails, the object is left as it was and the error propagates.
  void update(const boost::json::object& patch);

  // The whole configuration: every known section and field, then any unknown keys.
  boost::json::object model_dump() const;

  const std::filesystem::path& path() const;

 private:
  explicit OstrelConfig(std::filesystem::path file);
  static OstrelConfig from_document(std::filesystem::path file, boost::json::object document,
                                    bool report_problems);

  std::filesystem::path path_;
  boost::json::object document_;       // the file's document, with update() patches merged in
  boost::json::object synced_document_;  // document_ as it was at the last load or save
  boost::json::object synced_fields_;    // the typed fields as they were at the last load or save
};
// The typed settings, in the order they are written; the private bookkeeping is not described.
BOOST_DESCRIBE_STRUCT(OstrelConfig, (),
                      (onboarding_completed, model, planner, guardrails, memory, workers,
                       model_routing, heartbeat, keep_alive, wsl, updates, cloud_sync))

// Provider name -> environment variable that holds its API key, in a fixed order.
extern const std::vector<std::pair<std::string, std::string>> PROVIDER_ENV_VARS;

std::optional<std::string> provider_env_var(std::string_view provider);

}  // namespace ostrel::config
