#include "src/platform/thread.h"

#include <cxxabi.h>
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <charconv>
#include <exception>
#include <optional>
#include <string_view>

#include "src/platform/capture.h"
#include "src/platform/panic.h"
#include "src/platform/process.h"

namespace velt::platform {
namespace {

// Shared by the handle and the running thread.
struct ThreadState {
  std::string name;
  std::function<void()> body;
  CaptureHandle capture;  // handed to the new thread, which takes it
  pthread_t id{};
  bool joined = false;
  std::exception_ptr panic;  // written by the thread before it ends, read after the join
};

constexpr std::size_t DEFAULT_MIN_STACK = 2 * 1024 * 1024;

// Unsigned decimal with an optional leading '+', nothing else: "+4096" and "4096" are read,
// " 4096", "4k" and "-1" are not.
std::optional<std::size_t> parse_byte_count(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::size_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// pthread refuses stacks below its minimum; glibc pads odd sizes itself, but whole pages keep
// the request what the kernel maps.
std::size_t usable_stack(std::size_t bytes) {
  const auto least = static_cast<std::size_t>(PTHREAD_STACK_MIN);  // a long in glibc
  if (bytes < least) bytes = least;
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page > 0) {
    const auto p = static_cast<std::size_t>(page);
    if (bytes <= SIZE_MAX - (p - 1)) bytes = (bytes + p - 1) / p * p;
  }
  return bytes;
}

// The kernel keeps 15 bytes of a thread's name; cut at a character boundary so tools do not
// show half a UTF-8 sequence. The report name keeps the whole text.
std::string kernel_name(const std::string& name) {
  if (name.size() <= 15) return name;
  std::size_t end = 15;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

void* thread_start(void* arg) {
  // The thread's own reference to the state; the handle may be dropped (detached) meanwhile.
  const std::unique_ptr<std::shared_ptr<ThreadState>> state_ref(
      static_cast<std::shared_ptr<ThreadState>*>(arg));
  ThreadState* state = state_ref->get();

  if (!state->name.empty()) {
    ::pthread_setname_np(::pthread_self(), kernel_name(state->name).c_str());
    set_current_thread_name(state->name);
  }
  set_output_capture(std::move(state->capture));
  {
    // The body and what it holds are released here, on this thread and inside its capture,
    // as std::thread does.
    std::function<void()> body = std::move(state->body);
    try {
      body();
    } catch (abi::__forced_unwind&) {
      throw;  // pthread_exit and cancellation unwind through here and must not stop
    } catch (...) {
      report_caught(current_payload(), nullptr);
      // In abort mode the report has locked the output streams for good: nothing may follow.
      if (panic_aborts()) std::abort();
      state->panic = std::current_exception();
    }
  }
  set_output_capture(nullptr);
  return nullptr;
}

}  // namespace

struct Thread::State : ThreadState {};

std::size_t min_stack() {
  static const std::size_t bytes = [] {
    std::size_t wanted = DEFAULT_MIN_STACK;
    if (std::optional<std::string> value = env_var("VELT_MIN_STACK")) {
      if (std::optional<std::size_t> n = parse_byte_count(*value)) wanted = *n;
    }
    return usable_stack(wanted);
  }();
  return bytes;
}

Result<Thread, int> Thread::spawn(std::string name, std::function<void()> body) {
  auto state = std::make_shared<State>();
  state->name = std::move(name);
  state->body = std::move(body);
  if (capture_inheritance()) state->capture = current_output_capture();

  pthread_attr_t attr;
  if (int rc = ::pthread_attr_init(&attr); rc != 0) return Err{rc};
  int rc = ::pthread_attr_setstacksize(&attr, min_stack());
  if (rc == 0) {
    auto* arg = new std::shared_ptr<ThreadState>(state);
    rc = ::pthread_create(&state->id, &attr, thread_start, arg);
    if (rc != 0) delete arg;
  }
  ::pthread_attr_destroy(&attr);
  if (rc != 0) return Err{rc};
  return Thread(std::move(state));
}

Thread::Thread(Thread&& other) noexcept = default;

Thread& Thread::operator=(Thread&& other) noexcept {
  if (this != &other) {
    if (state_ && !state_->joined) ::pthread_detach(state_->id);
    state_ = std::move(other.state_);
  }
  return *this;
}

Thread::~Thread() {
  if (state_ && !state_->joined) ::pthread_detach(state_->id);
}

bool Thread::join() {
  if (state_ && !state_->joined) {
    ::pthread_join(state_->id, nullptr);
    state_->joined = true;
  }
  return state_ && state_->panic;
}

void Thread::join_rethrow() {
  if (!join()) return;
  // The thread reported this failure when it ended; whoever catches it here must not again.
  mark_reported(state_->panic);
  std::rethrow_exception(state_->panic);
}

std::size_t available_parallelism() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    if (int count = CPU_COUNT(&set); count > 0) return static_cast<std::size_t>(count);
  }
  // More CPUs than a cpu_set_t holds, or no affinity support: count the online ones.
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<std::size_t>(online) : 0;
}

}  // namespace velt::platform
