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

// A sample lasts long enough that the clock's resolution and the cost of reading it (some
// 20 ns) are lost in it, and short enough that most samples miss the scheduler's interruptions
// on a busy machine, which the median then ignores.
constexpr nanoseconds SAMPLE_TIME = std::chrono::milliseconds(1);
// Long enough for caches, branch predictors, first touches of fresh buffers and the CPU's
// clock to settle before anything counts.
constexpr nanoseconds WARM_UP_TIME = std::chrono::milliseconds(20);
constexpr std::size_t SAMPLE_COUNT = 50;
constexpr std::size_t MIN_SAMPLES = 5;
// For the samples; a routine slower than this still gets MIN_SAMPLES.
constexpr nanoseconds TIME_BUDGET = std::chrono::seconds(1);
// No routine is fast enough to need more iterations for a sample; a bound keeps a clock that
// stands still from growing the batch forever.
constexpr std::uint64_t MAX_BATCH = std::uint64_t{1} << 40;

using BatchFn = void (*)(void*, std::uint64_t);

double time_batch(BatchFn batch, void* routine, std::uint64_t n) {
  Instant start = Clock::now();
  batch(routine, n);
  return static_cast<double>(nanoseconds(Clock::now() - start).count());
}

// Warms the routine up while growing the batch until one lasts a sample's time, and returns
// the batch size for the samples. It is taken from the fastest rate seen rather than the last
// one, so that an interruption during warm-up does not shorten every sample.
std::uint64_t warm_up(BatchFn batch, void* routine) {
  const auto target = static_cast<double>(SAMPLE_TIME.count());
  Instant start = Clock::now();
  std::uint64_t n = 1;
  double best = std::numeric_limits<double>::infinity();  // ns per iteration
  for (bool first = true;; first = false) {
    double elapsed = time_batch(batch, routine, n);
    // The first batch runs cold, paying for lazy initialisation and first touches of fresh
    // memory: it neither sizes the samples nor ends the warm-up. A batch much shorter than a
    // sample is mostly the clock's own cost.
    if (!first && elapsed >= target / 10) best = std::min(best, elapsed / static_cast<double>(n));
    bool full = elapsed >= target || n >= MAX_BATCH;
    if (!first && full && Clock::now() - start >= WARM_UP_TIME) break;
    if (!full) {
      // Aim a little past the target so that the next batch is likely the last of the growth;
      // `elapsed` includes the routine's whole cost, so this never overshoots by much.
      double next = elapsed > 0 ? static_cast<double>(n) * 1.2 * target / elapsed
                                : static_cast<double>(n) * 10;
      n = std::clamp(static_cast<std::uint64_t>(std::min(next, static_cast<double>(MAX_BATCH))),
                     n + 1, MAX_BATCH);
    }
  }
  // Not one batch took measurable time: the routine costs nothing (the optimiser removed it),
  // and the largest batch is the figure that says so.
  if (best == std::numeric_limits<double>::infinity()) return MAX_BATCH;
  if (best >= target) return 1;  // one iteration already fills a sample
  return std::clamp(static_cast<std::uint64_t>(std::ceil(target / best)), std::uint64_t{1},
                    MAX_BATCH);
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
  std::uint64_t n = warm_up(batch, routine);
  std::vector<double> samples;
  samples.reserve(SAMPLE_COUNT);
  Instant deadline = Clock::now() + TIME_BUDGET;
  do {
    samples.push_back(time_batch(batch, routine, n) / static_cast<double>(n));
  } while (samples.size() < SAMPLE_COUNT &&
           (samples.size() < MIN_SAMPLES || Clock::now() < deadline));
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

// Truncation toward zero that saturates: negatives and NaN give 0, huge values the maximum.
std::uint64_t saturating_u64(double v) {
  if (!(v > 0)) return 0;
  // 2^64 is exactly representable; anything at or above it does not fit.
  if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(v);
}

// Bytes per nanosecond times 1000 is megabytes per second. The product is exact up to some
// 18 PB per iteration; past that it would wrap round to a small, wrong figure, so it is worked
// in long double (64 significant bits) and saturates instead.
std::size_t mb_per_second(std::uint64_t bytes, std::uint64_t ns_iter) {
  constexpr std::uint64_t MAX = std::numeric_limits<std::uint64_t>::max();
  if (bytes <= MAX / 1000) return bytes * 1000 / ns_iter;
  long double mb = static_cast<long double>(bytes) * 1000.0L / static_cast<long double>(ns_iter);
  return mb >= 18446744073709551616.0L ? MAX : static_cast<std::uint64_t>(mb);
}

}  // namespace

Outcome run_once(BenchBodyFn body) { return run_once_impl(body); }
Outcome run_once(const DynamicBenchBody& body) { return run_once_impl(body); }

void benchmark(TestId id, TestDesc desc, platform::Sender<CompletedTest> tx, bool nocapture,
               RunnableBench body) {
  Bencher b(test::BenchMode::Auto);
  auto buffer = std::make_shared<platform::CaptureBuffer>();
  if (!nocapture) platform::set_output_capture(buffer);

  // Empty when the body panicked.
  std::optional<Result<std::optional<Summary>, std::string>> outcome;
  try {
    outcome.emplace(bench(b, [&](Bencher& bencher) { return body.call(bencher); }));
  } catch (...) {
    // The report goes to the captured output, where the failure listing shows it; the result
    // itself carries no message.
    platform::Location where{std::string(desc.source_path), static_cast<unsigned>(desc.start_line),
                             static_cast<unsigned>(desc.start_col)};
    platform::report_caught(platform::current_payload(),
                            desc.source_path.empty() ? nullptr : &where);
  }
  platform::set_output_capture(nullptr);

  TestResult result = Failed{};
  if (outcome && outcome->ok()) {
    if (const std::optional<Summary>& summary = **outcome) {
      std::uint64_t ns_iter = std::max<std::uint64_t>(saturating_u64(summary->median), 1);
      result = Bench{BenchSamples{*summary, mb_per_second(b.bytes, ns_iter)}};
    } else {
      // The body never measured: it reports a single sample of nothing.
      const double zero[] = {0.0};
      result = Bench{BenchSamples{make_summary(zero), 0}};
    }
  }
  tx->send(CompletedTest{id, std::move(desc), std::move(result), std::nullopt, buffer->contents()});
}

}  // namespace velt
