#include "src/platform/thread.h"

#include <pthread.h>
#include <velt/test.h>
#include <velt/thread.h>

#include <stdexcept>
#include <string>

#include "src/platform/capture.h"
#include "src/platform/panic.h"

namespace {

namespace platform = velt::platform;

// Runs `body` on a platform thread named "worker" that prints into a fresh buffer; returns
// whether join saw a panic, and what the thread printed.
std::pair<bool, std::string> run_worker(std::function<void()> body) {
  auto buffer = std::make_shared<platform::CaptureBuffer>();
  auto thread = platform::Thread::spawn("worker", [buffer, body = std::move(body)] {
    platform::set_output_capture(buffer);
    body();
  });
  if (!thread.ok()) velt::test::panic("spawn failed");
  const bool panicked = thread->join();
  return {panicked, buffer->contents()};
}

}  // namespace

VELT_TEST(thread::join_tells_whether_the_body_panicked) {
  const struct {
    const char* name;
    void (*body)();
    bool panicked;
    const char* report_start;
  } cases[] = {
      {"returns", [] {}, false, ""},
      {"exception", [] { throw std::runtime_error("boom"); }, true,
       "thread 'worker' panicked:\nboom\n"},
      {"velt panic", [] { VELT_PANIC("value {}", 3); }, true, "thread 'worker' panicked at "},
  };
  for (const auto& c : cases) {
    auto [panicked, output] = run_worker(c.body);
    VELT_ASSERT_EQ(panicked, c.panicked, "case {}", c.name);
    VELT_ASSERT(output.starts_with(c.report_start), "case {}: {}", c.name, output);
    if (*c.report_start == '\0') VELT_ASSERT_EQ(output, "", "case {}", c.name);
  }
}

VELT_TEST(thread::join_rethrow_carries_the_exception) {
  auto buffer = std::make_shared<platform::CaptureBuffer>();  // keeps the report quiet
  auto thread = platform::Thread::spawn("rethrow", [buffer] {
    platform::set_output_capture(buffer);
    throw std::string("payload");
  });
  VELT_ASSERT(thread.ok());
  std::string caught;
  try {
    thread->join_rethrow();
  } catch (const std::string& s) {
    caught = s;
  }
  VELT_ASSERT_EQ(caught, "payload");
}

VELT_TEST(thread::stack_and_kernel_name) {
  std::size_t stack = 0;
  char kernel_name[32] = {};
  auto thread = platform::Thread::spawn("0123456789abcdefghij", [&] {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      pthread_attr_getstacksize(&attr, &stack);
      pthread_attr_destroy(&attr);
    }
    pthread_getname_np(pthread_self(), kernel_name, sizeof kernel_name);
  });
  VELT_ASSERT(thread.ok());
  VELT_ASSERT(!thread->join());
  VELT_ASSERT(stack >= platform::min_stack(), "stack {} min {}", stack, platform::min_stack());
  if (std::getenv("VELT_MIN_STACK") == nullptr) VELT_ASSERT_EQ(platform::min_stack(), 2097152u);
  VELT_ASSERT_EQ(std::string(kernel_name), "0123456789abcde");
}

VELT_TEST(thread::available_parallelism) {
  VELT_ASSERT(platform::available_parallelism() >= 1);
  VELT_ASSERT_EQ(velt::test::thread::hardware_concurrency(), platform::available_parallelism());
}

// A failed assertion on a helper thread fails the test that joins it.
VELT_TEST(thread::test_thread_join_rethrows_a_panic) {
  // The helper's report goes into this buffer through the inherited capture.
  const bool inherited = platform::capture_inheritance();
  platform::set_capture_inheritance(true);
  auto buffer = std::make_shared<platform::CaptureBuffer>();
  platform::CaptureHandle previous = platform::set_output_capture(buffer);
  std::string message;
  velt::test::thread helper([](int v) { VELT_ASSERT_EQ(v, 2); }, 1);
  try {
    helper.join();
  } catch (const platform::PanicException& e) {
    message = e.message;
  }
  platform::set_output_capture(previous);
  platform::set_capture_inheritance(inherited);
  VELT_ASSERT_EQ(message, "assertion `v == 2` failed\n  left: 1\n right: 2");
  VELT_ASSERT(buffer->contents().starts_with("thread '<unnamed>' panicked at "));
  VELT_ASSERT(!helper.joinable());
}

VELT_TEST(thread::test_thread_behaves_like_std_thread) {
  velt::test::thread empty;
  VELT_ASSERT(!empty.joinable());
  VELT_ASSERT(empty.get_id() == std::thread::id());

  std::thread::id inside;
  auto owned = std::make_unique<int>(5);  // move-only arguments are passed through
  int got = 0;
  velt::test::thread t(
      [&](std::unique_ptr<int> p) {
        inside = std::this_thread::get_id();
        got = *p;
      },
      std::move(owned));
  const std::thread::id id = t.get_id();
  VELT_ASSERT(id != std::thread::id() && id != std::this_thread::get_id());
  velt::test::thread moved = std::move(t);
  VELT_ASSERT(!t.joinable() && moved.joinable());
  moved.join();
  VELT_ASSERT(inside == id);
  VELT_ASSERT_EQ(got, 5);

  // Shared, so that the detached thread may outlive this test.
  auto done = std::make_shared<std::atomic<bool>>(false);
  velt::test::thread detached([done] {
    *done = true;
    done->notify_one();
  });
  detached.detach();
  VELT_ASSERT(!detached.joinable());
  done->wait(false);
}
