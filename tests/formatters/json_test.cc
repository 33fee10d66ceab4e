#include "src/formatters/json.h"

#include <chrono>
#include <limits>
#include <memory>
#include <string>

#include "include/velt/test.h"
#include "src/console.h"

namespace velt {
namespace {

// Records every write as one piece; fails every write after `fail_after` writes.
class MemoryTerminal final : public Terminal {
 public:
  MemoryTerminal(std::shared_ptr<std::vector<std::string>> sink, int fail_after)
      : writes(std::move(sink)), writes_left(fail_after) {}
  IoResult<std::size_t> write(std::string_view bytes) override {
    if (writes_left-- <= 0) return Err{IoError{28, "No space left on device"}};
    writes->emplace_back(bytes);
    return bytes.size();
  }
  IoResult<void> flush() override { return {}; }
  IoResult<bool> fg(Color) override { return true; }
  IoResult<bool> reset() override { return true; }

 private:
  std::shared_ptr<std::vector<std::string>> writes;
  int writes_left;
};

struct Fixture {
  std::shared_ptr<std::vector<std::string>> writes = std::make_shared<std::vector<std::string>>();
  JsonFormatter fmt;
  ConsoleTestState st;

  explicit Fixture(int fail_after = 1 << 30)
      : fmt(ToTerminal{std::make_unique<MemoryTerminal>(writes, fail_after)}) {}
  std::string out() const {
    std::string all;
    for (const std::string& w : *writes) all += w;
    return all;
  }
};

TestDesc desc(std::string_view name) { return TestDesc{StaticName{name}}; }

}  // namespace
}  // namespace velt

VELT_TEST(json::escaped_string) {
  const struct {
    std::string_view text;
    std::string want;
  } cases[] = {
      {"plain/text", "plain/text"},  // the slash stays
      {"q\"b\\t\t\x01", "q\\\"b\\\\t\\t\\u0001"},
      {"\b\f\n\r", "\\b\\f\\n\\r"},
      {"\x0b\x1f\x7f", "\\u000b\\u001f\\u007f"},
      {std::string_view("nul\0", 4), "nul\\u0000"},
      {"gr\xc3\xbc\xc3\x9f"
       "e \xe2\x9c\x93",
       "gr\xc3\xbc\xc3\x9f"
       "e \xe2\x9c\x93"},
      {"", ""},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(velt::EscapedString(c.text).to_string(), c.want, "text {}", c.text);
  }
}

VELT_TEST(json::lossy_text_is_valid_utf8) {
  const struct {
    std::string_view bytes;
    std::string want;
  } cases[] = {
      {"ok \xc3\xa9", "ok \xc3\xa9"},
      {"bad\xff\"", "bad\xef\xbf\xbd\\\""},
      {"cut \xe2\x9c", "cut \xef\xbf\xbd"},  // a truncated sequence is one replacement
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // a surrogate is not text
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(velt::EscapedString::lossy(c.bytes).to_string(), c.want, "bytes {}", c.bytes);
  }
}

VELT_TEST(json::reals_are_shortest_without_exponent) {
  const struct {
    double v;
    std::string want;
  } cases[] = {
      {0.0, "0"},
      {2.0, "2"},
      {1.5, "1.5"},
      {0.0000001, "0.0000001"},
      {0.004131, "0.004131"},
      {0.1 + 0.2, "0.30000000000000004"},
      {123456.789, "123456.789"},
      {1e23, "100000000000000000000000"},
      {-2.5, "-2.5"},
  };
  for (const auto& c : cases) VELT_ASSERT_EQ(velt::fmt_real(c.v), c.want);
}

VELT_TEST(json::result_lines) {
  using namespace std::chrono_literals;
  velt::TestDesc plain = velt::desc("t\"1");
  velt::TestDesc slow = velt::desc("t");
  slow.ignore = true;
  slow.ignore_message = "needs \"net\"";
  velt::TestDesc quiet = velt::desc("t");
  quiet.ignore = true;
  const double one[] = {1.25};
  const double nan[] = {std::numeric_limits<double>::quiet_NaN()};

  const struct {
    const velt::TestDesc* desc;
    velt::TestResult result;
    std::optional<velt::TestExecTime> time;
    std::string_view output;
    bool display_output;
    std::string want;
  } cases[] = {
      {&plain, velt::Ok{}, {}, "", false, R"({ "type": "test", "name": "t\"1", "event": "ok" })"},
      // A passing test's output only when asked for.
      {&plain, velt::Ok{}, {}, "x", false, R"({ "type": "test", "name": "t\"1", "event": "ok" })"},
      {&plain, velt::Ok{}, velt::TestExecTime{2s}, "x", true,
       R"({ "type": "test", "name": "t\"1", "event": "ok", "exec_time": 2, "stdout": "x" })"},
      {&plain, velt::Failed{}, velt::TestExecTime{4131us}, "a\nb\xff", false,
       R"({ "type": "test", "name": "t\"1", "event": "failed", "exec_time": 0.004131, )"
       "\"stdout\": \"a\\nb\xef\xbf\xbd\" }"},
      {&plain,
       velt::Failed{},
       {},
       "",
       false,
       R"({ "type": "test", "name": "t\"1", "event": "failed" })"},
      {&plain,
       velt::FailedWithMessage{"expected\n\"x\""},
       {},
       "out",
       false,
       R"({ "type": "test", "name": "t\"1", "event": "failed", "stdout": "out", )"
       R"("message": "expected\n\"x\"" })"},
      {&slow,
       velt::Ignored{},
       {},
       "",
       false,
       R"({ "type": "test", "name": "t", "event": "ignored", "message": "needs \"net\"" })"},
      {&quiet,
       velt::Ignored{},
       {},
       "",
       false,
       R"({ "type": "test", "name": "t", "event": "ignored" })"},
      {&plain, velt::TimeLimitExceeded{}, velt::TestExecTime{1500ms}, "", false,
       R"({ "type": "test", "name": "t\"1", "event": "failed", "exec_time": 1.5, )"
       R"("reason": "time limit exceeded" })"},
      // Benchmarks: no duration, no output; throughput only when measured.
      {&plain, velt::Bench{velt::BenchSamples{velt::make_summary(one), 0}}, velt::TestExecTime{1s},
       "x", true, R"({ "type": "bench", "name": "t\"1", "median": 1.25, "deviation": 0 })"},
      {&plain,
       velt::Bench{velt::BenchSamples{velt::make_summary(one), 400}},
       {},
       "",
       false,
       R"({ "type": "bench", "name": "t\"1", "median": 1.25, "deviation": 0, )"
       R"("mib_per_second": 400 })"},
      {&plain,
       velt::Bench{velt::BenchSamples{velt::make_summary(nan), 0}},
       {},
       "",
       false,
       R"({ "type": "bench", "name": "t\"1", "median": null, "deviation": null })"},
  };
  int row = 0;
  for (const auto& c : cases) {
    velt::Fixture f;
    f.st.options.display_output = c.display_output;
    VELT_ASSERT(f.fmt.write_result(*c.desc, c.result, c.time, c.output, f.st).ok());
    VELT_ASSERT_EQ(f.writes->size(), 1u, "row {}: one write per line", row);
    VELT_ASSERT_EQ(f.out(), c.want + "\n", "row {}", row);
    ++row;
  }
}

VELT_TEST(json::suite_lines) {
  using namespace std::chrono_literals;
  velt::Fixture f;
  VELT_ASSERT(f.fmt.write_run_start(2, std::nullopt).ok());
  VELT_ASSERT(f.fmt.write_run_start(3, std::numeric_limits<std::uint64_t>::max()).ok());
  velt::TestDesc d = velt::desc("a\\b");
  VELT_ASSERT(f.fmt.write_test_start(d).ok());
  VELT_ASSERT(f.fmt.write_timeout(d).ok());
  VELT_ASSERT(f.fmt.write_merged_doctests_times(1.5, 0.25).ok());
  f.st.passed = 1;
  f.st.failed = 1;
  f.st.filtered_out = 4;
  velt::IoResult<bool> failed = f.fmt.write_run_finish(f.st);
  VELT_ASSERT(failed.ok() && !*failed);
  f.st.failed = 0;
  f.st.exec_time = velt::TestSuiteExecTime{5200us};
  velt::IoResult<bool> passed = f.fmt.write_run_finish(f.st);
  VELT_ASSERT(passed.ok() && *passed);
  VELT_ASSERT_EQ(
      f.out(),
      "{ \"type\": \"suite\", \"event\": \"started\", \"test_count\": 2 }\n"
      "{ \"type\": \"suite\", \"event\": \"started\", \"test_count\": 3, "
      "\"shuffle_seed\": 18446744073709551615 }\n"
      "{ \"type\": \"test\", \"event\": \"started\", \"name\": \"a\\\\b\" }\n"
      "{ \"type\": \"test\", \"event\": \"timeout\", \"name\": \"a\\\\b\" }\n"
      "{ \"type\": \"report\", \"total_time\": 1.5, \"compilation_time\": 0.25 }\n"
      "{ \"type\": \"suite\", \"event\": \"failed\", \"passed\": 1, \"failed\": 1, \"ignored\": 0, "
      "\"measured\": 0, \"filtered_out\": 4 }\n"
      "{ \"type\": \"suite\", \"event\": \"ok\", \"passed\": 1, \"failed\": 0, \"ignored\": 0, "
      "\"measured\": 0, \"filtered_out\": 4, \"exec_time\": 0.0052 }\n");
}

VELT_TEST(json::discovery_lines) {
  velt::Fixture f;
  velt::TestDesc plain = velt::desc("t");
  plain.source_path = "src/a\"b.cc";
  plain.start_line = 3;
  plain.start_col = 1;
  plain.end_line = 3;
  plain.end_col = 9;
  velt::TestDesc ignored = velt::desc("b");
  ignored.ignore = true;
  ignored.ignore_message = "slow";
  VELT_ASSERT(f.fmt.write_discovery_start().ok());
  VELT_ASSERT(f.fmt.write_test_discovered(plain, "test").ok());
  VELT_ASSERT(f.fmt.write_test_discovered(ignored, "benchmark").ok());
  velt::ConsoleTestDiscoveryState st;
  st.tests = 3;
  st.benchmarks = 2;
  st.ignored = 1;
  VELT_ASSERT(f.fmt.write_discovery_finish(st).ok());
  VELT_ASSERT_EQ((*f.writes)[0].size(), 42u);
  VELT_ASSERT_EQ(f.out(),
                 "{ \"type\": \"suite\", \"event\": \"discovery\" }\n"
                 "{ \"type\": \"test\", \"event\": \"discovered\", \"name\": \"t\", \"ignore\": "
                 "false, \"ignore_message\": \"\", \"source_path\": \"src/a\\\"b.cc\", "
                 "\"start_line\": 3, \"start_col\": 1, \"end_line\": 3, \"end_col\": 9 }\n"
                 "{ \"type\": \"benchmark\", \"event\": \"discovered\", \"name\": \"b\", "
                 "\"ignore\": true, \"ignore_message\": \"slow\", \"source_path\": \"\", "
                 "\"start_line\": 0, \"start_col\": 0, \"end_line\": 0, \"end_col\": 0 }\n"
                 "{ \"type\": \"suite\", \"event\": \"completed\", \"tests\": 3, \"benchmarks\": "
                 "2, \"total\": 5, \"ignored\": 1 }\n");
}

VELT_TEST(json::write_error_is_returned) {
  velt::Fixture f(/*fail_after=*/0);
  velt::IoResult<bool> r = f.fmt.write_run_finish(f.st);
  VELT_ASSERT(!r.ok());
  VELT_ASSERT_EQ(r.error().code, 28);
  VELT_ASSERT(f.writes->empty());
}
