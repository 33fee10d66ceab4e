// The interface of the four output formats, and where they write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <variant>

#include "src/result.h"
#include "src/term/terminal.h"
#include "src/test_result.h"
#include "src/time.h"
#include "src/types.h"

namespace velt {

struct ConsoleTestState;
struct ConsoleTestDiscoveryState;

struct ToTerminal {
  std::unique_ptr<Terminal> terminal;
};
struct ToStdout {};
using OutputLocation = std::variant<ToTerminal, ToStdout>;

// Byte-sink operations on an output location. Standard output is written unbuffered, so
// flushing it has nothing to do; a terminal is flushed through its own operation.
IoResult<void> write_all(OutputLocation& out, std::string_view bytes);
IoResult<void> flush(OutputLocation& out);

class OutputFormatter {
 public:
  virtual ~OutputFormatter() = default;

  virtual IoResult<void> write_discovery_start() = 0;
  // `kind` is "test" or "benchmark".
  virtual IoResult<void> write_test_discovered(const TestDesc& desc, std::string_view kind) = 0;
  virtual IoResult<void> write_discovery_finish(const ConsoleTestDiscoveryState& state) = 0;
  virtual IoResult<void> write_run_start(std::size_t test_count,
                                         std::optional<std::uint64_t> shuffle_seed) = 0;
  virtual IoResult<void> write_test_start(const TestDesc& desc) = 0;
  virtual IoResult<void> write_timeout(const TestDesc& desc) = 0;
  virtual IoResult<void> write_result(const TestDesc& desc, const TestResult& result,
                                      const std::optional<TestExecTime>& exec_time,
                                      std::string_view stdout, const ConsoleTestState& state) = 0;
  // True when the run succeeded.
  virtual IoResult<bool> write_run_finish(const ConsoleTestState& state) = 0;
  virtual IoResult<void> write_merged_doctests_times(double total_time,
                                                     double compilation_time) = 0;
};

}  // namespace velt
