#include "src/cli.h"

#include <span>
#include <string_view>
#include <utility>

#include "include/velt/test.h"
#include "src/helpers/parse_number.h"
#include "src/platform/getopts.h"
#include "src/platform/process.h"
#include "src/platform/stdio.h"

namespace velt {

namespace {

using platform::HasValue;
using platform::Occurrence;
using platform::OptionGroup;
using platform::OptionParser;
using platform::ParsedArgs;

// Several descriptions are stored the way they read in a source listing, later lines indented
// by twelve spaces; the help layout refills them, so the indentation never shows.
OptionParser optgroups() {
  auto flag = [](const char* short_name, const char* long_name, const char* description) {
    return OptionGroup{short_name,  long_name,    "",
                       description, HasValue::No, Occurrence::AtMostOnce};
  };
  auto single = [](const char* short_name, const char* long_name, const char* description,
                   const char* hint) {
    return OptionGroup{short_name,  long_name,          hint,
                       description, HasValue::Required, Occurrence::AtMostOnce};
  };
  OptionParser parser;
  parser.add(flag("", "include-ignored", "Run ignored and not ignored tests"))
      .add(flag("", "ignored", "Run only ignored tests"))
      .add(flag("", "force-run-in-process", "Forces tests to run in-process when panic=abort"))
      .add(flag("", "exclude-should-panic", "Excludes tests marked as should_panic"))
      .add(flag("", "test", "Run tests and not benchmarks"))
      .add(flag("", "bench", "Run benchmarks instead of tests"))
      .add(flag("", "list", "List all tests and benchmarks"))
      .add(flag("", "fail-fast", "Don't start new tests after the first failure"))
      .add(flag("h", "help", "Display this message"))
      .add(single("", "logfile", "Write logs to the specified file (deprecated)", "PATH"))
      .add(flag("", "no-capture",
                "don't capture stdout/stderr of each task, allow printing directly"))
      .add(single("", "test-threads", "Number of threads used for running tests in parallel",
                  "n_threads"))
      .add(OptionGroup{"", "skip", "FILTER",
                       "Skip tests whose names contain FILTER (this flag can be used multiple "
                       "times)",
                       HasValue::Required, Occurrence::Repeatable})
      .add(flag("q", "quiet",
                "Display one character per test instead of one line. Alias to --format=terse"))
      .add(flag("", "exact", "Exactly match filters rather than by substring"))
      .add(single("", "color",
                  "Configure coloring of output:\n"
                  "            auto   = colorize if stdout is a tty and tests are run on serially "
                  "(default);\n"
                  "            always = always colorize output;\n"
                  "            never  = never colorize output;",
                  "auto|always|never"))
      .add(single("", "format",
                  "Configure formatting of output:\n"
                  "            pretty = Print verbose output;\n"
                  "            terse  = Display one character per test;\n"
                  "            json   = Output a json document;\n"
                  "            junit  = Output a JUnit document",
                  "pretty|terse|json|junit"))
      .add(flag("", "show-output", "Show captured stdout of successful tests"))
      .add(single("Z", "",
                  "Enable nightly-only flags:\n"
                  "            unstable-options = Allow use of experimental features",
                  "unstable-options"))
      .add(flag("", "report-time",
                "Show execution time of each test.\n"
                "\n"
                "            Threshold values for colorized output can be configured via\n"
                "            `VELT_TEST_TIME_UNIT`, `VELT_TEST_TIME_INTEGRATION` and\n"
                "            `VELT_TEST_TIME_DOCTEST` environment variables.\n"
                "\n"
                "            Expected format of environment variable is "
                "`VARIABLE=WARN_TIME,CRITICAL_TIME`.\n"
                "            Durations must be specified in milliseconds, e.g. `500,2000` means "
                "that the warn time\n"
                "            is 0.5 seconds, and the critical time is 2 seconds.\n"
                "\n"
                "            Not available for --format=terse"))
      .add(flag("", "ensure-time",
                "Treat excess of the test execution time limit as error.\n"
                "\n"
                "            Threshold values for this option can be configured via\n"
                "            `VELT_TEST_TIME_UNIT`, `VELT_TEST_TIME_INTEGRATION` and\n"
                "            `VELT_TEST_TIME_DOCTEST` environment variables.\n"
                "\n"
                "            Expected format of environment variable is "
                "`VARIABLE=WARN_TIME,CRITICAL_TIME`.\n"
                "\n"
                "            `CRITICAL_TIME` here means the limit that should not be exceeded "
                "by test.\n"
                "            "))
      .add(flag("", "shuffle", "Run tests in random order"))
      .add(single("", "shuffle-seed",
                  "Run tests in random order; seed the random number generator with SEED", "SEED"));
  return parser;
}

constexpr std::string_view HELP_EXPLANATION = R"(

The FILTER string is tested against the name of all tests, and only those
tests whose names contain the filter are run. Multiple filter strings may
be passed, which will run all tests matching any of the filters.

By default, all tests are run in parallel. This can be altered with the
--test-threads flag when running tests (set it to 1).

By default, the tests are run in alphabetical order. Use --shuffle to run
the tests in random order. Pass the generated "shuffle seed" to
--shuffle-seed to run the tests in the same order again. Note that
--shuffle and --shuffle-seed do not affect whether the tests are run in
parallel.

All tests have their standard output and standard error captured by default.
This can be overridden with the --no-capture flag to a value other than "0".
Logging is not captured by default.

Test Attributes:

    `VELT_TEST`   - Makes a function a test to be run. The function takes no
                    arguments.
    `VELT_BENCH`  - Makes a function a benchmark to be run. The function takes
                    one argument, `velt::test::Bencher& b`.
    `should_panic` - Given as velt::test::should_panic in VELT_TEST(...), the
                     test passes only if its code panics (an assertion failure
                     or VELT_PANIC). An expected message may be given, which the
                     failure text must contain: should_panic("foo").
    `ignore`      - Given as velt::test::ignore in VELT_TEST(...), the runner
                    ignores the test during normal runs. Running with --ignored
                    or --include-ignored will run these tests.
)";

std::string gated_error(std::string_view name, std::string_view what) {
  return "The \"" + std::string(name) + "\" " + std::string(what) +
         " is only accepted on the nightly compiler with -Z unstable-options";
}

// A flag that only the unstable permission lets through.
Result<bool, std::string> gated_flag(const ParsedArgs& matches, const char* name,
                                     bool allow_unstable) {
  const bool present = matches.present(name);
  if (present && !allow_unstable) return Err{gated_error(name, "flag")};
  return present;
}

// Development builds are marked by the bootstrap variable; its value does not matter, so "0"
// and "" count too.
bool is_nightly() { return platform::env_var("VELTC_BOOTSTRAP").has_value(); }

Result<bool, std::string> get_allow_unstable(const ParsedArgs& matches) {
  std::optional<std::string> z = matches.value("Z");
  if (!z) return false;  // the environment is only consulted once -Z asks for something
  if (!is_nightly())
    return Err{std::string("the option `Z` is only accepted on the nightly compiler")};
  if (*z != "unstable-options") return Err{std::string("Unrecognized option to `Z`")};
  return true;
}

Result<std::optional<TestTimeOptions>, std::string> get_time_options(const ParsedArgs& matches,
                                                                     bool allow_unstable) {
  Result<bool, std::string> report_time = gated_flag(matches, "report-time", allow_unstable);
  if (!report_time) return Err{std::move(report_time).error()};
  Result<bool, std::string> ensure_time = gated_flag(matches, "ensure-time", allow_unstable);
  if (!ensure_time) return Err{std::move(ensure_time).error()};
  // The thresholds are read only when asked for, so a malformed variable cannot fail a run that
  // never looks at durations.
  if (!*report_time && !*ensure_time) return std::optional<TestTimeOptions>();
  return std::optional<TestTimeOptions>(TestTimeOptions::new_from_env(*ensure_time));
}

Result<bool, std::string> get_shuffle(const ParsedArgs& matches, bool allow_unstable) {
  Result<bool, std::string> shuffle = gated_flag(matches, "shuffle", allow_unstable);
  if (!shuffle || *shuffle || !allow_unstable) return shuffle;
  std::optional<std::string> env = platform::env_var("VELT_TEST_SHUFFLE");
  return env.has_value() && *env != "0";
}

Result<std::optional<std::uint64_t>, std::string> get_shuffle_seed(const ParsedArgs& matches,
                                                                   bool allow_unstable) {
  if (std::optional<std::string> value = matches.value("shuffle-seed")) {
    // The permission comes first: without it the value is never looked at.
    if (!allow_unstable) return Err{gated_error("shuffle-seed", "option")};
    Result<std::uint64_t, std::string> seed = parse_unsigned<std::uint64_t>(*value);
    if (!seed) {
      return Err{"argument for --shuffle-seed must be a number (error: " + seed.error() + ")"};
    }
    return std::optional<std::uint64_t>(*seed);
  }
  if (!allow_unstable) return std::optional<std::uint64_t>();
  std::optional<std::string> env = platform::env_var("VELT_TEST_SHUFFLE_SEED");
  if (!env) return std::optional<std::uint64_t>();
  Result<std::uint64_t, std::string> seed = parse_unsigned<std::uint64_t>(*env);
  if (!seed) test::panic("VELT_TEST_SHUFFLE_SEED is `" + *env + "`, should be a number.");
  return std::optional<std::uint64_t>(*seed);
}

std::optional<std::string> get_log_file(const ParsedArgs& matches) {
  return matches.value("logfile");
}

Result<RunIgnored, std::string> get_run_ignored(const ParsedArgs& matches, bool include_ignored) {
  const bool ignored = matches.present("ignored");
  if (include_ignored && ignored) {
    return Err{std::string("the options --include-ignored and --ignored are mutually exclusive")};
  }
  if (include_ignored) return RunIgnored::Yes;
  return ignored ? RunIgnored::Only : RunIgnored::No;
}

// Any value but "0" turns capture off, the empty one included.
bool get_nocapture(const ParsedArgs& matches) {
  if (matches.present("nocapture") || matches.present("no-capture")) return true;
  std::optional<std::string> env = platform::env_var("VELT_TEST_NOCAPTURE");
  return env.has_value() && *env != "0";
}

Result<std::optional<std::size_t>, std::string> get_test_threads(const ParsedArgs& matches) {
  std::optional<std::string> value = matches.value("test-threads");
  if (!value) return std::optional<std::size_t>();
  Result<std::size_t, std::string> n = parse_unsigned<std::size_t>(*value);
  if (!n) {
    return Err{"argument for --test-threads must be a number > 0 (error: " + n.error() + ")"};
  }
  if (*n == 0) return Err{std::string("argument for --test-threads must not be 0")};
  return std::optional<std::size_t>(*n);
}

Result<ColorConfig, std::string> get_color_config(const ParsedArgs& matches) {
  std::optional<std::string> value = matches.value("color");
  if (!value || *value == "auto") return ColorConfig::Auto;
  if (*value == "always") return ColorConfig::Always;
  if (*value == "never") return ColorConfig::Never;
  return Err{"argument for --color must be auto, always, or never (was " + *value + ")"};
}

Result<OutputFormat, std::string> get_format(const ParsedArgs& matches, bool quiet,
                                             bool allow_unstable) {
  std::optional<std::string> value = matches.value("format");
  if (!value) return quiet ? OutputFormat::Terse : OutputFormat::Pretty;
  // An explicit format wins over -q.
  if (*value == "pretty") return OutputFormat::Pretty;
  if (*value == "terse") return OutputFormat::Terse;
  if (*value == "json" || *value == "junit") {
    if (!allow_unstable) return Err{gated_error(*value, "format")};
    return *value == "json" ? OutputFormat::Json : OutputFormat::Junit;
  }
  return Err{"argument for --format must be pretty, terse, json or junit (was " + *value + ")"};
}

// The first problem, in this order, is the one reported.
Result<TestOpts, std::string> parse_opts_impl(const ParsedArgs& matches) {
  TestOpts opts;

  Result<bool, std::string> allow = get_allow_unstable(matches);
  if (!allow) return Err{std::move(allow).error()};
  const bool allow_unstable = *allow;

  Result<bool, std::string> force = gated_flag(matches, "force-run-in-process", allow_unstable);
  if (!force) return Err{std::move(force).error()};
  opts.force_run_in_process = *force;

  Result<bool, std::string> exclude = gated_flag(matches, "exclude-should-panic", allow_unstable);
  if (!exclude) return Err{std::move(exclude).error()};
  opts.exclude_should_panic = *exclude;

  Result<bool, std::string> fail_fast = gated_flag(matches, "fail-fast", allow_unstable);
  if (!fail_fast) return Err{std::move(fail_fast).error()};
  opts.fail_fast = *fail_fast;

  Result<std::optional<TestTimeOptions>, std::string> time_options =
      get_time_options(matches, allow_unstable);
  if (!time_options) return Err{std::move(time_options).error()};
  opts.time_options = std::move(*time_options);

  Result<bool, std::string> shuffle = get_shuffle(matches, allow_unstable);
  if (!shuffle) return Err{std::move(shuffle).error()};
  opts.shuffle = *shuffle;

  Result<std::optional<std::uint64_t>, std::string> seed =
      get_shuffle_seed(matches, allow_unstable);
  if (!seed) return Err{std::move(seed).error()};
  opts.shuffle_seed = *seed;

  const bool include_ignored = matches.present("include-ignored");
  const bool quiet = matches.present("quiet");
  opts.filter_exact = matches.present("exact");
  opts.list = matches.present("list");
  opts.skip = matches.values("skip");
  opts.run_benchmarks = matches.present("bench");
  opts.run_tests = !opts.run_benchmarks || matches.present("test");

  opts.logfile = get_log_file(matches);

  Result<RunIgnored, std::string> run_ignored = get_run_ignored(matches, include_ignored);
  if (!run_ignored) return Err{std::move(run_ignored).error()};
  opts.run_ignored = *run_ignored;

  opts.filters = matches.free_args();
  opts.nocapture = get_nocapture(matches);

  Result<std::optional<std::size_t>, std::string> threads = get_test_threads(matches);
  if (!threads) return Err{std::move(threads).error()};
  opts.test_threads = *threads;

  Result<ColorConfig, std::string> color = get_color_config(matches);
  if (!color) return Err{std::move(color).error()};
  opts.color = *color;

  Result<OutputFormat, std::string> format = get_format(matches, quiet, allow_unstable);
  if (!format) return Err{std::move(format).error()};
  opts.format = *format;

  opts.options.display_output = matches.present("show-output");
  opts.options.panic_abort = false;

  // Only once the options are known good, so a rejected command line shows just its error.
  // No line end: the run's own output follows on standard output.
  if (opts.logfile) (void)platform::write_all_stderr("warning: `--logfile` is deprecated");

  return opts;
}

}  // namespace

bool TestOpts::use_color() const {
  switch (color) {
    case ColorConfig::Always:
      return true;
    case ColorConfig::Never:
      return false;
    case ColorConfig::Auto:
      // Uncaptured test output would interleave with colour sequences, so Auto stays plain then.
      return !nocapture && platform::is_terminal(1);
  }
  return false;
}

std::string usage_text(const std::string& program) {
  std::string text = optgroups().usage("Usage: " + program + " [OPTIONS] [FILTERS...]");
  text += HELP_EXPLANATION;
  return text;
}

Result<std::optional<TestOpts>, std::string> parse_opts(const std::vector<std::string>& args) {
  OptionParser parser = optgroups();
  // Accepted for old scripts, and kept out of the help.
  parser.add(OptionGroup{"", "nocapture", "", "Deprecated, use `--no-capture`", HasValue::No,
                         Occurrence::AtMostOnce});

  const std::string program = args.empty() ? std::string("...") : args.front();
  std::span<const std::string> rest(args);
  if (!rest.empty()) rest = rest.subspan(1);

  Result<ParsedArgs, platform::ParseError> matches = parser.parse(rest);
  if (!matches) return Err{matches.error().message()};

  // Help wins over everything but a command line that does not parse.
  if (matches->present("h")) {
    (void)platform::write_all_stdout(usage_text(program));  // nothing sensible to do on failure
    return std::optional<TestOpts>();
  }

  Result<TestOpts, std::string> opts = parse_opts_impl(*matches);
  if (!opts) return Err{std::move(opts).error()};
  return std::optional<TestOpts>(std::move(*opts));
}

}  // namespace velt
