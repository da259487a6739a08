#pragma once
// Runs requests through a router in-process: method, target and JSON body in;
// status, headers and JSON out.
#include "http/json_text.hpp"
#include "http/router.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/json.hpp>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::testing {

struct TestResponse {
  http::Response raw;
  unsigned status() const { return raw.status; }
  boost::json::value json() const { return boost::json::parse(raw.body); }
  const std::string* header(std::string_view name) const { return raw.header(name); }
};

class TestClient {
 public:
  explicit TestClient(const http::Router& router) : router_(router) {}

  TestResponse request(http::Verb method, std::string target, std::optional<std::string> body = std::nullopt) {
    http::Request req{method, target, 11};
    req.set(boost::beast::http::field::host, "127.0.0.1");
    if (body) {
      req.set(boost::beast::http::field::content_type, "application/json");
      req.body() = *body;
      req.prepare_payload();
    }
    boost::asio::io_context io;
    auto future = boost::asio::co_spawn(io, router_.dispatch(req), boost::asio::use_future);
    io.run();
    return TestResponse{future.get()};
  }
  TestResponse get(std::string target) { return request(http::Verb::get, std::move(target)); }
  TestResponse del(std::string target) { return request(http::Verb::delete_, std::move(target)); }
  TestResponse post(std::string target, const boost::json::value& body = boost::json::object{}) {
    return request(http::Verb::post, std::move(target), http::to_json(body));
  }
  TestResponse put(std::string target, const boost::json::value& body) {
    return request(http::Verb::put, std::move(target), http::to_json(body));
  }
  TestResponse patch(std::string target, const boost::json::value& body) {
    return request(http::Verb::patch, std::move(target), http::to_json(body));
  }

 private:
  const http::Router& router_;
};

}  // namespace ostrel::testing
