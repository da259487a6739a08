#include "gateway/router.hpp"

#include "gateway/records.hpp"
#include "gateway/routes/status.hpp"

#include <utility>

namespace ostrel::gateway {

namespace {

using namespace routes;
using http::query_integer;
using http::query_text;
using http::record_body;
using enum http::Returns;

constexpr auto GET = http::Verb::get;

// Runs a handler with the state the provider gives for this request.
awaitable<Result> call_with_state(std::shared_ptr<const AppState> state, StateHandler handler, Call& call) {
  co_return co_await handler(call, *state);
}

}  // namespace

http::Router create_router(StateProvider get_state) {
  http::Router r;
  auto bind = [&get_state](StateHandler handler) -> http::Handler {
    return [get_state, handler](Call& call) { return call_with_state(get_state(), handler, call); };
  };
  // One row per route, in registration order: method, path, handler, declared result,
  // then query/path parameters, body and the description published in the API documentation.
#define H(name) #name, bind(&routes::name)
#define BODY(Record) record_body<Record>(#Record)
  r.add({GET, "/status", H(get_status), mapping});
#undef BODY
#undef H
  return r;
}

}  // namespace ostrel::gateway
