#include "src/console.h"

#include "include/velt/test.h"
#include "src/filter.h"
#include "src/formatters/json.h"
#include "src/formatters/junit.h"
#include "src/formatters/pretty.h"
#include "src/formatters/terse.h"
#include "src/helpers/concurrency.h"
#include "src/helpers/overloaded.h"
#include "src/platform/stdio.h"
#include "src/scheduler.h"
#include "src/stats.h"

namespace velt {
namespace {

IoResult<std::optional<platform::File>> open_log(const TestOpts& opts) {
  if (!opts.logfile) return std::optional<platform::File>();
  IoResult<platform::File> file = platform::File::create(*opts.logfile);
  if (!file.ok()) return Err{std::move(file).error()};
  return std::optional<platform::File>(std::move(file).value());
}

OutputLocation stdout_location() {
  if (std::unique_ptr<Terminal> t = term::stdout()) return ToTerminal{std::move(t)};
  return ToStdout{};
}

// The width benchmark names are padded to: the longest benchmark name, or, without
// benchmarks, the last entry's name (it is never used for padding then).
std::size_t name_width(const TestList& tests) {
  std::size_t best_key = 0;
  std::size_t width = 0;
  for (const TestDescAndFn& t : tests.tests) {
    std::size_t len = t.desc.name.as_slice().size();
    std::size_t key = t.testfn.is_bench() ? len : 0;
    if (key >= best_key) {
      best_key = key;
      width = len;
    }
  }
  return width;
}

}  // namespace

IoResult<ConsoleTestState> ConsoleTestState::create(const TestOpts& opts) {
  IoResult<std::optional<platform::File>> log = open_log(opts);
  if (!log.ok()) return Err{std::move(log).error()};
  ConsoleTestState st;
  st.log_file = std::move(log).value();
  st.options = opts.options;
  return st;
}

IoResult<ConsoleTestDiscoveryState> ConsoleTestDiscoveryState::create(const TestOpts& opts) {
  IoResult<std::optional<platform::File>> log = open_log(opts);
  if (!log.ok()) return Err{std::move(log).error()};
  ConsoleTestDiscoveryState st;
  st.log_file = std::move(log).value();
  return st;
}

IoResult<void> ConsoleTestState::write_log_result(const TestDesc& desc, const TestResult& result,
                                                  const std::optional<TestExecTime>& duration) {
  if (!log_file) return {};
  std::string outcome = std::visit(
      Overloaded{
          [](const Ok&) -> std::string { return "ok"; },
          [](const Failed&) -> std::string { return "failed"; },
          [](const FailedWithMessage& f) { return "failed: " + f.message; },
          [&](const Ignored&) -> std::string {
            if (desc.ignore_message) return "ignored: " + std::string(*desc.ignore_message);
            return "ignored";
          },
          [](const Bench& b) { return fmt_bench_samples(b.samples); },
          [](const TimeLimitExceeded&) -> std::string { return "failed (time limit exceeded)"; }},
      result);
  VELT_TRY(log_file->write_all(outcome + " " + std::string(desc.name.as_slice())));
  if (duration) VELT_TRY(log_file->write_all(" <" + duration->to_string() + ">"));
  return log_file->write_all("\n");
}

std::unique_ptr<OutputFormatter> get_formatter(const TestOpts& opts, std::size_t name_width) {
  OutputLocation output = stdout_location();
  std::size_t threads = opts.test_threads ? *opts.test_threads : get_concurrency();
  bool multithreaded = threads > 1;
  switch (opts.format) {
    case OutputFormat::Pretty:
      break;
    case OutputFormat::Terse:
      return std::make_unique<TerseFormatter>(std::move(output), opts.use_color(), name_width,
                                              multithreaded);
    case OutputFormat::Json:
      return std::make_unique<JsonFormatter>(std::move(output));
    case OutputFormat::Junit:
      return std::make_unique<JunitFormatter>(std::move(output));
  }
  return std::make_unique<PrettyFormatter>(std::move(output), opts.use_color(), name_width,
                                           multithreaded, opts.time_options);
}

void handle_test_result(ConsoleTestState& st, CompletedTest completed) {
  std::visit(
      Overloaded{
          [&](Ok&) {
            ++st.passed;
            st.successes.emplace_back(std::move(completed.desc), std::move(completed.stdout));
          },
          [&](Failed&) {
            ++st.failed;
            st.failures.emplace_back(std::move(completed.desc), std::move(completed.stdout));
          },
          [&](FailedWithMessage& f) {
            ++st.failed;
            std::string output = std::move(completed.stdout);
            output += "note: ";
            output += f.message;
            st.failures.emplace_back(std::move(completed.desc), std::move(output));
          },
          [&](Ignored&) {
            ++st.ignored;
            st.ignored_tests.emplace_back(std::move(completed.desc), std::move(completed.stdout));
          },
          [&](Bench&) { ++st.measured; },
          [&](TimeLimitExceeded&) {
            ++st.failed;
            st.time_limit_failures.emplace_back(std::move(completed.desc),
                                                std::move(completed.stdout));
          }},
      completed.result);
}

IoResult<void> on_test_event(TestEvent event, ConsoleTestState& st, OutputFormatter& out) {
  return std::visit(
      Overloaded{[&](event::Filtered& e) {
                   st.total = e.count;
                   return out.write_run_start(e.count, e.shuffle_seed);
                 },
                 [&](event::FilteredOut& e) {
                   st.filtered_out = e.count;
                   return IoResult<void>();
                 },
                 [&](event::Started& e) { return out.write_test_start(e.desc); },
                 [&](event::Timeout& e) { return out.write_timeout(e.desc); },
                 [&](event::Result& e) -> IoResult<void> {
                   CompletedTest& t = e.test;
                   VELT_TRY(st.write_log_result(t.desc, t.result, t.exec_time));
                   VELT_TRY(out.write_result(t.desc, t.result, t.exec_time, t.stdout, st));
                   handle_test_result(st, std::move(t));
                   return {};
                 }},
      event);
}

IoResult<bool> run_tests_console(const TestOpts& opts, TestList tests) {
  std::unique_ptr<OutputFormatter> out = get_formatter(opts, name_width(tests));
  IoResult<ConsoleTestState> created = ConsoleTestState::create(opts);
  if (!created.ok()) return Err{std::move(created).error()};
  ConsoleTestState st = std::move(created).value();

  Instant start = Clock::now();
  VELT_TRY(run_tests(opts, std::move(tests),
                     [&](TestEvent e) { return on_test_event(std::move(e), st, *out); }));
  st.exec_time = TestSuiteExecTime{Clock::now() - start};

  if (!opts.fail_fast && st.current_test_count() != st.total) {
    test::panic("assertion failed: opts.fail_fast || st.current_test_count() == st.total");
  }
  return out->write_run_finish(st);
}

IoResult<void> list_tests_console(const TestOpts& opts, TestList tests) {
  std::lock_guard stdout_held(platform::stdout_lock());
  // No colours, no padding and one thread; the JUnit format has no listing of its own.
  std::unique_ptr<OutputFormatter> out;
  switch (opts.format) {
    case OutputFormat::Pretty:
    case OutputFormat::Junit:
      out = std::make_unique<PrettyFormatter>(stdout_location(), false, 0, false, std::nullopt);
      break;
    case OutputFormat::Terse:
      out = std::make_unique<TerseFormatter>(stdout_location(), false, 0, false);
      break;
    case OutputFormat::Json:
      out = std::make_unique<JsonFormatter>(stdout_location());
      break;
  }
  IoResult<ConsoleTestDiscoveryState> created = ConsoleTestDiscoveryState::create(opts);
  if (!created.ok()) return Err{std::move(created).error()};
  ConsoleTestDiscoveryState st = std::move(created).value();

  VELT_TRY(out->write_discovery_start());
  for (TestDescAndFn& t : filter_tests(opts, std::move(tests))) {
    std::string_view kind = "test";
    if (t.testfn.is_bench()) {
      kind = "benchmark";
      ++st.benchmarks;
    } else {
      ++st.tests;
    }
    if (t.desc.ignore) ++st.ignored;
    VELT_TRY(out->write_test_discovered(t.desc, kind));
    VELT_TRY(st.write_log(
        [&] { return std::string(kind) + " " + std::string(t.desc.name.as_slice()) + "\n"; }));
  }
  return out->write_discovery_finish(st);
}

}  // namespace velt
