// Starts the built ostrel-gateway with a fresh HOME on port 0 and talks to it over loopback.
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
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ostrel::testing::RawConnection;
using ostrel::testing::request_text;

// The gateway as a child process; killed if a test ends before it exits on its own.
class GatewayProcess {
 public:
  GatewayProcess(const fs::path& binary, const fs::path& home) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::string_view(*e).substr(0, 5) != "HOME=") env.emplace_back(*e);
    env.push_back("HOME=" + home.string());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{binary.string(), "--port", "0"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    int rc = ::posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_ = fds[0];
    if (rc != 0) throw std::runtime_error("cannot start " + binary.string());
  }
  ~GatewayProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
  }

  // The first line the program prints, within `timeout`.
  std::string first_line(std::chrono::milliseconds timeout) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (line.find('\n') == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{out_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char c;
      if (::read(out_, &c, 1) != 1) break;
      line += c;
    }
    return line;
  }

  void signal(int sig) { ::kill(pid_, sig); }

  // The exit status, or nothing if the process is still running after `timeout`.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

TEST(Gateway, ServesTheApiBehindItsGuardAndStopsOnSigterm) {
  const char* build_dir = std::getenv("OSTREL_BUILD_DIR");
  ASSERT_NE(build_dir, nullptr) << "OSTREL_BUILD_DIR must name the build folder";
  std::string pattern = (fs::temp_directory_path() / "ostrel-e2e-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path home = pattern;

  {
    GatewayProcess gateway(fs::path(build_dir) / "ostrel-gateway", home);
    const std::string line = gateway.first_line(20s);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, std::regex(R"(http://127\.0\.0\.1:(\d+))"))) << line;
    const auto port = static_cast<std::uint16_t>(std::stoi(m[1]));
    const fs::path token_file = home / ".ostrel" / "gateway-token";
    EXPECT_NE(line.find(token_file.string()), std::string::npos) << line;
    std::string token;
    std::ifstream(token_file) >> token;
    ASSERT_EQ(token.size(), 64u);
    const std::string auth = "Authorization: Bearer " + token + "\r\n";

    struct Case {
      std::string request;
      unsigned status;
    };
    const Case cases[] = {
        {request_text("GET", "/api/status"), 401},
        {request_text("GET", "/api/status", auth), 200},
        {"GET /api/status HTTP/1.1\r\nHost: evil.example\r\n" + auth + "\r\n", 403},
        {request_text("GET", "/api/status", auth + "Origin: http://evil.example\r\n"), 403},
        {request_text("GET", "/openapi.json"), 200},
    };
    for (const auto& c : cases) {
      RawConnection conn(port);
      conn.send(c.request);
      auto r = conn.read_response();
      ASSERT_TRUE(r) << c.request;
      EXPECT_EQ(r->result_int(), c.status) << c.request;
      EXPECT_TRUE(boost::json::parse(r->body()).is_object()) << r->body();
    }

    RawConnection conn(port);
    conn.send(request_text("GET", "/openapi.json"));
    auto doc = conn.read_response();
    ASSERT_TRUE(doc);
    EXPECT_TRUE(boost::json::parse(doc->body()).at("openapi").as_string().starts_with("3.1"));

    gateway.signal(SIGTERM);
    EXPECT_EQ(gateway.wait_exit(10s), std::optional<int>(0));
  }
  fs::remove_all(home);
}

}  // namespace
