#include "src/test_result.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "include/velt/test.h"
#include "src/helpers/overloaded.h"
#include "src/platform/panic.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_view_literals;
using velt::ShouldPanic;
using velt::platform::PanicPayload;

std::string describe(const velt::TestResult& r) {
  return std::visit(
      velt::Overloaded{[](const velt::Ok&) -> std::string { return "Ok"; },
                       [](const velt::Failed&) -> std::string { return "Failed"; },
                       [](const velt::FailedWithMessage& f) { return "Message: " + f.message; },
                       [](const velt::Ignored&) -> std::string { return "Ignored"; },
                       [](const velt::Bench&) -> std::string { return "Bench"; },
                       [](const velt::TimeLimitExceeded&) -> std::string { return "TimeLimit"; }},
      r);
}

velt::TestDesc desc_of(ShouldPanic expect, std::string_view source_path = "") {
  velt::TestDesc desc(velt::StaticName{"t"});
  desc.source_path = source_path;
  desc.start_line = 3;
  desc.start_col = 5;
  desc.should_panic = expect;
  return desc;
}

const ShouldPanic NO{ShouldPanic::No, {}};
const ShouldPanic YES{ShouldPanic::Yes, {}};
ShouldPanic with_message(std::string_view expected) {
  return {ShouldPanic::YesWithMessage, expected};
}

PanicPayload owned(std::string text) { return {PanicPayload::OwnedText, std::move(text), ""}; }
PanicPayload static_text(std::string text) {
  return {PanicPayload::StaticText, std::move(text), ""};
}
PanicPayload other(std::string type) { return {PanicPayload::Other, "", std::move(type)}; }

// error_on_excess set, unit tests critical at 100 ms.
const velt::TestTimeOptions ENSURE{.error_on_excess = true,
                                   .unit_threshold = {50ms, 100ms},
                                   .integration_threshold = {500ms, 1000ms},
                                   .doctest_threshold = {500ms, 1000ms}};
velt::TestTimeOptions report_only() {
  velt::TestTimeOptions o = ENSURE;
  o.error_on_excess = false;
  return o;
}

}  // namespace

VELT_TEST(test_result::calc_result_by_expectation) {
  const struct {
    const char* what;
    ShouldPanic expect;
    std::optional<PanicPayload> failure;  // none: the body succeeded
    std::string_view source_path;
    std::string want;
  } cases[] = {
      {"passed", NO, std::nullopt, "", "Ok"},
      {"failed", NO, owned("boom"), "", "Failed"},
      {"no panic, located", YES, std::nullopt, "src/a",
       "Message: test did not panic as expected at src/a:3:5"},
      {"no panic, unlocated", with_message("x"), std::nullopt, "",
       "Message: test did not panic as expected"},
      {"panicked", YES, owned("boom"), "", "Ok"},
      {"panicked with a non-text", YES, other("int"), "", "Ok"},
      {"returned error text", with_message("bo"), owned("boom"), "", "Ok"},
      {"static text", with_message("oo"), static_text("boom"), "", "Ok"},
      {"empty expectation", with_message(""), owned(""), "", "Ok"},
      {"case differs", with_message("Boom"), owned("boom"), "",
       "Message: panic did not contain expected string\n"
       "      panic message: \"boom\"\n"
       " expected substring: \"Boom\""},
      {"non-text payload", with_message("xyz"), other("int"), "",
       "Message: expected panic with string value,\n"
       " found non-string value: `int`\n"
       "     expected substring: \"xyz\""},
      {"escapes", with_message("q\"\\"), owned(std::string("a\"b\\c\td\r\n\0e"sv)), "",
       "Message: panic did not contain expected string\n"
       "      panic message: \"a\\\"b\\\\c\\td\\r\\n\\0e\"\n"
       " expected substring: \"q\\\"\\\\\""},
      {"unprintable", with_message("z"), owned("\xc3\xa9\x7f\xe2\x80\x8b\x1b \xff"), "",
       "Message: panic did not contain expected string\n"
       "      panic message: \"\xc3\xa9\\u{7f}\\u{200b}\\u{1b} \\xff\"\n"
       " expected substring: \"z\""},
  };
  for (const auto& c : cases) {
    velt::TestDesc desc = desc_of(c.expect, c.source_path);
    const PanicPayload* failure = c.failure ? &*c.failure : nullptr;
    VELT_ASSERT_EQ(describe(velt::calc_result(desc, failure, std::nullopt, std::nullopt)), c.want,
                   "{}", c.what);
  }
}

VELT_TEST(test_result::time_limit_applies_only_to_passes) {
  const PanicPayload boom = owned("boom");
  const struct {
    const char* what;
    ShouldPanic expect;
    const PanicPayload* failure;
    std::optional<velt::TestTimeOptions> opts;
    std::optional<velt::TestExecTime> time;
    std::string want;
  } cases[] = {
      {"at the limit", NO, nullptr, ENSURE, velt::TestExecTime{100ms}, "TimeLimit"},
      {"just below", NO, nullptr, ENSURE, velt::TestExecTime{99ms}, "Ok"},
      {"report only", NO, nullptr, report_only(), velt::TestExecTime{10s}, "Ok"},
      {"no duration", NO, nullptr, ENSURE, std::nullopt, "Ok"},
      {"no options", NO, nullptr, std::nullopt, velt::TestExecTime{10s}, "Ok"},
      {"failed slowly", NO, &boom, ENSURE, velt::TestExecTime{10s}, "Failed"},
      {"panicked as expected, slowly", YES, &boom, ENSURE, velt::TestExecTime{10s}, "TimeLimit"},
      {"expected text, slowly", with_message("oo"), &boom, ENSURE, velt::TestExecTime{10s},
       "TimeLimit"},
      {"did not panic, slowly", YES, nullptr, ENSURE, velt::TestExecTime{10s},
       "Message: test did not panic as expected"},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(describe(velt::calc_result(desc_of(c.expect), c.failure, c.opts, c.time)),
                   c.want, "{}", c.what);
  }
}

VELT_TEST(test_result::result_from_exit_code) {
  const struct {
    velt::ExitStatus status;
    std::optional<velt::TestExecTime> time;
    std::string want;
  } cases[] = {
      {{false, 50}, std::nullopt, "Ok"},
      {{false, 50}, velt::TestExecTime{100ms}, "TimeLimit"},
      {{false, 50}, velt::TestExecTime{99ms}, "Ok"},
      {{false, 0}, std::nullopt, "Message: got unexpected return code 0"},
      {{false, 101}, std::nullopt, "Message: got unexpected return code 101"},
      {{false, 6}, std::nullopt, "Message: got unexpected return code 6"},  // a code, not SIGABRT
      {{true, 6}, velt::TestExecTime{10s}, "Failed"},
      {{true, 9}, std::nullopt, "Message: child process exited with signal 9"},
      {{true, 50}, std::nullopt, "Message: child process exited with signal 50"},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(describe(velt::get_result_from_exit_code(desc_of(NO), c.status, ENSURE, c.time)),
                   c.want, "signaled {} code {}", c.status.signaled, c.status.code);
  }
}
