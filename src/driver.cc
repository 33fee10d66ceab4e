#include "src/driver.h"

#include <deque>
#include <mutex>

#include "include/velt/dynamic.h"
#include "src/cli.h"
#include "src/console.h"
#include "src/platform/capture.h"
#include "src/platform/panic.h"
#include "src/platform/process.h"
#include "src/platform/stdio.h"

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

std::vector<TestDescAndFn> owned_registered_tests() {
  test::TestTable table = test::registered_tests();
  std::vector<TestDescAndFn> tests;
  tests.reserve(table.size);
  for (std::size_t i = 0; i < table.size; ++i) tests.push_back(make_owned_test(*table.entries[i]));
  return tests;
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

void test_main_inner(const std::vector<std::string>& args, TestList tests) {
  Result<std::optional<TestOpts>, std::string> parsed = parse_opts(args);
  if (!parsed.ok()) fail_with(parsed.error());
  if (!*parsed) return;  // the help text was printed
  const TestOpts& opts = **parsed;

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
  IoResult<bool> passed = run_tests_console(opts, std::move(tests));
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

}  // namespace velt

namespace velt::test {

void test_main_static(TestTable table) {
  run_main(
      [](void* t) {
        const TestTable& static_table = *static_cast<const TestTable*>(t);
        std::vector<std::string> args = platform::args();
        std::vector<TestDescAndFn> tests;
        tests.reserve(static_table.size);
        for (std::size_t i = 0; i < static_table.size; ++i) {
          tests.push_back(make_owned_test(*static_table.entries[i]));
        }
        test_main_inner(args, TestList{std::move(tests), TestListOrder::Sorted});
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
