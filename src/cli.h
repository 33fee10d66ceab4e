// The command line: the option table, the help text and the run configuration it yields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "src/options.h"
#include "src/result.h"
#include "src/time.h"

namespace velt {

struct TestOpts {
  bool list = false;
  std::vector<std::string> filters;
  bool filter_exact = false;
  bool force_run_in_process = false;
  bool exclude_should_panic = false;
  RunIgnored run_ignored = RunIgnored::No;
  bool run_tests = true;
  bool run_benchmarks = false;
  std::optional<std::string> logfile;
  bool nocapture = false;
  ColorConfig color = ColorConfig::Auto;
  OutputFormat format = OutputFormat::Pretty;
  bool shuffle = false;
  std::optional<std::uint64_t> shuffle_seed;
  std::optional<std::size_t> test_threads;
  std::vector<std::string> skip;
  std::optional<TestTimeOptions> time_options;
  bool fail_fast = false;
  RunOptions options;

  // Whether colours are wanted: always, never, or when captured output goes to a terminal.
  bool use_color() const;
};

// Parses the whole argument list (program name first). No configuration means the help text
// was printed; an error is the one-line message to show as "error: {message}".
Result<std::optional<TestOpts>, std::string> parse_opts(const std::vector<std::string>& args);

// The help text for `program`, exactly as -h prints it.
std::string usage_text(const std::string& program);

}  // namespace velt
