// velt::test::thread: std::thread for tests. A thread started from a test prints into that
// test's captured output, and join() rethrows on the joining thread the exception (a failed
// assertion, say) that ended the thread, so that it fails the test:
//
//   velt::test::thread helper([&] { VELT_ASSERT_EQ(compute(), 42); });
//   helper.join();  // the test fails here if the assertion did
//
// A joinable thread that is destroyed ends the process, as with std::thread.
#pragma once

#include <atomic>      // the id, published by the new thread
#include <functional>  // std::invoke
#include <memory>
#include <thread>  // std::thread::id, so ids compare with std::this_thread::get_id()
#include <tuple>
#include <type_traits>
#include <utility>

namespace velt::platform {
class Thread;
}

namespace velt::test {
namespace detail {

// What the new thread runs: the callable and its arguments, called once and then released on
// the new thread.
struct ThreadStart {
  virtual ~ThreadStart() = default;
  virtual void run() = 0;
  std::atomic<std::thread::id> id{};
};

template <class F, class... A>
struct ThreadStartOf final : ThreadStart {
  template <class G, class... B>
  explicit ThreadStartOf(G&& g, B&&... b) : call(std::forward<G>(g), std::forward<B>(b)...) {}
  void run() override {
    std::tuple<F, A...> c = std::move(call);
    std::apply([](auto&& f, auto&&... a) { std::invoke(std::move(f), std::move(a)...); },
               std::move(c));
  }
  std::tuple<F, A...> call;
};

}  // namespace detail

class thread {
 public:
  using id = std::thread::id;

  thread() noexcept;
  template <class F, class... A>
  requires(!std::is_same_v<std::remove_cvref_t<F>, thread> &&
           std::is_invocable_v<std::decay_t<F>, std::decay_t<A>...>) explicit thread(F&& f,
                                                                                     A&&... args)
      : thread() {
    start(std::make_shared<detail::ThreadStartOf<std::decay_t<F>, std::decay_t<A>...>>(
        std::forward<F>(f), std::forward<A>(args)...));
  }
  thread(thread&& other) noexcept;
  thread& operator=(thread&& other) noexcept;  // ends the process if *this is joinable
  ~thread();                                   // ends the process if joinable

  bool joinable() const noexcept;
  // Waits for the thread; rethrows the exception that ended it, if any.
  void join();
  void detach();
  id get_id() const noexcept;
  void swap(thread& other) noexcept;

  static unsigned int hardware_concurrency() noexcept;

 private:
  void start(std::shared_ptr<detail::ThreadStart> start);

  std::unique_ptr<platform::Thread> handle_;
  std::shared_ptr<detail::ThreadStart> start_;  // for the id
};

inline void swap(thread& a, thread& b) noexcept { a.swap(b); }

}  // namespace velt::test
