// Selecting tests by name, skip texts, panic expectation and ignore mode.
#include "src/filter.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

namespace velt {
namespace {

bool matches(std::string_view name, std::string_view pattern, bool exact) {
  return exact ? name == pattern : name.find(pattern) != std::string_view::npos;
}

bool matches_any(const TestDescAndFn& t, const std::vector<std::string>& patterns, bool exact) {
  std::string_view name = t.desc.name.as_slice();
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const std::string& p) { return matches(name, p, exact); });
}

// Binary search that keeps the window's base on any name <= the filter, so among equal names
// it ends on the last one.
std::optional<std::size_t> find_last_equal(const std::vector<TestDescAndFn>& tests,
                                           std::string_view filter) {
  std::size_t size = tests.size();
  if (size == 0) return std::nullopt;
  std::size_t base = 0;
  while (size > 1) {
    std::size_t half = size / 2;
    std::size_t mid = base + half;
    // string_view compares bytes as unsigned char, the order the list is sorted in.
    if (tests[mid].desc.name.as_slice() <= filter) base = mid;
    size -= half;
  }
  if (tests[base].desc.name.as_slice() == filter) return base;
  return std::nullopt;
}

}  // namespace

std::vector<TestDescAndFn> filter_exact_match(std::vector<TestDescAndFn> tests,
                                              const std::vector<std::string>& filters) {
  std::vector<std::size_t> found;
  found.reserve(filters.size());
  for (const std::string& f : filters) {
    if (std::optional<std::size_t> pos = find_last_equal(tests, f)) found.push_back(*pos);
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  std::vector<TestDescAndFn> selected;
  selected.reserve(found.size());
  for (std::size_t pos : found) selected.push_back(std::move(tests[pos]));
  return selected;
}

std::vector<TestDescAndFn> filter_tests(const TestOpts& opts, TestList list) {
  std::vector<TestDescAndFn> tests = std::move(list.tests);
  if (!opts.filters.empty()) {
    if (opts.filter_exact && list.order == TestListOrder::Sorted) {
      tests = filter_exact_match(std::move(tests), opts.filters);
    } else {
      std::erase_if(tests, [&](const TestDescAndFn& t) {
        return !matches_any(t, opts.filters, opts.filter_exact);
      });
    }
  }
  if (!opts.skip.empty()) {
    std::erase_if(tests, [&](const TestDescAndFn& t) {
      return matches_any(t, opts.skip, opts.filter_exact);
    });
  }
  if (opts.exclude_should_panic) {
    std::erase_if(
        tests, [](const TestDescAndFn& t) { return t.desc.should_panic.kind != ShouldPanic::No; });
  }
  switch (opts.run_ignored) {
    case RunIgnored::Yes:
      for (TestDescAndFn& t : tests) t.desc.ignore = false;
      break;
    case RunIgnored::Only:
      std::erase_if(tests, [](const TestDescAndFn& t) { return !t.desc.ignore; });
      for (TestDescAndFn& t : tests) t.desc.ignore = false;
      break;
    case RunIgnored::No:
      break;
  }
  return tests;
}

std::vector<TestDescAndFn> convert_benchmarks_to_tests(std::vector<TestDescAndFn> tests) {
  for (TestDescAndFn& t : tests) {
    TestFn::Variant& v = t.testfn.variant();
    if (auto* b = std::get_if<StaticBench>(&v)) {
      v = StaticBenchAsTest{b->fn};
    } else if (auto* d = std::get_if<DynamicBench>(&v)) {
      v = DynamicBenchAsTest{std::move(d->fn)};
    }
  }
  return tests;
}

}  // namespace velt
