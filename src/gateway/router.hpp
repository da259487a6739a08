#pragma once
// The gateway's main router: the route table of the API.
#include "gateway/app_state.hpp"
#include "http/router.hpp"

namespace ostrel::gateway {

http::Router create_router(StateProvider get_state);

}  // namespace ostrel::gateway
