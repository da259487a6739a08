// The workspace router on a small tree in a temporary home folder.
#include "gateway/workspace/paths.hpp"
#include "gateway/workspace/workspace_router.hpp"
#include "http/http_error.hpp"
#include "support/test_client.hpp"
#include "support/temp_home.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace ostrel::gateway {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

class WorkspaceTest : public ::testing::Test {
 protected:
  ostrel::testing::TempHome temp_home_{"ostrel-ws"};
  const std::filesystem::path home_ = temp_home_.path();

  static void write(const fs::path& file, std::string_view bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
  }
  // notes/a.md, .git/HEAD and ostrel/state.json in the workspace.
  void make_tree() {
    write(root_ / "notes/a.md", "# plan\n");
    write(root_ / ".git/HEAD", "ref: refs/heads/main\n");
    write(root_ / "ostrel/state.json", "{}");
  }

  const fs::path root_ = home_ / "ostrel-workspace";
  http::WorkerPool pool_{2};
  http::Router router_ = create_workspace_router(pool_);
  testing::TestClient client_{router_};
};

TEST_F(WorkspaceTest, SafePathKeepsEveryPathInsideTheRoot) {
  fs::create_directories(root_ / "a");
  fs::create_directories(home_ / "outside");
  fs::create_directories(home_ / "ostrel-workspace-old");
  fs::create_symlink(home_ / "outside", root_ / "out");
  fs::create_symlink(home_ / "outside/new.txt", root_ / "dangling");  // target does not exist yet
  struct Case {
    std::string rel;
    std::optional<fs::path> expected;  // absent: 400 "Invalid path"
  };
  const Case cases[] = {
      {"", root_},
      {"/", root_},
      {"///", root_},
      {".", root_},
      {"a/../b", root_ / "b"},
      {"/notes/a.md", root_ / "notes/a.md"},
      {"../x", std::nullopt},
      {"a/../../b", std::nullopt},
      {"out/secret.txt", std::nullopt},
      {"dangling", std::nullopt},
      {"../ostrel-workspace-old/x", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rel);
    if (c.expected) {
      EXPECT_EQ(workspace::safe_path(root_, c.rel), *c.expected);
    } else {
      try {
        workspace::safe_path(root_, c.rel);
        ADD_FAILURE() << "accepted";
      } catch (const http::HttpError& e) {
        EXPECT_EQ(e.status, 400u);
        EXPECT_EQ(e.detail, "Invalid path");
      }
    }
  }
}

TEST(WorkspaceUserFiles, SkipSetsDecideWhatTheManifestHolds) {
  for (std::string_view rel : {".git/config", "src/.git/HEAD", ".gitignore", "node_modules/a/index.js",
                               "notes/.DS_Store", "app/__pycache__/m.pyc", "x.env", "ostrel/log.txt",
                               ".ostrel/state.json", "ostrel-ai/a.txt", "my-venv-notes.txt"})
    EXPECT_FALSE(workspace::is_user_file(rel)) << rel;
  for (std::string_view rel : {"notes/plan.md", "docs/ostrel/readme.md", "environment.txt", "Ostrel/x.txt"})
    EXPECT_TRUE(workspace::is_user_file(rel)) << rel;
}

TEST_F(WorkspaceTest, EmptyWorkspaceIsCreatedAndEmpty) {
  EXPECT_EQ(client_.get("/workspace/manifest").json(), json::parse(R"({"files":[],"total":0})"));
  EXPECT_TRUE(fs::is_directory(root_));
  auto info = client_.get("/workspace").json();
  EXPECT_EQ(info, (json::value{{"path", root_.string()},
                               {"default_path", root_.string()},
                               {"custom_path", ""},
                               {"total_size_bytes", 0},
                               {"file_count", 0}}));
}

TEST_F(WorkspaceTest, ManifestSkipsToolFoldersWhileTotalsAndListingShowEverything) {
  make_tree();
  fs::create_symlink(root_ / "notes/a.md", root_ / "link.md");
  auto manifest_answer = client_.get("/workspace/manifest");
  auto manifest = manifest_answer.json().as_object();
  EXPECT_EQ(manifest.at("total"), 2);
  json::array files = manifest.at("files").as_array();
  std::sort(files.begin(), files.end(), [](const json::value& a, const json::value& b) {
    return a.at("path").as_string() < b.at("path").as_string();
  });
  struct stat st {};
  ASSERT_EQ(::stat((root_ / "notes/a.md").c_str(), &st), 0);
  const double mtime = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) * 1e-9;
  // The served text holds the exact modification time; Boost.JSON's own number parser may
  // land one unit in the last place away, so the parsed value is compared within rounding.
  const std::string mtime_text = http::to_json(json::value(mtime));
  EXPECT_NE(manifest_answer.raw.body.find("\"mtime\":" + mtime_text), std::string::npos) << manifest_answer.raw.body;
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_DOUBLE_EQ(files[i].at("mtime").as_double(), mtime);  // the link gives the target's facts
    files[i].as_object().erase("mtime");
  }
  EXPECT_EQ(files[0], (json::value{{"path", "link.md"}, {"size", 7}}));
  EXPECT_EQ(files[1], (json::value{{"path", "notes/a.md"}, {"size", 7}}));

  auto info = client_.get("/workspace").json();
  EXPECT_EQ(info.at("file_count"), 4);
  EXPECT_EQ(info.at("total_size_bytes"), 7 + 7 + 21 + 2);

  auto root_listing = client_.get("/workspace/files").json();
  EXPECT_EQ(root_listing.at("path"), "/");
  std::vector<std::string> names;
  for (const auto& e : root_listing.at("files").as_array()) names.emplace_back(e.at("name").as_string());
  EXPECT_EQ(names, (std::vector<std::string>{".git", "link.md", "notes", "ostrel"}));
  const auto& folder = root_listing.at("files").as_array()[2].as_object();
  EXPECT_EQ(folder.at("path"), "notes");
  EXPECT_EQ(folder.at("type"), "directory");
  EXPECT_TRUE(folder.at("size").is_null());

  auto notes = client_.get("/workspace/files?path=notes").json();
  EXPECT_EQ(notes.at("path"), "notes");
  const auto& entry = notes.at("files").as_array().at(0).as_object();
  EXPECT_EQ(entry.at("path"), "notes/a.md");
  EXPECT_EQ(entry.at("type"), "file");
  EXPECT_EQ(entry.at("size"), 7);

  auto missing = client_.get("/workspace/files?path=nothing");
  EXPECT_EQ(missing.status(), 404u);
  EXPECT_EQ(missing.json(), json::parse(R"({"detail":"Path not found"})"));
}

TEST_F(WorkspaceTest, ReadGivesTextOrBase64) {
  const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff", 17);
  write(root_ / "img/p.png", png);
  write(root_ / "t.txt", "h\xc3\xa9llo");
  write(root_ / "empty", "");
  auto image = client_.get("/workspace/files/img/p.png").json();
  EXPECT_EQ(image.at("path"), "img/p.png");
  EXPECT_EQ(image.at("binary"), true);
  EXPECT_EQ(image.at("content"), "iVBORw0KGgoAAAANSUhEUv8=");
  EXPECT_EQ(image.at("size"), 17);
  EXPECT_TRUE(image.at("mtime").is_double());

  auto text = client_.get("/workspace/files/t.txt").json();
  EXPECT_EQ(text.at("content"), "h\xc3\xa9llo");
  EXPECT_EQ(text.at("binary"), false);
  auto empty = client_.get("/workspace/files/empty").json();
  EXPECT_EQ(empty.at("content"), "");
  EXPECT_EQ(empty.at("binary"), false);

  for (const char* target : {"/workspace/files/nothing.txt", "/workspace/files/img", "/workspace/download/img",
                             "/workspace/download/nothing.txt"}) {
    auto r = client_.get(target);
    EXPECT_EQ(r.status(), 404u) << target;
    EXPECT_EQ(r.json(), json::parse(R"({"detail":"File not found"})")) << target;
  }
}

TEST_F(WorkspaceTest, DownloadNamesTheLinkedFile) {
  write(root_ / "docs/report v2.pdf", "%PDF");
  fs::create_symlink(root_ / "docs/report v2.pdf", root_ / "latest");
  auto r = client_.get("/workspace/download/latest");
  ASSERT_EQ(r.status(), 200u);
  EXPECT_EQ(r.raw.file, root_ / "docs/report v2.pdf");
  EXPECT_EQ(r.raw.content_type, "application/octet-stream");
  EXPECT_EQ(*r.header("Content-Disposition"), "attachment; filename=\"report v2.pdf\"");
}

TEST_F(WorkspaceTest, CreateWritesTextAndMakesFolders) {
  auto r = client_.post("/workspace/files", json::object{});
  EXPECT_EQ(r.json(), json::parse(R"({"path":"untitled.txt","size":0})"));
  EXPECT_TRUE(fs::is_regular_file(root_ / "untitled.txt"));

  r = client_.post("/workspace/files", json::object{{"path", "/a/b/../c.txt"}, {"content", "x\ny"}});
  EXPECT_EQ(r.json(), json::parse(R"({"path":"a/c.txt","size":3})"));
  EXPECT_EQ(client_.get("/workspace/files/a/c.txt").json().at("content"), "x\ny");

  r = client_.post("/workspace/files", json::object{{"path", 7}, {"content", nullptr}});
  EXPECT_EQ(r.status(), 422u);
  EXPECT_EQ(r.json().at("detail").as_array().size(), 2u);
}

TEST_F(WorkspaceTest, DeleteRemovesSubtreesButNeverTheRoot) {
  make_tree();
  auto r = client_.del("/workspace/files/notes");
  EXPECT_EQ(r.json(), json::parse(R"({"deleted":"notes"})"));
  EXPECT_FALSE(fs::exists(root_ / "notes"));

  r = client_.del("/workspace/files/notes");
  EXPECT_EQ(r.status(), 404u);
  EXPECT_EQ(r.json(), json::parse(R"({"detail":"Not found"})"));

  for (const char* target : {"/workspace/files/", "/workspace/files//", "/workspace/files/.", "/workspace/files/ostrel/.."}) {
    r = client_.del(target);
    EXPECT_EQ(r.status(), 400u) << target;
    EXPECT_EQ(r.json(), json::parse(R"({"detail":"Cannot delete the workspace root"})")) << target;
  }
  EXPECT_TRUE(fs::exists(root_ / ".git/HEAD"));
}

TEST_F(WorkspaceTest, EveryPathTakingEndpointRefusesAnEscape) {
  fs::create_directories(root_);
  write(home_ / "secret.txt", "s");
  const std::pair<http::Verb, std::string> requests[] = {
      {http::Verb::get, "/workspace/files?path=../"},       {http::Verb::get, "/workspace/files/../secret.txt"},
      {http::Verb::get, "/workspace/download/../secret.txt"}, {http::Verb::delete_, "/workspace/files/../secret.txt"},
  };
  for (const auto& [verb, target] : requests) {
    auto r = client_.request(verb, target);
    EXPECT_EQ(r.status(), 400u) << target;
    EXPECT_EQ(r.json(), json::parse(R"({"detail":"Invalid path"})")) << target;
  }
  auto r = client_.post("/workspace/files", json::object{{"path", "../secret.txt"}, {"content", "x"}});
  EXPECT_EQ(r.status(), 400u);
  EXPECT_TRUE(fs::exists(home_ / "secret.txt"));
}

TEST_F(WorkspaceTest, PatchMovesTheRoot) {
  auto r = client_.patch("/workspace", json::object{{"workspace_dir", "~/x/../sync"}});
  const std::string moved = (home_ / "sync").string();
  EXPECT_EQ(r.json(), (json::value{{"path", moved}, {"custom_path", moved}}));
  EXPECT_TRUE(fs::is_directory(home_ / "sync"));
  write(home_ / "sync/n.md", "n");
  EXPECT_EQ(client_.get("/workspace/manifest").json().at("total"), 1);
  EXPECT_EQ(client_.get("/workspace").json().at("custom_path"), json::value(moved));

  r = client_.patch("/workspace", json::object{{"workspace_dir", ""}});
  EXPECT_EQ(r.json(), (json::value{{"path", root_.string()}, {"custom_path", ""}}));
  EXPECT_TRUE(fs::is_directory(root_));

  EXPECT_EQ(client_.patch("/workspace", json::object{{"workspace_dir", nullptr}}).status(), 422u);
}

TEST_F(WorkspaceTest, ConfiguredRootWithTildeIsCreated) {
  fs::create_directories(home_ / ".ostrel");
  std::ofstream(home_ / ".ostrel/config.json") << R"({"cloud_sync": {"workspace_dir": "~/sync/ws"}})";
  EXPECT_EQ(client_.get("/workspace").json().at("path"), json::value((home_ / "sync/ws").string()));
  EXPECT_TRUE(fs::is_directory(home_ / "sync/ws"));
}

}  // namespace
}  // namespace ostrel::gateway
