// Tests built at run time, for example one per row of a data table:
//
//   int main() {
//     std::vector<velt::test::DynamicTest> tests;
//     for (int n : {1, 2, 3})
//       tests.emplace_back("square::" + std::to_string(n), [n] {
//         VELT_ASSERT_EQ(n * n / n, n);
//         return velt::test::ok();
//       });
//     velt::test::test_main(std::move(tests));
//   }
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "velt/test.h"

namespace velt::test {

struct DynamicTest {
  // A test; its body returns ok() or error("why"), or panics.
  DynamicTest(std::string test_name, std::function<Outcome()> body)
      : name(std::move(test_name)), test(std::move(body)) {}
  // A benchmark; its body times a routine with the Bencher.
  DynamicTest(std::string bench_name, std::function<Outcome(Bencher&)> body)
      : name(std::move(bench_name)), bench(std::move(body)) {}

  std::string name;
  std::function<Outcome()> test;
  std::function<Outcome(Bencher&)> bench;

  bool ignore = false;
  std::optional<std::string> ignore_message;
  bool should_panic = false;
  std::optional<std::string> expected_panic;  // with should_panic: a substring of the message
  TestType type = TestType::UnitTest;
  std::string file;  // shown in "did not panic" messages when set
  unsigned line = 0;
  unsigned column = 0;
};

// Runs the registered tests followed by `tests`, in that order, with the process's command
// line. Returns when everything asked for succeeded; otherwise ends the process with status 101.
void test_main(std::vector<DynamicTest> tests);

}  // namespace velt::test
