#include "src/time.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "include/velt/test.h"
#include "src/platform/panic.h"
#include "src/platform/process.h"
#include "tests/support/panic_message.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

using velt::testing::panic_message;

// Variables for the threshold cases, one per case. They are set while the process is still
// single-threaded, since tests run in parallel and setenv races with every getenv.
const struct ThresholdCase {
  const char* name;
  const char* value;  // null: left unset
  std::optional<velt::TimeThreshold> want;
  const char* panic;  // the fatal message, or null
} THRESHOLD_CASES[] = {
    {"VELT_TIME_TEST_PLAIN", "10,20", velt::TimeThreshold{10ms, 20ms}, nullptr},
    {"VELT_TIME_TEST_EQUAL", "20,20", velt::TimeThreshold{20ms, 20ms}, nullptr},
    {"VELT_TIME_TEST_PLUS", "+0,+7", velt::TimeThreshold{0ms, 7ms}, nullptr},
    {"VELT_TIME_TEST_UNSET", nullptr, std::nullopt, nullptr},
    {"VELT_TIME_TEST_NOT_UTF8", "\xff,1", std::nullopt, nullptr},
    // Past what nanoseconds hold: saturates instead of overflowing.
    {"VELT_TIME_TEST_HUGE", "1,18446744073709551615", velt::TimeThreshold{1ms, nanoseconds::max()},
     nullptr},
    {"VELT_TIME_TEST_ABOVE", "30,20", std::nullopt,
     "Test execution warn time should be less or equal to the critical time"},
    {"VELT_TIME_TEST_NO_COMMA", "10", std::nullopt,
     "Duration variable VELT_TIME_TEST_NO_COMMA expected to have 2 numbers separated by comma, "
     "but got 10"},
    {"VELT_TIME_TEST_THREE", "10,20,30", std::nullopt,
     "Duration value in variable VELT_TIME_TEST_THREE is expected to be a number, but got 20,30"},
    {"VELT_TIME_TEST_SPACE", "10, 20", std::nullopt,
     "Duration value in variable VELT_TIME_TEST_SPACE is expected to be a number, but got  20"},
    {"VELT_TIME_TEST_WARN_FIRST", "x,y", std::nullopt,
     "Duration value in variable VELT_TIME_TEST_WARN_FIRST is expected to be a number, but got x"},
    {"VELT_TIME_TEST_EMPTY", "", std::nullopt,
     "Duration variable VELT_TIME_TEST_EMPTY expected to have 2 numbers separated by comma, but "
     "got "},
    {"VELT_TIME_TEST_NEGATIVE", "-1,5", std::nullopt,
     "Duration value in variable VELT_TIME_TEST_NEGATIVE is expected to be a number, but got -1"},
};

// The doc-test variable is one no run of these tests depends on, so it can prove that
// new_from_env reads its variable.
const bool ENV_READY = [] {
  for (const ThresholdCase& c : THRESHOLD_CASES) {
    if (c.value) setenv(c.name, c.value, 1);
  }
  setenv("VELT_TEST_TIME_DOCTEST", "7,9", 1);
  return true;
}();

velt::TestDesc desc_of(velt::TestType type) {
  velt::TestDesc desc(velt::StaticName{"t"});
  desc.test_type = type;
  return desc;
}

}  // namespace

VELT_TEST(time::exec_time_text) {
  const struct {
    nanoseconds d;
    const char* test;
    const char* suite;
  } cases[] = {
      {1500ms, "1.500s", "1.50s"},    {12300us, "0.012s", "0.01s"},
      {0ns, "0.000s", "0.00s"},       {499999ns, "0.000s", "0.00s"},
      {500001ns, "0.001s", "0.00s"},  {4999999ns, "0.005s", "0.00s"},
      {5000001ns, "0.005s", "0.01s"}, {3600s + 1ns, "3600.000s", "3600.00s"},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(velt::TestExecTime{c.d}.to_string(), c.test);
    VELT_ASSERT_EQ(velt::TestSuiteExecTime{c.d}.to_string(), c.suite);
  }
}

VELT_TEST(time::threshold_from_env_var) {
  VELT_ASSERT(ENV_READY);
  for (const ThresholdCase& c : THRESHOLD_CASES) {
    std::optional<velt::TimeThreshold> got;
    std::string message = panic_message([&] { got = velt::TimeThreshold::from_env_var(c.name); });
    VELT_ASSERT_EQ(message, c.panic ? c.panic : "(no panic)", "{}", c.name);
    VELT_ASSERT_EQ(got.has_value(), c.want.has_value(), "{}", c.name);
    if (got) {
      VELT_ASSERT(got->warn == c.want->warn && got->critical == c.want->critical, "{}: {} {} ns",
                  c.name, got->warn.count(), got->critical.count());
    }
  }
}

VELT_TEST(time::options_from_env) {
  VELT_ASSERT(ENV_READY);
  for (bool error_on_excess : {false, true}) {
    velt::TestTimeOptions opts = velt::TestTimeOptions::new_from_env(error_on_excess);
    VELT_ASSERT_EQ(opts.error_on_excess, error_on_excess);
    VELT_ASSERT(opts.doctest_threshold.warn == 7ms && opts.doctest_threshold.critical == 9ms);
    // The defaults, unless whoever runs these tests tuned them.
    if (!velt::platform::env_present("VELT_TEST_TIME_UNIT")) {
      VELT_ASSERT(opts.unit_threshold.warn == 50ms && opts.unit_threshold.critical == 100ms);
    }
    if (!velt::platform::env_present("VELT_TEST_TIME_INTEGRATION")) {
      VELT_ASSERT(opts.integration_threshold.warn == 500ms &&
                  opts.integration_threshold.critical == 1000ms);
    }
  }
}

VELT_TEST(time::thresholds_by_test_type) {
  const velt::TestTimeOptions opts{.error_on_excess = true,
                                   .unit_threshold = {1ms, 2ms},
                                   .integration_threshold = {3ms, 4ms},
                                   .doctest_threshold = {5ms, 6ms}};
  const struct {
    velt::TestType type;
    nanoseconds warn, critical;
  } cases[] = {
      {velt::TestType::UnitTest, 1ms, 2ms},
      {velt::TestType::IntegrationTest, 3ms, 4ms},
      {velt::TestType::DocTest, 5ms, 6ms},
      {velt::TestType::Unknown, 60s, 120s},  // fixed, whatever the options say
  };
  for (const auto& c : cases) {
    velt::TestDesc desc = desc_of(c.type);
    VELT_ASSERT(opts.warn_time(desc) == c.warn && opts.critical_time(desc) == c.critical);
    // Both limits are inclusive: reaching the threshold counts.
    const struct {
      nanoseconds d;
      bool warn, critical;
    } durations[] = {{c.warn - 1ns, false, false},
                     {c.warn, true, false},
                     {c.critical - 1ns, true, false},
                     {c.critical, true, true}};
    for (const auto& d : durations) {
      VELT_ASSERT_EQ(opts.is_warn(desc, {d.d}), d.warn, "{} ns", d.d.count());
      VELT_ASSERT_EQ(opts.is_critical(desc, {d.d}), d.critical, "{} ns", d.d.count());
    }
  }
}

VELT_TEST(time::default_test_timeout_is_a_minute_away) {
  velt::Instant before = velt::Clock::now();
  velt::Instant deadline = velt::get_default_test_timeout();
  velt::Instant after = velt::Clock::now();
  VELT_ASSERT(before + 60s <= deadline && deadline <= after + 60s);
}
