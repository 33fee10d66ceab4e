#include "src/stats.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "include/velt/test.h"
#include "src/platform/panic.h"
#include "tests/support/panic_message.h"

namespace {

using velt::Summary;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

using velt::testing::panic_message;

// Shortest text with the sign, since -0.0 == 0.0 and NaN != NaN: "-0", "-nan", "5e-324".
std::string render(double x) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, end);
}

// Equal as values, with NaN equal to NaN: the one-sample percentages are meant to be NaN.
bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

VELT_TEST(stats::sum_is_exact) {
  const struct {
    std::vector<double> samples;
    double want;
  } cases[] = {
      {{1e100, 1.0, -1e100}, 1.0},  // a running total would give 0.0
      {{0.1, 0.2, 0.3}, 0.6},       // a running total gives 0.6000000000000001
      {{}, 0.0},
      {{-2.5}, -2.5},
      {{1.0, NaN}, NaN},
  };
  for (const auto& c : cases) {
    double got = velt::stats::sum(c.samples);
    VELT_ASSERT(same(got, c.want), "sum of {} samples: {} want {}", c.samples.size(), got, c.want);
  }
}

VELT_TEST(stats::summary_of_known_samples) {
  const struct {
    std::vector<double> samples;
    Summary want;
  } cases[] = {
      {{4.0, 1.0, 3.0, 2.0},  // unsorted on purpose: percentiles sort a copy
       {.sum = 10.0,
        .min = 1.0,
        .max = 4.0,
        .mean = 2.5,
        .median = 2.5,
        .var = 5.0 / 3.0,
        .std_dev = std::sqrt(5.0 / 3.0),
        .std_dev_pct = std::sqrt(5.0 / 3.0) / 2.5 * 100.0,
        .median_abs_dev = 1.4826,
        .median_abs_dev_pct = 1.4826 / 2.5 * 100.0,
        .quartiles = {1.75, 2.5, 3.25},
        .iqr = 1.5}},
      {{7.0},
       {.sum = 7.0,
        .min = 7.0,
        .max = 7.0,
        .mean = 7.0,
        .median = 7.0,
        .var = 0.0,
        .std_dev = 0.0,
        .std_dev_pct = 0.0,
        .median_abs_dev = 0.0,
        .median_abs_dev_pct = 0.0,
        .quartiles = {7.0, 7.0, 7.0},
        .iqr = 0.0}},
      {{0.0},  // what a benchmark that never measured reports: 0 / 0 percentages
       {.sum = 0.0,
        .min = 0.0,
        .max = 0.0,
        .mean = 0.0,
        .median = 0.0,
        .var = 0.0,
        .std_dev = 0.0,
        .std_dev_pct = NaN,
        .median_abs_dev = 0.0,
        .median_abs_dev_pct = NaN,
        .quartiles = {0.0, 0.0, 0.0},
        .iqr = 0.0}},
  };
  for (const auto& c : cases) {
    Summary got = velt::make_summary(c.samples);
    const struct {
      const char* field;
      double got, want;
    } fields[] = {{"sum", got.sum, c.want.sum},
                  {"min", got.min, c.want.min},
                  {"max", got.max, c.want.max},
                  {"mean", got.mean, c.want.mean},
                  {"median", got.median, c.want.median},
                  {"var", got.var, c.want.var},
                  {"std_dev", got.std_dev, c.want.std_dev},
                  {"std_dev_pct", got.std_dev_pct, c.want.std_dev_pct},
                  {"median_abs_dev", got.median_abs_dev, c.want.median_abs_dev},
                  {"median_abs_dev_pct", got.median_abs_dev_pct, c.want.median_abs_dev_pct},
                  {"q1", got.quartiles[0], c.want.quartiles[0]},
                  {"q2", got.quartiles[1], c.want.quartiles[1]},
                  {"q3", got.quartiles[2], c.want.quartiles[2]},
                  {"iqr", got.iqr, c.want.iqr}};
    for (const auto& f : fields) {
      VELT_ASSERT(same(f.got, f.want), "{} of {} samples: {} want {}", f.field, c.samples.size(),
                  f.got, f.want);
    }
  }
}

VELT_TEST(stats::percentile_interpolates_between_ranks) {
  const std::vector<double> s = {10.0, 20.0, 30.0, 40.0, 50.0};
  const struct {
    double pct, want;
  } cases[] = {{0.0, 10.0}, {100.0, 50.0}, {10.0, 14.0}, {62.5, 35.0}, {99.0, 49.6}};
  for (const auto& c : cases) {
    double got = velt::stats::percentile(s, c.pct);
    VELT_ASSERT(std::fabs(got - c.want) < 1e-9, "pct {}: {} want {}", c.pct, got, c.want);
  }
  // A single sample answers any percentile, even one that is out of range.
  VELT_ASSERT_EQ(velt::stats::percentile_of_sorted(std::vector<double>{3.0}, 250.0), 3.0);
}

VELT_TEST(stats::nan_is_ignored_by_min_and_max) {
  const struct {
    std::vector<double> samples;
    double min, max;
  } cases[] = {
      {{NaN, 2.0, 1.0}, 1.0, 2.0},  // NaN first: it must not stick as the start value
      {{3.0, NaN, -1.0}, -1.0, 3.0}, {{5.0, NaN}, 5.0, 5.0},
      {{NaN, NaN}, NaN, NaN},        {{-INF, INF}, -INF, INF},
  };
  for (const auto& c : cases) {
    double lo = velt::stats::min(c.samples);
    double hi = velt::stats::max(c.samples);
    VELT_ASSERT(same(lo, c.min) && same(hi, c.max), "min {} max {} want {} {}", lo, hi, c.min,
                c.max);
  }
}

VELT_TEST(stats::local_sort_uses_total_order) {
  std::vector<double> v = {NaN, 1.0, -0.0, INF, -NaN, 0.0, -INF, -1.0, 4.9e-324};
  velt::stats::local_sort(v);
  std::string got;
  for (double x : v) got += render(x) + " ";
  VELT_ASSERT_EQ(got, "-nan -inf -1 -0 0 5e-324 1 inf nan ");
}

VELT_TEST(stats::preconditions_panic) {
  const std::vector<double> empty;
  const std::vector<double> two = {1.0, 2.0};
  double q[3];
  const struct {
    const char* what;
    std::function<void()> call;
    const char* message;
  } cases[] = {
      {"min", [&] { velt::stats::min(empty); }, "assertion failed: !self.is_empty()"},
      {"max", [&] { velt::stats::max(empty); }, "assertion failed: !self.is_empty()"},
      {"median", [&] { velt::stats::median(empty); },
       "assertion failed: !sorted_samples.is_empty()"},
      {"quartiles", [&] { velt::stats::quartiles(empty, q); },
       "assertion failed: !sorted_samples.is_empty()"},
      {"summary", [&] { velt::make_summary(empty); }, "assertion failed: !self.is_empty()"},
      {"negative", [&] { velt::stats::percentile(two, -0.5); }, "assertion failed: zero <= pct"},
      {"nan", [&] { velt::stats::percentile(two, NaN); }, "assertion failed: zero <= pct"},
      {"above", [&] { velt::stats::percentile(two, 100.5); }, "assertion failed: pct <= hundred"},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(panic_message(c.call), c.message, "{}", c.what);
  }
}

VELT_TEST(stats::fmt_thousands_sep) {
  const struct {
    double n;
    const char* want;
  } cases[] = {
      {0.0, "0.00"},
      {12.3456, "12.35"},
      {0.125, "0.12"},  // an exact tie rounds to even
      {0.375, "0.38"},
      {999.999, "1000.00"},  // the thousands test comes before rounding
      {1000.5, "1,000.50"},
      {1000005.5, "1,000,005.50"},  // inner groups are zero-padded
      {1234567.891, "1,234,567.89"},
      {1e12, "1000,000,000,000.00"},  // no group above 10^9
  };
  for (const auto& c : cases) VELT_ASSERT_EQ(velt::fmt_thousands_sep(c.n), c.want);
}

VELT_TEST(stats::fmt_bench_samples) {
  Summary measured{.min = 1200.0, .max = 1300.25, .median = 1234.5};
  Summary wide{.min = 2000000.0, .max = 3000000.0, .median = 2500000.0};
  Summary huge{.min = 0.0, .max = 1.0, .median = 1e12};
  const struct {
    velt::BenchSamples samples;
    const char* want;
  } cases[] = {
      {{measured, 0}, "      1,234.50 ns/iter (+/- 100.25)"},
      {{wide, 400}, "  2,500,000.00 ns/iter (+/- 1,000,000.00) = 400 MB/s"},
      {{velt::make_summary(std::vector<double>{0.0}), 0}, "          0.00 ns/iter (+/- 0.00)"},
      {{huge, 0}, "1000,000,000,000.00 ns/iter (+/- 1.00)"},  // wider than the field: not cut
  };
  for (const auto& c : cases) VELT_ASSERT_EQ(velt::fmt_bench_samples(c.samples), c.want);
}
