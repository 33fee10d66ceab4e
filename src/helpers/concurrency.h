// How many tests run at once by default.
#pragma once

#include <cstddef>

namespace velt {

// VELT_TEST_THREADS when set (a positive integer, else a panic), otherwise the hardware
// threads available to the process, otherwise 1.
std::size_t get_concurrency();

}  // namespace velt
