#include "src/cli.h"

#include <unistd.h>
#include <velt/test.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "src/platform/stdio.h"

namespace {

using velt::ColorConfig;
using velt::OutputFormat;
using velt::RunIgnored;
using velt::TestOpts;

// Every variable the option code reads. Each case starts with all of them unset, so the
// environment the tests were started in cannot leak into the expectations.
constexpr const char* ENV_VARS[] = {
    "VELTC_BOOTSTRAP",        "VELT_TEST_NOCAPTURE", "VELT_TEST_SHUFFLE",
    "VELT_TEST_SHUFFLE_SEED", "VELT_TEST_TIME_UNIT", "VELT_TEST_TIME_INTEGRATION",
    "VELT_TEST_TIME_DOCTEST",
};

struct EnvVar {
  const char* name;
  const char* value;
};

// Tests run in parallel and the environment is one per process: hold the lock while it is
// changed, and put every variable back afterwards (also when the code under test panics).
class ScopedEnv {
 public:
  explicit ScopedEnv(const std::vector<EnvVar>& vars) : lock(mutex()) {
    for (const char* name : ENV_VARS) {
      const char* old = std::getenv(name);
      saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      unsetenv(name);
    }
    for (const EnvVar& v : vars) setenv(v.name, v.value, 1);
  }
  ~ScopedEnv() {
    for (const auto& [name, value] : saved) {
      if (value) {
        setenv(name, value->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  std::lock_guard<std::mutex> lock;
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};

// Points descriptor `fd` at a temporary file while `fn` runs and returns what was written.
// The stream's lock is held throughout, so no other thread's output lands in the file.
template <class F>
std::string written_to(int fd, std::recursive_mutex& stream_lock, F&& fn) {
  std::lock_guard<std::recursive_mutex> hold(stream_lock);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
  VELT_ASSERT(file != nullptr);
  const int saved = dup(fd);
  VELT_ASSERT(saved >= 0);
  dup2(fileno(file.get()), fd);
  struct Restore {  // also when `fn` panics
    int fd, saved;
    ~Restore() {
      dup2(saved, fd);
      close(saved);
    }
  } restore{fd, saved};
  fn();
  std::string out;
  std::rewind(file.get());
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file.get())) > 0;) out.append(buf, n);
  return out;
}

struct Parsed {
  velt::Result<std::optional<TestOpts>, std::string> result;
  std::string out;  // standard output
  std::string err;  // standard error
};

Parsed parse(const std::vector<std::string>& args, const std::vector<EnvVar>& env = {}) {
  ScopedEnv scoped(env);
  std::optional<velt::Result<std::optional<TestOpts>, std::string>> result;
  std::string out;
  std::string err = written_to(2, velt::platform::stderr_lock(), [&] {
    out = written_to(1, velt::platform::stdout_lock(),
                     [&] { result.emplace(velt::parse_opts(args)); });
  });
  return {std::move(*result), std::move(out), std::move(err)};
}

std::vector<std::string> with_program(const std::vector<std::string>& args) {
  std::vector<std::string> all{"prog"};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

std::string join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "|") + p;
  return out;
}

// The fields that differ from the defaults, so a case states the whole configuration.
std::string describe(const TestOpts& o) {
  std::vector<std::string> parts;
  if (o.list) parts.push_back("list");
  if (!o.filters.empty()) parts.push_back("filters=" + join(o.filters));
  if (o.filter_exact) parts.push_back("exact");
  if (o.force_run_in_process) parts.push_back("force_run_in_process");
  if (o.exclude_should_panic) parts.push_back("exclude_should_panic");
  if (o.run_ignored == RunIgnored::Yes) parts.push_back("ignored=yes");
  if (o.run_ignored == RunIgnored::Only) parts.push_back("ignored=only");
  if (!o.run_tests) parts.push_back("no_tests");
  if (o.run_benchmarks) parts.push_back("benchmarks");
  if (o.logfile) parts.push_back("logfile=" + *o.logfile);
  if (o.nocapture) parts.push_back("nocapture");
  if (o.color == ColorConfig::Always) parts.push_back("color=always");
  if (o.color == ColorConfig::Never) parts.push_back("color=never");
  if (o.format == OutputFormat::Terse) parts.push_back("format=terse");
  if (o.format == OutputFormat::Json) parts.push_back("format=json");
  if (o.format == OutputFormat::Junit) parts.push_back("format=junit");
  if (o.shuffle) parts.push_back("shuffle");
  if (o.shuffle_seed) parts.push_back("seed=" + std::to_string(*o.shuffle_seed));
  if (o.test_threads) parts.push_back("threads=" + std::to_string(*o.test_threads));
  if (!o.skip.empty()) parts.push_back("skip=" + join(o.skip));
  if (o.time_options) parts.push_back(o.time_options->error_on_excess ? "time=ensure" : "time");
  if (o.fail_fast) parts.push_back("fail_fast");
  if (o.options.display_output) parts.push_back("show_output");
  if (o.options.panic_abort) parts.push_back("panic_abort");
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : " ") + p;
  return out;
}

std::string outcome(const Parsed& p) {
  if (!p.result) return "error: " + p.result.error();
  return *p.result ? describe(**p.result) : "help";
}

const EnvVar NIGHTLY{"VELTC_BOOTSTRAP", "0"};  // any value marks a development build
const std::string Z = "-Zunstable-options";
const std::string GATE = " is only accepted on the nightly compiler with -Z unstable-options";

}  // namespace

VELT_TEST(cli::parse_opts_configurations) {
  const struct {
    std::vector<std::string> args;
    std::vector<EnvVar> env;
    std::string want;
  } cases[] = {
      {{}, {}, ""},
      {{"a", "--exact", "--list", "--skip", "x", "b", "--skip", "y", "--color", "never",
        "--show-output", "--test-threads", "2"},
       {},
       "list filters=a|b exact color=never threads=2 skip=x|y show_output"},
      {{"--", "-x"}, {}, "filters=-x"},
      {{"-q"}, {}, "format=terse"},
      {{"-q", "--format", "pretty"}, {}, ""},  // an explicit format wins over -q
      {{"--format=terse"}, {}, "format=terse"},
      {{"--color", "always"}, {}, "color=always"},
      {{"--color", "auto"}, {}, ""},
      {{"--bench"}, {}, "no_tests benchmarks"},
      {{"--bench", "--test"}, {}, "benchmarks"},
      {{"--test"}, {}, ""},
      {{"--ignored"}, {}, "ignored=only"},
      {{"--include-ignored"}, {}, "ignored=yes"},
      {{"--test-threads", "+4"}, {}, "threads=4"},
      {{"--nocapture"}, {}, "nocapture"},
      {{"--no-capture"}, {}, "nocapture"},
      {{"--nocapture", "--no-capture"}, {}, "nocapture"},
      {{}, {{"VELT_TEST_NOCAPTURE", "0"}}, ""},
      {{}, {{"VELT_TEST_NOCAPTURE", ""}}, "nocapture"},
      {{}, {{"VELT_TEST_NOCAPTURE", "1"}}, "nocapture"},
      // Gated options pass with the permission.
      {{"-Z", "unstable-options"}, {NIGHTLY}, ""},
      {{Z}, {{"VELTC_BOOTSTRAP", ""}}, ""},
      {{"--Z=unstable-options", "--force-run-in-process", "--exclude-should-panic", "--fail-fast",
        "--format", "json"},
       {NIGHTLY},
       "force_run_in_process exclude_should_panic format=json fail_fast"},
      {{Z, "--format", "junit"}, {NIGHTLY}, "format=junit"},
      {{Z, "--report-time"}, {NIGHTLY}, "time"},
      {{Z, "--ensure-time"}, {NIGHTLY}, "time=ensure"},
      {{Z, "--report-time", "--ensure-time"}, {NIGHTLY}, "time=ensure"},
      // Shuffling from the environment needs the permission too.
      {{}, {NIGHTLY, {"VELT_TEST_SHUFFLE", "1"}, {"VELT_TEST_SHUFFLE_SEED", "x"}}, ""},
      {{Z, "--shuffle"}, {NIGHTLY}, "shuffle"},
      {{Z}, {NIGHTLY, {"VELT_TEST_SHUFFLE", "1"}}, "shuffle"},
      {{Z}, {NIGHTLY, {"VELT_TEST_SHUFFLE", ""}}, "shuffle"},
      {{Z}, {NIGHTLY, {"VELT_TEST_SHUFFLE", "0"}}, ""},
      {{Z, "--shuffle-seed", "+18446744073709551615"}, {NIGHTLY}, "seed=18446744073709551615"},
      {{Z}, {NIGHTLY, {"VELT_TEST_SHUFFLE_SEED", "7"}}, "seed=7"},
      // The option wins, and a malformed variable is then never read.
      {{Z, "--shuffle-seed", "3"}, {NIGHTLY, {"VELT_TEST_SHUFFLE_SEED", "x"}}, "seed=3"},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(outcome(parse(with_program(c.args), c.env)), c.want, "args {}", join(c.args));
  }
}

VELT_TEST(cli::parse_opts_errors) {
  const std::string nightly_only = "error: the option `Z` is only accepted on the nightly compiler";
  const struct {
    std::vector<std::string> args;
    std::vector<EnvVar> env;
    std::string want;
  } cases[] = {
      // The parser's own failures come first, even before help.
      {{"--bogus"}, {}, "error: Unrecognized option: 'bogus'"},
      {{"-h", "-x"}, {}, "error: Unrecognized option: 'x'"},
      {{"--test-threads"}, {}, "error: Argument to option 'test-threads' missing"},
      {{"--list=yes"}, {}, "error: Option 'list' does not take an argument"},
      {{"--exact", "--exact"}, {}, "error: Option 'exact' given more than once"},
      {{"--no-capture", "--no-capture"}, {}, "error: Option 'no-capture' given more than once"},
      {{Z, Z}, {NIGHTLY}, "error: Option 'Z' given more than once"},
      // The development-build gate.
      {{Z}, {}, nightly_only},
      {{"-Z", "other"}, {}, nightly_only},  // the build is asked about before the value
      {{"-Z", "other"}, {NIGHTLY}, "error: Unrecognized option to `Z`"},
      {{"--force-run-in-process"}, {}, "error: The \"force-run-in-process\" flag" + GATE},
      {{"--exclude-should-panic"}, {}, "error: The \"exclude-should-panic\" flag" + GATE},
      {{"--fail-fast"}, {}, "error: The \"fail-fast\" flag" + GATE},
      {{"--report-time"}, {}, "error: The \"report-time\" flag" + GATE},
      {{"--ensure-time"}, {}, "error: The \"ensure-time\" flag" + GATE},
      {{"--shuffle"}, {NIGHTLY}, "error: The \"shuffle\" flag" + GATE},
      {{"--shuffle-seed", "x"}, {}, "error: The \"shuffle-seed\" option" + GATE},
      {{"--format", "json"}, {}, "error: The \"json\" format" + GATE},
      {{"--format", "junit"}, {}, "error: The \"junit\" format" + GATE},
      // Numbers.
      {{Z, "--shuffle-seed", "x"},
       {NIGHTLY},
       "error: argument for --shuffle-seed must be a number (error: invalid digit found in "
       "string)"},
      {{Z, "--shuffle-seed", ""},
       {NIGHTLY},
       "error: argument for --shuffle-seed must be a number (error: cannot parse integer from "
       "empty string)"},
      {{Z, "--shuffle-seed", "18446744073709551616"},
       {NIGHTLY},
       "error: argument for --shuffle-seed must be a number (error: number too large to fit in "
       "target type)"},
      {{"--test-threads", "0"}, {}, "error: argument for --test-threads must not be 0"},
      {{"--test-threads", "+0"}, {}, "error: argument for --test-threads must not be 0"},
      {{"--test-threads", "00"}, {}, "error: argument for --test-threads must not be 0"},
      {{"--test-threads", "-1"},
       {},
       "error: argument for --test-threads must be a number > 0 (error: invalid digit found in "
       "string)"},
      {{"--test-threads", "+"},
       {},
       "error: argument for --test-threads must be a number > 0 (error: invalid digit found in "
       "string)"},
      {{"--test-threads", "--list"},
       {},
       "error: argument for --test-threads must be a number > 0 (error: invalid digit found in "
       "string)"},
      {{"--test-threads="},
       {},
       "error: argument for --test-threads must be a number > 0 (error: cannot parse integer "
       "from empty string)"},
      {{"--test-threads", "99999999999999999999"},
       {},
       "error: argument for --test-threads must be a number > 0 (error: number too large to fit "
       "in target type)"},
      // Values, exactly as passed.
      {{"--color", "Always"},
       {},
       "error: argument for --color must be auto, always, or never (was Always)"},
      {{"--format", "JSON"},
       {},
       "error: argument for --format must be pretty, terse, json or junit (was JSON)"},
      {{"--include-ignored", "--ignored"},
       {},
       "error: the options --include-ignored and --ignored are mutually exclusive"},
      // The first problem in checking order wins.
      {{"--fail-fast", "--force-run-in-process"},
       {},
       "error: The \"force-run-in-process\" flag" + GATE},
      {{"--shuffle", "--ensure-time", "--report-time"},
       {},
       "error: The \"report-time\" flag" + GATE},
      {{"--ignored", "--include-ignored", "--shuffle"}, {}, "error: The \"shuffle\" flag" + GATE},
      {{"--format", "json", "--include-ignored", "--ignored"},
       {},
       "error: the options --include-ignored and --ignored are mutually exclusive"},
      {{"--format", "x", "--color", "x", "--test-threads", "0"},
       {},
       "error: argument for --test-threads must not be 0"},
      {{"--format", "x", "--color", "x"},
       {},
       "error: argument for --color must be auto, always, or never (was x)"},
  };
  for (const auto& c : cases) {
    Parsed p = parse(with_program(c.args), c.env);
    VELT_ASSERT_EQ(outcome(p), c.want, "args {}", join(c.args));
    VELT_ASSERT_EQ(p.out + p.err, "", "args {}", join(c.args));
  }
}

// Help is printed with the program name as given, once the line has parsed, before any
// option is checked.
VELT_TEST(cli::parse_opts_help) {
  const std::vector<std::string> cases[] = {
      {"prog", "-h"},
      {"./dir/x y", "--help"},
      {"prog", "--h"},
      {"prog", "-qh", "--fail-fast", "-Z", "nonsense", "--test-threads", "0"},
  };
  for (const auto& args : cases) {
    Parsed p = parse(args);
    VELT_ASSERT_EQ(outcome(p), "help", "args {}", join(args));
    VELT_ASSERT_EQ(p.out, velt::usage_text(args[0]), "args {}", join(args));
    VELT_ASSERT_EQ(p.err, "", "args {}", join(args));
  }
  // Without even a program name there is nothing to parse: the defaults.
  VELT_ASSERT_EQ(outcome(parse({})), "");
}

VELT_TEST(cli::logfile_warning) {
  Parsed p = parse({"prog", "--logfile", "out.txt"});
  VELT_ASSERT_EQ(outcome(p), "logfile=out.txt");
  VELT_ASSERT_EQ(p.err, "warning: `--logfile` is deprecated");  // no line end
  VELT_ASSERT_EQ(p.out, "");

  // A rejected command line shows only its error.
  p = parse({"prog", "--logfile", "out.txt", "--color", "x"});
  VELT_ASSERT_EQ(p.err, "");
}

VELT_TEST(cli::malformed_shuffle_seed_variable_panics,
          velt::test::should_panic("VELT_TEST_SHUFFLE_SEED is `-1`, should be a number.")) {
  (void)parse({"prog", Z}, {NIGHTLY, {"VELT_TEST_SHUFFLE_SEED", "-1"}});
}

VELT_TEST(cli::use_color) {
  const struct {
    ColorConfig color;
    bool nocapture;
    bool want;
  } cases[] = {
      {ColorConfig::Always, true, true},
      {ColorConfig::Never, false, false},
      {ColorConfig::Auto, true, false},  // uncaptured output stays plain even on a terminal
  };
  for (const auto& c : cases) {
    TestOpts opts;
    opts.color = c.color;
    opts.nocapture = c.nocapture;
    VELT_ASSERT_EQ(opts.use_color(), c.want, "color {} nocapture {}", c.color, c.nocapture);
  }
}

VELT_TEST(cli::help_text) {
  const std::string want =
      "Usage: prog [OPTIONS] [FILTERS...]\n"
      "\n"
      "Options:\n"
      "        --include-ignored \n"
      "                        Run ignored and not ignored tests\n"
      "        --ignored       Run only ignored tests\n"
      "        --force-run-in-process \n"
      "                        Forces tests to run in-process when panic=abort\n"
      "        --exclude-should-panic \n"
      "                        Excludes tests marked as should_panic\n"
      "        --test          Run tests and not benchmarks\n"
      "        --bench         Run benchmarks instead of tests\n"
      "        --list          List all tests and benchmarks\n"
      "        --fail-fast     Don't start new tests after the first failure\n"
      "    -h, --help          Display this message\n"
      "        --logfile PATH  Write logs to the specified file (deprecated)\n"
      "        --no-capture    don't capture stdout/stderr of each task, allow\n"
      "                        printing directly\n"
      "        --test-threads n_threads\n"
      "                        Number of threads used for running tests in parallel\n"
      "        --skip FILTER   Skip tests whose names contain FILTER (this flag can\n"
      "                        be used multiple times)\n"
      "    -q, --quiet         Display one character per test instead of one line.\n"
      "                        Alias to --format=terse\n"
      "        --exact         Exactly match filters rather than by substring\n"
      "        --color auto|always|never\n"
      "                        Configure coloring of output:\n"
      "                        auto = colorize if stdout is a tty and tests are run\n"
      "                        on serially (default);\n"
      "                        always = always colorize output;\n"
      "                        never = never colorize output;\n"
      "        --format pretty|terse|json|junit\n"
      "                        Configure formatting of output:\n"
      "                        pretty = Print verbose output;\n"
      "                        terse = Display one character per test;\n"
      "                        json = Output a json document;\n"
      "                        junit = Output a JUnit document\n"
      "        --show-output   Show captured stdout of successful tests\n"
      "    -Z unstable-options Enable nightly-only flags:\n"
      "                        unstable-options = Allow use of experimental features\n"
      "        --report-time   Show execution time of each test.\n"
      "                        Threshold values for colorized output can be\n"
      "                        configured via\n"
      "                        `VELT_TEST_TIME_UNIT`, `VELT_TEST_TIME_INTEGRATION`\n"
      "                        and\n"
      "                        `VELT_TEST_TIME_DOCTEST` environment variables.\n"
      "                        Expected format of environment variable is\n"
      "                        `VARIABLE=WARN_TIME,CRITICAL_TIME`.\n"
      "                        Durations must be specified in milliseconds, e.g.\n"
      "                        `500,2000` means that the warn time\n"
      "                        is 0.5 seconds, and the critical time is 2 seconds.\n"
      "                        Not available for --format=terse\n"
      "        --ensure-time   Treat excess of the test execution time limit as\n"
      "                        error.\n"
      "                        Threshold values for this option can be configured via\n"
      "                        `VELT_TEST_TIME_UNIT`, `VELT_TEST_TIME_INTEGRATION`\n"
      "                        and\n"
      "                        `VELT_TEST_TIME_DOCTEST` environment variables.\n"
      "                        Expected format of environment variable is\n"
      "                        `VARIABLE=WARN_TIME,CRITICAL_TIME`.\n"
      "                        `CRITICAL_TIME` here means the limit that should not\n"
      "                        be exceeded by test.\n"
      "        --shuffle       Run tests in random order\n"
      "        --shuffle-seed SEED\n"
      "                        Run tests in random order; seed the random number\n"
      "                        generator with SEED\n"
      "\n"
      "\n"
      "The FILTER string is tested against the name of all tests, and only those\n"
      "tests whose names contain the filter are run. Multiple filter strings may\n"
      "be passed, which will run all tests matching any of the filters.\n"
      "\n"
      "By default, all tests are run in parallel. This can be altered with the\n"
      "--test-threads flag when running tests (set it to 1).\n"
      "\n"
      "By default, the tests are run in alphabetical order. Use --shuffle to run\n"
      "the tests in random order. Pass the generated \"shuffle seed\" to\n"
      "--shuffle-seed to run the tests in the same order again. Note that\n"
      "--shuffle and --shuffle-seed do not affect whether the tests are run in\n"
      "parallel.\n"
      "\n"
      "All tests have their standard output and standard error captured by default.\n"
      "This can be overridden with the --no-capture flag to a value other than \"0\".\n"
      "Logging is not captured by default.\n"
      "\n"
      "Test Attributes:\n"
      "\n"
      "    `VELT_TEST`   - Makes a function a test to be run. The function takes no\n"
      "                    arguments.\n"
      "    `VELT_BENCH`  - Makes a function a benchmark to be run. The function takes\n"
      "                    one argument, `velt::test::Bencher& b`.\n"
      "    `should_panic` - Given as velt::test::should_panic in VELT_TEST(...), the\n"
      "                     test passes only if its code panics (an assertion failure\n"
      "                     or VELT_PANIC). An expected message may be given, which the\n"
      "                     failure text must contain: should_panic(\"foo\").\n"
      "    `ignore`      - Given as velt::test::ignore in VELT_TEST(...), the runner\n"
      "                    ignores the test during normal runs. Running with --ignored\n"
      "                    or --include-ignored will run these tests.\n";
  VELT_ASSERT_EQ(velt::usage_text("prog"), want);
}
