#include "components/config/config.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/temp_home.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>

namespace {
namespace fs = std::filesystem;
namespace json = boost::json;
using ostrel::config::OstrelConfig;
using ostrel::config::ToolOverride;

// Each test gets its own home folder.
class ConfigTest : public ::testing::Test {
 protected:
  ostrel::testing::TempHome temp_home_{"ostrel-config"};
  const std::filesystem::path home_ = temp_home_.path();


  fs::path folder() const { return home_ / ".ostrel"; }
  fs::path file() const { return folder() / "config.json"; }

  void write_file(const std::string& text) const {
    fs::create_directories(folder());
    std::ofstream(file(), std::ios::binary) << text;
  }
  static std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  json::object file_document() const { return json::parse(read_text(file())).as_object(); }
  std::vector<std::string> folder_entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

};

const json::value& at(const json::object& document, std::string_view dotted) {
  const json::value* value = nullptr;
  const json::object* holder = &document;
  std::string_view rest = dotted;
  while (true) {
    auto dot = rest.find('.');
    value = &holder->at(rest.substr(0, dot));
    if (dot == std::string_view::npos) return *value;
    holder = &value->as_object();
    rest.remove_prefix(dot + 1);
  }
}

TEST_F(ConfigTest, MissingFileLoadsDefaultsAndWritesNothing) {
  OstrelConfig config = OstrelConfig::load();
  EXPECT_EQ(config.path(), home_ / ".ostrel" / "config.json");
  EXPECT_FALSE(fs::exists(folder()));

  const json::object dump = config.model_dump();
  const std::pair<const char*, json::value> expected[] = {
      {"onboarding_completed", false},
      {"model.provider", "anthropic"},
      {"model.api_key_env", "ANTHROPIC_API_KEY"},
      {"guardrails.tier", "balanced"},
      {"guardrails.tool_overrides", json::object()},
      {"guardrails.audit_enabled", true},
      {"memory.conversation_auto_delete_days", 0},
      {"model_routing.cost_conscious", false},
      {"model_routing.default_worker_model", "auto"},
      {"model_routing.default_scheduler_model", "auto"},
      {"model_routing.enabled_models", json::array()},
      {"heartbeat.enabled", false},
      {"heartbeat.interval_seconds", 1800},
      {"heartbeat.quiet_hours_start", nullptr},
      {"keep_alive.enabled", false},
      {"wsl.enabled", false},
      {"wsl.setup_completed", false},
      {"wsl.preferred_distro", "Ubuntu"},
      {"updates.dismissed_version", ""},
      {"cloud_sync.workspace_dir", ""},
  };
  for (const auto& [field, value] : expected) EXPECT_EQ(at(dump, field), value) << field;
  EXPECT_GE(config.workers.max_concurrent_workers, 1);
  EXPECT_LE(config.workers.max_concurrent_workers, 20);
  EXPECT_GE(config.workers.max_tool_rounds, 1);
  EXPECT_LE(config.workers.max_tool_rounds, 50);
}

TEST_F(ConfigTest, ProviderTableNamesEachProvidersVariable) {
  for (const char* provider :
       {"anthropic", "openai", "google", "openrouter", "groq", "mistral", "deepseek", "xai"}) {
    auto variable = ostrel::config::provider_env_var(provider);
    ASSERT_TRUE(variable) << provider;
    EXPECT_NE(variable->find("API_KEY"), std::string::npos) << *variable;
  }
  EXPECT_EQ(ostrel::config::PROVIDER_ENV_VARS.front().first, "anthropic");
  EXPECT_FALSE(ostrel::config::provider_env_var("nobody"));
}

TEST_F(ConfigTest, AssignedFieldsAndUnknownKeysSurviveSaveAndLoad) {
  write_file(R"({"future_section": {"x": [1, 2]}, "wsl": {"enabled": true, "colour": "blue"}})");
  OstrelConfig config = OstrelConfig::load();
  config.onboarding_completed = true;
  config.heartbeat.quiet_hours_start = "22:00";
  config.heartbeat.blocked_ops = {"shell", "email \u00e9"};
  config.model_routing.enabled_models = {"a", "b"};
  config.guardrails.tool_overrides["shell"] = ToolOverride{.enabled = false, .require_approval = true};
  config.guardrails.tool_overrides["browser"] = ToolOverride{.enabled = true, .require_approval = true};
  config.save();

  OstrelConfig reloaded = OstrelConfig::load();
  EXPECT_EQ(reloaded.model_dump(), config.model_dump());
  EXPECT_EQ(file_document(), config.model_dump());
  EXPECT_EQ(at(reloaded.model_dump(), "future_section"), json::parse(R"({"x": [1, 2]})"));
  EXPECT_EQ(at(reloaded.model_dump(), "wsl.colour"), "blue");
  EXPECT_TRUE(reloaded.wsl.enabled);
  ASSERT_EQ(reloaded.guardrails.tool_overrides.size(), 2u);
  EXPECT_EQ(reloaded.guardrails.tool_overrides.begin()->first, "shell");  // insertion order kept
  EXPECT_EQ(reloaded.guardrails.tool_overrides["shell"],
            (ToolOverride{.enabled = false, .require_approval = true}));
  EXPECT_EQ(reloaded.guardrails.tool_overrides["shell"].model_dump(),
            json::parse(R"({"enabled": false, "require_approval": true})"));
  EXPECT_EQ(read_text(file()).find("\xc3\xa9"), std::string::npos);  // written ASCII-escaped
}

TEST_F(ConfigTest, SaveIsAtomicAndPrivate) {
  OstrelConfig config = OstrelConfig::load();
  config.save();
  config.keep_alive.enabled = true;
  config.save();

  struct stat info {};
  ASSERT_EQ(::stat(file().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(folder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(folder_entries(), std::vector<std::string>{"config.json"});  // no temp files left
  EXPECT_TRUE(OstrelConfig::load().keep_alive.enabled);
}

TEST_F(ConfigTest, UpdateDeepMergesAndPersists) {
  write_file(R"({"wsl": {"setup_completed": true, "colour": "blue"},
                 "guardrails": {"tool_overrides": {"shell": {"enabled": true, "require_approval": true}}},
                 "plugin": {"a": 1}})");
  OstrelConfig config = OstrelConfig::load();
  config.update(json::parse(R"({"wsl": {"enabled": true},
                                "guardrails": {"tool_overrides": {"shell": {"enabled": false}}},
                                "plugin": {"b": 2},
                                "heartbeat": {"quiet_hours_end": "07:00"}})")
                    .as_object());

  for (const json::object& document : {config.model_dump(), file_document()}) {
    EXPECT_EQ(at(document, "wsl.enabled"), true);
    EXPECT_EQ(at(document, "wsl.setup_completed"), true);
    EXPECT_EQ(at(document, "wsl.colour"), "blue");
    EXPECT_EQ(at(document, "guardrails.tool_overrides.shell"),
              json::parse(R"({"enabled": false, "require_approval": true})"));
    EXPECT_EQ(at(document, "plugin"), json::parse(R"({"a": 1, "b": 2})"));
    EXPECT_EQ(at(document, "heartbeat.quiet_hours_end"), "07:00");
  }
  EXPECT_TRUE(config.wsl.enabled);
  EXPECT_EQ(OstrelConfig::load().model_dump(), config.model_dump());
}

TEST_F(ConfigTest, WrongTypedPatchChangesNothing) {
  OstrelConfig config = OstrelConfig::load();
  config.save();
  const json::object before = config.model_dump();
  const std::string file_before = read_text(file());

  const std::pair<const char*, const char*> cases[] = {
      {R"({"wsl": {"enabled": "yes"}})", "wsl.enabled must be a truth value"},
      {R"({"onboarding_completed": 1})", "onboarding_completed must be a truth value"},
      {R"({"wsl": true})", "wsl must be an object"},
      {R"({"heartbeat": {"interval_seconds": "30"}})", "heartbeat.interval_seconds must be an integer"},
      {R"({"heartbeat": {"interval_seconds": 1.5}})", "heartbeat.interval_seconds must be an integer"},
      {R"({"heartbeat": {"blocked_ops": ["a", 3]}})", "heartbeat.blocked_ops must be a list of text"},
      {R"({"heartbeat": {"quiet_hours_start": 22}})", "heartbeat.quiet_hours_start must be text or null"},
      {R"({"model": {"provider": null}})", "model.provider must be text"},
      {R"({"workers": {"max_tool_rounds": 0}})", "workers.max_tool_rounds must be between 1 and 50"},
      {R"({"guardrails": {"tool_overrides": {"shell": {"enabled": 0}}}})",
       "guardrails.tool_overrides.shell.enabled must be a truth value"},
      // A valid change next to an invalid one is not applied either.
      {R"({"keep_alive": {"enabled": true}, "memory": {"conversation_auto_delete_days": []}})",
       "memory.conversation_auto_delete_days must be an integer"},
  };
  for (const auto& [patch, message] : cases) {
    try {
      config.update(json::parse(patch).as_object());
      ADD_FAILURE() << "accepted " << patch;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), message);
    }
    EXPECT_EQ(config.model_dump(), before) << patch;
    EXPECT_EQ(read_text(file()), file_before) << patch;
  }
}

TEST_F(ConfigTest, UpdateThatCannotBeSavedLeavesTheObjectAsItWas) {
  std::ofstream(home_ / ".ostrel") << "a file where the folder should be";
  OstrelConfig config = OstrelConfig::load();
  const json::object before = config.model_dump();
  EXPECT_THROW(config.update(json::parse(R"({"wsl": {"enabled": true}})").as_object()),
               std::system_error);
  EXPECT_EQ(config.model_dump(), before);
  EXPECT_FALSE(config.wsl.enabled);
}

TEST_F(ConfigTest, CorruptFileIsKeptAsideNeverOverwritten) {
  for (const char* text : {"{not json", "[1, 2]", "", "null"}) {
    write_file(text);
    OstrelConfig config = OstrelConfig::load();
    EXPECT_EQ(config.model_dump(), OstrelConfig::load().model_dump()) << text;
    EXPECT_FALSE(fs::exists(file())) << text;
    config.save();
  }
  // Four loads within a few seconds: four distinct copies, each with its own text.
  std::vector<std::string> kept;
  for (const auto& name : folder_entries())
    if (name.rfind("config.json.bad-", 0) == 0) kept.push_back(read_text(folder() / name));
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, (std::vector<std::string>{"", "[1, 2]", "null", "{not json"}));
  EXPECT_EQ(file_document(), OstrelConfig::load().model_dump());
}

TEST_F(ConfigTest, UnreadableFieldUsesDefaultAndStaysInFileUntilChanged) {
  write_file(R"({"heartbeat": {"interval_seconds": "30m", "enabled": true},
                 "workers": {"max_concurrent_workers": 100}, "wsl": "on"})");
  OstrelConfig config = OstrelConfig::load();
  EXPECT_EQ(config.heartbeat.interval_seconds, 1800);
  EXPECT_TRUE(config.heartbeat.enabled);
  EXPECT_EQ(config.workers.max_concurrent_workers, 20);  // clamped into range
  EXPECT_FALSE(config.wsl.enabled);

  config.keep_alive.enabled = true;
  config.save();
  EXPECT_EQ(at(file_document(), "heartbeat.interval_seconds"), "30m");
  EXPECT_EQ(at(file_document(), "workers.max_concurrent_workers"), 100);
  EXPECT_EQ(at(file_document(), "wsl"), "on");
  EXPECT_EQ(at(config.model_dump(), "heartbeat.interval_seconds"), 1800);

  config.heartbeat.interval_seconds = 600;
  config.update(json::parse(R"({"wsl": {"enabled": true}})").as_object());
  EXPECT_EQ(at(file_document(), "heartbeat.interval_seconds"), 600);
  EXPECT_EQ(at(file_document(), "wsl"), json::parse(R"({"enabled": true, "setup_completed": false,
                                                         "preferred_distro": "Ubuntu"})"));
}

// The live object and one loaded for a single request share the file; neither may undo the
// other's change when it saves.
TEST_F(ConfigTest, TwoObjectsOverOneFileKeepEachOthersChanges) {
  OstrelConfig live = OstrelConfig::load();
  live.save();

  OstrelConfig request = OstrelConfig::load();
  request.update(json::parse(R"({"cloud_sync": {"workspace_dir": "/data/ws"}, "extra": 1})").as_object());

  live.keep_alive.enabled = true;
  live.save();

  OstrelConfig after = OstrelConfig::load();
  EXPECT_EQ(after.cloud_sync.workspace_dir, "/data/ws");
  EXPECT_EQ(at(after.model_dump(), "extra"), 1);
  EXPECT_TRUE(after.keep_alive.enabled);
  EXPECT_EQ(live.cloud_sync.workspace_dir, "/data/ws");  // the saver sees the other change too
}

}  // namespace
