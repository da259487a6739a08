#include "http/server.hpp"

#include "http/file_sender.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <spdlog/spdlog.h>

#include <array>
#include <csignal>
#include <exception>
#include <list>

namespace ostrel::http {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bh = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
constexpr auto use_tuple = asio::as_tuple(asio::use_awaitable);

// Completion of a spawned coroutine: an escaped exception is logged, never dropped.
auto log_failure(const char* what) {
  return [what](std::exception_ptr failure) {
    if (!failure) return;
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      spdlog::error("{} ended with an exception: {}", what, e.what());
    } catch (...) {
      spdlog::error("{} ended with an unknown exception", what);
    }
  };
}

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool bodiless_status(unsigned status) { return status / 100 == 1 || status == 204 || status == 304; }

// Status, headers and keep-alive of an answer, the same for text and file bodies.
template <class Body>
void fill_header(bh::response<Body>& out, const Response& answer, bool api, bool keep_alive,
                 const std::vector<std::pair<std::string, std::string>>& cors) {
  out.result(answer.status);
  if (!answer.content_type.empty() && !bodiless_status(answer.status)) out.set(bh::field::content_type, answer.content_type);
  for (const auto& [name, value] : answer.headers) out.insert(name, value);
  for (const auto& [name, value] : cors) out.set(name, value);
  out.set("X-Content-Type-Options", "nosniff");
  // API answers hold the user's data and change with every call: never kept by a cache.
  if (api) out.set(bh::field::cache_control, "no-store");
  out.keep_alive(keep_alive);
}

std::string_view path_of(std::string_view target) { return target.substr(0, target.find('?')); }

}  // namespace

struct Server::State {
  struct Connection {
    beast::tcp_stream* stream;
    bool busy = false;  // a request has been read and is not yet fully answered
  };

  // Plain data first: it must outlive the io_context, whose destruction may destroy suspended
  // sessions that still unregister themselves.
  ServerOptions options;
  const Router& router;
  GuardConfig guard;
  std::list<Connection> connections;
  bool stopping = false;
  bool destroying = false;
  std::uint16_t bound_port = 0;

  asio::io_context ioc{1};
  tcp::acceptor acceptor{ioc};
  asio::signal_set signals{ioc};
  asio::steady_timer grace_timer{ioc};

  State(ServerOptions opts, const Router& r) : options(std::move(opts)), router(r) {}
  ~State() { destroying = true; }

  void listen();
  asio::awaitable<void> accept_loop();
  asio::awaitable<void> session(tcp::socket socket);
  asio::awaitable<error_code> write_answer(beast::tcp_stream& stream, const Request& request, Response answer,
                                           bool keep_alive);
  void begin_stop();
  void connection_closed();
};

void Server::State::listen() {
  tcp::resolver resolver(ioc);
  auto endpoints = resolver.resolve(options.host, std::to_string(options.port),
                                    tcp::resolver::passive | tcp::resolver::numeric_service);
  tcp::endpoint endpoint = endpoints.begin()->endpoint();
  acceptor.open(endpoint.protocol());
  acceptor.set_option(asio::socket_base::reuse_address(true));
  acceptor.bind(endpoint);
  acceptor.listen(asio::socket_base::max_listen_connections);
  bound_port = acceptor.local_endpoint().port();
  guard = GuardConfig{bound_port, options.allowed_hosts, options.allowed_origins, options.access_token};
}

asio::awaitable<void> Server::State::accept_loop() {
  asio::steady_timer backoff(ioc);
  while (!stopping) {
    auto [ec, socket] = co_await acceptor.async_accept(use_tuple);
    if (stopping || ec == asio::error::operation_aborted) co_return;
    if (ec) {
      // Out of file descriptors and the like: wait a little instead of spinning.
      spdlog::warn("accept failed: {}", ec.message());
      backoff.expires_after(std::chrono::milliseconds(100));
      co_await backoff.async_wait(use_tuple);
      continue;
    }
    socket.set_option(tcp::no_delay(true), ec);
    asio::co_spawn(ioc, session(std::move(socket)), log_failure("HTTP session"));
  }
}

asio::awaitable<error_code> Server::State::write_answer(beast::tcp_stream& stream, const Request& request,
                                                        Response answer, bool keep_alive) {
  const bool api = is_api_path(path_of(request.target()));
  const auto cors = cors_headers(request, guard);
  stream.expires_after(options.write_timeout);
  if (answer.file) {
    beast::error_code ec;
    OpenFile file = OpenFile::open(*answer.file, ec);
    if (!ec) {
      // sendfile(2): the kernel moves the bytes, so a large download costs neither copies nor memory.
      bh::response<bh::empty_body> out{bh::status::ok, request.version()};
      fill_header(out, answer, api, keep_alive, cors);
      co_return co_await async_send_file(stream, out, file, options.write_timeout);
    }
    // The file went away between the handler and now.
    spdlog::warn("cannot send {}: {}", answer.file->string(), ec.message());
    answer = error_response(404, "Not Found");
  }
  bh::response<bh::string_body> out{bh::status::ok, request.version()};
  fill_header(out, answer, api, keep_alive, cors);
  if (bodiless_status(answer.status)) {
    out.content_length(boost::none);
  } else {
    out.body() = std::move(answer.body);
    out.prepare_payload();
  }
  // A large answer (a manifest of every file) goes out in slices, so other connections get a
  // turn of the loop between them instead of waiting for one long copy into the socket.
  bh::response_serializer<bh::string_body> serializer{out};
  serializer.limit(256 * 1024);
  auto [write_ec, n] = co_await bh::async_write(stream, serializer, use_tuple);
  co_return write_ec;
}

asio::awaitable<void> Server::State::session(tcp::socket socket) {
  beast::tcp_stream stream(std::move(socket));
  auto self = connections.insert(connections.end(), Connection{&stream});
  struct Unregister {
    State& state;
    std::list<Connection>::iterator it;
    ~Unregister() {
      state.connections.erase(it);
      if (!state.destroying) state.connection_closed();
    }
  } unregister{*this, self};

  beast::flat_buffer buffer;
  bool first_request = true;
  bool drain = false;  // the client may still be sending a body we did not read
  while (!stopping) {
    self->busy = false;
    // A new connection must send its header within header_timeout; a kept-alive one may stay
    // quiet for idle_timeout before its next request starts.
    if (buffer.size() == 0) {
      stream.expires_after(first_request ? options.header_timeout : options.idle_timeout);
      auto [ec, n] = co_await stream.async_read_some(buffer.prepare(4096), use_tuple);
      if (ec || stopping) break;
      buffer.commit(n);
    }
    first_request = false;

    bh::request_parser<bh::string_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(options.header_limit));
    parser.body_limit(boost::none);  // checked after the guard, so a refused request gets its 403 first
    stream.expires_after(options.header_timeout);
    auto [header_ec, header_n] = co_await bh::async_read_header(stream, buffer, parser, use_tuple);
    if (header_ec) {
      std::optional<Response> refusal;
      if (header_ec == bh::error::header_limit) refusal = error_response(431, "Request Header Fields Too Large");
      else if (header_ec.category() == bh::make_error_code(bh::error::bad_method).category() &&
               header_ec != bh::error::end_of_stream && header_ec != bh::error::partial_message)
        refusal = error_response(400, "Bad Request");
      // Timeouts and closed connections end the session without an answer.
      if (refusal) {
        Request bare;
        bare.version(11);
        co_await write_answer(stream, bare, std::move(*refusal), false);
        drain = true;
      }
      break;
    }
    self->busy = true;

    Request& request = parser.get();
    const std::string_view path = path_of(request.target());
    const Match match = router.match(request.method(), path);
    std::optional<Response> answer = check_request(request, match, guard);

    if (!answer && !parser.is_done()) {
      if (auto length = parser.content_length(); length && *length > options.body_limit) {
        answer = error_response(413, "Request body too large");
      } else {
        parser.body_limit(options.body_limit);  // also bounds a chunked body
        if (iequals(request[bh::field::expect], "100-continue")) {
          bh::response<bh::empty_body> go_on{bh::status::continue_, request.version()};
          stream.expires_after(options.write_timeout);
          auto [ec, n] = co_await bh::async_write(stream, go_on, use_tuple);
          if (ec) break;
        }
        stream.expires_after(options.body_timeout);
        auto [body_ec, body_n] = co_await bh::async_read(stream, buffer, parser, use_tuple);
        if (body_ec == bh::error::body_limit) answer = error_response(413, "Request body too large");
        else if (body_ec) break;
      }
    }

    if (!answer && options.on_websocket_upgrade && request.method() == Verb::get && path == "/ws" &&
        beast::websocket::is_upgrade(request)) {
      stream.expires_never();
      options.on_websocket_upgrade(stream.release_socket(), parser.release());
      co_return;
    }

    const auto started = std::chrono::steady_clock::now();
    if (!answer) answer = co_await router.dispatch(match, request);
    // An unread body leaves the connection in an unknown state: answer, then close.
    drain = !parser.is_done();
    const bool keep_alive = request.keep_alive() && !drain && !stopping;
    spdlog::debug("{} {} -> {} ({} us)", std::string_view(request.method_string()), path, answer->status,
                  std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count());
    if (auto ec = co_await write_answer(stream, request, std::move(*answer), keep_alive); ec || !keep_alive) break;
  }

  // Close politely: send FIN, and when the client may still be sending, read and drop what comes
  // for a moment so that the answer is not lost to a connection reset.
  error_code ignored;
  stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
  if (drain && stream.socket().is_open()) {
    stream.expires_after(std::chrono::seconds(1));
    std::array<char, 8192> sink;
    while (true) {
      auto [ec, n] = co_await stream.async_read_some(asio::buffer(sink), use_tuple);
      if (ec) break;
    }
  }
  stream.socket().close(ignored);
}

void Server::State::begin_stop() {
  if (stopping) return;
  stopping = true;
  error_code ignored;
  signals.cancel(ignored);
  signals.clear(ignored);  // a second Ctrl-C ends the process at once
  acceptor.close(ignored);
  if (options.on_stop) options.on_stop();
  // Connections between requests are closed now; the others finish their current request.
  for (auto& c : connections)
    if (!c.busy) c.stream->cancel();
  if (connections.empty()) {
    asio::post(ioc, [this] { ioc.stop(); });
    return;
  }
  grace_timer.expires_after(options.shutdown_grace);
  grace_timer.async_wait([this](error_code ec) {
    if (ec) return;
    spdlog::warn("{} request(s) still running after {} ms; closing their connections", connections.size(),
                 options.shutdown_grace.count());
    for (auto& c : connections) c.stream->close();
    // A handler blocked in other work cannot be waited for forever.
    grace_timer.expires_after(std::chrono::seconds(1));
    grace_timer.async_wait([this](error_code again) {
      if (!again) ioc.stop();
    });
  });
}

void Server::State::connection_closed() {
  if (stopping && connections.empty()) {
    grace_timer.cancel();
    asio::post(ioc, [this] { ioc.stop(); });
  }
}

Server::Server(ServerOptions options, const Router& router) : state_(std::make_unique<State>(std::move(options), router)) {
  state_->listen();
}

Server::~Server() = default;

std::uint16_t Server::port() const { return state_->bound_port; }

std::string Server::url() const {
  const std::string& host = state_->options.host;
  bool ipv6 = host.find(':') != std::string::npos;
  return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(state_->bound_port);
}

boost::asio::io_context& Server::context() { return state_->ioc; }

void Server::run() {
  State& s = *state_;
  if (s.options.handle_signals) {
    s.signals.add(SIGINT);
    s.signals.add(SIGTERM);
    s.signals.async_wait([&s](error_code ec, int signal) {
      if (ec) return;
      spdlog::info("signal {} received; stopping", signal);
      s.begin_stop();
    });
  }
  asio::co_spawn(s.ioc, s.accept_loop(), log_failure("HTTP accept loop"));
  s.ioc.run();
}

void Server::stop() {
  asio::post(state_->ioc, [s = state_.get()] { s->begin_stop(); });
}

}  // namespace ostrel::http
