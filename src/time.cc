// Durations of tests and runs, and the time thresholds read from the environment.
#include "src/time.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>

#include "src/helpers/parse_number.h"
#include "src/platform/process.h"

namespace velt {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

// Whole seconds plus the fraction, each converted separately, so that long durations keep
// their nanoseconds: 1.5 s is 1 + 0.5, not 1500000000 / 1e9.
double as_secs(nanoseconds d) {
  std::int64_t ns = d.count();
  return static_cast<double>(ns / 1'000'000'000) + static_cast<double>(ns % 1'000'000'000) / 1e9;
}

std::string secs_text(nanoseconds d, int decimals) {
  char buf[64];
  auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, as_secs(d), std::chars_format::fixed, decimals);
  std::string text(buf, end);
  text += 's';
  return text;
}

// Milliseconds beyond what nanoseconds can hold (about 292 years) saturate rather than wrap,
// which keeps warn <= critical.
nanoseconds from_millis(std::uint64_t ms) {
  constexpr std::uint64_t max_ms =
      static_cast<std::uint64_t>(std::numeric_limits<nanoseconds::rep>::max()) / 1'000'000;
  if (ms > max_ms) return nanoseconds::max();
  return milliseconds(static_cast<milliseconds::rep>(ms));
}

constexpr TimeThreshold UNIT_DEFAULT{milliseconds(50), milliseconds(100)};
constexpr TimeThreshold INTEGRATION_DEFAULT{milliseconds(500), milliseconds(1000)};
constexpr TimeThreshold DOCTEST_DEFAULT{milliseconds(500), milliseconds(1000)};
// Tests of unknown kind get generous limits that no variable can tighten.
constexpr TimeThreshold UNKNOWN_THRESHOLD{seconds(60), seconds(120)};

}  // namespace

std::string TestExecTime::to_string() const { return secs_text(duration, 3); }

std::string TestSuiteExecTime::to_string() const { return secs_text(duration, 2); }

std::optional<TimeThreshold> TimeThreshold::from_env_var(const char* name) {
  std::optional<std::string> value = platform::env_var(name);
  if (!value) return std::nullopt;
  std::string_view v = *value;
  std::size_t comma = v.find(',');
  if (comma == std::string_view::npos) {
    test::panic(std::string("Duration variable ") + name +
                " expected to have 2 numbers separated by comma, but got " + *value);
  }
  auto parse_part = [&](std::string_view part) {
    // Decimal digits with an optional "+" and nothing else: " 20" and "20,30" are rejected.
    Result<std::uint64_t, std::string> ms = parse_unsigned<std::uint64_t>(part);
    if (!ms.ok()) {
      test::panic(std::string("Duration value in variable ") + name +
                  " is expected to be a number, but got " + std::string(part));
    }
    return *ms;
  };
  std::uint64_t warn = parse_part(v.substr(0, comma));
  std::uint64_t critical = parse_part(v.substr(comma + 1));
  if (warn > critical) {
    test::panic("Test execution warn time should be less or equal to the critical time");
  }
  return TimeThreshold{from_millis(warn), from_millis(critical)};
}

TestTimeOptions TestTimeOptions::new_from_env(bool error_on_excess) {
  TestTimeOptions opts;
  opts.error_on_excess = error_on_excess;
  opts.unit_threshold = TimeThreshold::from_env_var("VELT_TEST_TIME_UNIT").value_or(UNIT_DEFAULT);
  opts.integration_threshold =
      TimeThreshold::from_env_var("VELT_TEST_TIME_INTEGRATION").value_or(INTEGRATION_DEFAULT);
  opts.doctest_threshold =
      TimeThreshold::from_env_var("VELT_TEST_TIME_DOCTEST").value_or(DOCTEST_DEFAULT);
  return opts;
}

namespace {

const TimeThreshold& threshold_for(const TestTimeOptions& opts, const TestDesc& desc) {
  switch (desc.test_type) {
    case TestType::UnitTest:
      return opts.unit_threshold;
    case TestType::IntegrationTest:
      return opts.integration_threshold;
    case TestType::DocTest:
      return opts.doctest_threshold;
    case TestType::Unknown:
      break;
  }
  return UNKNOWN_THRESHOLD;
}

}  // namespace

std::chrono::nanoseconds TestTimeOptions::warn_time(const TestDesc& desc) const {
  return threshold_for(*this, desc).warn;
}

std::chrono::nanoseconds TestTimeOptions::critical_time(const TestDesc& desc) const {
  return threshold_for(*this, desc).critical;
}

bool TestTimeOptions::is_warn(const TestDesc& desc, const TestExecTime& t) const {
  return t.duration >= warn_time(desc);
}

bool TestTimeOptions::is_critical(const TestDesc& desc, const TestExecTime& t) const {
  return t.duration >= critical_time(desc);
}

Instant get_default_test_timeout() { return Clock::now() + TEST_WARN_TIMEOUT; }

}  // namespace velt
