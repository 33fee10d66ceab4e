// The JUnit XML format: a run as one JUnit-style document on a single line, for tools that
// read JUnit reports. Results are kept until the run ends and the document is written then.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "src/formatters/formatter.h"

namespace velt {

struct JunitName {
  std::string class_name;
  std::string test_name;
};

// By test type: unit "tests::parse::empty" gives "tests::parse" and "empty" (a single segment
// gets the class "crate"); integration tests get "integration" and unknown ones "unknown" with
// the whole name; doc tests split "doc/intro.md - parse (line 12)" at " - ". A doc test name
// without " - " gets the class "doctest" and its whole name; with several, the first splits.
JunitName parse_class_name(const TestDesc& desc);

// Text as CDATA sections that keep the document on one line and well-formed: "]]>" and "<?"
// are split across sections, a line feed becomes "&#xA;" between sections, and characters
// XML 1.0 cannot carry even in CDATA (C0 controls but tab, line feed and carriage return;
// U+FFFE, U+FFFF) become U+FFFD. "a\nb" gives "<![CDATA[a]]>&#xA;<![CDATA[b]]>".
std::string str_to_cdata(std::string_view text);

// Bytes as the text of a double-quoted attribute: invalid UTF-8 and characters XML 1.0 cannot
// carry become U+FFFD; & < > " are entities; line feed, carriage return and tab are character
// references, so that neither the document's single line nor the value's whitespace is lost.
std::string escape_attribute(std::string_view bytes);

class JunitFormatter final : public OutputFormatter {
 public:
  explicit JunitFormatter(OutputLocation out) : output(std::move(out)) {}

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
  struct Entry {
    TestDesc desc;
    TestResult result;
    std::chrono::nanoseconds duration;  // zero when not measured
    std::string stdout;
  };

  // Writes text that holds no line feed with a single write.
  IoResult<void> write_message(std::string_view text);
  IoResult<void> write_testcase(const Entry& entry, bool display_output);

  OutputLocation output;
  std::vector<Entry> results;
};

}  // namespace velt
