#include "http/access_token.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace ostrel::http {
namespace {

namespace fs = std::filesystem;

class AccessTokenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ostrel-token-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
  }
  void TearDown() override { fs::remove_all(home_); }
  fs::path token_file() const { return home_ / ".ostrel" / "gateway-token"; }
  static mode_t mode_of(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
  }
  fs::path home_;
};

TEST_F(AccessTokenTest, CreatedPrivateOnceThenReused) {
  ::umask(0);  // even with a permissive umask the file is private
  AccessToken first = load_or_create_access_token(token_file());
  ::umask(022);
  EXPECT_TRUE(first.created);
  EXPECT_EQ(first.value.size(), 64u);
  EXPECT_EQ(first.value.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(mode_of(token_file()), 0600u);
  EXPECT_EQ(mode_of(token_file().parent_path()), 0700u);
  // No temporary file is left beside it.
  std::vector<fs::path> entries(fs::directory_iterator(token_file().parent_path()), fs::directory_iterator{});
  EXPECT_EQ(entries, std::vector<fs::path>{token_file()});

  AccessToken again = load_or_create_access_token(token_file());
  EXPECT_FALSE(again.created);
  EXPECT_EQ(again.value, first.value);
}

struct BadTokenFile {
  std::string name;
  std::function<void(const fs::path&)> make;
};

class RefusedTokenFile : public AccessTokenTest, public ::testing::WithParamInterface<BadTokenFile> {};

TEST_P(RefusedTokenFile, IsNotUsed) {
  fs::create_directories(token_file().parent_path());
  GetParam().make(token_file());
  EXPECT_THROW(load_or_create_access_token(token_file()), AccessTokenError);
}

void write_file(const fs::path& p, const std::string& text, fs::perms perms) {
  std::ofstream(p) << text;
  fs::permissions(p, perms);
}

const std::string kGood = std::string(64, 'a') + "\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedTokenFile,
    ::testing::Values(
        BadTokenFile{"group_readable", [](const fs::path& p) { write_file(p, kGood, fs::perms(0640)); }},
        BadTokenFile{"world_readable", [](const fs::path& p) { write_file(p, kGood, fs::perms(0604)); }},
        BadTokenFile{"too_short", [](const fs::path& p) { write_file(p, "abc\n", fs::perms(0600)); }},
        BadTokenFile{"not_a_token", [](const fs::path& p) { write_file(p, std::string(64, 'a') + ";x\n", fs::perms(0600)); }},
        BadTokenFile{"symbolic_link", [](const fs::path& p) {
                       write_file(p.parent_path() / "elsewhere", kGood, fs::perms(0600));
                       fs::create_symlink(p.parent_path() / "elsewhere", p);
                     }},
        BadTokenFile{"folder", [](const fs::path& p) { fs::create_directory(p); }}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ostrel::http
