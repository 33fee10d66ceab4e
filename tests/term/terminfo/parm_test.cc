#include "src/term/terminfo/parm.h"

#include <velt/test.h>

#include <string>
#include <vector>

namespace {

namespace terminfo = velt::term::terminfo;
using velt::test::detail::quoted;

// "ok BYTES" or "error MESSAGE", so that one comparison shows both kinds of outcome.
std::string outcome(const velt::Result<std::string, std::string>& r) {
  return r.ok() ? "ok " + *r : "error " + r.error();
}

std::string expand(std::string_view cap, std::vector<terminfo::Param> params = {}) {
  terminfo::Variables vars;
  return outcome(terminfo::expand(cap, params, vars));
}

// The setaf of xterm-256color: colours 0-7, the bright 8-15, then the 256-colour palette.
constexpr std::string_view XTERM_SETAF =
    "\x1b[%?%p1%{8}%<%t3%p1%d%e%p1%{16}%<%t9%p1%{8}%-%d%e38;5;%p1%d%;m";

}  // namespace

VELT_TEST(terminfo::parm::expands) {
  const struct {
    std::string_view cap;
    std::vector<terminfo::Param> params;
    std::string_view want;
  } cases[] = {
      {"\x1b[3%p1%dm", {2}, "\x1b[32m"},
      {XTERM_SETAF, {2}, "\x1b[32m"},
      {XTERM_SETAF, {10}, "\x1b[92m"},
      {XTERM_SETAF, {100}, "\x1b[38;5;100m"},
      {"%%", {}, "%"},
      {"%{65}%c", {}, "A"},
      {"%{0}%c", {}, "\x80"},  // a NUL would end the string for C readers
      {"%{321}%c", {}, "A"},   // the low 8 bits; only 0 itself becomes 0x80
      {"%'A'%d", {}, "65"},
      {"%'\xff'%d", {}, "255"},                         // character constants are unsigned bytes
      {"%p1%p2%+%d", {5}, "5"},                         // a parameter not given is 0
      {"%p9%d", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, "9"},  // the tenth is ignored
      {"%i%p1%d%p2%d%p3%d", {1, 2, 3}, "233"},          // %i bumps the first two only
      {"%{2}%{7}%-%d", {}, "-5"},                       // x - y with y on top
      {"%{7}%{2}%m%d", {}, "1"},
      {"%{7}%{2}%/%d", {}, "3"},
      {"%{0}%{7}%-%{2}%/%d", {}, "-3"},  // division truncates toward zero
      {"%{0}%{7}%-%{2}%m%d", {}, "-1"},
      {"%{6}%{7}%*%d", {}, "42"},
      {"%{2147483647}%{1}%+%d", {}, "-2147483648"},  // 32-bit wrap-around
      {"%{0}%{2147483647}%-%{1}%-%{1}%-%d", {}, "2147483647"},
      {"%{65536}%{65536}%*%d", {}, "0"},
      {"%{12}%{10}%&%d%{12}%{10}%|%d%{12}%{10}%^%d", {}, "8146"},
      {"%{1}%{2}%<%d%{1}%{2}%>%d%{2}%{2}%=%d", {}, "101"},
      {"%{1}%{2}%A%d%{0}%{1}%-%{2}%A%d", {}, "10"},  // true only when both are positive
      {"%{0}%{2}%O%d%{0}%{1}%-%{0}%O%d", {}, "10"},
      {"%{0}%!%d%{3}%!%d%{0}%{1}%-%!%d", {}, "101"},  // 1 for every value up to 0
      {"%{0}%~%d", {}, "-1"},
      {"%{5}%Pa%{7}%PZ%ga%gZ%+%d", {}, "12"},
      {"%?%{1}%tA%eB%;", {}, "A"},
      {"%?%{0}%tA%eB%;", {}, "B"},
      {"%?%{0}%tA%;B", {}, "B"},
      {"%?%{0}%t%?%{1}%tA%;B%eC%;", {}, "C"},    // the nested %; does not end the skip
      {"%?%{1}%tA%e%?%{1}%tB%;C%;D", {}, "AD"},  // nor inside a skipped else-part
      {"%?%{0}%tA%e%{1}%tB%eC%;", {}, "B"},      // %e %? %t chains: else-if
      {"%.3d", {}, "error stack is empty"},
      {"ab%", {}, "ab"},  // an escape left open at the end is dropped
      {"x%{12", {}, "x"},
      {"x%p", {}, "x"},
      // Number formatting.
      {"%p1%.3d", {5}, "005"},
      {"%p1%.3d", {-5}, "-005"},
      {"%p1%:+.3d", {5}, "+05"},
      {"%p1%:+d", {5}, "+5"},
      {"%p1%:+.3d", {-5}, "-05"},
      {"%p1% .3d", {5}, " 005"},
      {"%p1%:-5d", {42}, "42   "},
      {"%p1%5d", {42}, "   42"},
      {"%p1%:-5.3d", {-4}, "-004 "},
      {"%p1%d", {-2147483647 - 1}, "-2147483648"},
      {"%p1%o", {8}, "10"},
      {"%p1%#o", {8}, "010"},
      {"%p1%#.4o", {8}, "0010"},
      {"%p1%o", {-1}, "37777777777"},
      {"%p1%x", {255}, "ff"},
      {"%p1%#x", {255}, "0xff"},
      {"%p1%#x", {0}, "0"},
      {"%p1%:#.4x", {255}, "0x00ff"},
      {"%p1%X", {255}, "FF"},
      {"%p1%#X", {255}, "0XFF"},
      {"%p1%x", {-1}, "ffffffff"},
  };
  for (const auto& c : cases) {
    std::string want(c.want);
    if (!want.starts_with("error ")) want = "ok " + want;
    VELT_ASSERT_EQ(expand(c.cap, c.params), want, "capability {}", quoted(c.cap));
  }
}

VELT_TEST(terminfo::parm::failures) {
  const struct {
    std::string_view cap;
    std::string_view message;
  } cases[] = {
      {"%d", "stack is empty"},
      {"%{1}%+", "stack is empty"},  // two operands needed
      {"%c", "stack is empty"},
      {"%t", "stack is empty"},
      {"%PA", "stack is empty"},
      {"%l", "stack is empty"},
      {"%{1}%l", "a non-str was used with %l"},
      {"%pa", "bad param number"},
      {"%p0", "bad param number"},
      {"%Z", "unrecognized format option Z"},
      {"%\xe9", "unrecognized format option \xc3\xa9"},  // the byte shown as its character
      {"%{1}%P1", "bad variable name in %P"},
      {"%g[", "bad variable name in %g"},
      {"%'ab", "malformed character constant"},
      {"%{2147483647}%d%{2147483648}", "int constant too large"},
      {"%{1x}", "bad int constant"},
      {"%{1}%:.3.d", "invalid format specifier"},
      {"%{1}%:5#d", "invalid format specifier"},  // flags come before the width
      {"%{1}%s", "non-number on stack with %s"},
      {"%{1}%:-s", "non-number on stack with %s"},
      {"%{1}%:99999999999999999999d", "format width overflow"},
      {"%{1}%.99999999999999999999d", "format precision overflow"},
      // Beyond the widths and fills the formatting supports; they would ask for gigabytes.
      {"%{1}%:65536d", "format width overflow"},
      {"%{1}%.65536d", "format precision overflow"},
      {"%{0}%{1}%-%.65535d", "format precision overflow"},  // the "-" counts
      // Would trap the processor.
      {"%{1}%{0}%/", "division by zero"},
      {"%{1}%{0}%m", "division by zero"},
      {"%{0}%{2147483647}%-%{1}%-%{0}%{1}%-%/", "division overflow"},
      {"%{0}%{2147483647}%-%{1}%-%{0}%{1}%-%m", "division overflow"},
      {"abc%d", "stack is empty"},  // the partial output is discarded
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(expand(c.cap), "error " + std::string(c.message), "capability {}",
                   quoted(c.cap));
  }
}

// The largest supported fills are still produced, in full.
VELT_TEST(terminfo::parm::widest_fills) {
  VELT_ASSERT_EQ(expand("%{1}%:65535d").size(), std::string("ok ").size() + 65535);
  VELT_ASSERT_EQ(expand("%{1}%.65535d").size(), std::string("ok ").size() + 65535);
  VELT_ASSERT_EQ(expand("%{0}%{1}%-%.65534d").size(), std::string("ok ").size() + 65535);
}

// Variables belong to the caller: what one expansion stores, the next one reads.
VELT_TEST(terminfo::parm::variables_outlive_one_expansion) {
  terminfo::Variables vars;
  std::vector<terminfo::Param> none;
  VELT_ASSERT_EQ(outcome(terminfo::expand("%{3}%PA%{4}%Pa", none, vars)), "ok ");
  VELT_ASSERT_EQ(vars.sta[0], 3);
  VELT_ASSERT_EQ(vars.dyn[0], 4);
  VELT_ASSERT_EQ(outcome(terminfo::expand("%gA%ga%*%d", none, vars)), "ok 12");
}
