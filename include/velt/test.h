// velt-test: register tests and benchmarks, assert, and hand the table to the harness.
//
//   #include <velt/test.h>
//
//   VELT_TEST(math::adds) { VELT_ASSERT_EQ(1 + 1, 2); }
//   VELT_TEST(math::slow, velt::test::ignore("takes a minute")) { ... }
//   VELT_TEST(math::divide_by_zero, velt::test::should_panic("division")) { ... }
//   VELT_TEST_RESULT(io::reads) { if (!ok) return velt::test::error("no data"); return {}; }
//   VELT_BENCH(math::sum) { b.iter([] { return velt::test::black_box(40) + 2; }); }
//
// Link `velt::test_main` for a ready-made main (`velt::test_main_isolated` to run each test in
// a child process), or call test_main_static yourself.
// This header is included by every test file, so it stays small: no <iostream>, no <regex>.
#pragma once

#include <cstddef>          // std::size_t
#include <cstdint>          // std::uint64_t
#include <iosfwd>           // std::ostream, for values that can be streamed into a message
#include <optional>         // Bencher::summary
#include <source_location>  // where a panic or a test comes from
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>  // std::cmp_equal

namespace velt::test {

// ---------------------------------------------------------------------------------------------
// What a test body returns: success, or the text of why it failed.

class Outcome {
 public:
  Outcome() = default;  // success
  static Outcome failure(std::string message) {
    Outcome o;
    o.failed_ = true;
    o.message_ = std::move(message);
    return o;
  }
  bool ok() const { return !failed_; }
  const std::string& error() const { return message_; }
  std::string& error() { return message_; }

 private:
  bool failed_ = false;
  std::string message_;
};

inline Outcome ok() { return {}; }
inline Outcome error(std::string message) { return Outcome::failure(std::move(message)); }

// ---------------------------------------------------------------------------------------------
// Attributes of a registered test.

enum class TestType : unsigned char { UnitTest, IntegrationTest, DocTest, Unknown };

struct Ignore {
  const char* message = nullptr;
  constexpr Ignore operator()(const char* reason) const { return Ignore{reason}; }
};
struct ShouldPanic {
  bool with_message = false;
  const char* expected = nullptr;
  constexpr ShouldPanic operator()(const char* expected_substring) const {
    return ShouldPanic{true, expected_substring};
  }
};
struct Kind {
  TestType type;
};

// `ignore` or `ignore("reason")`: skipped unless run with --ignored or --include-ignored.
inline constexpr Ignore ignore{};
// `should_panic` or `should_panic("substring")`: passes only if the body panics (with a
// message containing the substring).
inline constexpr ShouldPanic should_panic{};
// The kind of test, which picks its time thresholds; unit tests are the default.
inline constexpr Kind unit_test{TestType::UnitTest};
inline constexpr Kind integration_test{TestType::IntegrationTest};
inline constexpr Kind doc_test{TestType::DocTest};
inline constexpr Kind unknown_test_type{TestType::Unknown};

struct Attributes {
  bool ignore = false;
  const char* ignore_message = nullptr;
  bool should_panic = false;
  const char* expected_panic = nullptr;  // set with should_panic("...")
  bool expects_message = false;
  TestType type = TestType::UnitTest;

  constexpr void apply(Ignore i) {
    ignore = true;
    ignore_message = i.message;
  }
  constexpr void apply(ShouldPanic p) {
    should_panic = true;
    expects_message = p.with_message;
    expected_panic = p.expected;
  }
  constexpr void apply(Kind k) { type = k.type; }
};

template <class... A>
constexpr Attributes attributes(A... a) {
  Attributes attrs;
  (attrs.apply(a), ...);
  return attrs;
}

// ---------------------------------------------------------------------------------------------
// Benchmarks.

// Statistics over a benchmark's samples (nanoseconds per iteration).
struct Summary {
  double sum = 0, min = 0, max = 0, mean = 0, median = 0, var = 0, std_dev = 0, std_dev_pct = 0,
         median_abs_dev = 0, median_abs_dev_pct = 0;
  double quartiles[3] = {0, 0, 0};
  double iqr = 0;
};

enum class BenchMode : unsigned char { Auto, Single };

// Returns `value` unchanged, but the optimiser must assume that it was read and rewritten by
// code it cannot see: the work that computed it is kept, and the result is no known constant
// that could be folded into what follows or hoisted out of a loop.
template <class T>
inline T black_box(T value) {
  // The asm takes the value's address and may touch any memory, so the value has to be in
  // memory before it and is read back after it; it emits no instruction.
  asm volatile("" : : "r"(&value) : "memory");
  return value;
}

// What a benchmark body receives:
//
//   VELT_BENCH(copy_4k) {
//     std::vector<char> src(4096, 'x'), dst(4096);
//     b.bytes = src.size();  // adds "= N MB/s" to the report
//     b.iter([&] { return std::memcpy(dst.data(), src.data(), src.size()); });
//   }
//
// Measured (with --bench), a routine runs first to warm up and to find how many iterations
// make a sample of about a millisecond, then for 50 such samples or one second, whichever
// ends first (at least 5 samples, however slow the routine); the extreme 5% at either end
// are clamped, and `summary` holds the statistics of nanoseconds per iteration. Run as a test,
// the routine runs once.
class Bencher {
 public:
  explicit Bencher(BenchMode m) : mode(m) {}

  // Times `routine()`. What it returns goes through black_box, so the work behind it is kept;
  // a routine that returns nothing has its writes to memory kept instead.
  template <class F>
  void iter(F&& routine) {
    run(
        [](void* f, std::uint64_t n) {
          auto& r = *static_cast<std::remove_reference_t<F>*>(f);
          for (std::uint64_t i = 0; i < n; ++i) call_kept(r);
        },
        erase(routine));
  }
  // Times `routine(n)`, which runs n iterations itself: for set-up that would dwarf one
  // iteration, done once per call and spread over its n iterations.
  template <class F>
  void iter_batched(F&& routine) {
    run(
        [](void* f, std::uint64_t n) {
          auto& r = *static_cast<std::remove_reference_t<F>*>(f);
          call_kept(r, n);
        },
        erase(routine));
  }

  BenchMode mode;
  std::optional<Summary> summary;  // set by iter and iter_batched when measured
  std::uint64_t bytes = 0;         // bytes one iteration processes; 0: no throughput figure

 private:
  // The routine passes through `run` untyped; the batch function casts it back to its own
  // type, const included, so the const_cast never lets a const routine be changed.
  template <class F>
  static void* erase(F& routine) {
    return const_cast<void*>(static_cast<const void*>(&routine));
  }
  template <class F, class... A>
  static void call_kept(F& f, A... a) {
    if constexpr (std::is_void_v<decltype(f(a...))>) {
      f(a...);
      asm volatile("" : : : "memory");  // its stores happen in every iteration, not once
    } else {
      black_box(f(a...));
    }
  }
  // Runs batches of the routine, `batch(routine, n)` running n iterations, and records the
  // time per iteration in `summary`; in Single mode runs one iteration.
  void run(void (*batch)(void*, std::uint64_t), void* routine);
};

// ---------------------------------------------------------------------------------------------
// The registered table.

enum class EntryKind : unsigned char { Test, Bench };

struct TestEntry {
  const char* name;
  const char* file;
  unsigned line;
  unsigned column;
  Attributes attrs;
  EntryKind kind;
  Outcome (*test)();
  Outcome (*bench)(Bencher&);
};

struct TestTable {
  const TestEntry* const* entries = nullptr;
  std::size_t size = 0;
};

// The tests and benchmarks registered with the macros below, sorted by name byte-wise.
TestTable registered_tests();

// Runs `table` with the process's command line. Returns when everything asked for succeeded
// (exit status 0); otherwise ends the process with status 101.
void test_main_static(TestTable table);
// Like test_main_static, but each test runs in a child copy of this executable, so a test that
// crashes, aborts or exits fails alone and the run goes on. Costs one process start per test.
// A process started with __VELT_TEST_INVOKE set is such a child: it runs that one test.
void test_main_isolated(TestTable table);

// ---------------------------------------------------------------------------------------------
// Panics and assertions.

// Ends the running test (or thread) as a failure with `message`.
[[noreturn]] void panic(std::string message,
                        std::source_location where = std::source_location::current());

namespace detail {

// One per registered test: links itself into the process's list at start-up.
struct Registrar {
  explicit Registrar(const TestEntry* e);
  const TestEntry* entry;
  const Registrar* next;
};

template <void (*F)()>
Outcome run_void() {
  F();
  return {};
}
void print_error(const std::string& message);
template <Outcome (*F)()>
Outcome run_outcome() {
  Outcome o = F();
  if (!o.ok()) print_error(o.error());
  return o;
}
template <void (*F)(Bencher&)>
Outcome run_bench(Bencher& b) {
  F(b);
  return {};
}

std::string number_string(long long v);
std::string number_string(unsigned long long v);
std::string number_string(long double v);
std::string number_string(double v);
std::string number_string(float v);  // its own shortest digits: 0.1f shows as 0.1
std::string char_string(char c);
std::string quoted(std::string_view text);
std::string pointer_string(const void* p);
std::string streamed(void (*write)(std::ostream&, const void*), const void* value);
std::string unprintable();

template <class T>
concept Streamable = requires(std::ostream& os, const T& v) {
  os << v;
};

// How a value appears in an assertion message; `debug` quotes texts, `display` does not.
template <class T>
std::string to_text(const T& v, bool debug) {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, bool>) {
    return v ? "true" : "false";
  } else if constexpr (std::is_same_v<U, char>) {
    return debug ? char_string(v) : std::string(1, v);
  } else if constexpr (std::is_same_v<U, std::nullptr_t>) {
    return "nullptr";
  } else if constexpr (std::is_floating_point_v<U>) {
    return number_string(v);
  } else if constexpr (std::is_integral_v<U> && std::is_signed_v<U>) {
    return number_string(static_cast<long long>(v));
  } else if constexpr (std::is_integral_v<U>) {
    return number_string(static_cast<unsigned long long>(v));
  } else if constexpr (std::is_convertible_v<const U&, std::string_view>) {
    return debug ? quoted(std::string_view(v)) : std::string(std::string_view(v));
  } else if constexpr (Streamable<U>) {
    return streamed([](std::ostream& os, const void* p) { os << *static_cast<const U*>(p); }, &v);
  } else if constexpr (std::is_enum_v<U>) {
    return to_text(static_cast<std::underlying_type_t<U>>(v), debug);
  } else if constexpr (std::is_pointer_v<U>) {
    return pointer_string(static_cast<const void*>(v));
  } else {
    return unprintable();
  }
}

// "{}" placeholders are replaced by the arguments in order; "{{" and "}}" stand for braces.
std::string format_message(std::string_view format, const std::string* args, std::size_t n);
inline std::string format() { return {}; }
template <class... A>
std::string format(std::string_view fmt, const A&... args) {
  const std::string texts[sizeof...(A) + 1] = {to_text(args, false)..., std::string()};
  return format_message(fmt, texts, sizeof...(A));
}

[[noreturn]] void assert_failed(const char* condition, std::string message,
                                std::source_location where);
[[noreturn]] void compare_failed(const char* op, const char* left_text, const char* right_text,
                                 std::string left, std::string right, std::string message,
                                 std::source_location where);

template <class L, class R>
bool equal(const L& l, const R& r) {
  if constexpr (std::is_integral_v<L> && std::is_integral_v<R> && !std::is_same_v<L, bool> &&
                !std::is_same_v<R, bool>) {
    return std::cmp_equal(l, r);  // no surprises from signed/unsigned conversions
  } else {
    return l == r;
  }
}

struct Mismatch {
  std::string left, right;
};
struct Eq {
  static constexpr const char* text = "==";
  template <class L, class R>
  static bool holds(const L& l, const R& r) {
    return equal(l, r);
  }
};
struct Ne {
  static constexpr const char* text = "!=";
  template <class L, class R>
  static bool holds(const L& l, const R& r) {
    return !equal(l, r);
  }
};

// Both operands are compared, and shown on failure, within the one full expression that
// produced them, so that a reference into a temporary is never kept past its life.
template <class Op, class L, class R>
std::optional<Mismatch> compare(const L& l, const R& r) {
  if (Op::holds(l, r)) return std::nullopt;
  return Mismatch{to_text(l, true), to_text(r, true)};
}

}  // namespace detail
}  // namespace velt::test

#define VELT_CAT2_(a, b) a##b
#define VELT_CAT_(a, b) VELT_CAT2_(a, b)

#define VELT_REGISTER_(id, name, kind, test_fn, bench_fn, ...)          \
  static constinit const ::velt::test::TestEntry VELT_CAT_(id, _entry){ \
      #name,                                                            \
      __FILE__,                                                         \
      std::source_location::current().line(),                           \
      std::source_location::current().column(),                         \
      ::velt::test::attributes(__VA_ARGS__),                            \
      ::velt::test::EntryKind::kind,                                    \
      test_fn,                                                          \
      bench_fn};                                                        \
  static const ::velt::test::detail::Registrar VELT_CAT_(id, _reg) { &VELT_CAT_(id, _entry) }

#define VELT_TEST_IMPL_(id, name, ...)                                                        \
  static void id();                                                                           \
  VELT_REGISTER_(id, name, Test, &::velt::test::detail::run_void<&id>, nullptr, __VA_ARGS__); \
  static void id()

#define VELT_TEST_RESULT_IMPL_(id, name, ...)                                                    \
  static ::velt::test::Outcome id();                                                             \
  VELT_REGISTER_(id, name, Test, &::velt::test::detail::run_outcome<&id>, nullptr, __VA_ARGS__); \
  static ::velt::test::Outcome id()

#define VELT_BENCH_IMPL_(id, name, ...)                                                         \
  static void id(::velt::test::Bencher&);                                                       \
  VELT_REGISTER_(id, name, Bench, nullptr, &::velt::test::detail::run_bench<&id>, __VA_ARGS__); \
  static void id([[maybe_unused]] ::velt::test::Bencher& b)

// A test: `VELT_TEST(suite::name, attributes...) { body }`. The body passes by returning and
// fails by panicking (a failed assertion, VELT_PANIC, or any exception).
#define VELT_TEST(name, ...) \
  VELT_TEST_IMPL_(VELT_CAT_(velt_test_, __COUNTER__), name __VA_OPT__(, ) __VA_ARGS__)
// A test whose body returns velt::test::Outcome: `return {};` passes, `return
// velt::test::error("why");` fails and prints its text, "why", to the test's stderr.
#define VELT_TEST_RESULT(name, ...) \
  VELT_TEST_RESULT_IMPL_(VELT_CAT_(velt_test_, __COUNTER__), name __VA_OPT__(, ) __VA_ARGS__)
// A benchmark; the body receives `velt::test::Bencher& b` and times its routine with b.iter.
#define VELT_BENCH(name, ...) \
  VELT_BENCH_IMPL_(VELT_CAT_(velt_bench_, __COUNTER__), name __VA_OPT__(, ) __VA_ARGS__)

// Fails the running test with a formatted message: VELT_PANIC("bad value {}", v).
#define VELT_PANIC(...) ::velt::test::panic(::velt::test::detail::format(__VA_ARGS__))

// VELT_ASSERT(cond) or VELT_ASSERT(cond, "format {}", args...).
#define VELT_ASSERT(cond, ...)                                                              \
  do {                                                                                      \
    if (!static_cast<bool>(cond))                                                           \
      ::velt::test::detail::assert_failed(#cond, ::velt::test::detail::format(__VA_ARGS__), \
                                          std::source_location::current());                 \
  } while (0)

#define VELT_ASSERT_CMP_(Op, l, r, ...)                                                          \
  do {                                                                                           \
    if (auto velt_mismatch_ = ::velt::test::detail::compare<::velt::test::detail::Op>((l), (r))) \
      ::velt::test::detail::compare_failed(                                                      \
          ::velt::test::detail::Op::text, #l, #r, std::move(velt_mismatch_->left),               \
          std::move(velt_mismatch_->right), ::velt::test::detail::format(__VA_ARGS__),           \
          std::source_location::current());                                                      \
  } while (0)

// VELT_ASSERT_EQ(left, right) or with a trailing "format {}", args...; both values are shown.
#define VELT_ASSERT_EQ(l, r, ...) VELT_ASSERT_CMP_(Eq, l, r, __VA_ARGS__)
#define VELT_ASSERT_NE(l, r, ...) VELT_ASSERT_CMP_(Ne, l, r, __VA_ARGS__)
