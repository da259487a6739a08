// GET /files: attachments from the home folder or /tmp only, never the gateway's own secrets.
#include "gateway/router.hpp"
#include "support/test_client.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace ostrel::gateway {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

// The home folder is …/ann outside /tmp, so its sibling …/anna is outside both allowed roots.
class AttachmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = "/var/tmp/ostrel-files-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    base_ = fs::canonical(pattern);
    home_ = base_ / "ann";
    fs::create_directories(home_ / ".ostrel");
    if (const char* old = std::getenv("HOME")) old_home_ = old;
    ::setenv("HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    if (old_home_) ::setenv("HOME", old_home_->c_str(), 1);
    fs::remove_all(base_);
  }
  static void write(const fs::path& file, std::string_view text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  }
  testing::TestResponse get(const fs::path& file) {
    std::string query;
    for (unsigned char c : file.string()) {
      if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
        query += static_cast<char>(c);
      } else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        query += hex;
      }
    }
    return client_.get("/files?path=" + query);
  }

  fs::path base_, home_;
  std::optional<std::string> old_home_;
  std::shared_ptr<AppState> state_ = std::make_shared<AppState>();
  http::Router router_ = create_router([s = state_] { return s; });
  testing::TestClient client_{router_};
};

TEST_F(AttachmentTest, ServesHomeFilesWithTheirNameAndMediaType) {
  write(home_ / "pics/cat.PNG", "png");
  write(home_ / "notes.unknownext", "x");
  fs::create_symlink(home_ / "pics/cat.PNG", home_ / "alias.bin");

  auto r = get(home_ / "pics/cat.PNG");
  ASSERT_EQ(r.status(), 200u);
  EXPECT_EQ(r.raw.file, home_ / "pics/cat.PNG");
  EXPECT_EQ(r.raw.content_type, "image/png");
  EXPECT_EQ(*r.header("Content-Disposition"), "attachment; filename=\"cat.PNG\"");

  EXPECT_EQ(get(home_ / "notes.unknownext").raw.content_type, "application/octet-stream");

  r = get(home_ / "alias.bin");  // a link keeps its own name and is served from its target
  EXPECT_EQ(r.raw.file, home_ / "pics/cat.PNG");
  EXPECT_EQ(*r.header("Content-Disposition"), "attachment; filename=\"alias.bin\"");

  write(home_ / "r\xc3\xa9sum\xc3\xa9.txt", "cv");
  r = get(home_ / "r\xc3\xa9sum\xc3\xa9.txt");
  EXPECT_EQ(*r.header("Content-Disposition"),
            "attachment; filename=\"r_sum_.txt\"; filename*=UTF-8''r%C3%A9sum%C3%A9.txt");
}

TEST_F(AttachmentTest, RefusesWhatLiesOutsideOrIsSecret) {
  write(home_ / ".ostrel/secrets.json", R"({"openai": "sk-1"})");
  write(home_ / ".ostrel/gateway-token", "0123");
  write(base_ / "anna/x.txt", "x");
  fs::create_directories(home_ / "folder");
  fs::create_symlink(home_ / ".ostrel/secrets.json", home_ / "innocent.txt");
  fs::create_hard_link(home_ / ".ostrel/gateway-token", home_ / "copy.txt");
  fs::create_symlink("/etc/hosts", home_ / "hosts");
  struct Case {
    fs::path path;
    unsigned status;
    std::string detail;
  };
  const Case cases[] = {
      {"/etc/hosts", 403, "Access denied"},
      {"/etc/nothing", 404, "File not found"},
      {home_ / "folder", 404, "File not found"},
      {home_ / "missing.txt", 404, "File not found"},
      {base_ / "anna/x.txt", 403, "Access denied"},
      {home_ / "hosts", 403, "Access denied"},
      {home_ / ".ostrel/secrets.json", 403, "Access denied"},
      {home_ / ".ostrel/gateway-token", 403, "Access denied"},
      {home_ / "innocent.txt", 403, "Access denied"},
      {home_ / "copy.txt", 403, "Access denied"},
  };
  for (const auto& c : cases) {
    auto r = get(c.path);
    EXPECT_EQ(r.status(), c.status) << c.path;
    EXPECT_EQ(r.json(), (json::value{{"detail", c.detail}})) << c.path;
  }
  EXPECT_EQ(client_.get("/files").status(), 422u);
}

TEST_F(AttachmentTest, ServesTmp) {
  if (fs::is_symlink("/tmp")) GTEST_SKIP() << "/tmp is a link here";
  std::string pattern = "/tmp/ostrel-attach-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  write(fs::path(pattern) / "a.txt", "a");
  auto r = get(fs::path(pattern) / "a.txt");
  EXPECT_EQ(r.status(), 200u);
  EXPECT_EQ(r.raw.content_type, "text/plain");
  fs::remove_all(pattern);
}

}  // namespace
}  // namespace ostrel::gateway
