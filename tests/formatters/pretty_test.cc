#include "src/formatters/pretty.h"

#include <memory>
#include <string>

#include "include/velt/test.h"
#include "src/console.h"
#include "tests/support/memory_terminal.h"

namespace velt {
namespace {

using testing::MemoryTerminal;

struct Fixture {
  std::shared_ptr<std::string> out = std::make_shared<std::string>();
  PrettyFormatter fmt;
  ConsoleTestState st;

  explicit Fixture(bool colored, bool multithreaded = false,
                   std::optional<TestTimeOptions> timing = std::nullopt, int fail_after = 1 << 30)
      : fmt(ToTerminal{std::make_unique<MemoryTerminal>(out, fail_after)}, colored, 8,
            multithreaded, timing) {}
};

TestDesc desc(std::string_view name) { return TestDesc{StaticName{name}}; }

}  // namespace
}  // namespace velt

VELT_TEST(pretty::run_start) {
  const struct {
    std::size_t count;
    std::optional<std::uint64_t> seed;
    std::string want;
  } cases[] = {
      {0, std::nullopt, "\nrunning 0 tests\n"},
      {1, std::nullopt, "\nrunning 1 test\n"},
      {3, 42, "\nrunning 3 tests (shuffle seed: 42)\n"},
  };
  for (const auto& c : cases) {
    velt::Fixture f(false);
    VELT_ASSERT(f.fmt.write_run_start(c.count, c.seed).ok());
    VELT_ASSERT_EQ(*f.out, c.want);
  }
}

VELT_TEST(pretty::result_lines) {
  velt::TestDesc plain = velt::desc("a");
  velt::TestDesc slow = velt::desc("a");
  slow.ignore = true;
  slow.ignore_message = "slow";
  velt::TestDesc panics = velt::desc("a");
  panics.should_panic = velt::ShouldPanic{velt::ShouldPanic::Yes, {}};
  velt::TestDesc bench{
      velt::TestName(velt::StaticName{"b"}).with_padding(velt::NamePadding::PadRight)};
  const double zero[] = {0.0};

  const struct {
    const velt::TestDesc* desc;
    velt::TestResult result;
    bool colored;
    std::string want;
  } cases[] = {
      {&plain, velt::Ok{}, true, "test a ... <2>ok</>\n"},
      {&plain, velt::Ok{}, false, "test a ... ok\n"},
      {&plain, velt::Failed{}, true, "test a ... <1>FAILED</>\n"},
      {&plain, velt::FailedWithMessage{"hidden"}, true, "test a ... <1>FAILED</>\n"},
      {&slow, velt::Ignored{}, true, "test a ... <3>ignored, slow</>\n"},
      {&panics, velt::Ok{}, false, "test a - should panic ... ok\n"},
      {&plain, velt::TimeLimitExceeded{}, true, "test a ... <1>FAILED (time limit exceeded)</>\n"},
      {&bench, velt::Bench{velt::BenchSamples{velt::make_summary(zero), 0}}, true,
       "test b        ... <6>bench</>:           0.00 ns/iter (+/- 0.00)\n"},
  };
  for (const auto& c : cases) {
    velt::Fixture f(c.colored);
    VELT_ASSERT(f.fmt.write_test_start(*c.desc).ok());
    VELT_ASSERT(f.fmt.write_result(*c.desc, c.result, std::nullopt, "", f.st).ok());
    VELT_ASSERT_EQ(*f.out, c.want);
  }
}

VELT_TEST(pretty::durations_coloured_by_threshold) {
  velt::TestTimeOptions timing{
      false, {std::chrono::milliseconds(100), std::chrono::seconds(1)}, {}, {}};
  const struct {
    std::chrono::milliseconds took;
    bool colored;
    std::string want;
  } cases[] = {
      {std::chrono::milliseconds(50), true, "test a ... <2>ok</> <0.050s>\n"},
      {std::chrono::milliseconds(500), true, "test a ... <2>ok</><3> <0.500s></>\n"},
      {std::chrono::milliseconds(1000), true, "test a ... <2>ok</><1> <1.000s></>\n"},
      {std::chrono::milliseconds(500), false, "test a ... ok <0.500s>\n"},
  };
  for (const auto& c : cases) {
    velt::Fixture f(c.colored, /*multithreaded=*/true, timing);
    velt::TestDesc d = velt::desc("a");
    VELT_ASSERT(f.fmt.write_test_start(d).ok());  // nothing yet with several threads
    VELT_ASSERT(f.fmt.write_result(d, velt::Ok{}, velt::TestExecTime{c.took}, "", f.st).ok());
    VELT_ASSERT_EQ(*f.out, c.want);
  }
}

VELT_TEST(pretty::run_finish_sections) {
  velt::Fixture f(false);
  f.st.failed = 3;
  f.st.passed = 1;
  f.st.filtered_out = 2;
  f.st.exec_time = velt::TestSuiteExecTime{std::chrono::milliseconds(1500)};
  f.st.failures.emplace_back(velt::desc("z"), "out\n");
  f.st.failures.emplace_back(velt::desc("m"), "");  // listed, but no output block
  f.st.time_limit_failures.emplace_back(velt::desc("t"), "");
  f.st.options.display_output = true;  // a successes section even with no successes
  velt::IoResult<bool> ok = f.fmt.write_run_finish(f.st);
  VELT_ASSERT(ok.ok() && !*ok);
  VELT_ASSERT_EQ(*f.out,
                 "\nsuccesses:\n\nsuccesses:\n"
                 "\nfailures:\n\n---- z stdout ----\nout\n\n\nfailures:\n    m\n    z\n"
                 "\nfailures (time limit exceeded):\n\nfailures (time limit exceeded):\n    t\n"
                 "\ntest result: FAILED. 1 passed; 3 failed; 0 ignored; 0 measured; "
                 "2 filtered out; finished in 1.50s\n\n");
}

VELT_TEST(pretty::invalid_utf8_output_is_replaced) {
  velt::Fixture f(false);
  f.st.failed = 1;
  f.st.failures.emplace_back(velt::desc("a"), "bad \xff byte");
  VELT_ASSERT(f.fmt.write_run_finish(f.st).ok());
  VELT_ASSERT(f.out->find("bad \xef\xbf\xbd byte\n") != std::string::npos, "{}", *f.out);
}

VELT_TEST(pretty::first_write_error_ends_the_operation) {
  velt::Fixture f(false, false, std::nullopt, /*fail_after=*/2);
  f.st.exec_time = velt::TestSuiteExecTime{};
  velt::IoResult<bool> r = f.fmt.write_run_finish(f.st);
  VELT_ASSERT(!r.ok());
  VELT_ASSERT_EQ(r.error().code, 28);
  VELT_ASSERT_EQ(*f.out, "\ntest result: ok");  // nothing after the failing write
}

VELT_TEST(pretty::discovery_counts) {
  const struct {
    std::size_t tests, benchmarks;
    std::string want;
  } cases[] = {{0, 0, "0 tests, 0 benchmarks\n"},
               {1, 0, "\n1 test, 0 benchmarks\n"},
               {3, 1, "\n3 tests, 1 benchmark\n"}};
  for (const auto& c : cases) {
    velt::Fixture f(false);
    velt::ConsoleTestDiscoveryState st;
    st.tests = c.tests;
    st.benchmarks = c.benchmarks;
    VELT_ASSERT(f.fmt.write_discovery_finish(st).ok());
    VELT_ASSERT_EQ(*f.out, c.want);
  }
}
