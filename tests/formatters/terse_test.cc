#include "src/formatters/terse.h"

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
  TerseFormatter fmt;
  ConsoleTestState st;

  explicit Fixture(bool colored, bool multithreaded = true)
      : fmt(ToTerminal{std::make_unique<MemoryTerminal>(out)}, colored, 6, multithreaded) {}
};

TestDesc desc(std::string_view name) { return TestDesc{StaticName{name}}; }
TestDesc bench_desc(std::string_view name) {
  return TestDesc{TestName(StaticName{name}).with_padding(NamePadding::PadRight)};
}

const double ZERO[] = {0.0};

// One result per letter: '.' passes, 'i' is ignored, 'F' fails, 'M' fails with a message, 'T'
// exceeds its time limit, 'B' is a benchmark; each test is named after its position.
void feed(Fixture& f, std::string_view results) {
  for (std::size_t i = 0; i < results.size(); ++i) {
    TestResult r = Ok{};
    switch (results[i]) {
      case 'i':
        r = Ignored{};
        break;
      case 'F':
        r = Failed{};
        break;
      case 'M':
        r = FailedWithMessage{"why"};
        break;
      case 'T':
        r = TimeLimitExceeded{};
        break;
      case 'B':
        r = Bench{BenchSamples{make_summary(ZERO), 0}};
        break;
    }
    std::string name = "t" + std::to_string(i);
    TestDesc d = results[i] == 'B' ? bench_desc(name) : desc(name);
    VELT_ASSERT(f.fmt.write_result(d, r, std::nullopt, "out", f.st).ok());
  }
}

}  // namespace
}  // namespace velt

VELT_TEST(terse::progress_rows) {
  const std::string row(87, '.');
  const struct {
    std::string results;
    std::size_t total;
    std::string want;
  } cases[] = {
      {row, 87, row + " 87/87\n"},
      {row + "..", 200, row + " 87/200\n.."},
      {row + row, 174, row + " 87/174\n" + row + " 174/174\n"},
      // A failure starts a fresh line; the partial row before it gets its count.
      {"F.", 2, "t0 --- FAILED\n."},
      {"...M", 4, "... 3/4\nt3 --- FAILED\n"},
      {".iT.", 4, ".i 2/4\nt2 --- FAILED\n."},
      {"FF", 2, "t0 --- FAILED\nt1 --- FAILED\n"},
      // Counts include failures and ignored tests, not benchmarks, which stay on the row.
      {"..B.", 3, "..test t2     ... bench:           0.00 ns/iter (+/- 0.00)\n."},
      {std::string(86, '.') + "F" + ".", 88, std::string(86, '.') + " 86/88\nt86 --- FAILED\n."},
  };
  for (const auto& c : cases) {
    velt::Fixture f(false);
    VELT_ASSERT(f.fmt.write_run_start(c.total, std::nullopt).ok());
    velt::feed(f, c.results);
    VELT_ASSERT_EQ(*f.out, "\nrunning " + std::to_string(c.total) + " tests\n" + c.want,
                   "results {}", c.results);
  }
}

VELT_TEST(terse::colours) {
  velt::Fixture f(true);
  velt::feed(f, ".iFB");
  VELT_ASSERT_EQ(*f.out,
                 "<2>.</><3>i</> 2/0\nt2 --- <1>FAILED</>\n"
                 "test t3     ... <6>bench</>:           0.00 ns/iter (+/- 0.00)\n");
}

VELT_TEST(terse::test_start_names_only_benchmarks_on_one_thread) {
  const struct {
    bool bench, multithreaded;
    std::string want;
  } cases[] = {
      {true, false, "test b      ... "},
      {false, false, ""},
      {true, true, ""},
  };
  for (const auto& c : cases) {
    velt::Fixture f(false, c.multithreaded);
    VELT_ASSERT(f.fmt.write_test_start(c.bench ? velt::bench_desc("b") : velt::desc("b")).ok());
    VELT_ASSERT_EQ(*f.out, c.want, "bench {} multithreaded {}", c.bench, c.multithreaded);
  }
}

VELT_TEST(terse::run_finish) {
  velt::TestDesc slow = velt::desc("a");
  slow.ignore = true;
  slow.ignore_message = "slow";
  velt::TestDesc quiet = velt::desc("a");
  quiet.ignore = true;
  const std::string summary_ok =
      "\ntest result: ok. 0 passed; 0 failed; 1 ignored; 0 measured; 0 filtered out\n\n";
  const struct {
    const velt::TestDesc* ignored;  // the one ignored test, or none: a time-limit failure
    std::size_t total;
    std::string want;
  } cases[] = {
      {&slow, 1, summary_ok + "test: a, ignore_message: slow\n\n"},
      {&slow, 2, summary_ok},
      {&quiet, 1, summary_ok},
      // Time-limit failures are not listed, but the header still stands twice.
      {nullptr, 1,
       "\nfailures:\n\nfailures:\n\ntest result: FAILED. 0 passed; 1 failed; 0 ignored; "
       "0 measured; 0 filtered out\n\n"},
  };
  for (const auto& c : cases) {
    velt::Fixture f(false);
    VELT_ASSERT(f.fmt.write_run_start(c.total, std::nullopt).ok());
    f.out->clear();
    if (c.ignored) {
      f.st.ignored = 1;
      f.st.ignored_tests.emplace_back(*c.ignored, "");
    } else {
      f.st.failed = 1;
      f.st.time_limit_failures.emplace_back(velt::desc("t"), "out");
    }
    velt::IoResult<bool> r = f.fmt.write_run_finish(f.st);
    VELT_ASSERT(r.ok() && *r == (c.ignored != nullptr));
    VELT_ASSERT_EQ(*f.out, c.want, "total {}", c.total);
  }
}

VELT_TEST(terse::run_finish_shows_outputs_when_asked) {
  velt::Fixture f(false);
  f.st.options.display_output = true;
  f.st.passed = 1;
  f.st.failed = 1;
  f.st.exec_time = velt::TestSuiteExecTime{};
  f.st.successes.emplace_back(velt::desc("p"), "said hi\n");
  f.st.failures.emplace_back(velt::desc("f"), "");
  VELT_ASSERT(f.fmt.write_run_finish(f.st).ok());
  VELT_ASSERT_EQ(*f.out,
                 "\nsuccesses:\n\n---- p stdout ----\nsaid hi\n\n\nsuccesses:\n    p\n"
                 "\nfailures:\n\nfailures:\n    f\n"
                 "\ntest result: FAILED. 1 passed; 1 failed; 0 ignored; 0 measured; "
                 "0 filtered out; finished in 0.00s\n\n");
}
