// Statistics over benchmark samples, and the one-line text of a benchmark result.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "include/velt/test.h"

namespace velt {

using test::Summary;

namespace stats {
double sum(std::span<const double> s);
double min(std::span<const double> s);
double max(std::span<const double> s);
double mean(std::span<const double> s);
double median(std::span<const double> s);
double var(std::span<const double> s);
double std_dev(std::span<const double> s);
double std_dev_pct(std::span<const double> s);
double median_abs_dev(std::span<const double> s);
double median_abs_dev_pct(std::span<const double> s);
double percentile(std::span<const double> s, double pct);
double percentile_of_sorted(std::span<const double> sorted, double pct);
void quartiles(std::span<const double> s, double out[3]);
double iqr(std::span<const double> s);
// Ascending in IEEE 754 total order (-NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN).
void local_sort(std::span<double> s);
}  // namespace stats

// Precondition: at least one sample.
Summary make_summary(std::span<const double> samples);

struct BenchSamples {
  Summary ns_iter_summary;
  std::size_t mb_per_second = 0;  // 0: not reported
};

// "      1,234.50 ns/iter (+/- 100.25)" and, with throughput, " = 400 MB/s".
std::string fmt_bench_samples(const BenchSamples& bs);
// 1234567.891 -> "1,234,567.89"
std::string fmt_thousands_sep(double n, char sep = ',');

}  // namespace velt
