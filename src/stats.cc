// Statistics over benchmark samples. The order of operations is deliberate throughout: it
// decides the last bits of every figure, and those bits are what the reports print.
#include "src/stats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace velt {
namespace stats {
namespace {

std::vector<double> sorted_copy(std::span<const double> s) {
  std::vector<double> v(s.begin(), s.end());
  local_sort(v);
  return v;
}

// The bits of `x` rearranged so that signed integer order is the IEEE total order: negative
// values have their magnitude bits flipped, so -inf sorts below -1 and -NaN below both.
std::int64_t total_order_key(double x) {
  std::int64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

}  // namespace

// Shewchuk's exact partial sums: the partials never overlap, so 1e100 + 1.0 - 1e100 keeps its
// 1.0 where a running total would have lost it.
double sum(std::span<const double> s) {
  std::vector<double> partials;
  for (double x : s) {
    std::size_t j = 0;
    for (std::size_t i = 0, n = partials.size(); i < n; ++i) {
      double y = partials[i];
      if (std::fabs(x) < std::fabs(y)) std::swap(x, y);
      double hi = x + y;
      double lo = y - (hi - x);
      if (lo != 0.0) partials[j++] = lo;  // a NaN is kept, so it reaches the result
      x = hi;
    }
    if (j >= partials.size()) {
      partials.push_back(x);
    } else {
      partials[j] = x;
      partials.resize(j + 1);
    }
  }
  double total = 0.0;
  for (double p : partials) total += p;
  return total;
}

// std::fmin/fmax are the IEEE operations that drop a NaN operand.
double min(std::span<const double> s) {
  if (s.empty()) test::panic("assertion failed: !self.is_empty()");
  double m = s[0];
  for (double x : s) m = std::fmin(m, x);
  return m;
}

double max(std::span<const double> s) {
  if (s.empty()) test::panic("assertion failed: !self.is_empty()");
  double m = s[0];
  for (double x : s) m = std::fmax(m, x);
  return m;
}

double mean(std::span<const double> s) { return sum(s) / static_cast<double>(s.size()); }

double median(std::span<const double> s) { return percentile(s, 50.0); }

// Sample variance (divides by n - 1).
double var(std::span<const double> s) {
  if (s.size() < 2) return 0.0;
  double m = mean(s);
  double acc = 0.0;
  for (double x : s) acc += (x - m) * (x - m);
  return acc / static_cast<double>(s.size() - 1);
}

double std_dev(std::span<const double> s) { return std::sqrt(var(s)); }

double std_dev_pct(std::span<const double> s) { return (std_dev(s) / mean(s)) * 100.0; }

// Scaled by 1.4826 so that it estimates the standard deviation of normally distributed samples.
double median_abs_dev(std::span<const double> s) {
  double med = median(s);
  std::vector<double> devs;
  devs.reserve(s.size());
  for (double x : s) devs.push_back(std::fabs(med - x));
  return median(devs) * 1.4826;
}

double median_abs_dev_pct(std::span<const double> s) {
  return (median_abs_dev(s) / median(s)) * 100.0;
}

double percentile(std::span<const double> s, double pct) {
  return percentile_of_sorted(sorted_copy(s), pct);
}

double percentile_of_sorted(std::span<const double> sorted, double pct) {
  std::size_t n = sorted.size();
  if (n == 1) return sorted[0];
  if (n == 0) test::panic("assertion failed: !sorted_samples.is_empty()");
  if (!(pct >= 0.0)) test::panic("assertion failed: zero <= pct");  // NaN fails here too
  if (pct > 100.0) test::panic("assertion failed: pct <= hundred");
  if (pct == 100.0) return sorted[n - 1];
  double rank = (pct / 100.0) * static_cast<double>(n - 1);
  double lower = std::floor(rank);
  auto i = static_cast<std::size_t>(lower);
  return (sorted[i + 1] - sorted[i]) * (rank - lower) + sorted[i];
}

void quartiles(std::span<const double> s, double out[3]) {
  std::vector<double> sorted = sorted_copy(s);
  out[0] = percentile_of_sorted(sorted, 25.0);
  out[1] = percentile_of_sorted(sorted, 50.0);
  out[2] = percentile_of_sorted(sorted, 75.0);
}

double iqr(std::span<const double> s) {
  double q[3];
  quartiles(s, q);
  return q[2] - q[0];
}

void local_sort(std::span<double> s) {
  std::sort(s.begin(), s.end(),
            [](double a, double b) { return total_order_key(a) < total_order_key(b); });
}

}  // namespace stats

Summary make_summary(std::span<const double> samples) {
  Summary r;
  r.sum = stats::sum(samples);
  r.min = stats::min(samples);
  r.max = stats::max(samples);
  r.mean = stats::mean(samples);
  r.median = stats::median(samples);
  r.var = stats::var(samples);
  r.std_dev = stats::std_dev(samples);
  r.std_dev_pct = stats::std_dev_pct(samples);
  r.median_abs_dev = stats::median_abs_dev(samples);
  r.median_abs_dev_pct = stats::median_abs_dev_pct(samples);
  stats::quartiles(samples, r.quartiles);
  r.iqr = stats::iqr(samples);
  return r;
}

namespace {

// Two decimals, correctly rounded; zero-padded after the sign up to `width` ("005.50").
std::string two_decimals(double v, std::size_t width = 0) {
  if (std::isnan(v)) return "NaN";
  char buf[400];  // DBL_MAX has 309 integer digits
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
  std::string text(buf, end);
  if (text.size() < width && std::isfinite(v)) {
    text.insert(text[0] == '-' ? 1 : 0, width - text.size(), '0');
  }
  return text;
}

// Truncation toward zero that saturates: negatives and NaN give 0, huge values the maximum.
std::size_t saturating_size(double v) {
  if (!(v > 0.0)) return 0;
  // 2^64 is exactly representable; anything at or above it does not fit.
  if (v >= 18446744073709551616.0) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(v);
}

}  // namespace

std::string fmt_thousands_sep(double n, char sep) {
  std::string out;
  bool started = false;
  for (int pow : {9, 6, 3, 0}) {
    std::size_t base = 1;
    for (int i = 0; i < pow; ++i) base *= 10;
    auto fbase = static_cast<double>(base);
    if (pow == 0 || started || n / fbase >= 1.0) {
      if (pow == 0) {
        out += two_decimals(n, started ? 6 : 0);
      } else {
        std::string group = std::to_string(saturating_size(n) / base);
        if (started && group.size() < 3) out.append(3 - group.size(), '0');
        out += group;
        out += sep;
      }
      started = true;
    }
    n = std::fmod(n, fbase);
  }
  return out;
}

std::string fmt_bench_samples(const BenchSamples& bs) {
  const Summary& s = bs.ns_iter_summary;
  std::string median = fmt_thousands_sep(s.median);
  std::string out;
  if (median.size() < 14) out.assign(14 - median.size(), ' ');
  out += median;
  out += " ns/iter (+/- ";
  out += fmt_thousands_sep(s.max - s.min);
  out += ')';
  if (bs.mb_per_second != 0) {
    out += " = ";
    out += std::to_string(bs.mb_per_second);
    out += " MB/s";
  }
  return out;
}

}  // namespace velt
