#include "src/formatters/pretty.h"

#include <algorithm>
#include <charconv>

#include "src/console.h"
#include "src/helpers/overloaded.h"
#include "src/platform/process.h"

namespace velt {
namespace {

std::string fixed2(double v) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
  return std::string(buf, end);
}

}  // namespace

IoResult<void> write_pretty_to(OutputLocation& out, bool colored, std::string_view word, Color c) {
  if (auto* t = std::get_if<ToTerminal>(&out); t && colored) {
    IoResult<bool> set = t->terminal->fg(c);
    if (!set.ok()) return Err{std::move(set).error()};
    VELT_TRY(t->terminal->write_all(word));
    IoResult<bool> reset = t->terminal->reset();
    if (!reset.ok()) return Err{std::move(reset).error()};
  } else {
    VELT_TRY(write_all(out, word));
  }
  return flush(out);
}

IoResult<void> write_result_word(OutputLocation& out, bool colored, const TestDesc& desc,
                                 const TestResult& result) {
  return std::visit(
      Overloaded{[&](const Ok&) { return write_pretty_to(out, colored, "ok", color::GREEN); },
                 [&](const Failed&) { return write_pretty_to(out, colored, "FAILED", color::RED); },
                 [&](const FailedWithMessage&) {
                   return write_pretty_to(out, colored, "FAILED", color::RED);
                 },
                 [&](const Ignored&) {
                   if (desc.ignore_message) {
                     return write_pretty_to(out, colored,
                                            "ignored, " + std::string(*desc.ignore_message),
                                            color::YELLOW);
                   }
                   return write_pretty_to(out, colored, "ignored", color::YELLOW);
                 },
                 [&](const Bench&) { return write_pretty_to(out, colored, "bench", color::CYAN); },
                 [&](const TimeLimitExceeded&) {
                   return write_pretty_to(out, colored, "FAILED (time limit exceeded)", color::RED);
                 }},
      result);
}

IoResult<void> write_plain_to(OutputLocation& out, std::string_view text) {
  VELT_TRY(write_all(out, text));
  return flush(out);
}

IoResult<void> write_test_name_to(OutputLocation& out, const TestDesc& desc,
                                  std::size_t name_width) {
  std::string line = "test " + desc.padded_name(name_width, desc.name.padding());
  if (std::optional<std::string_view> mode = desc.test_mode()) {
    line += " - ";
    line += *mode;
  }
  line += " ... ";
  return write_plain_to(out, line);
}

IoResult<void> write_results_to(OutputLocation& out,
                                const std::vector<std::pair<TestDesc, std::string>>& results,
                                std::string_view kind) {
  std::string header = "\n" + std::string(kind) + ":\n";
  VELT_TRY(write_plain_to(out, header));

  std::vector<std::string_view> names;
  std::string block;
  for (const auto& [desc, output_bytes] : results) {
    names.push_back(desc.name.as_slice());
    if (!output_bytes.empty()) {
      block += "---- ";
      block += desc.name.as_slice();
      block += " stdout ----\n";
      block += platform::utf8_lossy(output_bytes);
      block += "\n";
    }
  }
  if (!block.empty()) {
    VELT_TRY(write_plain_to(out, "\n"));
    VELT_TRY(write_plain_to(out, block));
  }

  VELT_TRY(write_plain_to(out, header));
  std::sort(names.begin(), names.end());
  std::string list;
  for (std::string_view name : names) {
    list += "    ";
    list += name;
    list += "\n";
  }
  return write_plain_to(out, list);
}

IoResult<void> write_summary_to(OutputLocation& out, bool colored, const ConsoleTestState& state) {
  VELT_TRY(write_plain_to(out, "\ntest result: "));
  if (state.failed == 0) {
    VELT_TRY(write_pretty_to(out, colored, "ok", color::GREEN));
  } else {
    VELT_TRY(write_pretty_to(out, colored, "FAILED", color::RED));
  }
  std::string counts = ". " + std::to_string(state.passed) + " passed; " +
                       std::to_string(state.failed) + " failed; " + std::to_string(state.ignored) +
                       " ignored; " + std::to_string(state.measured) + " measured; " +
                       std::to_string(state.filtered_out) + " filtered out";
  VELT_TRY(write_plain_to(out, counts));
  if (state.exec_time) {
    VELT_TRY(write_plain_to(out, "; finished in " + state.exec_time->to_string()));
  }
  return write_plain_to(out, "\n\n");
}

std::string run_start_text(std::size_t test_count, std::optional<std::uint64_t> shuffle_seed) {
  std::string line = "\nrunning " + std::to_string(test_count);
  line += test_count == 1 ? " test" : " tests";
  if (shuffle_seed) line += " (shuffle seed: " + std::to_string(*shuffle_seed) + ")";
  return line + "\n";
}

std::string timeout_text(const TestDesc& desc) {
  return "test " + std::string(desc.name.as_slice()) + " has been running for over " +
         std::to_string(TEST_WARN_TIMEOUT.count()) + " seconds\n";
}

std::string discovered_text(const TestDesc& desc, std::string_view kind) {
  std::string line(desc.name.as_slice());
  line += ": ";
  line += kind;
  line += "\n";
  return line;
}

std::string merged_doctests_text(double total_time, double compilation_time) {
  return "all doctests ran in " + fixed2(total_time) + "s; merged doctests compilation took " +
         fixed2(compilation_time) + "s\n";
}

IoResult<void> PrettyFormatter::write_plain(std::string_view s) {
  return write_plain_to(output, s);
}

IoResult<void> PrettyFormatter::write_pretty(std::string_view word, Color c) {
  return write_pretty_to(output, colored, word, c);
}

IoResult<void> PrettyFormatter::write_time(const TestDesc& desc,
                                           const std::optional<TestExecTime>& exec_time) {
  if (!timing || !exec_time) return {};
  std::string text = " <" + exec_time->to_string() + ">";
  if (colored) {
    if (timing->is_critical(desc, *exec_time)) return write_pretty(text, color::RED);
    if (timing->is_warn(desc, *exec_time)) return write_pretty(text, color::YELLOW);
  }
  return write_plain(text);
}

IoResult<void> PrettyFormatter::write_discovery_start() { return {}; }

IoResult<void> PrettyFormatter::write_test_discovered(const TestDesc& desc, std::string_view kind) {
  return write_plain(discovered_text(desc, kind));
}

IoResult<void> PrettyFormatter::write_discovery_finish(const ConsoleTestDiscoveryState& state) {
  auto plural = [](std::size_t count, std::string_view noun) {
    std::string s = std::to_string(count) + " " + std::string(noun);
    if (count != 1) s += "s";
    return s;
  };
  if (state.tests != 0 || state.benchmarks != 0) VELT_TRY(write_plain("\n"));
  return write_plain(plural(state.tests, "test") + ", " + plural(state.benchmarks, "benchmark") +
                     "\n");
}

IoResult<void> PrettyFormatter::write_run_start(std::size_t test_count,
                                                std::optional<std::uint64_t> shuffle_seed) {
  return write_plain(run_start_text(test_count, shuffle_seed));
}

IoResult<void> PrettyFormatter::write_test_start(const TestDesc& desc) {
  // With several threads the name waits for the result, so that lines do not interleave.
  if (multithreaded) return {};
  return write_test_name_to(output, desc, name_width);
}

IoResult<void> PrettyFormatter::write_timeout(const TestDesc& desc) {
  return write_plain(timeout_text(desc));
}

IoResult<void> PrettyFormatter::write_result(const TestDesc& desc, const TestResult& result,
                                             const std::optional<TestExecTime>& exec_time,
                                             std::string_view, const ConsoleTestState&) {
  if (multithreaded) VELT_TRY(write_test_name_to(output, desc, name_width));
  VELT_TRY(write_result_word(output, colored, desc, result));
  if (const auto* bench = std::get_if<Bench>(&result)) {
    VELT_TRY(write_plain(": " + fmt_bench_samples(bench->samples)));
  }
  VELT_TRY(write_time(desc, exec_time));
  return write_plain("\n");
}

IoResult<bool> PrettyFormatter::write_run_finish(const ConsoleTestState& state) {
  if (state.options.display_output) {
    VELT_TRY(write_results_to(output, state.successes, "successes"));
  }
  if (state.failed != 0) {
    if (!state.failures.empty()) VELT_TRY(write_results_to(output, state.failures, "failures"));
    if (!state.time_limit_failures.empty()) {
      VELT_TRY(
          write_results_to(output, state.time_limit_failures, "failures (time limit exceeded)"));
    }
  }
  VELT_TRY(write_summary_to(output, colored, state));
  return state.failed == 0;
}

IoResult<void> PrettyFormatter::write_merged_doctests_times(double total_time,
                                                            double compilation_time) {
  return write_plain(merged_doctests_text(total_time, compilation_time));
}

}  // namespace velt
