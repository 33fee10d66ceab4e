// The entry: reads the command line and lists or runs the tests.
#pragma once

#include <string>
#include <vector>

#include "include/velt/test.h"
#include "src/test_list.h"
#include "src/types.h"

namespace velt {

TestDescAndFn make_owned_test(const test::TestEntry& entry);

// Parses `args` and lists or runs `tests`. Returns when everything succeeded; otherwise ends
// the process with status 101. With `panic_abort` a failing test ends the process that runs it,
// so every test runs in a child copy of this executable, unless --force-run-in-process keeps
// them here (and then the first panic ends the run).
void test_main_inner(const std::vector<std::string>& args, TestList tests,
                     bool panic_abort = false);

// The child side of isolation, for a process started with the test-invocation variable set:
// runs the registered test it names, alone, and ends with the pass status or by the abort
// signal. Never returns.
[[noreturn]] void run_as_child(test::TestTable table);

// Runs `body` as the whole invocation: a panic that reaches here has been reported and ends
// the process with status 101.
void run_main(void (*body)(void*), void* context);

}  // namespace velt
