// Benchmark bodies: measured runs that report samples, and single runs as plain tests.
#pragma once

#include "src/platform/channel.h"
#include "src/test_result.h"
#include "src/types.h"

namespace velt {

// Runs the body once in Single mode; its summary, if any, is discarded. A panic propagates.
Outcome run_once(BenchBodyFn body);
Outcome run_once(const DynamicBenchBody& body);

// Measures one benchmark on the calling thread and sends exactly one completion for it.
void benchmark(TestId id, TestDesc desc, platform::Sender<CompletedTest> tx, bool nocapture,
               RunnableBench body);

}  // namespace velt
