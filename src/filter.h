// Narrowing the test list to what the command line asks for, and adjusting ignore marks.
#pragma once

#include <string>
#include <vector>

#include "src/cli.h"
#include "src/test_list.h"
#include "src/types.h"

namespace velt {

// Applies the name filters, the skips, the panic-expectation exclusion and the ignore mode, in
// that order; the survivors keep their list order.
std::vector<TestDescAndFn> filter_tests(const TestOpts& opts, TestList list);

// For a list in ascending name order: the entries whose names equal one of `filters`, each
// once, in list order. Among entries sharing a name only the last is found.
std::vector<TestDescAndFn> filter_exact_match(std::vector<TestDescAndFn> tests,
                                              const std::vector<std::string>& filters);

// Benchmarks that are not to be measured run once, as plain tests.
std::vector<TestDescAndFn> convert_benchmarks_to_tests(std::vector<TestDescAndFn> tests);

}  // namespace velt
