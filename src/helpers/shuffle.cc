// Reproducible shuffling of the test order from a 64-bit seed.
#include "src/helpers/shuffle.h"

#include <bit>
#include <string>

#include "src/platform/process.h"

namespace velt {
namespace {

// The key-independent constants ("somepseudorandomlygeneratedbytes").
constexpr std::uint64_t INIT0 = 0x736f6d6570736575;
constexpr std::uint64_t INIT1 = 0x646f72616e646f6d;
constexpr std::uint64_t INIT2 = 0x6c7967656e657261;
constexpr std::uint64_t INIT3 = 0x7465646279746573;

// TestName's alternatives in declaration order; an aligned name also hashes its padding.
constexpr std::size_t ALIGNED_NAME_INDEX = 2;

inline void sip_round(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2, std::uint64_t& v3) {
  v0 += v1;
  v1 = std::rotl(v1, 13);
  v1 ^= v0;
  v0 = std::rotl(v0, 32);
  v2 += v3;
  v3 = std::rotl(v3, 16);
  v3 ^= v2;
  v0 += v3;
  v3 = std::rotl(v3, 21);
  v3 ^= v0;
  v2 += v1;
  v1 = std::rotl(v1, 17);
  v1 ^= v2;
  v2 = std::rotl(v2, 32);
}

std::uint64_t hash_names(const std::vector<std::pair<TestId, TestDescAndFn>>& tests) {
  SipHasher13 h;
  h.write_u64(tests.size());
  for (const auto& [id, test] : tests) {
    const TestName& name = test.desc.name;
    h.write_u64(name.index());
    h.write(name.as_slice());
    h.write("\xff");  // ends the text, so "ab","c" and "a","bc" hash apart
    if (name.index() == ALIGNED_NAME_INDEX) h.write_u64(static_cast<std::uint64_t>(name.padding()));
  }
  return h.finish();
}

}  // namespace

SipHasher13::SipHasher13(std::uint64_t k0, std::uint64_t k1)
    : v0(k0 ^ INIT0), v1(k1 ^ INIT1), v2(k0 ^ INIT2), v3(k1 ^ INIT3) {}

void SipHasher13::write(std::string_view bytes) {
  length += bytes.size();
  std::size_t i = 0;
  while (i < bytes.size()) {
    tail |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i++])) << (8 * tail_len);
    if (++tail_len == 8) {
      v3 ^= tail;
      sip_round(v0, v1, v2, v3);
      v0 ^= tail;
      tail = 0;
      tail_len = 0;
    }
  }
}

void SipHasher13::write_u64(std::uint64_t v) {
  char bytes[8];
  for (char& b : bytes) {
    b = static_cast<char>(v & 0xff);
    v >>= 8;
  }
  write(std::string_view(bytes, sizeof bytes));
}

std::uint64_t SipHasher13::finish() const {
  std::uint64_t a = v0, b = v1, c = v2, d = v3;
  std::uint64_t last = (length & 0xff) << 56 | tail;
  d ^= last;
  sip_round(a, b, c, d);
  a ^= last;
  c ^= 0xff;
  for (int i = 0; i < 3; ++i) sip_round(a, b, c, d);
  return a ^ b ^ c ^ d;
}

std::optional<std::uint64_t> get_shuffle_seed(const TestOpts& opts) {
  if (opts.shuffle_seed) return opts.shuffle_seed;
  if (!opts.shuffle) return std::nullopt;
  auto nanos = platform::wall_clock_nanos();
  if (!nanos)
    test::panic("Failed to get system time: the system clock reads before the Unix epoch");
  return static_cast<std::uint64_t>(*nanos);  // keeps the low 64 bits
}

void shuffle_tests(std::uint64_t seed, std::vector<std::pair<TestId, TestDescAndFn>>& tests) {
  std::uint64_t list_hash = hash_names(tests);
  std::uint64_t state = seed;
  std::size_t n = tests.size();
  for (std::size_t i = 0; i < n; ++i) {
    SipHasher13 h;
    h.write_u64(state);
    h.write_u64(list_hash);
    state = h.finish();
    std::size_t j = i + static_cast<std::size_t>(state % (n - i));
    if (j != i) std::swap(tests[i], tests[j]);
  }
}

}  // namespace velt
