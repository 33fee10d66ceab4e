// The console run and the listing: they pick the output location and format, keep the run's
// counts and outputs, write the optional log file, and decide success.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "src/cli.h"
#include "src/event.h"
#include "src/formatters/formatter.h"
#include "src/platform/file.h"
#include "src/result.h"
#include "src/test_list.h"

namespace velt {

struct ConsoleTestState {
  std::optional<platform::File> log_file;
  std::size_t total = 0;
  std::size_t passed = 0;
  std::size_t failed = 0;
  std::size_t ignored = 0;
  std::size_t filtered_out = 0;
  std::size_t measured = 0;
  std::optional<TestSuiteExecTime> exec_time;
  std::vector<std::pair<TestDesc, std::string>> failures;
  std::vector<std::pair<TestDesc, std::string>> successes;
  std::vector<std::pair<TestDesc, std::string>> ignored_tests;
  std::vector<std::pair<TestDesc, std::string>> time_limit_failures;
  RunOptions options;

  static IoResult<ConsoleTestState> create(const TestOpts& opts);

  // Produces and writes the text only when there is a log file.
  template <class F>
  IoResult<void> write_log(F&& text) {
    if (!log_file) return {};
    return log_file->write_all(text());
  }
  IoResult<void> write_log_result(const TestDesc& desc, const TestResult& result,
                                  const std::optional<TestExecTime>& duration);
  std::size_t current_test_count() const { return passed + failed + ignored + measured; }
};

struct ConsoleTestDiscoveryState {
  std::optional<platform::File> log_file;
  std::size_t tests = 0;
  std::size_t benchmarks = 0;
  std::size_t ignored = 0;

  static IoResult<ConsoleTestDiscoveryState> create(const TestOpts& opts);

  template <class F>
  IoResult<void> write_log(F&& text) {
    if (!log_file) return {};
    return log_file->write_all(text());
  }
};

std::unique_ptr<OutputFormatter> get_formatter(const TestOpts& opts, std::size_t name_width);

IoResult<void> on_test_event(TestEvent event, ConsoleTestState& st, OutputFormatter& out);
void handle_test_result(ConsoleTestState& st, CompletedTest completed);

// Runs the tests; true when none failed.
IoResult<bool> run_tests_console(const TestOpts& opts, TestList tests);
// Lists the selected tests and benchmarks without running them.
IoResult<void> list_tests_console(const TestOpts& opts, TestList tests);

}  // namespace velt
