#include "src/bench.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

#include "src/platform/capture.h"
#include "src/platform/panic.h"
#include "src/stats.h"

namespace velt {
namespace {

using std::chrono::nanoseconds;

// A sample should last long enough that the clock's resolution and the cost of reading it
// do not matter.
constexpr nanoseconds TARGET_SAMPLE_TIME = std::chrono::milliseconds(1);
constexpr std::size_t SAMPLE_COUNT = 50;
constexpr nanoseconds TIME_BUDGET = std::chrono::seconds(1);
constexpr std::size_t MIN_SAMPLES = 5;

double time_batch(void (*batch)(void*, std::uint64_t), void* routine, std::uint64_t n) {
  auto start = Clock::now();
  batch(routine, n);
  return static_cast<double>(nanoseconds(Clock::now() - start).count());
}

// Clamps the extreme 5% at each end to the 5th and 95th percentiles, so that a stray
// interruption does not widen the reported range.
void winsorize(std::vector<double>& samples) {
  double lo = stats::percentile(samples, 5.0);
  double hi = stats::percentile(samples, 95.0);
  for (double& s : samples) s = std::clamp(s, lo, hi);
}

}  // namespace
}  // namespace velt

namespace velt::test {

void Bencher::run(void (*batch)(void*, std::uint64_t), void* routine) {
  if (mode == BenchMode::Single) {
    batch(routine, 1);
    return;
  }
  using namespace velt;
  // Warm up, and find how many iterations fill a sample.
  std::uint64_t n = 1;
  double elapsed = time_batch(batch, routine, n);
  while (elapsed < static_cast<double>(TARGET_SAMPLE_TIME.count()) && n < (1ull << 40)) {
    n = elapsed <= 0 ? n * 10
                     : std::max<std::uint64_t>(
                           n + 1, static_cast<std::uint64_t>(
                                      static_cast<double>(n) * 1.2 *
                                      static_cast<double>(TARGET_SAMPLE_TIME.count()) / elapsed));
    elapsed = time_batch(batch, routine, n);
  }
  std::vector<double> samples;
  samples.reserve(SAMPLE_COUNT);
  auto deadline = Clock::now() + TIME_BUDGET;
  while (samples.size() < SAMPLE_COUNT &&
         (samples.size() < MIN_SAMPLES || Clock::now() < deadline)) {
    samples.push_back(time_batch(batch, routine, n) / static_cast<double>(n));
  }
  winsorize(samples);
  summary = make_summary(samples);
}

}  // namespace velt::test

namespace velt {
namespace {

// Calls the body; success yields its summary (possibly none), failure its error text.
template <class Body>
Result<std::optional<Summary>, std::string> bench(Bencher& b, Body&& body) {
  Outcome o = body(b);
  if (!o.ok()) return Err{std::move(o.error())};
  return std::optional<Summary>(b.summary);
}

template <class Body>
Outcome run_once_impl(Body&& body) {
  Bencher b(test::BenchMode::Single);
  auto r = bench(b, body);
  if (!r.ok()) return test::error(std::move(r).error());
  return {};
}

std::uint64_t saturating_u64(double v) {
  if (!(v > 0)) return 0;  // negative and NaN
  if (v >= 18446744073709551615.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(v);
}

}  // namespace

Outcome run_once(BenchBodyFn body) { return run_once_impl(body); }
Outcome run_once(const DynamicBenchBody& body) { return run_once_impl(body); }

void benchmark(TestId id, TestDesc desc, platform::Sender<CompletedTest> tx, bool nocapture,
               RunnableBench body) {
  Bencher b(test::BenchMode::Auto);
  auto buffer = std::make_shared<platform::CaptureBuffer>();
  if (!nocapture) platform::set_output_capture(buffer);

  std::optional<Result<std::optional<Summary>, std::string>> outcome;
  try {
    outcome.emplace(bench(b, [&](Bencher& bencher) { return body.call(bencher); }));
  } catch (...) {
    platform::report_caught(platform::current_payload(), nullptr);
  }
  platform::set_output_capture(nullptr);

  TestResult result = Failed{};
  if (outcome && outcome->ok()) {
    if (const std::optional<Summary>& summary = **outcome) {
      std::uint64_t ns_iter = std::max<std::uint64_t>(saturating_u64(summary->median), 1);
      result = Bench{BenchSamples{*summary, static_cast<std::size_t>((b.bytes * 1000) / ns_iter)}};
    } else {
      const double zero[] = {0.0};
      result = Bench{BenchSamples{make_summary(zero), 0}};
    }
  }
  tx->send(CompletedTest{id, std::move(desc), std::move(result), std::nullopt, buffer->contents()});
}

}  // namespace velt
