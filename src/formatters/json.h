// The JSON event format: one JSON object per line for every event of a run or a listing, for
// tools that read test results as a stream.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <variant>

#include "src/formatters/formatter.h"

namespace velt {

// Text whose printed form is JSON-escaped (quotes, backslashes, control bytes and DEL), without
// the surrounding quotes. Bytes from 0x80 up pass through, so UTF-8 text stays UTF-8.
class EscapedString {
 public:
  explicit EscapedString(std::string_view s) : text(s) {}
  explicit EscapedString(std::string s) : text(std::move(s)) {}

  // Names, messages and captured output can hold invalid UTF-8, which no JSON parser accepts:
  // each invalid sequence becomes U+FFFD. Valid text is borrowed, not copied.
  static EscapedString lossy(std::string_view bytes);

  void append_to(std::string& out) const;
  std::string to_string() const;

 private:
  std::variant<std::string_view, std::string> text;
};

// The shortest decimal text that reads back as `v`, never with an exponent and with a point
// only when there is a fraction: 2, 1.5, 0.0000001.
std::string fmt_real(double v);
// Seconds as the machine-read formats carry them: the whole seconds and the fraction are
// converted separately, so that long durations keep their nanoseconds.
double duration_secs(std::chrono::nanoseconds d);

class JsonFormatter final : public OutputFormatter {
 public:
  explicit JsonFormatter(OutputLocation out) : output(std::move(out)) {}

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
  // Writes one whole line, ending in a line feed, with a single write.
  IoResult<void> writeln_message(std::string_view line);
  IoResult<void> write_event(const TestDesc& desc, std::string_view event,
                             const std::optional<TestExecTime>& exec_time,
                             std::optional<std::string_view> stdout,
                             std::optional<std::string_view> extra);

  OutputLocation output;
};

}  // namespace velt
