// The owned list of tests the driver hands on, with what it promises about its order.
#pragma once

#include <vector>

#include "src/types.h"

namespace velt {

// Sorted: ascending by name, compared byte by byte, which lets exact filters binary-search.
enum class TestListOrder { Sorted, Unsorted };

struct TestList {
  std::vector<TestDescAndFn> tests;
  TestListOrder order = TestListOrder::Unsorted;
};

}  // namespace velt
