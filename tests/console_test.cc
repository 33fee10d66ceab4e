#include "src/console.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "include/velt/test.h"

namespace velt {
namespace {

CompletedTest completed(std::string_view name, TestResult result, std::string output) {
  return CompletedTest{0, TestDesc{StaticName{name}}, std::move(result), std::nullopt,
                       std::move(output)};
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace
}  // namespace velt

VELT_TEST(console::results_update_counts_and_lists) {
  velt::ConsoleTestState st;
  const double zero[] = {0.0};
  velt::handle_test_result(st, velt::completed("ok", velt::Ok{}, "o"));
  velt::handle_test_result(st, velt::completed("failed", velt::Failed{}, "f"));
  velt::handle_test_result(st, velt::completed("msg", velt::FailedWithMessage{"boom"}, "x\n"));
  velt::handle_test_result(st, velt::completed("ign", velt::Ignored{}, ""));
  velt::handle_test_result(
      st, velt::completed("bench", velt::Bench{{velt::make_summary(zero), 0}}, "dropped"));
  velt::handle_test_result(st, velt::completed("slow", velt::TimeLimitExceeded{}, "t"));

  VELT_ASSERT_EQ(st.passed, 1u);
  VELT_ASSERT_EQ(st.failed, 3u);
  VELT_ASSERT_EQ(st.ignored, 1u);
  VELT_ASSERT_EQ(st.measured, 1u);
  VELT_ASSERT_EQ(st.current_test_count(), 6u);
  VELT_ASSERT_EQ(st.successes.size(), 1u);
  VELT_ASSERT_EQ(st.failures.size(), 2u);
  VELT_ASSERT_EQ(st.failures[1].second, "x\nnote: boom");  // no line end added around the note
  VELT_ASSERT_EQ(st.ignored_tests.size(), 1u);
  VELT_ASSERT_EQ(st.time_limit_failures.size(), 1u);
}

VELT_TEST(console::log_lines) {
  std::string path = "/tmp/velt-console-log-" + std::to_string(::getpid()) + ".txt";
  velt::TestOpts opts;
  opts.logfile = path;
  {
    velt::IoResult<velt::ConsoleTestState> st = velt::ConsoleTestState::create(opts);
    VELT_ASSERT(st.ok());
    velt::TestDesc slow{velt::StaticName{"tests::slow"}};
    slow.ignore_message = "slow";
    velt::TestDesc plain{velt::StaticName{"tests::a"}};
    VELT_ASSERT(st->write_log_result(plain, velt::Ok{}, std::nullopt).ok());
    VELT_ASSERT(st->write_log_result(plain, velt::FailedWithMessage{"boom"},
                                     velt::TestExecTime{std::chrono::milliseconds(4)})
                    .ok());
    VELT_ASSERT(st->write_log_result(slow, velt::Ignored{}, std::nullopt).ok());
    VELT_ASSERT(st->write_log_result(plain, velt::TimeLimitExceeded{}, std::nullopt).ok());
  }
  VELT_ASSERT_EQ(velt::read_file(path),
                 "ok tests::a\nfailed: boom tests::a <0.004s>\nignored: slow tests::slow\n"
                 "failed (time limit exceeded) tests::a\n");
  ::unlink(path.c_str());
}

VELT_TEST(console::unwritable_log_file_fails_creation) {
  velt::TestOpts opts;
  opts.logfile = "/nonexistent-dir/log.txt";
  velt::IoResult<velt::ConsoleTestState> st = velt::ConsoleTestState::create(opts);
  VELT_ASSERT(!st.ok());
  VELT_ASSERT_EQ(st.error().debug(), "No such file or directory (os error 2)");
}
