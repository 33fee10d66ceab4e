// Runs one test: on a worker thread of its own with its output captured and its panic caught,
// or in a child copy of this executable; benchmarks are measured on the calling thread.
#pragma once

#include <optional>

#include "src/cli.h"
#include "src/platform/channel.h"
#include "src/platform/thread.h"
#include "src/test_result.h"
#include "src/types.h"

namespace velt {

enum class RunMode { InProcess, SpawnChild };

// The child-process protocol: a child started with INVOKE_VAR set runs the test of that name
// alone and ends with CHILD_PASSED when it passes, by the abort signal when it fails.
// BENCHMARKS_VAR is "1" when the run that started it measures benchmarks.
inline constexpr const char* INVOKE_VAR = "__VELT_TEST_INVOKE";
inline constexpr const char* BENCHMARKS_VAR = "__VELT_TEST_BENCH_BENCHMARKS";

// Runs a test body on the calling thread, with its panic caught and reported, and classifies
// what it did against what `desc` expects, as a run in this process does (without time
// limits, and without capture: its output goes where the thread's output goes).
TestResult run_test_here(const TestDesc& desc, RunnableTest runnable);

// Arranges for exactly one completion of `test` to be sent on `tx`. Returns the worker thread
// to join once the completion has been received; none when the test completed without one.
std::optional<platform::Thread> run_test(const TestOpts& opts, bool force_ignore, TestId id,
                                         TestDescAndFn test, RunMode mode,
                                         platform::Sender<CompletedTest> tx);

}  // namespace velt
