#pragma once
// The workspace router: the user's synced workspace folder, browsed, read, written and summed
// under the prefix "/workspace". Walks, large reads and deletes run on `pool`.
#include "http/router.hpp"
#include "http/worker_pool.hpp"

namespace ostrel::gateway {

// `pool` must outlive the router.
http::Router create_workspace_router(http::WorkerPool& pool);

}  // namespace ostrel::gateway
