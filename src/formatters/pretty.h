// The default format: one line per test, failure sections and a summary.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "src/formatters/formatter.h"

namespace velt {

class PrettyFormatter final : public OutputFormatter {
 public:
  PrettyFormatter(OutputLocation out, bool use_color, std::size_t width, bool several_threads,
                  std::optional<TestTimeOptions> time_options)
      : output(std::move(out)),
        colored(use_color),
        name_width(width),
        multithreaded(several_threads),
        timing(std::move(time_options)) {}

  IoResult<void> write_discovery_start() override;
  IoResult<void> write_test_discovered(const TestDesc& desc, std::string_view kind) override;
  IoResult<void> write_discovery_finish(const ConsoleTestDiscoveryState& state) override;
  IoResult<void> write_run_start(std::size_t test_count,
                                 std::optional<std::uint64_t> shuffle_seed) override;
  IoResult<void> write_test_start(const TestDesc& desc) override;
  IoResult<void> write_timeout(const TestDesc& desc) override;
  IoResult<void> write_result(const TestDesc& desc, const TestResult& result,
                              const std::optional<TestExecTime>& exec_time, std::string_view stdout,
                              const ConsoleTestState& state) override;
  IoResult<bool> write_run_finish(const ConsoleTestState& state) override;
  IoResult<void> write_merged_doctests_times(double total_time, double compilation_time) override;

 private:
  IoResult<void> write_plain(std::string_view s);
  IoResult<void> write_pretty(std::string_view word, Color color);
  IoResult<void> write_time(const TestDesc& desc, const std::optional<TestExecTime>& exec_time);

  OutputLocation output;
  bool colored;
  std::size_t name_width;
  bool multithreaded;
  std::optional<TestTimeOptions> timing;
};

// Shared with the terse format, which prints the same sections and words. Every write is
// followed by a flush.
IoResult<void> write_plain_to(OutputLocation& out, std::string_view text);
IoResult<void> write_pretty_to(OutputLocation& out, bool colored, std::string_view word,
                               Color color);
// Words and colours of results: "ok" green, "FAILED" red, "ignored[, why]" yellow...
IoResult<void> write_result_word(OutputLocation& out, bool colored, const TestDesc& desc,
                                 const TestResult& result);
// "test {name} ... ", or "test {name} - should panic ... " with the test's mode.
IoResult<void> write_test_name_to(OutputLocation& out, const TestDesc& desc,
                                  std::size_t name_width);
// One section: "\n{kind}:\n", the captured outputs, the header again and the sorted names.
IoResult<void> write_results_to(OutputLocation& out,
                                const std::vector<std::pair<TestDesc, std::string>>& results,
                                std::string_view kind);
// "\ntest result: ok. 1 passed; ... filtered out; finished in 0.01s\n\n"
IoResult<void> write_summary_to(OutputLocation& out, bool colored, const ConsoleTestState& state);
// The lines both formats write alike.
std::string run_start_text(std::size_t test_count, std::optional<std::uint64_t> shuffle_seed);
std::string timeout_text(const TestDesc& desc);
std::string discovered_text(const TestDesc& desc, std::string_view kind);
std::string merged_doctests_text(double total_time, double compilation_time);

}  // namespace velt
