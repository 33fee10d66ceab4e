#include "src/helpers/shuffle.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "include/velt/test.h"
#include "src/platform/process.h"

namespace {

velt::test::Outcome pass() { return {}; }

std::string bytes_upto(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(i);
  return s;
}

// Names as the scheduler hands them over: aligned, without padding.
std::vector<std::pair<velt::TestId, velt::TestDescAndFn>> aligned(
    const std::vector<std::string_view>& names) {
  std::vector<std::pair<velt::TestId, velt::TestDescAndFn>> tests;
  for (std::string_view n : names) {
    velt::TestDesc desc(velt::AlignedName{n, velt::NamePadding::NoPadding});
    tests.emplace_back(tests.size(), velt::TestDescAndFn{std::move(desc), velt::StaticTest{&pass}});
  }
  return tests;
}

std::string render(const std::vector<std::pair<velt::TestId, velt::TestDescAndFn>>& tests) {
  std::string out;
  for (const auto& [id, t] : tests) {
    if (!out.empty()) out += ' ';
    out += t.desc.name.as_slice();
    out += '#' + std::to_string(id);
  }
  return out;
}

}  // namespace

// SipHash-1-3 with a zero key, as computed by an independent implementation (CPython's bytes
// hash under PYTHONHASHSEED=0). Lengths straddle the 8-byte block boundary.
VELT_TEST(shuffle::siphash13_reference_vectors) {
  const struct {
    std::size_t len;
    std::uint64_t want;
  } cases[] = {
      {7, 0x2f098ab0c751325a},  {8, 0xead411e67ebe2eea},  {15, 0xf30eb725bb91c9ea},
      {16, 0x8972188433a5c5b7}, {64, 0x75e05fd5bbc870c6},
  };
  for (const auto& c : cases) {
    std::string msg = bytes_upto(c.len);
    velt::SipHasher13 whole;
    whole.write(msg);
    VELT_ASSERT_EQ(whole.finish(), c.want, "length {}", c.len);
    // Pieces hash as their concatenation, wherever the cut falls.
    for (std::size_t cut = 0; cut <= c.len; ++cut) {
      velt::SipHasher13 pieces;
      pieces.write(std::string_view(msg).substr(0, cut));
      pieces.write(std::string_view(msg).substr(cut));
      VELT_ASSERT_EQ(pieces.finish(), c.want, "length {} cut at {}", c.len, cut);
    }
  }
  const struct {
    std::string_view text;
    std::uint64_t want;
  } texts[] = {{"a", 0x407448d2b89b1813}, {"abc", 0xc03bc3a0042630f2}};
  for (const auto& t : texts) {
    velt::SipHasher13 h;
    h.write(t.text);
    VELT_ASSERT_EQ(h.finish(), t.want, "{}", t.text);
  }
  // write_u64 is the value's eight little-endian bytes.
  velt::SipHasher13 num;
  num.write_u64(0x0706050403020100);
  VELT_ASSERT_EQ(num.finish(), 0xead411e67ebe2eea);
}

VELT_TEST(shuffle::known_orders) {
  const struct {
    std::vector<std::string_view> names;
    std::uint64_t seed;
    const char* want;
  } cases[] = {
      {{"a", "b", "c"}, 0, "c#2 b#1 a#0"},
      {{"a", "b", "c"}, 1, "b#1 c#2 a#0"},
      {{"alpha", "beta", "delta", "gamma"}, 42, "alpha#0 delta#2 beta#1 gamma#3"},
      {{"t1", "t2", "t3", "t4", "t5"}, 7, "t3#2 t1#0 t5#4 t2#1 t4#3"},
      {{"only"}, 123, "only#0"},
      {{}, 5, ""},
  };
  for (const auto& c : cases) {
    auto tests = aligned(c.names);
    velt::shuffle_tests(c.seed, tests);
    VELT_ASSERT_EQ(render(tests), c.want, "seed {}", c.seed);
  }
}

VELT_TEST(shuffle::order_depends_on_name_kind) {
  // The hash covers the name's kind and padding, not only its text.
  const std::vector<std::string_view> names = {"a", "b", "c", "d", "e", "f", "g", "h"};
  auto as_static = aligned(names);
  for (auto& [id, t] : as_static) t.desc.name = velt::StaticName{t.desc.name.as_slice()};
  auto padded = aligned(names);
  for (auto& [id, t] : padded) t.desc.name = t.desc.name.with_padding(velt::NamePadding::PadRight);
  auto plain = aligned(names);
  velt::shuffle_tests(9, as_static);
  velt::shuffle_tests(9, padded);
  velt::shuffle_tests(9, plain);
  VELT_ASSERT_NE(render(as_static), render(plain));
  VELT_ASSERT_NE(render(padded), render(plain));
}

VELT_TEST(shuffle::seed_choice) {
  velt::TestOpts opts;
  VELT_ASSERT(!velt::get_shuffle_seed(opts).has_value());
  opts.shuffle_seed = 17;
  VELT_ASSERT_EQ(velt::get_shuffle_seed(opts), std::optional<std::uint64_t>(17));
  opts.shuffle = true;
  VELT_ASSERT_EQ(velt::get_shuffle_seed(opts), std::optional<std::uint64_t>(17));
  opts.shuffle_seed.reset();
  // Without a given seed the wall clock in nanoseconds is the seed. The wall clock may be
  // stepped while this runs, so allow it a minute either way.
  auto before = velt::platform::wall_clock_nanos();
  std::optional<std::uint64_t> seed = velt::get_shuffle_seed(opts);
  auto after = velt::platform::wall_clock_nanos();
  VELT_ASSERT(before && seed && after);
  constexpr std::uint64_t MINUTE = 60'000'000'000;
  VELT_ASSERT(static_cast<std::uint64_t>(*before) - MINUTE <= *seed &&
                  *seed <= static_cast<std::uint64_t>(*after) + MINUTE,
              "seed {} read between {} and {}", *seed, static_cast<std::uint64_t>(*before),
              static_cast<std::uint64_t>(*after));
}
