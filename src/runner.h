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

// Arranges for exactly one completion of `test` to be sent on `tx`. Returns the worker thread
// to join once the completion has been received; none when the test completed without one.
std::optional<platform::Thread> run_test(const TestOpts& opts, bool force_ignore, TestId id,
                                         TestDescAndFn test, RunMode mode,
                                         platform::Sender<CompletedTest> tx);

}  // namespace velt
