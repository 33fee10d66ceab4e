// The text of failed assertions and of the values they show.
#include <velt/test.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

#include "src/platform/capture.h"
#include "src/platform/panic.h"

namespace {

namespace detail = velt::test::detail;

struct Point {
  int x, y;
  bool operator==(const Point&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Point& p) {
  return os << '(' << p.x << ", " << p.y << ')';
}
struct Opaque {
  bool operator==(const Opaque&) const { return false; }
};

// The message of the panic `body` raises; the report goes to a buffer nobody reads.
template <class F>
std::string panic_message(F body) {
  auto quiet = std::make_shared<velt::platform::CaptureBuffer>();
  velt::platform::CaptureHandle previous = velt::platform::set_output_capture(quiet);
  std::string message = "<no panic>";
  try {
    body();
  } catch (const velt::platform::PanicException& e) {
    message = e.message;
  }
  velt::platform::set_output_capture(previous);
  return message;
}

}  // namespace

VELT_TEST(assert::quoted) {
  const struct {
    std::string_view text;
    const char* want;
  } cases[] = {
      {"", R"("")"},
      {"plain", R"("plain")"},
      {R"(say "hi" \o/)", R"("say \"hi\" \\o/")"},
      {"it's", R"("it's")"},  // single quotes stay as they are inside double quotes
      {"\t\r\n", R"("\t\r\n")"},
      {std::string_view("\0", 1), R"("\0")"},
      {"\x1b[0m\x7f", R"("\u{1b}[0m\u{7f}")"},
      {"caf\xC3\xA9 \xE2\x82\xAC", "\"caf\xC3\xA9 \xE2\x82\xAC\""},  // printable text stays
      {"\xC2\x85", R"("\u{85}")"},                                   // C1 control
      {"a\xE2\x80\x8B"
       "b",
       R"("a\u{200b}b")"},            // zero-width space
      {"\xFF\xC3", R"("\xff\xc3")"},  // bytes that are no text
  };
  for (const auto& c : cases) VELT_ASSERT_EQ(detail::quoted(c.text), c.want);
}

VELT_TEST(assert::value_texts) {
  const struct {
    std::string got;
    const char* want;
  } cases[] = {
      {detail::char_string('a'), "'a'"},
      {detail::char_string('\''), R"('\'')"},
      {detail::char_string('"'), R"('"')"},
      {detail::char_string('\n'), R"('\n')"},
      {detail::char_string('\x01'), R"('\u{1}')"},
      {detail::char_string('\xE9'), R"('\xe9')"},
      {detail::number_string(-42LL), "-42"},
      {detail::number_string(18446744073709551615ULL), "18446744073709551615"},
      {detail::number_string(1.0), "1.0"},
      {detail::number_string(-0.0), "-0.0"},
      {detail::number_string(0.1), "0.1"},
      {detail::number_string(0.1f), "0.1"},
      {detail::number_string(1234.5), "1234.5"},
      {detail::number_string(0.0001), "0.0001"},
      {detail::number_string(0.00001), "1e-5"},
      {detail::number_string(1.5e-7), "1.5e-7"},
      {detail::number_string(1e15), "1000000000000000.0"},
      {detail::number_string(1e16), "1e16"},
      {detail::number_string(1e23), "1e23"},  // not 99999999999999991611392
      {detail::number_string(0.1L), "0.1"},
      {detail::number_string(std::numeric_limits<double>::quiet_NaN()), "NaN"},
      {detail::number_string(-std::numeric_limits<double>::infinity()), "-inf"},
      {detail::pointer_string(nullptr), "nullptr"},
      {detail::pointer_string(reinterpret_cast<const void*>(0x1f0)), "0x1f0"},
      {detail::to_text(Point{1, 2}, true), "(1, 2)"},
      {detail::to_text(Opaque{}, true), "<unprintable value>"},
      {detail::to_text(std::string("s\n"), true), R"("s\n")"},
      {detail::to_text(std::string("s\n"), false), "s\n"},
      {detail::to_text(true, true), "true"},
  };
  for (const auto& c : cases) VELT_ASSERT_EQ(c.got, c.want);
}

VELT_TEST(assert::format_message) {
  const std::string args[] = {"A", "B"};
  const struct {
    std::string_view format;
    std::size_t n;
    const char* want;
  } cases[] = {
      {"", 0, ""},
      {"{} and {}", 2, "A and B"},
      {"{}{}", 2, "AB"},
      {"{{}} {}", 1, "{} A"},  // doubled braces are literal braces
      {"{{{}}}", 1, "{A}"},
      {"only {}", 2, "only A"},   // extra arguments are ignored
      {"{} {} {}", 2, "A B {}"},  // a missing one leaves its placeholder
      {"lone { and }", 0, "lone { and }"},
      {"{x}", 1, "{x}"},  // only the empty placeholder is replaced
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(detail::format_message(c.format, args, c.n), c.want, "format {}", c.format);
  }
  VELT_ASSERT_EQ(detail::format("{} is {}", "x", 3.0), "x is 3.0");
}

VELT_TEST(assert::failure_messages) {
  const int one = 1;
  const std::string text = "a\"b";
  const Point point{1, 2};
  const struct {
    const char* name;
    std::string got;
    const char* want;
  } cases[] = {
      {"assert", panic_message([&] { VELT_ASSERT(one == 2); }), "assertion failed: one == 2"},
      {"assert with message", panic_message([&] { VELT_ASSERT(one > 1, "one is {}", one); }),
       "assertion failed: one > 1\none is 1"},
      {"eq", panic_message([&] { VELT_ASSERT_EQ(one + 1, 3); }),
       "assertion `one + 1 == 3` failed\n  left: 2\n right: 3"},
      {"eq with message", panic_message([&] { VELT_ASSERT_EQ(text, "ab", "row {}", 4); }),
       "assertion `text == \"ab\"` failed\n  left: \"a\\\"b\"\n right: \"ab\"\nrow 4"},
      {"ne", panic_message([&] { VELT_ASSERT_NE(point, point); }),
       "assertion `point != point` failed\n  left: (1, 2)\n right: (1, 2)"},
      {"mixed signs compare by value", panic_message([&] { VELT_ASSERT_EQ(-1, 4294967295u); }),
       "assertion `-1 == 4294967295u` failed\n  left: -1\n right: 4294967295"},
      {"panic", panic_message([] { VELT_PANIC("bad {}", 'c'); }), "bad c"},
      {"passing assertion", panic_message([&] { VELT_ASSERT_EQ(one, 1); }), "<no panic>"},
  };
  for (const auto& c : cases) VELT_ASSERT_EQ(c.got, c.want, "case {}", c.name);
}

VELT_TEST(assert::print_error_goes_to_the_capture) {
  auto buffer = std::make_shared<velt::platform::CaptureBuffer>();
  velt::platform::CaptureHandle previous = velt::platform::set_output_capture(buffer);
  detail::print_error("why");
  velt::platform::set_output_capture(previous);
  VELT_ASSERT_EQ(buffer->contents(), "why\n");
}
