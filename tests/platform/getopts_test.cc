#include "src/platform/getopts.h"

#include <velt/test.h>

#include <string>
#include <vector>

namespace {

using velt::platform::HasValue;
using velt::platform::Occurrence;
using velt::platform::OptionGroup;
using velt::platform::OptionParser;
using velt::platform::ParsedArgs;

OptionParser sample_parser() {
  OptionParser parser;
  parser.add({"q", "quiet", "", "Quiet", HasValue::No, Occurrence::AtMostOnce})
      .add({"h", "help", "", "Help", HasValue::No, Occurrence::AtMostOnce})
      .add({"", "list", "", "List", HasValue::No, Occurrence::AtMostOnce})
      .add({"", "threads", "N", "Threads", HasValue::Required, Occurrence::AtMostOnce})
      .add({"Z", "", "FLAGS", "Unstable", HasValue::Required, Occurrence::AtMostOnce})
      .add({"", "skip", "FILTER", "Skip", HasValue::Required, Occurrence::Repeatable})
      .add({"", "color", "WHEN", "Color", HasValue::Optional, Occurrence::AtMostOnce});
  return parser;
}

std::string join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "|") + p;
  return out;
}

// One line that shows everything a parse found, so that a case states its whole outcome.
std::string describe(const ParsedArgs& parsed) {
  std::string out;
  for (const char* flag : {"quiet", "h", "list"}) {
    if (parsed.present(flag)) out += std::string(flag) + " ";
  }
  if (auto v = parsed.value("threads")) out += "threads=" + *v + " ";
  if (auto v = parsed.value("Z")) out += "Z=" + *v + " ";
  if (parsed.present("skip")) out += "skip=" + join(parsed.values("skip")) + " ";
  if (parsed.present("color")) out += "color=" + parsed.value("color").value_or("(none)") + " ";
  if (!parsed.free_args().empty()) out += "free=" + join(parsed.free_args()) + " ";
  if (!out.empty()) out.pop_back();
  return out;
}

std::string parse(const OptionParser& parser, const std::vector<std::string>& args) {
  auto parsed = parser.parse(args);
  return parsed ? describe(*parsed) : "error: " + parsed.error().message();
}

}  // namespace

VELT_TEST(platform::getopts::parses_arguments) {
  const struct {
    std::vector<std::string> args;
    std::string want;
  } cases[] = {
      {{}, ""},
      {{"a", "--list", "b"}, "list free=a|b"},  // free arguments anywhere, in order
      {{"-"}, "free=-"},
      {{"--", "-x", "--list", "--"}, "free=-x|--list|--"},
      {{"-qh"}, "quiet h"},
      {{"--h"}, "h"},  // a one-byte long name is the short option
      {{"--Z=a=b"}, "Z=a=b"},
      {{"-qZunstable"}, "quiet Z=unstable"},
      {{"-Z=x"}, "Z==x"},  // only long options split at "="
      {{"-Z", "--"}, "Z=--"},
      {{"--threads", "--list"}, "threads=--list"},  // a value is taken whatever it looks like
      {{"--threads="}, "threads="},
      {{"--skip", "b", "--skip=a", "-q"}, "quiet skip=b|a"},
      {{"--color"}, "color=(none)"},
      {{"--color", "-q"}, "quiet color=(none)"},  // an optional value never takes an option
      {{"--color", "always"}, "color=always"},
      {{"--color=", "x"}, "color= free=x"},
      {{"-x"}, "error: Unrecognized option: 'x'"},
      {{"-qx"}, "error: Unrecognized option: 'x'"},
      {{"-q=1"}, "error: Unrecognized option: '='"},
      {{"-\xc3\xa9"}, "error: Unrecognized option: '\xc3\xa9'"},  // a whole character
      {{"--foo=1"}, "error: Unrecognized option: 'foo'"},
      {{"---x"}, "error: Unrecognized option: '-x'"},
      {{"--=x"}, "error: Unrecognized option: ''"},
      {{"--threads"}, "error: Argument to option 'threads' missing"},
      {{"-qZ"}, "error: Argument to option 'Z' missing"},
      {{"--Z"}, "error: Argument to option 'Z' missing"},
      {{"--list=yes"}, "error: Option 'list' does not take an argument"},
      {{"--list="}, "error: Option 'list' does not take an argument"},
      {{"--h=1"}, "error: Option 'h' does not take an argument"},  // named as written
      {{"--list", "--list"}, "error: Option 'list' given more than once"},
      {{"-h", "--h"}, "error: Option 'help' given more than once"},  // named by long name
      {{"-Z", "a", "-Z", "b"}, "error: Option 'Z' given more than once"},
      {{"--color", "--color"}, "error: Option 'color' given more than once"},
      // Table order decides between repetitions; the whole line is read first.
      {{"--list", "--list", "-q", "-q"}, "error: Option 'quiet' given more than once"},
      {{"--list", "--list", "--bogus"}, "error: Unrecognized option: 'bogus'"},
      {{"-h", "-h", "--threads"}, "error: Argument to option 'threads' missing"},
      {{"--bogus", "-x"}, "error: Unrecognized option: 'bogus'"},  // the first failure ends it
  };
  const OptionParser parser = sample_parser();
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(parse(parser, c.args), c.want, "args {}", join(c.args));
  }
}

VELT_TEST(platform::getopts::required_option) {
  OptionParser parser;
  parser.add({"", "flag", "", "", HasValue::No, Occurrence::AtMostOnce})
      .add({"n", "", "NAME", "", HasValue::Required, Occurrence::Required});
  const struct {
    std::vector<std::string> args;
    std::string want;
  } cases[] = {
      {{"-nx"}, ""},
      {{"--flag"}, "error: Required option 'n' missing"},
      {{"--flag", "--flag"}, "error: Option 'flag' given more than once"},  // table order
      {{"-n", "a", "-n", "b"}, "error: Option 'n' given more than once"},
  };
  for (const auto& c : cases) {
    auto parsed = parser.parse(c.args);
    VELT_ASSERT_EQ(parsed ? "" : "error: " + parsed.error().message(), c.want, "args {}",
                   join(c.args));
  }
}

VELT_TEST(platform::getopts::unregistered_query_panics,
          velt::test::should_panic("no option named `lsit` is registered")) {
  OptionParser parser = sample_parser();
  auto parsed = parser.parse(std::vector<std::string>{"--list"});
  VELT_ASSERT(parsed.ok());
  (void)parsed->present("lsit");
}

VELT_TEST(platform::getopts::usage_layout) {
  OptionParser parser;
  parser.add({"h", "help", "", "Display this message", HasValue::No, Occurrence::AtMostOnce})
      .add({"Z", "", "FLAG", "Short only", HasValue::Required, Occurrence::AtMostOnce})
      .add({"v", "", "", "Short flag", HasValue::No, Occurrence::AtMostOnce})
      // 8 + 16 bytes: exactly 24, so the description moves to the next line; 23 still fits.
      .add({"", "thirteen-char", "", "Long row", HasValue::No, Occurrence::AtMostOnce})
      .add({"", "twelve-chars", "", "Fits", HasValue::No, Occurrence::AtMostOnce})
      .add({"", "color", "WHEN", "Optional", HasValue::Optional, Occurrence::AtMostOnce})
      .add({"", "wrap", "",
            "  A description line that is longer than fifty-four bytes wraps here\r\n"
            "\n"
            "            indented   second line\n"
            "Exactly fifty-four bytes fill this row to its very end x\n"
            "Averyveryveryveryveryveryveryveryveryveryverylongwordthatiswider than a row\n"
            "   \n",
            HasValue::No, Occurrence::AtMostOnce})
      .add({"", "blank", "", " \n ", HasValue::No, Occurrence::AtMostOnce});
  const std::string want =
      "Usage: x\n"
      "\n"
      "Options:\n"
      "    -h, --help          Display this message\n"
      "    -Z FLAG             Short only\n"
      "    -v                  Short flag\n"
      "        --thirteen-char \n"
      "                        Long row\n"
      "        --twelve-chars  Fits\n"
      "        --color [WHEN]  Optional\n"
      "        --wrap          A description line that is longer than fifty-four\n"
      "                        bytes wraps here\n"
      "                        indented second line\n"
      "                        Exactly fifty-four bytes fill this row to its very end\n"
      "                        x\n"
      "                        "
      "Averyveryveryveryveryveryveryveryveryveryverylongwordthatiswider\n"
      "                        than a row\n"
      "        --blank         \n";
  VELT_ASSERT_EQ(parser.usage("Usage: x"), want);

  // Without any short name there is no room kept for one.
  OptionParser long_only;
  long_only.add({"", "list", "", "List", HasValue::No, Occurrence::AtMostOnce});
  VELT_ASSERT_EQ(long_only.usage("U"), "U\n\nOptions:\n    --list              List\n");
}
