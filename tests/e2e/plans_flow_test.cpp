// The built ostrel-gateway with its default services: a plan created, advanced, read and
// deleted over HTTP, and a guardrail tier that is still set after a restart.
#include "http/raw_connection.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using namespace std::chrono_literals;

// ostrel-gateway on a free loopback port with `home` as HOME; stopped when this goes away.
class Gateway {
 public:
  explicit Gateway(const fs::path& home) {
    const char* build_dir = std::getenv("OSTREL_BUILD_DIR");
    if (build_dir == nullptr) throw std::runtime_error("OSTREL_BUILD_DIR must name the build folder");
    const std::string binary = (fs::path(build_dir) / "ostrel-gateway").string();
    std::vector<std::string> env{"HOME=" + home.string()};
    for (char** e = environ; *e != nullptr; ++e)
      if (!std::string_view(*e).starts_with("HOME=")) env.emplace_back(*e);
    std::vector<std::string> args{binary, "--port", "0"};
    auto pointers = [](std::vector<std::string>& texts) {
      std::vector<char*> out;
      for (auto& t : texts) out.push_back(t.data());
      out.push_back(nullptr);
      return out;
    };
    auto argv = pointers(args);
    auto envp = pointers(env);
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    int rc = ::posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
      ::close(fds[0]);
      throw std::runtime_error("cannot start " + binary);
    }
    // The first line names the address: "... http://127.0.0.1:<port> ...".
    std::string line;
    while (line.find('\n') == std::string::npos) {
      pollfd p{fds[0], POLLIN, 0};
      char c;
      if (::poll(&p, 1, 20000) <= 0 || ::read(fds[0], &c, 1) != 1) break;
      line += c;
    }
    ::close(fds[0]);
    std::smatch m;
    if (!std::regex_search(line, m, std::regex(R"(http://127\.0\.0\.1:(\d+))")))
      throw std::runtime_error("no address in: " + line);
    port_ = static_cast<std::uint16_t>(std::stoi(m[1]));
    std::ifstream(home / ".ostrel" / "gateway-token") >> token_;
  }
  ~Gateway() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }

  struct Answer {
    unsigned status;
    json::value body;
  };
  Answer call(std::string_view method, std::string_view target, const json::value* body = nullptr) {
    std::string headers = "Authorization: Bearer " + token_ + "\r\n";
    std::string text;
    if (body != nullptr) {
      headers += "Content-Type: application/json\r\n";
      text = json::serialize(*body);
    }
    ostrel::testing::RawConnection conn(port_);
    conn.send(ostrel::testing::request_text(method, target, headers, text));
    auto r = conn.read_response();
    if (!r) throw std::runtime_error("no answer to " + std::string(target));
    return {r->result_int(), json::parse(r->body())};
  }
  Answer call(std::string_view method, std::string_view target, const json::value& body) {
    return call(method, target, &body);
  }

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  std::string token_;
};

class PlansFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ostrel-e2e-plans-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
  }
  void TearDown() override { fs::remove_all(home_); }
  fs::path home_;
};

TEST_F(PlansFlow, CreateAdvanceReadDeleteAndDeleteAgain) {
  Gateway gateway(home_);
  json::value request = {{"title", "Release"}, {"steps", json::array{{{"description", "Build"}}, {{"description", "Ship"}}}}};
  auto created = gateway.call("POST", "/api/plans", request);
  ASSERT_EQ(created.status, 200u) << json::serialize(created.body);
  const std::string id(created.body.at("id").as_string());
  EXPECT_EQ(created.body.at("goal"), nullptr);
  EXPECT_EQ(created.body.at("steps").as_array().size(), 2u);

  json::value step = {{"step_index", 0}, {"status", "done"}, {"result", "built"}};
  auto advanced = gateway.call("PUT", "/api/plans/" + id + "/steps/0", step);
  ASSERT_EQ(advanced.status, 200u) << json::serialize(advanced.body);
  auto beyond = gateway.call("PUT", "/api/plans/" + id + "/steps/2", step);
  EXPECT_EQ(beyond.status, 404u);
  EXPECT_EQ(beyond.body, (json::object{{"detail", "Plan " + id + " or step 2 not found"}}));

  auto read = gateway.call("GET", "/api/plans/" + id);
  ASSERT_EQ(read.status, 200u);
  EXPECT_EQ(read.body.at("steps").at(0).at("status"), "done");
  EXPECT_EQ(read.body.at("steps").at(0).at("result"), "built");
  EXPECT_EQ(read.body.at("steps").at(1).at("status"), "pending");
  EXPECT_EQ(gateway.call("GET", "/api/plans/active").body.at("id"), json::value(id));

  auto deleted = gateway.call("DELETE", "/api/plans/" + id);
  EXPECT_EQ(deleted.status, 200u);
  EXPECT_EQ(deleted.body, (json::object{{"message", "Plan deleted"}}));
  auto again = gateway.call("DELETE", "/api/plans/" + id);
  EXPECT_EQ(again.status, 404u);
  EXPECT_EQ(again.body, (json::object{{"detail", "Plan " + id + " not found"}}));
  EXPECT_EQ(gateway.call("GET", "/api/plans").body, json::array{});
}

TEST_F(PlansFlow, TierChosenBeforeARestartIsStillSetAfterIt) {
  {
    Gateway gateway(home_);
    auto set = gateway.call("PUT", "/api/guardrails/tier", json::value{{"tier", "supervised"}});
    EXPECT_EQ(set.status, 200u);
    EXPECT_EQ(set.body, (json::object{{"tier", "supervised"}, {"message", "Tier set to Supervised"}}));
  }
  Gateway restarted(home_);
  EXPECT_EQ(restarted.call("GET", "/api/guardrails").body.at("current_tier"), "supervised");
}

}  // namespace
