// Durations of tests and runs, and the time limits that decide when a test is too slow.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "src/types.h"

namespace velt {

using Clock = std::chrono::steady_clock;
using Instant = Clock::time_point;

// The period after which a still-running test is reported as long-running.
inline constexpr std::chrono::seconds TEST_WARN_TIMEOUT{60};

// The duration of one test; shown as seconds with three decimals: "0.012s".
struct TestExecTime {
  std::chrono::nanoseconds duration{};
  std::string to_string() const;
};

// The duration of a whole run; shown as seconds with two decimals: "0.01s".
struct TestSuiteExecTime {
  std::chrono::nanoseconds duration{};
  std::string to_string() const;
};

struct TimeThreshold {
  std::chrono::nanoseconds warn{};
  std::chrono::nanoseconds critical{};

  // Reads "WARN_MS,CRITICAL_MS" from the environment variable `name`; absent or non-UTF-8
  // gives none, a malformed value panics.
  static std::optional<TimeThreshold> from_env_var(const char* name);
};

struct TestTimeOptions {
  bool error_on_excess = false;
  TimeThreshold unit_threshold;
  TimeThreshold integration_threshold;
  TimeThreshold doctest_threshold;

  static TestTimeOptions new_from_env(bool error_on_excess);

  std::chrono::nanoseconds warn_time(const TestDesc& desc) const;
  std::chrono::nanoseconds critical_time(const TestDesc& desc) const;
  bool is_warn(const TestDesc& desc, const TestExecTime& t) const;
  bool is_critical(const TestDesc& desc, const TestExecTime& t) const;
};

// Now plus the long-running warning period.
Instant get_default_test_timeout();

}  // namespace velt
