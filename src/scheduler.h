// The scheduler: selects and orders the tests, runs them up to the concurrency limit, and
// reports the run as a sequence of events.
#pragma once

#include <functional>

#include "src/cli.h"
#include "src/event.h"
#include "src/result.h"
#include "src/test_list.h"

namespace velt {

using EventHandler = std::function<IoResult<void>(TestEvent)>;

// Returns the first error of the handler, which ends the run at once.
IoResult<void> run_tests(const TestOpts& opts, TestList tests,
                         const EventHandler& notify_about_test_event);

}  // namespace velt
