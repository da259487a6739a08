#pragma once
// The typed JSON request bodies. Each is read by the generic record reader: fields without a
// default are listed in kRequired; optional fields accept null; unknown keys are ignored.
#include "http/records.hpp"

#include <boost/describe/class.hpp>
#include <boost/json/object.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::gateway {

using http::TextMapping;
using Required = std::string_view;

struct TierUpdate {
  std::string tier;
  static constexpr std::array kRequired{Required{"tier"}};
};
BOOST_DESCRIBE_STRUCT(TierUpdate, (), (tier))

struct ToolOverrideUpdate {
  std::string tool_name;
  bool enabled = true;
  bool require_approval = false;
  static constexpr std::array kRequired{Required{"tool_name"}};
};
BOOST_DESCRIBE_STRUCT(ToolOverrideUpdate, (), (tool_name, enabled, require_approval))

struct ApprovalDecision {
  std::string approval_id;
  bool approved = false;
  static constexpr std::array kRequired{Required{"approval_id"}, Required{"approved"}};
};
BOOST_DESCRIBE_STRUCT(ApprovalDecision, (), (approval_id, approved))

struct SetKeyRequest {
  std::string provider;
  std::string key;
  static constexpr std::array kRequired{Required{"provider"}, Required{"key"}};
};
BOOST_DESCRIBE_STRUCT(SetKeyRequest, (), (provider, key))

struct ConfigUpdate {
  boost::json::object patch;
  static constexpr std::array kRequired{Required{"patch"}};
};
BOOST_DESCRIBE_STRUCT(ConfigUpdate, (), (patch))

struct CreateCustomToolRequest {
  std::string tool_name;
  std::string description;
  std::string code;
  bool auto_register = true;
  static constexpr std::array kRequired{Required{"tool_name"}, Required{"code"}};
};
BOOST_DESCRIBE_STRUCT(CreateCustomToolRequest, (), (tool_name, description, code, auto_register))

struct HeartbeatUpdate {
  std::optional<bool> enabled;
  std::optional<std::int64_t> interval_seconds;
  std::optional<std::string> quiet_hours_start;
  std::optional<std::string> quiet_hours_end;
  std::optional<std::int64_t> max_consecutive;
  std::optional<std::string> prompt;
  std::optional<std::vector<std::string>> blocked_ops;
  static constexpr std::array<Required, 0> kRequired{};
};
BOOST_DESCRIBE_STRUCT(HeartbeatUpdate, (),
                      (enabled, interval_seconds, quiet_hours_start, quiet_hours_end, max_consecutive, prompt, blocked_ops))

struct CreatePlanRequest {
  std::string title;
  std::optional<std::string> goal;
  std::vector<TextMapping> steps;
  std::optional<std::string> conversation_id;
  static constexpr std::array kRequired{Required{"title"}, Required{"steps"}};
};
BOOST_DESCRIBE_STRUCT(CreatePlanRequest, (), (title, goal, steps, conversation_id))

struct UpdateStepRequest {
  std::int64_t step_index = 0;
  std::string status;
  std::optional<std::string> result;
  static constexpr std::array kRequired{Required{"step_index"}, Required{"status"}};
};
BOOST_DESCRIBE_STRUCT(UpdateStepRequest, (), (step_index, status, result))

struct PlanStatusUpdate {
  std::string status;
  static constexpr std::array kRequired{Required{"status"}};
};
BOOST_DESCRIBE_STRUCT(PlanStatusUpdate, (), (status))

struct RenameConversationRequest {
  std::string title;
  static constexpr std::array kRequired{Required{"title"}};
};
BOOST_DESCRIBE_STRUCT(RenameConversationRequest, (), (title))

struct ConnectorConfigUpdate {
  boost::json::object config;
  static constexpr std::array kRequired{Required{"config"}};
};
BOOST_DESCRIBE_STRUCT(ConnectorConfigUpdate, (), (config))

struct ConnectorSendMessage {
  std::string text;
  boost::json::object params;  // a fresh empty mapping for every request
  static constexpr std::array kRequired{Required{"text"}};
};
BOOST_DESCRIBE_STRUCT(ConnectorSendMessage, (), (text, params))

struct ConnectorAutoStartUpdate {
  bool auto_start = false;
  static constexpr std::array kRequired{Required{"auto_start"}};
};
BOOST_DESCRIBE_STRUCT(ConnectorAutoStartUpdate, (), (auto_start))

struct CustomConnectorCreate {
  std::string connector_id;
  std::string display_name;
  std::string description;
  std::string base_url;
  std::string auth_type = "none";
  TextMapping credentials;
  TextMapping default_headers;
  static constexpr std::array kRequired{Required{"connector_id"}, Required{"base_url"}};
};
BOOST_DESCRIBE_STRUCT(CustomConnectorCreate, (),
                      (connector_id, display_name, description, base_url, auth_type, credentials, default_headers))

struct SkillImportRequest {
  boost::json::object skill_data;
  static constexpr std::array kRequired{Required{"skill_data"}};
};
BOOST_DESCRIBE_STRUCT(SkillImportRequest, (), (skill_data))

}  // namespace ostrel::gateway
