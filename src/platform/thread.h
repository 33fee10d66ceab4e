// Named threads with a chosen stack size, whose join tells whether the body panicked.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "src/result.h"

namespace velt::platform {

// The stack size of new threads: VELT_MIN_STACK bytes if set and usable, else 2 MiB. Read
// once, on first use.
std::size_t min_stack();

class Thread {
 public:
  // Starts `body` on a new thread named `name`. The body runs with the starting thread's
  // capture when capture inheritance is on. A panic escaping the body is reported with the
  // panic hook and recorded for join. Fails with the errno of pthread_create (EAGAIN when
  // the thread limit is reached).
  static Result<Thread, int> spawn(std::string name, std::function<void()> body);

  Thread(Thread&&) noexcept;
  Thread& operator=(Thread&&) noexcept;
  ~Thread();  // detaches a thread that was not joined

  // Waits for the thread; true when its body ended by panicking.
  bool join();
  // Waits for the thread; rethrows on this thread the exception that ended its body.
  void join_rethrow();

 private:
  struct State;
  explicit Thread(std::shared_ptr<State> s) : state_(std::move(s)) {}
  std::shared_ptr<State> state_;
};

// Hardware threads available to this process (its CPU affinity), or none if unknown.
std::size_t available_parallelism();

}  // namespace velt::platform
