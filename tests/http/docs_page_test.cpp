#include "http/docs_page.hpp"

#include "support/test_client.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace ostrel::http {
namespace {

namespace fs = std::filesystem;

const std::string kToken = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

class DocsPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ostrel-docs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    assets_ = root_ / "swagger-ui";
    for (auto& r : docs_routes({assets_, kToken})) router_.add(std::move(r));
  }
  void TearDown() override { fs::remove_all(root_); }
  void install_assets() {
    fs::create_directories(assets_);
    std::ofstream(assets_ / "swagger-ui-bundle.js") << "window.SwaggerUIBundle = function () {};\n";
    std::ofstream(assets_ / "swagger-ui.css") << "body {}\n";
    std::ofstream(root_ / "secret.txt") << "not for the web\n";
    std::ofstream(assets_ / ".hidden") << "hidden\n";
    fs::create_symlink(root_ / "secret.txt", assets_ / "link.css");
  }

  fs::path root_, assets_;
  Router router_;
  testing::TestClient client_{router_};
};

TEST_F(DocsPageTest, PageExplainsMissingAssetsThenUsesThem) {
  auto bare = client_.get("/docs");
  EXPECT_EQ(bare.status(), 200u);
  EXPECT_EQ(bare.raw.content_type, "text/html; charset=utf-8");
  EXPECT_NE(bare.raw.body.find("scripts/fetch-docs-assets.sh"), std::string::npos);
  EXPECT_NE(bare.raw.body.find("/openapi.json"), std::string::npos);

  install_assets();
  auto page = client_.get("/docs");
  EXPECT_NE(page.raw.body.find("SwaggerUIBundle({url: \"/openapi.json\""), std::string::npos);
  EXPECT_NE(page.raw.body.find("/docs/assets/swagger-ui-bundle.js"), std::string::npos);

  auto css = client_.get("/docs/assets/swagger-ui.css");
  EXPECT_EQ(css.status(), 200u);
  EXPECT_EQ(css.raw.content_type, "text/css; charset=utf-8");
  ASSERT_TRUE(css.raw.file);
  EXPECT_EQ(*css.raw.file, fs::canonical(assets_ / "swagger-ui.css"));
}

TEST_F(DocsPageTest, ServesNothingOutsideTheAssetFolder) {
  install_assets();
  for (std::string target : {"/docs/assets/..%2Fsecret.txt", "/docs/assets/%2E%2E%2Fsecret.txt", "/docs/assets/.hidden",
                             "/docs/assets/link.css", "/docs/assets/missing.js", "/docs/assets/..", "/docs/assets/"}) {
    auto r = client_.get(target);
    EXPECT_EQ(r.status(), 404u) << target;
    EXPECT_FALSE(r.raw.file) << target;
  }
}

TEST_F(DocsPageTest, AuthSetsTheCookieOnlyForTheRightToken) {
  auto ok = client_.get("/auth?token=" + kToken);
  EXPECT_EQ(ok.status(), 303u);
  ASSERT_NE(ok.header("Location"), nullptr);
  EXPECT_EQ(*ok.header("Location"), "/docs");
  ASSERT_NE(ok.header("Set-Cookie"), nullptr);
  EXPECT_EQ(*ok.header("Set-Cookie"), "ostrel_token=" + kToken + "; HttpOnly; SameSite=Strict; Path=/");

  for (const std::string& target : std::vector<std::string>{"/auth", "/auth?token=", "/auth?token=nope", "/auth?token=" + kToken + "0"}) {
    auto refused = client_.get(target);
    EXPECT_EQ(refused.status(), 401u) << target;
    EXPECT_EQ(refused.json(), (boost::json::object{{"detail", "Not authenticated"}}));
    EXPECT_EQ(refused.header("Set-Cookie"), nullptr);
  }
}

}  // namespace
}  // namespace ostrel::http
