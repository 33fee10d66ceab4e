#include "src/formatters/terse.h"

#include "src/console.h"
#include "src/formatters/pretty.h"
#include "src/helpers/overloaded.h"

namespace velt {

IoResult<void> TerseFormatter::write_plain(std::string_view s) { return write_plain_to(output, s); }

IoResult<void> TerseFormatter::write_progress() {
  VELT_TRY(
      write_plain(" " + std::to_string(done_count) + "/" + std::to_string(total_count) + "\n"));
  column = 0;
  return {};
}

IoResult<void> TerseFormatter::write_short_result(std::string_view c, Color color) {
  VELT_TRY(write_pretty_to(output, colored, c, color));
  ++done_count;
  ++column;
  if (column % TERSE_LINE_LIMIT == TERSE_LINE_LIMIT - 1) return write_progress();
  return {};
}

IoResult<void> TerseFormatter::write_failed(const TestDesc& desc) {
  // A failure gets a line of its own; the partial row before it gets its count, but a row
  // never holds only a count.
  if (column != 0) VELT_TRY(write_progress());
  ++done_count;
  VELT_TRY(write_plain(std::string(desc.name.as_slice()) + " --- "));
  VELT_TRY(write_pretty_to(output, colored, "FAILED", color::RED));
  return write_plain("\n");
}

IoResult<void> TerseFormatter::write_bench(const TestDesc& desc, const Bench& bench) {
  if (multithreaded) VELT_TRY(write_test_name_to(output, desc, name_width));
  VELT_TRY(write_pretty_to(output, colored, "bench", color::CYAN));
  return write_plain(": " + fmt_bench_samples(bench.samples) + "\n");
}

IoResult<void> TerseFormatter::write_discovery_start() { return {}; }

IoResult<void> TerseFormatter::write_test_discovered(const TestDesc& desc, std::string_view kind) {
  return write_plain(discovered_text(desc, kind));
}

IoResult<void> TerseFormatter::write_discovery_finish(const ConsoleTestDiscoveryState&) {
  return {};
}

IoResult<void> TerseFormatter::write_run_start(std::size_t test_count,
                                               std::optional<std::uint64_t> shuffle_seed) {
  total_count = test_count;
  return write_plain(run_start_text(test_count, shuffle_seed));
}

IoResult<void> TerseFormatter::write_test_start(const TestDesc& desc) {
  // Only a benchmark's name is shown, and only when nothing else can run meanwhile: its
  // figures follow on the same line.
  if (multithreaded || desc.name.padding() != NamePadding::PadRight) return {};
  return write_test_name_to(output, desc, name_width);
}

IoResult<void> TerseFormatter::write_timeout(const TestDesc& desc) {
  return write_plain(timeout_text(desc));
}

IoResult<void> TerseFormatter::write_result(const TestDesc& desc, const TestResult& result,
                                            const std::optional<TestExecTime>&, std::string_view,
                                            const ConsoleTestState&) {
  return std::visit(
      Overloaded{[&](const Ok&) { return write_short_result(".", color::GREEN); },
                 [&](const Ignored&) { return write_short_result("i", color::YELLOW); },
                 [&](const Bench& b) { return write_bench(desc, b); },
                 [&](const Failed&) { return write_failed(desc); },
                 [&](const FailedWithMessage&) { return write_failed(desc); },
                 [&](const TimeLimitExceeded&) { return write_failed(desc); }},
      result);
}

IoResult<bool> TerseFormatter::write_run_finish(const ConsoleTestState& state) {
  if (state.options.display_output) {
    VELT_TRY(write_results_to(output, state.successes, "successes"));
  }
  // Time-limit failures are counted but have no section of their own here, so the header
  // may stand twice with no names under it.
  if (state.failed != 0) VELT_TRY(write_results_to(output, state.failures, "failures"));
  VELT_TRY(write_summary_to(output, colored, state));
  // A lone ignored test would otherwise leave only an "i" to explain why nothing ran.
  if (total_count == 1 && state.ignored_tests.size() == 1) {
    const TestDesc& desc = state.ignored_tests.front().first;
    if (desc.ignore_message) {
      VELT_TRY(write_plain("test: " + std::string(desc.name.as_slice()) +
                           ", ignore_message: " + std::string(*desc.ignore_message) + "\n\n"));
    }
  }
  return state.failed == 0;
}

IoResult<void> TerseFormatter::write_merged_doctests_times(double total_time,
                                                           double compilation_time) {
  return write_plain(merged_doctests_text(total_time, compilation_time));
}

}  // namespace velt
