// The memory database under a temporary home: the memory store, the agent's conversation store
// and its planner, as the agent writes and the gateway reads them.
#include "components/agent/sqlite_conversation_store.hpp"
#include "components/agent/sqlite_planner.hpp"
#include "components/memory/sqlite_memory_store.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/temp_home.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <limits>

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using namespace std::chrono_literals;
using ostrel::memory::MemoryDb;
using ostrel::memory::SqliteMemoryStore;

template <class T>
T run(boost::asio::awaitable<T> work) {
  boost::asio::io_context io;
  auto result = boost::asio::co_spawn(io, std::move(work), boost::asio::use_future);
  io.run();
  return result.get();
}

class MemoryDbTest : public ::testing::Test {
 protected:
  ostrel::testing::TempHome temp_home_{"ostrel-memory"};
  const std::filesystem::path home_ = temp_home_.path();

  void SetUp() override {
    open();
  }
  void TearDown() override {
    store_.reset();
    db_.reset();
  }
  void open() {
    store_.reset();
    db_.reset();
    db_ = std::make_shared<MemoryDb>(MemoryDb::default_path(), [this] { return now_; });
    store_ = std::make_shared<SqliteMemoryStore>(db_);
  }
  std::int64_t rows(const std::string& table) { return db_->db().scalar("SELECT COUNT(*) FROM " + table); }

  std::chrono::system_clock::time_point now_ = std::chrono::system_clock::now();
  std::shared_ptr<MemoryDb> db_;
  std::shared_ptr<SqliteMemoryStore> store_;
};

TEST_F(MemoryDbTest, OpensInTheHomeFolderWithWalForeignKeysAndASchemaVersion) {
  // Readable by the user only: it holds their conversations.
  EXPECT_EQ(fs::status(home_ / ".ostrel" / "memory.db").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  auto& db = db_->db();
  EXPECT_EQ(db.scalar("PRAGMA foreign_keys"), 1);
  EXPECT_EQ(db.user_version(), 1);
  {
    auto mode = db.query("PRAGMA journal_mode");
    ASSERT_TRUE(mode.step());
    EXPECT_EQ(mode.text(0), "wal");
  }
  // A file from a newer build is refused, not rewritten.
  db.run("PRAGMA user_version = 99");
  try {
    MemoryDb newer(MemoryDb::default_path());
    ADD_FAILURE() << "opened a newer schema";
  } catch (const ostrel::sqlite::Error& e) {
    EXPECT_NE(std::string(e.what()).find("schema version 99"), std::string::npos) << e.what();
  }
  EXPECT_EQ(db.user_version(), 99);
}

TEST_F(MemoryDbTest, ConversationsAndMessagesRoundTripAcrossReopening) {
  store_->create_conversation("c1", "First");
  now_ += 1min;
  store_->add_message("c2", "user", "hello");  // creates c2
  now_ += 1min;
  store_->add_message("c1", "user", "question");
  store_->add_message("c1", "assistant", "answer");
  run(store_->rename_conversation("c2", "Second"));
  run(store_->rename_conversation("missing", "ignored"));
  open();

  json::array list = run(store_->list_conversations(10));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].at("id"), "c1");  // most recently active first
  EXPECT_EQ(list[0].at("title"), "First");
  EXPECT_EQ(list[0].at("message_count"), 2);
  EXPECT_EQ(list[1].at("title"), "Second");
  EXPECT_EQ(run(store_->list_conversations(1)).size(), 1u);
  EXPECT_EQ(run(store_->list_conversations(-1)).size(), 0u);

  json::array messages = run(store_->get_messages("c1"));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].at("role"), "user");
  EXPECT_EQ(messages[1].at("content"), "answer");
  EXPECT_TRUE(run(store_->get_messages("missing")).empty());
}

TEST_F(MemoryDbTest, FactsGoalsSummariesAndCheckpoints) {
  auto f1 = store_->add_fact("person", "Ada likes tea");
  store_->add_fact("place", "Office in Lyon", "c1");
  auto f3 = store_->add_fact("person", "Bob is on leave");
  json::array people = run(store_->get_facts("person", 50));
  ASSERT_EQ(people.size(), 2u);
  EXPECT_EQ(people[0].at("id"), f3);  // newest first
  EXPECT_EQ(run(store_->get_facts(std::nullopt, 2)).size(), 2u);
  EXPECT_TRUE(run(store_->delete_fact(f3)));
  EXPECT_FALSE(run(store_->delete_fact(f3)));
  EXPECT_GT(store_->add_fact("person", "Cy"), f3);  // a deleted id is never given out again
  EXPECT_EQ(run(store_->get_facts("person", 50))[1].at("id"), f1);

  auto g1 = store_->add_goal("Ship the release", "c1");
  store_->add_goal("Learn Rust");
  store_->add_goal("Write docs", "c2");
  ASSERT_TRUE(store_->set_goal_active(g1, false));
  EXPECT_EQ(run(store_->get_all_goals(std::nullopt, 50)).size(), 3u);
  EXPECT_EQ(run(store_->get_all_goals("c1", 50)).size(), 1u);
  json::array active = run(store_->get_active_goals(std::nullopt));
  ASSERT_EQ(active.size(), 2u);
  EXPECT_EQ(active[0].at("description"), "Write docs");
  EXPECT_EQ(active[0].at("active"), true);
  EXPECT_TRUE(run(store_->get_active_goals("c1")).empty());

  EXPECT_TRUE(run(store_->get_conversation_summary("c1")).is_null());
  store_->save_summary("c1", "draft");
  store_->save_summary("c1", "Talked about the release");
  EXPECT_EQ(run(store_->get_conversation_summary("c1")).at("summary"), "Talked about the release");

  store_->add_checkpoint("c1", "before", json::object{{"step", 1}});
  store_->add_checkpoint("c1", "after", json::object{{"step", 2}, {"notes", json::array{"x"}}});
  json::array checkpoints = run(store_->list_checkpoints("c1", 10));
  ASSERT_EQ(checkpoints.size(), 2u);
  EXPECT_EQ(checkpoints[0].at("label"), "after");
  EXPECT_EQ(checkpoints[0].at("state"), (json::object{{"step", 2}, {"notes", json::array{"x"}}}));
  EXPECT_EQ(run(store_->list_checkpoints("c1", 1)).size(), 1u);

  json::object stats = run(store_->get_memory_stats());
  EXPECT_EQ(stats.at("facts"), 3);
  EXPECT_EQ(stats.at("fact_categories"), (json::object{{"person", 2}, {"place", 1}}));
  EXPECT_EQ(stats.at("active_goals"), 2);
  EXPECT_EQ(stats.at("checkpoints"), 2);
}

TEST_F(MemoryDbTest, CleanupDeletesConversationsIdleForMoreThanTheAgeWithTheirMessages) {
  store_->add_message("old", "user", "hi");
  store_->save_summary("old", "s");
  now_ += 24h * 20;
  store_->add_message("recent", "user", "hi");
  now_ += 24h * 15;  // "old" idle 35 days, "recent" 15

  EXPECT_EQ(run(store_->cleanup_stale_conversations(40)), 0);
  EXPECT_EQ(run(store_->cleanup_stale_conversations(30)), 1);
  EXPECT_EQ(run(store_->list_conversations(10)).size(), 1u);
  EXPECT_EQ(rows("messages"), 1);
  EXPECT_EQ(rows("summaries"), 0);
  EXPECT_EQ(run(store_->cleanup_stale_conversations(std::numeric_limits<std::int64_t>::max())), 0);
}

TEST_F(MemoryDbTest, DeletingAConversationTakesItsMessagesSummaryAndCheckpointsOnly) {
  store_->add_message("c1", "user", "hi");
  store_->save_summary("c1", "s");
  store_->add_checkpoint("c1", "cp", {});
  store_->add_message("c2", "user", "other");
  store_->add_fact("person", "Ada", "c1");
  store_->add_goal("goal", "c1");

  ostrel::agent::SqliteConversationStore conversations(db_);
  run(conversations.delete_conversation("c1"));
  run(conversations.delete_conversation("c1"));  // again: nothing to do
  EXPECT_EQ(rows("conversations"), 1);
  EXPECT_EQ(rows("messages"), 1);
  EXPECT_EQ(rows("summaries"), 0);
  EXPECT_EQ(rows("checkpoints"), 0);
  EXPECT_EQ(rows("facts"), 1);  // facts and goals outlive the conversation they came from
  EXPECT_EQ(rows("goals"), 1);
}

TEST_F(MemoryDbTest, PlansCreateAdvanceAndDelete) {
  ostrel::agent::SqlitePlanner planner(db_);
  json::array steps{json::object{{"description", "Build"}}, json::object{{"description", "Test"}, {"owner", "ci"}}};
  json::object plan = run(planner.create_plan("Release", steps, std::nullopt, "c1"));
  std::string id(plan.at("id").as_string());
  EXPECT_EQ(plan.at("status"), "active");
  EXPECT_EQ(plan.at("goal"), nullptr);
  EXPECT_EQ(plan.at("steps"),
            (json::array{json::object{{"index", 0}, {"description", "Build"}, {"status", "pending"}, {"result", nullptr}},
                         json::object{{"index", 1}, {"description", "Test"}, {"owner", "ci"}, {"status", "pending"},
                                      {"result", nullptr}}}));

  auto advanced = run(planner.update_step(id, 0, "done", "built"));
  ASSERT_TRUE(advanced);
  EXPECT_EQ(advanced->at("steps").at(0).at("status"), "done");
  EXPECT_EQ(advanced->at("steps").at(0).at("result"), "built");
  // Without a result the step keeps the one it had.
  EXPECT_EQ(run(planner.update_step(id, 0, "checked", std::nullopt))->at("steps").at(0).at("result"), "built");
  EXPECT_FALSE(run(planner.update_step(id, 2, "done", std::nullopt)));
  EXPECT_FALSE(run(planner.update_step(id, -1, "done", std::nullopt)));
  EXPECT_FALSE(run(planner.update_step("nope", 0, "done", std::nullopt)));
  EXPECT_EQ(*run(planner.get_plan(id)), *run(planner.update_step(id, 1, "running", std::nullopt)));

  EXPECT_EQ(run(planner.get_active_plan("c1"))->at("id"), id.c_str());
  EXPECT_FALSE(run(planner.get_active_plan("c2")));
  EXPECT_EQ(run(planner.set_plan_status(id, "completed"))->at("status"), "completed");
  EXPECT_FALSE(run(planner.get_active_plan(std::nullopt)));
  EXPECT_FALSE(run(planner.set_plan_status("nope", "completed")));

  run(planner.create_plan("Other", {}, "g", std::nullopt));
  EXPECT_EQ(run(planner.list_plans(std::nullopt, 20)).size(), 2u);
  EXPECT_EQ(run(planner.list_plans("c1", 20)).size(), 1u);
  EXPECT_EQ(run(planner.list_plans(std::nullopt, 1)).at(0).at("title"), "Other");

  EXPECT_TRUE(run(planner.delete_plan(id)));
  EXPECT_FALSE(run(planner.delete_plan(id)));
  EXPECT_FALSE(run(planner.get_plan(id)));
  EXPECT_EQ(rows("plan_steps"), 0);
}

}  // namespace
