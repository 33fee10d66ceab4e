#include <errno.h>

#include <exception>
#include <string>

#include "include/velt/test.h"
#include "include/velt/thread.h"
#include "src/platform/thread.h"

namespace velt::test {

thread::thread() noexcept = default;
thread::thread(thread&& other) noexcept = default;

thread& thread::operator=(thread&& other) noexcept {
  if (joinable()) std::terminate();
  handle_ = std::move(other.handle_);
  start_ = std::move(other.start_);
  return *this;
}

thread::~thread() {
  if (joinable()) std::terminate();
}

bool thread::joinable() const noexcept { return handle_ != nullptr; }

void thread::start(std::shared_ptr<detail::ThreadStart> start) {
  Result<platform::Thread, int> spawned = platform::Thread::spawn({}, [start] {
    start->id.store(std::this_thread::get_id());
    start->id.notify_all();
    start->run();
  });
  if (!spawned) {
    panic("failed to start a thread: " + io_error_from_code(spawned.error()).debug());
  }
  handle_ = std::make_unique<platform::Thread>(std::move(*spawned));
  start_ = std::move(start);
}

void thread::join() {
  if (!joinable()) panic("join called on a thread that is not joinable");
  // The handle goes first, so that the thread counts as joined even when its panic is
  // rethrown below.
  std::unique_ptr<platform::Thread> handle = std::move(handle_);
  start_.reset();
  handle->join_rethrow();
}

void thread::detach() {
  if (!joinable()) panic("detach called on a thread that is not joinable");
  handle_.reset();  // a platform thread dropped unjoined is detached
  start_.reset();
}

thread::id thread::get_id() const noexcept {
  if (!joinable()) return id();
  // The new thread publishes its id first thing; wait for that only if asked early.
  start_->id.wait(id());
  return start_->id.load();
}

void thread::swap(thread& other) noexcept {
  std::swap(handle_, other.handle_);
  std::swap(start_, other.start_);
}

unsigned int thread::hardware_concurrency() noexcept {
  return static_cast<unsigned int>(platform::available_parallelism());
}

}  // namespace velt::test
