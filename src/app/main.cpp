// ostrel-gateway: serves the gateway's REST API on this computer.
// The composition root: reads the command line, builds the application state and the routers,
// and runs the HTTP server until SIGINT or SIGTERM.
#include "gateway/app_state.hpp"
#include "gateway/default_state.hpp"
#include "gateway/router.hpp"
#include "gateway/workspace/workspace_router.hpp"
#include "http/access_token.hpp"
#include "http/docs_page.hpp"
#include "http/live_updates.hpp"
#include "http/openapi.hpp"
#include "http/router.hpp"
#include "http/server.hpp"
#include "http/worker_pool.hpp"
#include "version.hpp"

#include <CLI/CLI.hpp>
#include <boost/asio/ip/address.hpp>
#include <spdlog/spdlog.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace ostrel;

bool is_loopback_host(const std::string& host) {
  if (host == "localhost") return true;
  boost::system::error_code ec;
  auto address = boost::asio::ip::make_address(host, ec);
  return !ec && address.is_loopback();
}

struct CommandLine {
  std::string host = "127.0.0.1";
  std::uint16_t port = 8765;
  std::vector<std::string> allow_hosts;
  std::vector<std::string> allow_origins;
  std::string log_level = "info";
  bool no_auth = false;
  std::string python = "python3";
};

}  // namespace

int main(int argc, char** argv) {
  CommandLine opts;
  CLI::App cli{"Ostrel gateway: the REST API through which the Ostrel user interface drives the agent.",
               "ostrel-gateway"};
  cli.set_version_flag("--version", std::string("ostrel-gateway ") + kVersion + kBuildTag);
  cli.add_option("--host", opts.host, "Address to listen on")->capture_default_str();
  cli.add_option("--port", opts.port, "Port to listen on; 0 picks a free one")->capture_default_str();
  cli.add_option("--allow-host", opts.allow_hosts,
                 "Also answer requests with this Host name (name or name:port; repeatable)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  cli.add_option("--allow-origin", opts.allow_origins,
                 "Also accept requests from this web origin, e.g. http://localhost:5173 (repeatable)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  cli.add_option("--log-level", opts.log_level, "trace, debug, info, warn, error, critical or off")
      ->check(CLI::IsMember({"trace", "debug", "info", "warn", "error", "critical", "off"}))
      ->capture_default_str();
  cli.add_flag("--no-auth", opts.no_auth, "Do not require the access token (only with a loopback --host)");
  cli.add_option("--python", opts.python, "Python interpreter the gateway is installed with")
      ->envname("OSTREL_PYTHON")
      ->capture_default_str();
  CLI11_PARSE(cli, argc, argv);

  spdlog::set_level(spdlog::level::from_str(opts.log_level));
  std::signal(SIGPIPE, SIG_IGN);

  if (opts.no_auth && !is_loopback_host(opts.host)) {
    std::cerr << "ostrel-gateway: --no-auth is refused with --host " << opts.host
              << ": without the token anyone who can reach that address could drive the gateway\n";
    return 2;
  }

  std::optional<http::AccessToken> token;
  if (!opts.no_auth) {
    try {
      token = http::load_or_create_access_token(http::default_token_path());
    } catch (const std::exception& e) {
      std::cerr << "ostrel-gateway: access token: " << e.what() << "\n";
      return 1;
    }
  }

  try {
    // Blocking work of the services runs here (http::run_blocking), off the event loop.
    http::WorkerPool blocking_pool{4};

    // Live updates to the connected user interfaces: WebSocket clients at /ws.
    auto live_updates = std::make_shared<http::LiveUpdateHub>();

    std::shared_ptr<gateway::AppState> mutable_state = gateway::build_default_state();
    mutable_state->live_updates = gateway::hub_sender(live_updates);
    std::shared_ptr<const gateway::AppState> state = std::move(mutable_state);
    gateway::StateProvider get_state = [state] { return state; };

    http::Router api;
    api.include(gateway::create_router(get_state), "/api");
    api.include(gateway::create_workspace_router(blocking_pool), "/api");

    http::Router app;
    app.include(api);
    app.add(http::openapi_route(api, "Ostrel gateway API", std::string(kVersion) + kBuildTag));
    http::DocsOptions docs{http::default_docs_assets_dir(), {}};
    if (token) docs.access_token = token->value;
    for (auto& route : http::docs_routes(std::move(docs))) app.add(std::move(route));

    http::ServerOptions server_options;
    server_options.host = opts.host;
    server_options.port = opts.port;
    server_options.allowed_hosts = opts.allow_hosts;
    server_options.allowed_origins = opts.allow_origins;
    if (token) server_options.access_token = token->value;
    server_options.on_websocket_upgrade = [live_updates](boost::asio::ip::tcp::socket socket, http::Request request) {
      live_updates->accept(std::move(socket), std::move(request));
    };
    server_options.on_stop = [live_updates] { live_updates->close_all(); };

    std::optional<http::Server> server;
    try {
      server.emplace(std::move(server_options), app);
    } catch (const boost::system::system_error& e) {
      std::cerr << "ostrel-gateway: cannot listen on " << opts.host << " port " << opts.port << ": "
                << e.code().message() << "\n";
      return 1;
    }
    std::cout << "Ostrel gateway " << kVersion << kBuildTag << " serving " << server->url() << " ("
              << (token ? "access token in " + token->file.string() : std::string("no access token: --no-auth"))
              << ")" << std::endl;
    server->run();
    blocking_pool.join();
  } catch (const std::exception& e) {
    std::cerr << "ostrel-gateway: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
