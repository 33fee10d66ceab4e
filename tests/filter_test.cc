#include "src/filter.h"

#include <string>
#include <vector>

#include "include/velt/test.h"

namespace {

using velt::RunIgnored;
using velt::ShouldPanic;
using velt::TestListOrder;

velt::test::Outcome pass() { return {}; }
velt::test::Outcome pass_bench(velt::test::Bencher&) { return {}; }

struct Entry {
  const char* name;
  std::size_t tag = 0;  // tells entries of the same name apart
  bool ignore = false;
  ShouldPanic::Kind panic = ShouldPanic::No;
};

std::vector<velt::TestDescAndFn> make_tests(const std::vector<Entry>& entries) {
  std::vector<velt::TestDescAndFn> tests;
  for (const Entry& e : entries) {
    velt::TestDesc desc(velt::StaticName{e.name});
    desc.ignore = e.ignore;
    desc.start_line = e.tag;
    desc.should_panic = {e.panic, e.panic == ShouldPanic::YesWithMessage ? "msg" : ""};
    tests.push_back({std::move(desc), velt::StaticTest{&pass}});
  }
  return tests;
}

// "name#tag!" per entry, the "!" when the ignore mark is still set.
std::string render(const std::vector<velt::TestDescAndFn>& tests) {
  std::string out;
  for (const velt::TestDescAndFn& t : tests) {
    if (!out.empty()) out += ' ';
    out += t.desc.name.as_slice();
    if (t.desc.start_line != 0) out += '#' + std::to_string(t.desc.start_line);
    if (t.desc.ignore) out += '!';
  }
  return out;
}

}  // namespace

VELT_TEST(filter::filter_tests_selects_in_list_order) {
  const std::vector<Entry> dup = {{"a"}, {"dup", 1}, {"dup", 2}, {"z"}};
  const struct {
    const char* what;
    std::vector<Entry> tests;
    std::vector<std::string> filters = {};
    bool exact = false;
    TestListOrder order = TestListOrder::Sorted;
    std::vector<std::string> skip = {};
    bool exclude_should_panic = false;
    RunIgnored run_ignored = RunIgnored::No;
    const char* want;
  } cases[] = {
      {.what = "substring, each once",
       .tests = {{"ab"}, {"ba"}, {"cc"}},
       .filters = {"a", "b"},
       .want = "ab ba"},
      {.what = "empty filter matches all",
       .tests = {{"ab"}, {"cc"}},
       .filters = {""},
       .want = "ab cc"},
      {.what = "case-sensitive", .tests = {{"Ab"}, {"ab"}}, .filters = {"A"}, .want = "Ab"},
      {.what = "exact, not a prefix",
       .tests = {{"ab"}, {"abc"}},
       .filters = {"ab"},
       .exact = true,
       .want = "ab"},
      {.what = "exact, named twice",
       .tests = {{"ab"}, {"abc"}},
       .filters = {"ab", "ab"},
       .exact = true,
       .want = "ab"},
      {.what = "exact, named nothing",
       .tests = {{"ab"}, {"abc"}},
       .filters = {"zz"},
       .exact = true,
       .want = ""},
      {.what = "exact, list order not filter order",
       .tests = {{"a"}, {"b"}, {"c"}},
       .filters = {"c", "a"},
       .exact = true,
       .want = "a c"},
      {.what = "exact, unsorted scan",
       .tests = {{"c"}, {"a"}, {"b"}},
       .filters = {"a", "c"},
       .exact = true,
       .order = TestListOrder::Unsorted,
       .want = "c a"},
      {.what = "exact, sorted duplicates keep the last",
       .tests = dup,
       .filters = {"dup"},
       .exact = true,
       .want = "dup#2"},
      {.what = "exact, unsorted duplicates keep both",
       .tests = dup,
       .filters = {"dup"},
       .exact = true,
       .order = TestListOrder::Unsorted,
       .want = "dup#1 dup#2"},
      {.what = "skip after filter",
       .tests = {{"ab"}, {"ac"}},
       .filters = {"a"},
       .skip = {"ab"},
       .want = "ac"},
      {.what = "skip without filter",
       .tests = {{"ab"}, {"ac"}, {"b"}},
       .skip = {"c", "zz"},
       .want = "ab b"},
      {.what = "exact skip needs the whole name",
       .tests = {{"a"}, {"ab"}},
       .exact = true,
       .skip = {"a"},
       .want = "ab"},
      {.what = "exclude should_panic",
       .tests = {{"m", 0, false, ShouldPanic::YesWithMessage},
                 {"n"},
                 {"p", 0, false, ShouldPanic::Yes}},
       .exclude_should_panic = true,
       .want = "n"},
      {.what = "ignore mode No keeps marks", .tests = {{"i", 0, true}, {"n"}}, .want = "i! n"},
      {.what = "ignore mode Yes clears marks",
       .tests = {{"i", 0, true}, {"n"}},
       .run_ignored = RunIgnored::Yes,
       .want = "i n"},
      {.what = "ignore mode Only",
       .tests = {{"i", 0, true}, {"n"}},
       .run_ignored = RunIgnored::Only,
       .want = "i"},
      {.what = "Only without ignored tests",
       .tests = {{"a"}, {"n"}},
       .run_ignored = RunIgnored::Only,
       .want = ""},
      {.what = "Only after filters",
       .tests = {{"ia", 0, true}, {"ib", 0, true}},
       .filters = {"b"},
       .run_ignored = RunIgnored::Only,
       .want = "ib"},
  };
  for (const auto& c : cases) {
    velt::TestOpts opts;
    opts.filters = c.filters;
    opts.filter_exact = c.exact;
    opts.skip = c.skip;
    opts.exclude_should_panic = c.exclude_should_panic;
    opts.run_ignored = c.run_ignored;
    std::vector<velt::TestDescAndFn> got =
        velt::filter_tests(opts, velt::TestList{make_tests(c.tests), c.order});
    VELT_ASSERT_EQ(render(got), c.want, "{}", c.what);
  }
}

VELT_TEST(filter::exact_match_binary_search) {
  // Byte order puts "\xc3\xa9" (e-acute) after "z"; a signed comparison would lose it.
  const std::vector<Entry> sorted = {{"a"}, {"b"}, {"b", 1}, {"b", 2},    {"c"},
                                     {"d"}, {"e"}, {"z"},    {"\xc3\xa9"}};
  const struct {
    std::vector<std::string> filters;
    const char* want;
  } cases[] = {
      {{"a"}, "a"},
      {{"b"}, "b#2"},
      {{"e"}, "e"},
      {{"\xc3\xa9"}, "\xc3\xa9"},
      {{"z", "a", "d", "z"}, "a d z"},
      {{"", "0", "bb", "\xff"}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(render(velt::filter_exact_match(make_tests(sorted), c.filters)), c.want);
  }
  VELT_ASSERT_EQ(render(velt::filter_exact_match({}, {"a"})), "");
}

VELT_TEST(filter::convert_benchmarks_to_tests) {
  int calls = 0;
  std::vector<velt::TestDescAndFn> tests = make_tests({{"a"}, {"b"}, {"c"}, {"d"}, {"e"}});
  tests[0].testfn = velt::StaticTest{&pass};
  tests[1].testfn = velt::StaticBench{&pass_bench};
  tests[2].testfn = velt::DynamicBench{[&](velt::test::Bencher&) {
    ++calls;
    return velt::test::Outcome();
  }};
  tests[3].testfn = velt::StaticBenchAsTest{&pass_bench};
  tests[4].testfn = velt::DynamicTest{[] { return velt::test::Outcome(); }};

  std::vector<velt::TestDescAndFn> got = velt::convert_benchmarks_to_tests(std::move(tests));
  VELT_ASSERT_EQ(render(got), "a b c d e");
  using V = velt::TestFn::Variant;
  const std::size_t want[] = {V(velt::StaticTest{}).index(), V(velt::StaticBenchAsTest{}).index(),
                              V(velt::DynamicBenchAsTest{}).index(),
                              V(velt::StaticBenchAsTest{}).index(), V(velt::DynamicTest{}).index()};
  for (std::size_t i = 0; i < got.size(); ++i) {
    VELT_ASSERT_EQ(got[i].testfn.variant().index(), want[i], "entry {}", i);
  }
  VELT_ASSERT(std::get<velt::StaticBenchAsTest>(got[1].testfn.variant()).fn == &pass_bench);
  // The callable moved over intact.
  velt::test::Bencher b(velt::test::BenchMode::Single);
  VELT_ASSERT(std::get<velt::DynamicBenchAsTest>(got[2].testfn.variant()).fn(b).ok());
  VELT_ASSERT_EQ(calls, 1);
}
