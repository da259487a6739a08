#pragma once
#include "gateway/routes/handler.hpp"

namespace ostrel::gateway::routes {

// GET /files?path=…: a file from the home folder or /tmp, sent as an attachment.
awaitable<Result> download_file(Call& call, const AppState& state);

}  // namespace ostrel::gateway::routes
