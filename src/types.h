// Test descriptors and bodies: what a test is called, what it expects, and how it runs.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "include/velt/test.h"

namespace velt {

using test::Bencher;
using test::Outcome;
using test::TestType;

enum class NamePadding { NoPadding, PadRight };  // the index feeds the shuffle hash

// Text that lives for the whole process (the registered table, interned names).
struct StaticName {
  std::string_view text;
};
struct DynamicName {
  std::string text;
};
struct AlignedName {
  std::variant<std::string_view, std::string> text;  // borrowed whole-process text or owned
  NamePadding padding = NamePadding::NoPadding;
};

// The alternatives' order is observable: shuffling hashes the index.
class TestName {
 public:
  TestName(StaticName n) : v_(n) {}
  TestName(DynamicName n) : v_(std::move(n)) {}
  TestName(AlignedName n) : v_(std::move(n)) {}

  std::string_view as_slice() const;
  NamePadding padding() const;
  TestName with_padding(NamePadding padding) const;
  std::size_t index() const { return v_.index(); }

 private:
  std::variant<StaticName, DynamicName, AlignedName> v_;
};

struct ShouldPanic {
  enum Kind { No, Yes, YesWithMessage };
  Kind kind = No;
  std::string_view expected;  // for YesWithMessage

  bool operator==(const ShouldPanic& o) const {
    return kind == o.kind && (kind != YesWithMessage || expected == o.expected);
  }
};

struct TestDesc {
  explicit TestDesc(TestName n) : name(std::move(n)) {}

  TestName name;
  bool ignore = false;
  std::optional<std::string_view> ignore_message;
  std::string_view source_path;
  std::size_t start_line = 0;
  std::size_t start_col = 0;
  std::size_t end_line = 0;
  std::size_t end_col = 0;
  ShouldPanic should_panic;
  bool compile_fail = false;
  bool compile_only = false;
  TestType test_type = TestType::UnitTest;

  std::string padded_name(std::size_t column_count, NamePadding padding) const;
  std::optional<std::string_view> test_mode() const;
};

using TestBodyFn = Outcome (*)();
using BenchBodyFn = Outcome (*)(Bencher&);
using DynamicTestBody = std::function<Outcome()>;
using DynamicBenchBody = std::function<Outcome(Bencher&)>;

struct StaticTest {
  TestBodyFn fn;
};
struct StaticBench {
  BenchBodyFn fn;
};
struct StaticBenchAsTest {
  BenchBodyFn fn;
};
struct DynamicTest {
  DynamicTestBody fn;
};
struct DynamicBench {
  DynamicBenchBody fn;
};
struct DynamicBenchAsTest {
  DynamicBenchBody fn;
};

namespace runnable_test {
struct Static {
  TestBodyFn fn;
};
struct Dynamic {
  DynamicTestBody fn;
};
struct StaticBenchAsTest {
  BenchBodyFn fn;
};
struct DynamicBenchAsTest {
  DynamicBenchBody fn;
};
}  // namespace runnable_test

namespace runnable_bench {
struct Static {
  BenchBodyFn fn;
};
struct Dynamic {
  DynamicBenchBody fn;
};
}  // namespace runnable_bench

// A test body ready to run; `run` lets a panic propagate to the caller.
class RunnableTest {
 public:
  using Variant = std::variant<runnable_test::Static, runnable_test::Dynamic,
                               runnable_test::StaticBenchAsTest, runnable_test::DynamicBenchAsTest>;
  explicit RunnableTest(Variant v) : v_(std::move(v)) {}
  Outcome run() &&;
  bool is_dynamic() const;

 private:
  Variant v_;
};

// A benchmark body ready to be measured.
class RunnableBench {
 public:
  using Variant = std::variant<runnable_bench::Static, runnable_bench::Dynamic>;
  explicit RunnableBench(Variant v) : v_(std::move(v)) {}
  // Calls the body once with `b`; a panic propagates.
  Outcome call(Bencher& b);

 private:
  Variant v_;
};

using Runnable = std::variant<RunnableTest, RunnableBench>;

class TestFn {
 public:
  using Variant = std::variant<StaticTest, StaticBench, StaticBenchAsTest, DynamicTest,
                               DynamicBench, DynamicBenchAsTest>;
  template <class T>
  TestFn(T v) : v_(std::move(v)) {}

  NamePadding padding() const;
  Runnable into_runnable() &&;
  bool is_bench() const {  // measured bodies: StaticBench, DynamicBench
    return std::holds_alternative<StaticBench>(v_) || std::holds_alternative<DynamicBench>(v_);
  }
  bool is_static() const {
    return std::holds_alternative<StaticTest>(v_) || std::holds_alternative<StaticBench>(v_);
  }
  Variant& variant() { return v_; }
  const Variant& variant() const { return v_; }

 private:
  Variant v_;
};

struct TestDescAndFn {
  TestDesc desc;
  TestFn testfn;
};

using TestId = std::size_t;

}  // namespace velt
