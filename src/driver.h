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
// the process with status 101.
void test_main_inner(const std::vector<std::string>& args, TestList tests);

// Runs `body` as the whole invocation: a panic that reaches here has been reported and ends
// the process with status 101.
void run_main(void (*body)(void*), void* context);

}  // namespace velt
