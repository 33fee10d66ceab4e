#include "src/types.h"

#include "src/bench.h"
#include "src/helpers/overloaded.h"

namespace velt {

std::string_view TestName::as_slice() const {
  return std::visit(Overloaded{[](const StaticName& n) { return n.text; },
                               [](const DynamicName& n) { return std::string_view(n.text); },
                               [](const AlignedName& n) {
                                 return std::visit(
                                     [](const auto& t) { return std::string_view(t); }, n.text);
                               }},
                    v_);
}

NamePadding TestName::padding() const {
  if (const auto* a = std::get_if<AlignedName>(&v_)) return a->padding;
  return NamePadding::NoPadding;
}

TestName TestName::with_padding(NamePadding padding) const {
  return std::visit(Overloaded{[&](const StaticName& n) {
                                 return TestName(AlignedName{n.text, padding});
                               },
                               [&](const DynamicName& n) {
                                 return TestName(AlignedName{n.text, padding});
                               },
                               [&](const AlignedName& n) {
                                 return TestName(AlignedName{n.text, padding});
                               }},
                    v_);
}

std::string TestDesc::padded_name(std::size_t column_count, NamePadding padding) const {
  std::string text(name.as_slice());
  if (padding == NamePadding::PadRight && text.size() < column_count) {
    text.append(column_count - text.size(), ' ');
  }
  return text;
}

std::optional<std::string_view> TestDesc::test_mode() const {
  if (ignore) return std::nullopt;
  if (should_panic.kind != ShouldPanic::No) return "should panic";
  if (compile_fail) return "compile fail";
  if (compile_only) return "compile";
  return std::nullopt;
}

NamePadding TestFn::padding() const {
  return is_bench() ? NamePadding::PadRight : NamePadding::NoPadding;
}

Runnable TestFn::into_runnable() && {
  return std::visit(
      Overloaded{
          [](StaticTest& f) -> Runnable { return RunnableTest(runnable_test::Static{f.fn}); },
          [](DynamicTest& f) -> Runnable {
            return RunnableTest(runnable_test::Dynamic{std::move(f.fn)});
          },
          [](StaticBenchAsTest& f) -> Runnable {
            return RunnableTest(runnable_test::StaticBenchAsTest{f.fn});
          },
          [](DynamicBenchAsTest& f) -> Runnable {
            return RunnableTest(runnable_test::DynamicBenchAsTest{std::move(f.fn)});
          },
          [](StaticBench& f) -> Runnable { return RunnableBench(runnable_bench::Static{f.fn}); },
          [](DynamicBench& f) -> Runnable {
            return RunnableBench(runnable_bench::Dynamic{std::move(f.fn)});
          }},
      v_);
}

namespace {

// Every body is entered through this frame so that a backtrace of a failure can be cut here;
// the barrier keeps the call from being folded into its caller.
template <class F>
[[gnu::noinline]] Outcome velt_begin_short_backtrace(F&& f) {
  Outcome result = f();
  asm volatile("" : : "r"(&result) : "memory");
  return result;
}

}  // namespace

Outcome RunnableTest::run() && {
  return std::visit(
      Overloaded{[](runnable_test::Static& t) { return velt_begin_short_backtrace(t.fn); },
                 [](runnable_test::Dynamic& t) {
                   DynamicTestBody body = std::move(t.fn);  // released when this returns
                   return velt_begin_short_backtrace(body);
                 },
                 [](runnable_test::StaticBenchAsTest& t) {
                   return velt_begin_short_backtrace([&] { return run_once(t.fn); });
                 },
                 [](runnable_test::DynamicBenchAsTest& t) {
                   DynamicBenchBody body = std::move(t.fn);
                   return velt_begin_short_backtrace([&] { return run_once(body); });
                 }},
      v_);
}

bool RunnableTest::is_dynamic() const {
  return std::holds_alternative<runnable_test::Dynamic>(v_) ||
         std::holds_alternative<runnable_test::DynamicBenchAsTest>(v_);
}

Outcome RunnableBench::call(Bencher& b) {
  return std::visit(Overloaded{[&](runnable_bench::Static& f) {
                                 return velt_begin_short_backtrace([&] { return f.fn(b); });
                               },
                               [&](runnable_bench::Dynamic& f) {
                                 return velt_begin_short_backtrace([&] { return f.fn(b); });
                               }},
                    v_);
}

}  // namespace velt
