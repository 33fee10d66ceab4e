#include "src/platform/process.h"

#include <time.h>
#include <velt/test.h>

#include <string>

namespace {
namespace platform = velt::platform;
}  // namespace

VELT_TEST(process::utf8_validity) {
  const struct {
    std::string_view bytes;
    bool valid;
  } cases[] = {
      {"", true},
      {"plain ascii", true},
      {"\xC3\xA9", true},                   // é
      {"\xE2\x82\xAC", true},               // €
      {"\xF0\x9F\x98\x80", true},           // an emoji, four bytes
      {"\xF4\x8F\xBF\xBF", true},           // U+10FFFF, the last code point
      {"\xEF\xBF\xBF", true},               // U+FFFF, a noncharacter but valid
      {std::string_view("a\0b", 3), true},  // NUL is a character like any other
      {"\xC0\x80", false},                  // overlong NUL
      {"\xC1\xBF", false},                  // overlong two-byte form
      {"\xE0\x9F\xBF", false},              // overlong three-byte form
      {"\xF0\x8F\xBF\xBF", false},          // overlong four-byte form
      {"\xED\xA0\x80", false},              // surrogate U+D800
      {"\xED\xBF\xBF", false},              // surrogate U+DFFF
      {"\xF4\x90\x80\x80", false},          // above U+10FFFF
      {"\xF5\x80\x80\x80", false},          // lead byte that can never occur
      {"\x80", false},                      // continuation without a lead
      {"ab\xC3", false},                    // truncated at the end
      {"\xE2\x82", false},                  // truncated three-byte sequence
      {"\xE2\x28\xA1", false},              // second byte not a continuation
      {"\xFF", false},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(platform::is_valid_utf8(c.bytes), c.valid, "bytes {}",
                   velt::test::detail::quoted(c.bytes));
  }
}

// Each maximal invalid subpart becomes one U+FFFD, as browsers decode.
VELT_TEST(process::utf8_lossy) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    std::string_view bytes;
    std::string want;
  } cases[] = {
      {"", ""},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"a\x80z", "a" + r + "z"},
      {"\xE2\x82", r},              // a truncated sequence is one subpart
      {"\xE2\x82z", r + "z"},       // the byte that breaks it is kept
      {"\xF4\x8F\xBF", r},          // valid prefix of U+10FFFF, cut short
      {"\xF0\x80\x80", r + r + r},  // 80 is out of range after F0: three parts
      {"\xED\xA0\x80", r + r + r},  // surrogates: each byte alone
      {"\xC0\xAF", r + r},          // C0 never starts a sequence
      {"\xE2\x28\xA1", r + "(" + r},
      {"\xF5\xFF", r + r},
      {"ok\xF0\x9F\x98\x80\xF0\x9F", "ok\xF0\x9F\x98\x80" + r},
  };
  for (const auto& c : cases) {
    const std::string got = platform::utf8_lossy(c.bytes);
    VELT_ASSERT_EQ(got, c.want, "bytes {}", velt::test::detail::quoted(c.bytes));
    VELT_ASSERT(platform::is_valid_utf8(got));
  }
}

VELT_TEST(process::args_and_environment) {
  const std::vector<std::string> args = platform::args();
  VELT_ASSERT(!args.empty() && !args[0].empty());  // the program path, found without main
  VELT_ASSERT(!platform::env_present("VELT_SURELY_NOT_SET_ANYWHERE"));
  VELT_ASSERT(!platform::env_var("VELT_SURELY_NOT_SET_ANYWHERE").has_value());
}

VELT_TEST(process::wall_clock) {
  const time_t before = time(nullptr);
  const auto nanos = platform::wall_clock_nanos();
  const time_t after = time(nullptr);
  VELT_ASSERT(nanos.has_value());
  const auto seconds = static_cast<long long>(*nanos / 1000000000u);
  VELT_ASSERT(seconds >= before && seconds <= after, "{} not in [{}, {}]", seconds, before, after);
}
