#include "components/agent/sqlite_planner.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace ostrel::agent {

namespace json = boost::json;

namespace {

constexpr const char* kPlanColumns = "SELECT id, title, goal, conversation_id, status, created_at, updated_at FROM plans";

json::value optional_text(const sqlite::Statement& row, int column) {
  if (row.is_null(column)) return nullptr;
  return json::string(row.text(column));
}

// The fields a step was created with, minus the ones the planner owns.
json::object step_fields(const json::object& step) {
  json::object fields;
  for (const auto& [key, value] : step)
    if (key != "index" && key != "status" && key != "result") fields[key] = value;
  return fields;
}

}  // namespace

SqlitePlanner::SqlitePlanner(std::shared_ptr<memory::MemoryDb> db) : db_(std::move(db)), random_(std::random_device{}()) {}

std::string SqlitePlanner::new_id() {
  char text[32];
  std::snprintf(text, sizeof text, "%012llx", static_cast<unsigned long long>(random_() >> 16));
  return text;
}

std::optional<json::object> SqlitePlanner::load(const std::string& plan_id) {
  auto& db = db_->db();
  auto row = db.query(std::string(kPlanColumns) + " WHERE id = ?", plan_id);
  if (!row.step()) return std::nullopt;
  json::object plan{{"id", row.text(0)},       {"title", row.text(1)},     {"goal", optional_text(row, 2)},
                    {"conversation_id", optional_text(row, 3)}, {"status", row.text(4)}, {"steps", json::array{}},
                    {"created_at", row.text(5)}, {"updated_at", row.text(6)}};
  json::array& steps = plan["steps"].as_array();
  auto rows = db.query("SELECT step_index, detail, status, result FROM plan_steps WHERE plan_id = ? ORDER BY step_index",
                       plan_id);
  while (rows.step()) {
    json::object step{{"index", rows.integer(0)}};
    boost::system::error_code ec;
    json::value detail = json::parse(rows.text(1), ec);
    if (!ec && detail.is_object())
      for (auto& [key, value] : detail.get_object()) step[key] = std::move(value);
    step["status"] = rows.text(2);
    step["result"] = optional_text(rows, 3);
    steps.push_back(std::move(step));
  }
  return plan;
}

awaitable<json::array> SqlitePlanner::list_plans(std::optional<std::string> conversation_id, std::int64_t limit) {
  std::vector<std::string> ids;
  {
    auto rows = db_->db().query(
        "SELECT id FROM plans WHERE ?1 IS NULL OR conversation_id = ?1 ORDER BY updated_at DESC, rowid DESC LIMIT ?2",
        conversation_id, std::max<std::int64_t>(limit, 0));
    while (rows.step()) ids.push_back(rows.text(0));
  }
  json::array plans;
  for (const auto& id : ids)
    if (auto plan = load(id)) plans.push_back(std::move(*plan));
  co_return plans;
}

awaitable<json::object> SqlitePlanner::create_plan(std::string title, json::array steps, std::optional<std::string> goal,
                                                   std::optional<std::string> conversation_id) {
  auto& db = db_->db();
  std::string id = db.transaction([&] {
    std::string now = db_->now();
    std::string plan_id;
    do plan_id = new_id();
    while (db.scalar("SELECT COUNT(*) FROM plans WHERE id = ?", plan_id) != 0);
    db.run(
        "INSERT INTO plans (id, title, goal, conversation_id, status, created_at, updated_at)"
        " VALUES (?, ?, ?, ?, 'active', ?, ?)",
        plan_id, title, goal, conversation_id, now, now);
    std::int64_t index = 0;
    for (const auto& item : steps) {
      json::object step = item.is_object() ? item.get_object() : json::object{{"description", item}};
      const json::value* status = step.if_contains("status");
      const json::value* result = step.if_contains("result");
      std::optional<std::string> result_text;
      if (result != nullptr && result->is_string()) result_text = std::string(result->get_string());
      db.run(
          "INSERT INTO plan_steps (plan_id, step_index, detail, status, result, updated_at) VALUES (?, ?, ?, ?, ?, ?)",
          plan_id, index++, json::serialize(step_fields(step)),
          status != nullptr && status->is_string() ? std::string(status->get_string()) : std::string("pending"),
          result_text, now);
    }
    return plan_id;
  });
  co_return *load(id);
}

awaitable<std::optional<json::object>> SqlitePlanner::get_active_plan(std::optional<std::string> conversation_id) {
  std::optional<std::string> id;
  {
    auto row = db_->db().query(
        "SELECT id FROM plans WHERE status = 'active' AND (?1 IS NULL OR conversation_id = ?1)"
        " ORDER BY updated_at DESC, rowid DESC LIMIT 1",
        conversation_id);
    if (row.step()) id = row.text(0);
  }
  if (!id) co_return std::nullopt;
  co_return load(*id);
}

awaitable<std::optional<json::object>> SqlitePlanner::get_plan(std::string plan_id) { co_return load(plan_id); }

awaitable<std::optional<json::object>> SqlitePlanner::set_plan_status(std::string plan_id, std::string status) {
  auto& db = db_->db();
  db.run("UPDATE plans SET status = ?, updated_at = ? WHERE id = ?", status, db_->now(), plan_id);
  if (db.changes() == 0) co_return std::nullopt;
  co_return load(plan_id);
}

awaitable<std::optional<json::object>> SqlitePlanner::update_step(std::string plan_id, std::int64_t step_index,
                                                                  std::string status,
                                                                  std::optional<std::string> result) {
  auto& db = db_->db();
  bool changed = db.transaction([&] {
    std::string now = db_->now();
    db.run(
        "UPDATE plan_steps SET status = ?, result = COALESCE(?, result), updated_at = ?"
        " WHERE plan_id = ? AND step_index = ?",
        status, result, now, plan_id, step_index);
    if (db.changes() == 0) return false;
    db.run("UPDATE plans SET updated_at = ? WHERE id = ?", now, plan_id);
    return true;
  });
  if (!changed) co_return std::nullopt;
  co_return load(plan_id);
}

awaitable<bool> SqlitePlanner::delete_plan(std::string plan_id) {
  // The steps go with the plan (ON DELETE CASCADE).
  db_->db().run("DELETE FROM plans WHERE id = ?", plan_id);
  co_return db_->db().changes() > 0;
}

}  // namespace ostrel::agent
