// The terse format: one character per passing or ignored test, rows broken by a progress
// count, a line per failure, then the same sections and summary as the pretty format.
#pragma once

#include <cstddef>

#include "src/formatters/formatter.h"

namespace velt {

// A full progress row holds TERSE_LINE_LIMIT - 1 characters: the count takes the last place.
inline constexpr std::size_t TERSE_LINE_LIMIT = 88;

class TerseFormatter final : public OutputFormatter {
 public:
  TerseFormatter(OutputLocation out, bool use_color, std::size_t width, bool several_threads)
      : output(std::move(out)),
        colored(use_color),
        name_width(width),
        multithreaded(several_threads) {}

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
  IoResult<void> write_progress();
  IoResult<void> write_short_result(std::string_view c, Color color);
  IoResult<void> write_failed(const TestDesc& desc);
  IoResult<void> write_bench(const TestDesc& desc, const Bench& bench);

  OutputLocation output;
  bool colored;
  std::size_t name_width;
  bool multithreaded;
  std::size_t done_count = 0;
  std::size_t column = 0;  // characters on the current progress row
  std::size_t total_count = 0;
};

}  // namespace velt
