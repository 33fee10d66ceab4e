// What the scheduler reports to the console as a run proceeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <variant>

#include "src/test_result.h"
#include "src/types.h"

namespace velt {
namespace event {

struct Filtered {  // the run is about to start
  std::size_t count;
  std::optional<std::uint64_t> shuffle_seed;
};
struct Started {
  TestDesc desc;
};
struct Result {
  CompletedTest test;
};
struct Timeout {  // still running after the warning period
  TestDesc desc;
};
struct FilteredOut {
  std::size_t count;
};

}  // namespace event

using TestEvent = std::variant<event::Filtered, event::Started, event::Result, event::Timeout,
                               event::FilteredOut>;

}  // namespace velt
