#pragma once
// What every route handler of the gateway sees: the validated call and the application state.
#include "gateway/app_state.hpp"
#include "http/http_error.hpp"
#include "http/router.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/json.hpp>

namespace ostrel::gateway::routes {

namespace json = boost::json;
using boost::asio::awaitable;
using http::Call;
using http::HttpError;
using http::Result;

using StateHandler = awaitable<Result> (*)(Call&, const AppState&);

}  // namespace ostrel::gateway::routes
