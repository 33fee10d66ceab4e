// The outcome of one test and how it is decided.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "src/platform/panic.h"
#include "src/stats.h"
#include "src/time.h"
#include "src/types.h"

namespace velt {

struct Ok {};
struct Failed {};
struct FailedWithMessage {
  std::string message;
};
struct Ignored {};
struct Bench {
  BenchSamples samples;
};
struct TimeLimitExceeded {};

using TestResult = std::variant<Ok, Failed, FailedWithMessage, Ignored, Bench, TimeLimitExceeded>;

// What a finished test sends to the scheduler.
struct CompletedTest {
  TestId id;
  TestDesc desc;
  TestResult result;
  std::optional<TestExecTime> exec_time;
  std::string stdout;  // captured output, bytes
};

// Classifies what a body did (success when `failure` is null) against what its descriptor
// expects, then applies the time limit to tests that passed.
TestResult calc_result(const TestDesc& desc, const platform::PanicPayload* failure,
                       const std::optional<TestTimeOptions>& time_opts,
                       const std::optional<TestExecTime>& exec_time);

// The exit status of a child process whose test passed; a failing one aborts.
inline constexpr int CHILD_PASSED = 50;

// How a child process's end maps to a result; CHILD_PASSED passes, SIGABRT fails.
struct ExitStatus {
  bool signaled = false;
  int code = 0;  // exit code, or the signal number when signaled
};
TestResult get_result_from_exit_code(const TestDesc& desc, ExitStatus status,
                                     const std::optional<TestTimeOptions>& time_opts,
                                     const std::optional<TestExecTime>& exec_time);

}  // namespace velt
