#include "src/helpers/concurrency.h"

#include <string>

#include "include/velt/test.h"
#include "src/helpers/parse_number.h"
#include "src/platform/process.h"
#include "src/platform/thread.h"

namespace velt {

std::size_t get_concurrency() {
  if (std::optional<std::string> value = platform::env_var("VELT_TEST_THREADS")) {
    Result<std::size_t, std::string> n = parse_unsigned<std::size_t>(*value);
    if (n.ok() && *n > 0) return *n;
    test::panic("VELT_TEST_THREADS is `" + *value + "`, should be a positive integer.");
  }
  std::size_t n = platform::available_parallelism();
  return n == 0 ? 1 : n;
}

}  // namespace velt
