#include "src/driver.h"

#include <stdlib.h>

#include <deque>
#include <mutex>

#include "include/velt/dynamic.h"
#include "src/cli.h"
#include "src/console.h"
#include "src/platform/capture.h"
#include "src/platform/panic.h"
#include "src/platform/process.h"
#include "src/platform/stdio.h"
#include "src/platform/thread.h"
#include "src/runner.h"

namespace velt {
namespace {

constexpr int ERROR_EXIT_CODE = 101;

[[noreturn]] void fail_with(const std::string& message) {
  (void)platform::write_all_stderr("error: " + message + "\n");
  platform::exit_process(ERROR_EXIT_CODE);
}

// Output captured for a test that ends the process without unwinding would be lost with it:
// write it out first, and keep both streams locked so nothing follows it but the report.
void install_flush_on_abort_hook() {
  platform::PanicHook previous = platform::take_hook();
  platform::set_hook([previous = std::move(previous)](const platform::PanicInfo& info) {
    if (!info.can_unwind) {
      platform::stderr_lock().lock();  // never released: the process is ending
      platform::stdout_lock().lock();
      if (platform::CaptureHandle buffer = platform::set_output_capture(nullptr)) {
        std::lock_guard lock(buffer->mutex);
        (void)platform::write_all_stdout(buffer->bytes);
      }
    }
    if (previous) {
      previous(info);
    } else {
      platform::default_hook(info);
    }
  });
}

// Text given at run time lives as long as the process, like the registered table's.
std::string_view intern(std::string text) {
  static std::mutex mutex;
  static auto* arena = new std::deque<std::string>();
  std::lock_guard lock(mutex);
  return arena->emplace_back(std::move(text));
}

TestDescAndFn make_dynamic_test(test::DynamicTest& t) {
  TestDesc desc{DynamicName{std::move(t.name)}};
  desc.ignore = t.ignore;
  if (t.ignore_message) desc.ignore_message = intern(std::move(*t.ignore_message));
  if (!t.file.empty()) desc.source_path = intern(std::move(t.file));
  desc.start_line = desc.end_line = t.line;
  desc.start_col = desc.end_col = t.column;
  if (t.should_panic) {
    desc.should_panic = t.expected_panic
                            ? ShouldPanic{ShouldPanic::YesWithMessage, intern(*t.expected_panic)}
                            : ShouldPanic{ShouldPanic::Yes, {}};
  }
  desc.test_type = t.type;
  if (t.bench) return TestDescAndFn{std::move(desc), DynamicBench{std::move(t.bench)}};
  // Like VELT_TEST_RESULT bodies, a returned error text is shown in the test's output.
  return TestDescAndFn{std::move(desc), DynamicTest{[body = std::move(t.test)] {
                         Outcome o = body();
                         if (!o.ok()) test::detail::print_error(o.error());
                         return o;
                       }}};
}

TestList owned_static_tests(const test::TestTable& table) {
  std::vector<TestDescAndFn> tests;
  tests.reserve(table.size);
  for (std::size_t i = 0; i < table.size; ++i) tests.push_back(make_owned_test(*table.entries[i]));
  return TestList{std::move(tests), TestListOrder::Sorted};
}

std::vector<TestDescAndFn> owned_registered_tests() {
  return owned_static_tests(test::registered_tests()).tests;
}

}  // namespace

TestDescAndFn make_owned_test(const test::TestEntry& entry) {
  TestDesc desc{StaticName{entry.name}};
  desc.ignore = entry.attrs.ignore;
  if (entry.attrs.ignore_message) desc.ignore_message = entry.attrs.ignore_message;
  desc.source_path = entry.file ? entry.file : "";
  desc.start_line = desc.end_line = entry.line;
  desc.start_col = desc.end_col = entry.column;
  if (entry.attrs.should_panic) {
    desc.should_panic =
        entry.attrs.expects_message
            ? ShouldPanic{ShouldPanic::YesWithMessage,
                          entry.attrs.expected_panic ? entry.attrs.expected_panic : ""}
            : ShouldPanic{ShouldPanic::Yes, {}};
  }
  desc.test_type = entry.attrs.type;
  if (entry.kind == test::EntryKind::Test && entry.test) {
    return TestDescAndFn{std::move(desc), StaticTest{entry.test}};
  }
  if (entry.kind == test::EntryKind::Bench && entry.bench) {
    return TestDescAndFn{std::move(desc), StaticBench{entry.bench}};
  }
  test::panic("non-static tests passed to test::test_main_static");
}

void test_main_inner(const std::vector<std::string>& args, TestList tests, bool panic_abort) {
  Result<std::optional<TestOpts>, std::string> parsed = parse_opts(args);
  if (!parsed.ok()) fail_with(parsed.error());
  if (!*parsed) return;  // the help text was printed
  TestOpts& opts = **parsed;
  opts.options.panic_abort = panic_abort;

  if (opts.list) {
    IoResult<void> listed = list_tests_console(opts, std::move(tests));
    if (!listed.ok()) fail_with("io error when listing tests: " + listed.error().debug());
    return;
  }

  // Tests print through the dispatching streams even when nothing is captured: they write
  // straight through, so uncaptured output interleaves with the report as it happens.
  platform::install_output_capture();
  if (!opts.nocapture) {
    install_flush_on_abort_hook();
    platform::set_capture_inheritance(true);
  }
  // Only bodies run in this process can abort it; in children they unwind and are classified
  // there, and benchmarks, always measured here, then still fail without ending the run.
  const bool aborts_here = opts.options.panic_abort && opts.force_run_in_process;
  if (aborts_here) platform::set_panic_aborts(true);
  IoResult<bool> passed = run_tests_console(opts, std::move(tests));
  if (aborts_here) platform::set_panic_aborts(false);
  (void)platform::take_hook();
  if (!passed.ok()) fail_with("io error when listing tests: " + passed.error().debug());
  if (!*passed) platform::exit_process(ERROR_EXIT_CODE);
}

void run_main(void (*body)(void*), void* context) {
  platform::ignore_sigpipe();
  platform::install_terminate_handler();
  try {
    body(context);
  } catch (...) {
    platform::report_caught(platform::current_payload(), nullptr);
    platform::exit_process(ERROR_EXIT_CODE);
  }
}

void run_as_child(test::TestTable table) {
  // Read before anything else, and removed so that programs the test starts (another isolated
  // test executable, say) do not take themselves for children too.
  const char* raw = ::getenv(INVOKE_VAR);
  const std::string name = raw != nullptr ? raw : "";
  ::unsetenv(INVOKE_VAR);
  ::unsetenv(BENCHMARKS_VAR);

  const test::TestEntry* entry = nullptr;
  for (std::size_t i = 0; i < table.size && entry == nullptr; ++i) {
    if (name == table.entries[i]->name) entry = table.entries[i];
  }
  if (entry == nullptr) {
    (void)platform::write_all_stderr("error: cannot run `" + platform::utf8_lossy(name) +
                                     "` in a child process: this executable has no test of "
                                     "that name\n");
    platform::abort_without_core();
  }

  // Unbuffered standard streams: a child that aborts or crashes loses nothing it printed.
  platform::install_output_capture();
  TestDesc desc = make_owned_test(*entry).desc;
  // A benchmark is run once, as a plain test: the run that measures benchmarks does so
  // itself, so whether it does (the benchmarks variable) changes nothing here.
  RunnableTest body = entry->kind == test::EntryKind::Bench
                          ? RunnableTest(runnable_test::StaticBenchAsTest{entry->bench})
                          : RunnableTest(runnable_test::Static{entry->test});
  // On a thread of its own, as in a run in one process: the same stack size, the same name in
  // failure reports.
  std::optional<TestResult> result;
  Result<platform::Thread, int> thread =
      platform::Thread::spawn(name, [&] { result = run_test_here(desc, std::move(body)); });
  if (thread.ok()) {
    thread->join();
  } else {
    platform::set_current_thread_name(name);
    result = run_test_here(desc, std::move(body));
  }

  if (result && std::holds_alternative<Ok>(*result)) platform::exit_process(CHILD_PASSED);
  // Only the way the child ends travels back; a message goes with its output.
  if (const auto* failed = result ? std::get_if<FailedWithMessage>(&*result) : nullptr) {
    (void)platform::write_all_stderr("note: " + failed->message + "\n");
  }
  platform::abort_without_core();
}

}  // namespace velt

namespace velt::test {

void test_main_static(TestTable table) {
  run_main(
      [](void* t) {
        std::vector<std::string> args = platform::args();
        test_main_inner(args, owned_static_tests(*static_cast<const TestTable*>(t)));
      },
      &table);
}

void test_main_isolated(TestTable table) {
  if (platform::env_present(INVOKE_VAR)) {
    run_main([](void* t) { run_as_child(*static_cast<const TestTable*>(t)); }, &table);
    return;  // not reached: the child's end is the process's
  }
  run_main(
      [](void* t) {
        std::vector<std::string> args = platform::args();
        test_main_inner(args, owned_static_tests(*static_cast<const TestTable*>(t)),
                        /*panic_abort=*/true);
      },
      &table);
}

void test_main(std::vector<DynamicTest> dynamic) {
  run_main(
      [](void* d) {
        auto& generated = *static_cast<std::vector<DynamicTest>*>(d);
        std::vector<std::string> args = platform::args();
        std::vector<TestDescAndFn> tests = owned_registered_tests();
        for (DynamicTest& t : generated) tests.push_back(make_dynamic_test(t));
        test_main_inner(args, TestList{std::move(tests), TestListOrder::Unsorted});
      },
      &dynamic);
}

}  // namespace velt::test
