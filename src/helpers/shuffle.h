// Reproducible shuffling of the test order from a 64-bit seed.
#pragma once

#include <cstdint>  // std::uint64_t
#include <optional>
#include <string_view>
#include <utility>  // std::pair
#include <vector>

#include "src/cli.h"
#include "src/types.h"

namespace velt {

// SipHash-1-3 over a byte stream: one compression round per 8-byte block, three finalisation
// rounds. Writing pieces one after another hashes the same as writing their concatenation.
class SipHasher13 {
 public:
  explicit SipHasher13(std::uint64_t k0 = 0, std::uint64_t k1 = 0);

  void write(std::string_view bytes);
  void write_u64(std::uint64_t v);  // little-endian
  std::uint64_t finish() const;

 private:
  std::uint64_t v0, v1, v2, v3;
  std::uint64_t tail = 0;    // bytes not yet forming a whole block, little-endian
  std::size_t tail_len = 0;  // 0..7
  std::uint64_t length = 0;  // total bytes written
};

// The seed to shuffle with: the configured one, else the wall clock when shuffling was asked
// for, else none.
std::optional<std::uint64_t> get_shuffle_seed(const TestOpts& opts);

// Reorders `tests` by a Fisher-Yates pass whose random numbers depend on the seed and on the
// names in the list, so one seed gives one order for one set of tests.
void shuffle_tests(std::uint64_t seed, std::vector<std::pair<TestId, TestDescAndFn>>& tests);

}  // namespace velt
