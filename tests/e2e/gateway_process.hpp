#pragma once
// The built ostrel-gateway as a child process: started with `home` as HOME on a free loopback
// port, its address read from the line it prints, its token from the file it creates.
// Killed if a test ends before the process exits on its own.
#include "http/raw_connection.hpp"
#include "support/temp_home.hpp"

#include <boost/json.hpp>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ostrel::testing {

class GatewayProcess {
 public:
  explicit GatewayProcess(const std::filesystem::path& home) : home_(home) {
    const char* build_dir = std::getenv("OSTREL_BUILD_DIR");
    if (build_dir == nullptr) throw std::runtime_error("OSTREL_BUILD_DIR must name the build folder");
    const std::string binary = (std::filesystem::path(build_dir) / "ostrel-gateway").string();
    std::vector<std::string> env{"HOME=" + home.string()};
    for (char** e = environ; *e != nullptr; ++e)
      if (!std::string_view(*e).starts_with("HOME=")) env.emplace_back(*e);
    std::vector<std::string> args{binary, "--port", "0"};
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
    out_ = fds[0];
    if (rc != 0) throw std::runtime_error("cannot start " + binary);

    first_line_ = read_line(std::chrono::seconds(20));
    std::smatch m;
    if (!std::regex_search(first_line_, m, std::regex(R"(http://127\.0\.0\.1:(\d+))")))
      throw std::runtime_error("no address in: " + first_line_);
    port_ = static_cast<std::uint16_t>(std::stoi(m[1]));
    std::ifstream(token_file()) >> token_;
  }
  ~GatewayProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
  }
  GatewayProcess(const GatewayProcess&) = delete;
  GatewayProcess& operator=(const GatewayProcess&) = delete;

  const std::string& first_line() const { return first_line_; }
  std::uint16_t port() const { return port_; }
  const std::string& token() const { return token_; }
  std::filesystem::path token_file() const { return home_ / ".ostrel" / "gateway-token"; }

  struct Answer {
    unsigned status;
    boost::json::value body;
  };
  // One request with the token, a JSON body when given; the answer's status and JSON.
  Answer call(std::string_view method, std::string_view target, const boost::json::value* body = nullptr) {
    std::string headers = "Authorization: Bearer " + token_ + "\r\n";
    std::string text;
    if (body != nullptr) {
      headers += "Content-Type: application/json\r\n";
      text = boost::json::serialize(*body);
    }
    RawConnection conn(port_);
    conn.send(request_text(method, target, headers, text));
    auto r = conn.read_response();
    if (!r) throw std::runtime_error("no answer to " + std::string(target));
    return {r->result_int(), boost::json::parse(r->body())};
  }
  Answer call(std::string_view method, std::string_view target, const boost::json::value& body) {
    return call(method, target, &body);
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
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
  }

  // Graceful stop, as the user's Ctrl-C; the exit status.
  std::optional<int> stop() {
    signal(SIGTERM);
    return wait_exit(std::chrono::seconds(10));
  }

 private:
  static std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
  }

  std::string read_line(std::chrono::milliseconds timeout) {
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

  std::filesystem::path home_;
  pid_t pid_ = -1;
  int out_ = -1;
  std::uint16_t port_ = 0;
  std::string first_line_;
  std::string token_;
};

}  // namespace ostrel::testing
