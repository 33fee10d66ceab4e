#include "src/bench.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "include/velt/test.h"
#include "src/platform/capture.h"

namespace velt {
namespace {

// Measures `body` as the scheduler would and returns its completion. The test's own capture
// is put back afterwards: the runner leaves the thread with none.
CompletedTest measure(std::function<Outcome(Bencher&)> body, bool nocapture = false) {
  auto channel = std::make_shared<platform::Channel<CompletedTest>>();
  platform::CaptureHandle outer = platform::current_output_capture();
  benchmark(7, TestDesc{StaticName{"b"}}, channel, nocapture,
            RunnableBench(runnable_bench::Dynamic{std::move(body)}));
  platform::set_output_capture(outer);
  return channel->recv();
}

double seconds_since(Instant start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace
}  // namespace velt

using namespace std::chrono_literals;
using velt::test::Bencher;

VELT_TEST(bench::single_mode_runs_the_routine_once) {
  Bencher b(velt::test::BenchMode::Single);
  int calls = 0;
  b.iter([&] { ++calls; });
  std::uint64_t batch = 0;
  b.iter_batched([&](std::uint64_t n) {
    batch = n;
    return n;
  });
  VELT_ASSERT_EQ(calls, 1);
  VELT_ASSERT_EQ(batch, 1u);
  VELT_ASSERT(!b.summary.has_value());
}

// A routine with a floor on its cost: whatever the machine's load, no figure can be below it.
VELT_TEST(bench::measures_time_per_iteration) {
  Bencher b(velt::test::BenchMode::Auto);
  const auto routine = [] { std::this_thread::sleep_for(100us); };  // an lvalue, and const
  b.iter(routine);
  VELT_ASSERT(b.summary.has_value());
  const velt::Summary& s = *b.summary;
  VELT_ASSERT(s.min >= 100e3, "min {}", s.min);
  VELT_ASSERT(s.min <= s.median && s.median <= s.max, "{} {} {}", s.min, s.median, s.max);
}

namespace {

long counter;  // memory the optimiser can see all uses of, unlike a heap buffer

}  // namespace

// The work behind a routine's result, and the stores of a routine that returns nothing, must
// happen in every iteration. Hoisted out of the loop or merged into one, they would cost next
// to nothing: 10,000 additions take far more than 20 ns, and one increment a cycle is 0.2 ns
// at 5 GHz, where a merged loop of increments measures 0.00.
VELT_TEST(bench::work_is_neither_hoisted_nor_merged) {
  std::vector<long long> v(10000);
  std::iota(v.begin(), v.end(), 0);
  const struct {
    const char* what;
    std::function<void(Bencher&)> body;
    double floor;
  } cases[] = {
      {"result",
       [&](Bencher& b) { b.iter([&] { return std::accumulate(v.begin(), v.end(), 0LL); }); }, 20.0},
      {"stores", [](Bencher& b) { b.iter([] { ++counter; }); }, 0.01},
  };
  for (const auto& c : cases) {
    Bencher b(velt::test::BenchMode::Auto);
    c.body(b);
    VELT_ASSERT(b.summary->median > c.floor, "{}: {} ns/iter", c.what, b.summary->median);
  }
}

// Budget and floor: a fast routine ends within about a second; one too slow for five samples
// within the budget still gets five, after two warm-up calls (the first one runs cold).
VELT_TEST(bench::time_is_bounded_and_samples_are_enough) {
  velt::Instant start = velt::Clock::now();
  Bencher fast(velt::test::BenchMode::Auto);
  fast.iter([] { return velt::test::black_box(1) + 1; });
  double fast_seconds = velt::seconds_since(start);
  VELT_ASSERT(fast_seconds < 3.0, "{} s", fast_seconds);

  Bencher slow(velt::test::BenchMode::Auto);
  int calls = 0;
  slow.iter_batched([&](std::uint64_t n) {
    VELT_ASSERT_EQ(n, 1u);
    ++calls;
    std::this_thread::sleep_for(250ms);
  });
  VELT_ASSERT_EQ(calls, 7);
  VELT_ASSERT(slow.summary->min >= 250e6);
}

// The iteration count grows until a sample lasts about a millisecond, then stays fixed. A cold
// first call, slower than a whole sample, must not leave the samples at one iteration each,
// where the clock's own cost would be most of the figure.
VELT_TEST(bench::samples_last_about_a_millisecond) {
  for (bool cold_start : {false, true}) {
    Bencher b(velt::test::BenchMode::Auto);
    std::vector<std::uint64_t> batches;
    b.iter_batched([&](std::uint64_t n) {
      if (batches.empty() && cold_start) std::this_thread::sleep_for(30ms);
      batches.push_back(n);
      long long total = 0;
      for (std::uint64_t i = 0; i < n; ++i)
        total += velt::test::black_box(static_cast<long long>(i));
      return total;
    });
    VELT_ASSERT(batches.size() >= 50, "cold {}: {} batches", cold_start, batches.size());
    VELT_ASSERT_EQ(batches.front(), 1u);
    std::uint64_t n = batches.back();
    for (std::size_t i = batches.size() - 50; i < batches.size(); ++i) {
      VELT_ASSERT_EQ(batches[i], n);
    }
    // Each iteration costs about a nanosecond, so a millisecond takes some hundreds of thousands.
    VELT_ASSERT(n > 10000, "cold {}: {} iterations per sample", cold_start, n);
  }
}

VELT_TEST(bench::results_of_bodies) {
  using velt::Outcome;
  const struct {
    const char* what;
    std::function<Outcome(Bencher&)> body;
    const char* result;  // "failed" or the benchmark text
    const char* output;
  } cases[] = {
      {"never measures",
       [](Bencher&) {
         std::puts("set up only");
         return Outcome{};
       },
       "          0.00 ns/iter (+/- 0.00)", "set up only\n"},
      {"returns an error",
       [](Bencher& b) {
         b.iter([] { return 1; });
         return velt::test::error("not shown");
       },
       "failed", ""},
      // A panic is reported into the captured output, as for a test, but the result carries
      // no message.
      {"panics", [](Bencher&) -> Outcome { VELT_PANIC("gave up"); }, "failed", "gave up\n"},
      {"throws", [](Bencher&) -> Outcome { throw 42; }, "failed", "exception of type `int`\n"},
  };
  for (const auto& c : cases) {
    velt::CompletedTest done = velt::measure(c.body);
    VELT_ASSERT_EQ(done.id, 7u, "{}", c.what);
    VELT_ASSERT(!done.exec_time.has_value(), "{}", c.what);
    std::string result = "failed";
    if (const auto* bench = std::get_if<velt::Bench>(&done.result)) {
      result = velt::fmt_bench_samples(bench->samples);
    } else {
      VELT_ASSERT(std::holds_alternative<velt::Failed>(done.result), "{}", c.what);
    }
    VELT_ASSERT_EQ(result, c.result, "{}", c.what);
    VELT_ASSERT(done.stdout.ends_with(c.output), "{}: output {}", c.what, done.stdout);
    VELT_ASSERT(done.stdout.find("not shown") == std::string::npos, "{}", c.what);
  }
}

VELT_TEST(bench::nocapture_leaves_output_alone) {
  velt::CompletedTest done = velt::measure(
      [](Bencher&) {
        std::printf("to the test's own capture\n");
        return velt::Outcome{};
      },
      true);
  VELT_ASSERT_EQ(done.stdout, "");
}

// Throughput divides bytes by whole nanoseconds per iteration, never by zero, and saturates
// where bytes × 1000 would not fit in 64 bits.
VELT_TEST(bench::throughput) {
  constexpr std::uint64_t MAX = std::numeric_limits<std::uint64_t>::max();
  const struct {
    double median;
    std::uint64_t bytes;
    std::size_t want;
  } cases[] = {
      {0.4, 4096, 4096000},  // under a nanosecond counts as one
      {0.0, 10, 10000},
      {3.9, 1, 333},                     // 3 ns, and 1000 / 3 truncated
      {2e9, 1, 0},                       // under a megabyte a second
      {100.0, 0, 0},                     // no bytes: no figure
      {1000.0, 1ull << 62, 1ull << 62},  // past the exact product, still exact
      {1.0, 1ull << 63, MAX},
      {1e30, 5, 0},  // a median beyond 64 bits divides by the largest value
  };
  for (const auto& c : cases) {
    velt::CompletedTest done = velt::measure([&](Bencher& b) {
      b.bytes = c.bytes;
      velt::Summary s;
      s.median = c.median;
      b.summary = s;  // as a measurement would
      return velt::Outcome{};
    });
    const auto& bench = std::get<velt::Bench>(done.result);
    VELT_ASSERT_EQ(bench.samples.mb_per_second, c.want, "median {} bytes {}", c.median, c.bytes);
  }
}

VELT_TEST(bench::run_once_yields_the_body_outcome) {
  int calls = 0;
  velt::DynamicBenchBody measured = [&](Bencher& b) {
    b.iter([&] { ++calls; });
    VELT_ASSERT(b.mode == velt::test::BenchMode::Single);
    return velt::Outcome{};
  };
  VELT_ASSERT(velt::run_once(measured).ok());
  VELT_ASSERT_EQ(calls, 1);
  velt::Outcome failed =
      velt::run_once(velt::DynamicBenchBody([](Bencher&) { return velt::test::error("why"); }));
  VELT_ASSERT(!failed.ok());
  VELT_ASSERT_EQ(failed.error(), "why");
}
