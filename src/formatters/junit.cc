#include "src/formatters/junit.h"

#include "src/console.h"
#include "src/formatters/json.h"
#include "src/helpers/overloaded.h"
#include "src/platform/process.h"

namespace velt {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

// The length of a character at `s[i]` that XML 1.0 does not allow anywhere in a document,
// or 0. `s` is valid UTF-8, so 0xEF always starts a three-byte sequence.
std::size_t forbidden_at(std::string_view s, std::size_t i) {
  auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x20) return c == '\t' || c == '\n' || c == '\r' ? 0 : 1;
  // U+FFFE and U+FFFF
  if (c == 0xEF && i + 2 < s.size() && s[i + 1] == '\xBF' &&
      (s[i + 2] == '\xBE' || s[i + 2] == '\xBF')) {
    return 3;
  }
  return 0;
}

// Unicode white space beyond ASCII, as UTF-8: U+0085, U+00A0, U+1680, U+2000 to U+200A,
// U+2028, U+2029, U+202F, U+205F, U+3000.
constexpr std::string_view WIDE_SPACES[] = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
    "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
    "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8",
    "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

bool is_ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The length of the white space `s` starts with (or, at_end, ends with); 0 when there is none.
std::size_t space_at(std::string_view s, bool at_end) {
  if (is_ascii_space(at_end ? s.back() : s.front())) return 1;
  for (std::string_view w : WIDE_SPACES) {
    if (at_end ? s.ends_with(w) : s.starts_with(w)) return w.size();
  }
  return 0;
}

std::string_view trim(std::string_view s) {
  for (std::size_t n; !s.empty() && (n = space_at(s, false)) != 0;) s.remove_prefix(n);
  for (std::size_t n; !s.empty() && (n = space_at(s, true)) != 0;) s.remove_suffix(n);
  return s;
}

JunitName parse_class_name_unit(std::string_view name) {
  // The last separator found scanning from the left: "a:::b" is "a" and ":b".
  std::size_t last = std::string_view::npos;
  for (std::size_t at = name.find("::"); at != std::string_view::npos;
       at = name.find("::", at + 2)) {
    last = at;
  }
  if (last == std::string_view::npos) return {"crate", std::string(name)};
  return {std::string(name.substr(0, last)), std::string(name.substr(last + 2))};
}

JunitName parse_class_name_doc(std::string_view name) {
  constexpr std::string_view SEPARATOR = " - ";
  std::size_t at = name.find(SEPARATOR);
  if (at == std::string_view::npos) return {"doctest", std::string(name)};
  return {std::string(trim(name.substr(0, at))),
          std::string(trim(name.substr(at + SEPARATOR.size())))};
}

std::string text_of(std::string_view bytes) {
  return platform::is_valid_utf8(bytes) ? std::string(bytes) : platform::utf8_lossy(bytes);
}

}  // namespace

JunitName parse_class_name(const TestDesc& desc) {
  std::string_view name = desc.name.as_slice();
  switch (desc.test_type) {
    case TestType::UnitTest:
      return parse_class_name_unit(name);
    case TestType::IntegrationTest:
      return {"integration", std::string(name)};
    case TestType::DocTest:
      return parse_class_name_doc(name);
    case TestType::Unknown:
      break;
  }
  return {"unknown", std::string(name)};
}

std::string str_to_cdata(std::string_view text) {
  std::string out = "<![CDATA[";
  // True while the section that a line feed opened is still empty: a second line feed then
  // drops that section instead of closing it, so "a\n\nb" carries no empty section between
  // its two references. The sections that open and close the whole text always stay. One
  // pass, rather than replacing patterns in the finished text, drops only sections made
  // here: output that itself prints "<![CDATA[" and a line feed keeps that text.
  bool empty_after_line_feed = false;
  for (std::size_t i = 0; i < text.size();) {
    std::string_view rest = text.substr(i);
    if (rest.starts_with("]]>")) {
      out += "]]]]><![CDATA[>";
      i += 3;
    } else if (rest.starts_with("<?")) {
      out += "<]]><![CDATA[?";
      i += 2;
    } else if (text[i] == '\n') {
      if (empty_after_line_feed) {
        out.resize(out.size() - std::string_view("<![CDATA[").size());
        out += "&#xA;<![CDATA[";
      } else {
        out += "]]>&#xA;<![CDATA[";
      }
      ++i;
      empty_after_line_feed = true;
      continue;
    } else if (std::size_t n = forbidden_at(text, i)) {
      out += REPLACEMENT;
      i += n;
    } else {
      out += text[i];
      ++i;
    }
    empty_after_line_feed = false;
  }
  out += "]]>";
  return out;
}

std::string escape_attribute(std::string_view bytes) {
  std::string text = text_of(bytes);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (std::size_t n = forbidden_at(text, i)) {
      out += REPLACEMENT;
      i += n;
      continue;
    }
    switch (text[i]) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\n':
        out += "&#xA;";
        break;
      case '\r':
        out += "&#xD;";
        break;
      case '\t':
        out += "&#x9;";
        break;
      default:
        out += text[i];
    }
    ++i;
  }
  return out;
}

IoResult<void> JunitFormatter::write_message(std::string_view text) {
  VELT_TRY(write_all(output, text));
  return flush(output);
}

// Listings never reach this format: a listing configured for it uses the pretty format.
IoResult<void> JunitFormatter::write_discovery_start() {
  return Err{IoError{0, "not yet implemented!"}};
}

IoResult<void> JunitFormatter::write_test_discovered(const TestDesc&, std::string_view) {
  return Err{IoError{0, "not yet implemented!"}};
}

IoResult<void> JunitFormatter::write_discovery_finish(const ConsoleTestDiscoveryState&) {
  return Err{IoError{0, "not yet implemented!"}};
}

IoResult<void> JunitFormatter::write_run_start(std::size_t, std::optional<std::uint64_t>) {
  return write_message("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
}

IoResult<void> JunitFormatter::write_test_start(const TestDesc&) { return {}; }

IoResult<void> JunitFormatter::write_timeout(const TestDesc&) { return {}; }

IoResult<void> JunitFormatter::write_result(const TestDesc& desc, const TestResult& result,
                                            const std::optional<TestExecTime>& exec_time,
                                            std::string_view stdout, const ConsoleTestState&) {
  results.push_back(Entry{desc, result,
                          exec_time ? exec_time->duration : std::chrono::nanoseconds::zero(),
                          std::string(stdout)});
  return {};
}

IoResult<void> JunitFormatter::write_testcase(const Entry& entry, bool display_output) {
  JunitName names = parse_class_name(entry.desc);
  std::string class_name = escape_attribute(names.class_name);
  std::string name = escape_attribute(names.test_name);
  std::string time = fmt_real(duration_secs(entry.duration));
  std::string start_tag =
      "<testcase classname=\"" + class_name + "\" name=\"" + name + "\" time=\"" + time + "\"";

  auto write_output = [&]() -> IoResult<void> {
    VELT_TRY(write_message("<system-out>"));
    VELT_TRY(write_message(str_to_cdata(text_of(entry.stdout))));
    return write_message("</system-out>");
  };
  auto write_failure = [&](std::string_view failure) -> IoResult<void> {
    VELT_TRY(write_message(start_tag + ">"));
    VELT_TRY(write_message(failure));
    if (!entry.stdout.empty()) VELT_TRY(write_output());
    return write_message("</testcase>");
  };

  return std::visit(
      Overloaded{[&](const Ok&) -> IoResult<void> {
                   if (entry.stdout.empty() || !display_output)
                     return write_message(start_tag + "/>");
                   VELT_TRY(write_message(start_tag + ">"));
                   VELT_TRY(write_output());
                   return write_message("</testcase>");
                 },
                 [&](const Failed&) { return write_failure("<failure type=\"assert\"/>"); },
                 [&](const FailedWithMessage& f) {
                   return write_failure("<failure message=\"" + escape_attribute(f.message) +
                                        "\" type=\"assert\"/>");
                 },
                 [&](const TimeLimitExceeded&) {
                   return write_message(start_tag + "><failure type=\"timeout\"/></testcase>");
                 },
                 [&](const Bench& b) {
                   return write_message("<testcase classname=\"benchmark::" + class_name +
                                        "\" name=\"" + name + "\" time=\"" +
                                        fmt_real(b.samples.ns_iter_summary.sum) + "\" />");
                 },
                 [&](const Ignored&) { return IoResult<void>(); }},
      entry.result);
}

IoResult<bool> JunitFormatter::write_run_finish(const ConsoleTestState& state) {
  VELT_TRY(write_message("<testsuites>"));
  VELT_TRY(
      write_message("<testsuite name=\"test\" package=\"test\" id=\"0\" errors=\"0\" failures=\"" +
                    std::to_string(state.failed) + "\" tests=\"" + std::to_string(state.total) +
                    "\" skipped=\"" + std::to_string(state.ignored) + "\" >"));
  std::vector<Entry> entries = std::move(results);
  results.clear();
  for (const Entry& entry : entries) {
    VELT_TRY(write_testcase(entry, state.options.display_output));
  }
  VELT_TRY(write_message("<system-out/>"));
  VELT_TRY(write_message("<system-err/>"));
  VELT_TRY(write_message("</testsuite>"));
  VELT_TRY(write_message("</testsuites>"));
  VELT_TRY(write_all(output, "\n"));
  VELT_TRY(flush(output));
  return state.failed == 0;
}

IoResult<void> JunitFormatter::write_merged_doctests_times(double total_time,
                                                           double compilation_time) {
  VELT_TRY(write_message("<report total_time=\"" + fmt_real(total_time) + "\" compilation_time=\"" +
                         fmt_real(compilation_time) + "\"></report>"));
  VELT_TRY(write_all(output, "\n"));
  return flush(output);
}

}  // namespace velt
