#include "src/scheduler.h"

#include <string>
#include <vector>

#include "include/velt/test.h"
#include "src/helpers/overloaded.h"

namespace velt {
namespace {

TestDescAndFn make_test(const char* name, TestBodyFn fn) {
  return TestDescAndFn{TestDesc{StaticName{name}}, StaticTest{fn}};
}

Outcome passes() { return {}; }
Outcome fails() { return test::error("no"); }

// The events of one run, written compactly: "start a", "ok a", "failed b", "filtered 2"...
std::vector<std::string> run(TestOpts opts, std::vector<TestDescAndFn> tests) {
  std::vector<std::string> events;
  IoResult<void> r = run_tests(
      opts, TestList{std::move(tests), TestListOrder::Sorted}, [&](TestEvent e) -> IoResult<void> {
        std::visit(
            Overloaded{
                [&](event::Filtered& f) {
                  events.push_back("filtered " + std::to_string(f.count));
                },
                [&](event::FilteredOut& f) { events.push_back("out " + std::to_string(f.count)); },
                [&](event::Started& s) {
                  events.push_back("start " + std::string(s.desc.name.as_slice()));
                },
                [&](event::Timeout&) { events.push_back("timeout"); },
                [&](event::Result& res) {
                  std::string word = std::holds_alternative<Ok>(res.test.result)        ? "ok "
                                     : std::holds_alternative<Ignored>(res.test.result) ? "ignored "
                                                                                        : "failed ";
                  events.push_back(word + std::string(res.test.desc.name.as_slice()));
                }},
            e);
        return {};
      });
  VELT_ASSERT(r.ok());
  return events;
}

TestOpts opts_with_threads(std::size_t n) {
  TestOpts opts;
  opts.test_threads = n;
  return opts;
}

}  // namespace
}  // namespace velt

VELT_TEST(scheduler::empty_list_gives_two_events) {
  std::vector<std::string> want = {"out 0", "filtered 0"};
  VELT_ASSERT(velt::run(velt::opts_with_threads(1), {}) == want);
}

VELT_TEST(scheduler::serial_run_reports_in_order) {
  std::vector<velt::TestDescAndFn> tests;
  tests.push_back(velt::make_test("a", velt::passes));
  tests.push_back(velt::make_test("b", velt::fails));
  tests.push_back(velt::make_test("c", velt::passes));
  velt::TestOpts opts = velt::opts_with_threads(1);
  opts.skip = {"c"};
  std::vector<std::string> want = {"out 1", "filtered 2", "start a", "ok a", "start b", "failed b"};
  VELT_ASSERT(velt::run(opts, std::move(tests)) == want);
}

VELT_TEST(scheduler::parallel_run_starts_up_to_the_limit) {
  std::vector<velt::TestDescAndFn> tests;
  for (const char* name : {"t1", "t2", "t3", "t4", "t5"}) {
    tests.push_back(velt::make_test(name, velt::passes));
  }
  std::vector<std::string> events = velt::run(velt::opts_with_threads(3), std::move(tests));
  VELT_ASSERT_EQ(events.size(), 12u);
  // Three starts come before the first result; afterwards every result frees one slot.
  std::size_t started = 0, finished = 0;
  for (const std::string& e : events) {
    if (e.starts_with("start")) ++started;
    if (e.starts_with("ok")) ++finished;
    VELT_ASSERT(started - finished <= 3, "{} running at once", started - finished);
  }
  VELT_ASSERT_EQ(events[2].substr(0, 5), "start");
  VELT_ASSERT_EQ(events[4].substr(0, 5), "start");
  VELT_ASSERT_EQ(finished, 5u);
}

VELT_TEST(scheduler::tests_not_run_are_ignored) {
  std::vector<velt::TestDescAndFn> tests;
  tests.push_back(velt::make_test("a", velt::fails));
  velt::TestOpts opts = velt::opts_with_threads(2);
  opts.run_tests = false;  // --bench without --test
  std::vector<std::string> want = {"out 0", "filtered 1", "start a", "ignored a"};
  VELT_ASSERT(velt::run(opts, std::move(tests)) == want);
}

VELT_TEST(scheduler::fail_fast_stops_after_the_first_failure) {
  for (std::size_t threads : {1u, 2u}) {
    std::vector<velt::TestDescAndFn> tests;
    tests.push_back(velt::make_test("a", velt::fails));
    tests.push_back(velt::make_test("b", velt::passes));
    tests.push_back(velt::make_test("c", velt::passes));
    velt::TestOpts opts = velt::opts_with_threads(threads);
    opts.fail_fast = true;
    std::vector<std::string> events = velt::run(opts, std::move(tests));
    VELT_ASSERT_EQ(events.back(), "failed a", "with {} threads", threads);
  }
}

VELT_TEST(scheduler::handler_error_ends_the_run) {
  std::vector<velt::TestDescAndFn> tests;
  tests.push_back(velt::make_test("a", velt::passes));
  tests.push_back(velt::make_test("b", velt::passes));
  int calls = 0;
  velt::IoResult<void> r = velt::run_tests(
      velt::opts_with_threads(1), velt::TestList{std::move(tests), velt::TestListOrder::Sorted},
      [&](velt::TestEvent e) -> velt::IoResult<void> {
        ++calls;
        if (std::holds_alternative<velt::event::Started>(e)) {
          return velt::Err{velt::IoError{32, "Broken pipe"}};
        }
        return {};
      });
  VELT_ASSERT(!r.ok());
  VELT_ASSERT_EQ(r.error().code, 32);
  VELT_ASSERT_EQ(calls, 3);  // FilteredOut, Filtered, and the failing Started
}
