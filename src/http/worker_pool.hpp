#pragma once
// A small pool of threads for blocking work (file walks, synchronous library calls), so the
// event loop keeps serving other requests meanwhile.
//
//   std::string text = co_await http::run_blocking(pool, [&] { return read_whole_file(p); });
//
// The function runs on a pool thread; the awaiting coroutine resumes on its own executor (the
// event loop) with the result, or with the exception the function threw.
#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <cstddef>
#include <type_traits>
#include <utility>

namespace ostrel::http {

class WorkerPool {
 public:
  explicit WorkerPool(std::size_t threads = 4) : pool_(threads) {}
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool() { join(); }

  boost::asio::thread_pool::executor_type executor() { return pool_.get_executor(); }
  // Lets queued work finish, then stops the threads.
  void join() { pool_.join(); }

 private:
  boost::asio::thread_pool pool_;
};

template <class Fn>
boost::asio::awaitable<std::invoke_result_t<Fn>> run_blocking(WorkerPool& pool, Fn fn) {
  using R = std::invoke_result_t<Fn>;
  co_return co_await boost::asio::co_spawn(
      pool.executor(), [f = std::move(fn)]() mutable -> boost::asio::awaitable<R> { co_return f(); },
      boost::asio::use_awaitable);
}

}  // namespace ostrel::http
