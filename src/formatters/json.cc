#include "src/formatters/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "src/console.h"
#include "src/helpers/overloaded.h"
#include "src/platform/process.h"

namespace velt {
namespace {

// Escapes in one table: the quote, the backslash, then 0x00 to 0x1F in order, then DEL.
constexpr std::string_view ESCAPES[] = {
    "\\\"",    "\\\\",    "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004",
    "\\u0005", "\\u0006", "\\u0007", "\\b",     "\\t",     "\\n",     "\\u000b",
    "\\f",     "\\r",     "\\u000e", "\\u000f", "\\u0010", "\\u0011", "\\u0012",
    "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017", "\\u0018", "\\u0019",
    "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f", "\\u007f",
};

// The index into ESCAPES of a byte that needs one, or -1.
int escape_index(unsigned char c) {
  if (c == '"') return 0;
  if (c == '\\') return 1;
  if (c < 0x20) return 2 + c;
  if (c == 0x7F) return 34;
  return -1;
}

// JSON has no spelling for infinities and NaN; a benchmark body can still report them.
std::string json_real(double v) { return std::isfinite(v) ? fmt_real(v) : "null"; }

std::string quoted(const EscapedString& s) {
  std::string out = "\"";
  s.append_to(out);
  out += '"';
  return out;
}

std::string name_of(const TestDesc& desc) {
  return quoted(EscapedString::lossy(desc.name.as_slice()));
}

}  // namespace

EscapedString EscapedString::lossy(std::string_view bytes) {
  if (platform::is_valid_utf8(bytes)) return EscapedString(bytes);
  return EscapedString(platform::utf8_lossy(bytes));
}

void EscapedString::append_to(std::string& out) const {
  std::string_view s = std::visit([](const auto& t) { return std::string_view(t); }, text);
  std::size_t start = 0;  // the run of bytes that need no escape, not yet copied
  for (std::size_t i = 0; i < s.size(); ++i) {
    int e = escape_index(static_cast<unsigned char>(s[i]));
    if (e < 0) continue;
    out.append(s.substr(start, i - start));
    out.append(ESCAPES[e]);
    start = i + 1;
  }
  out.append(s.substr(start));
}

std::string EscapedString::to_string() const {
  std::string out;
  append_to(out);
  return out;
}

double duration_secs(std::chrono::nanoseconds d) {
  std::int64_t ns = d.count();
  return static_cast<double>(ns / 1'000'000'000) + static_cast<double>(ns % 1'000'000'000) / 1e9;
}

std::string fmt_real(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  // The shortest round-trip digits come from to_chars(scientific), "-1.25e+03"; fixed
  // notation alone prints 1e23 as 99999999999999991611392.
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(end - buf));
  std::size_t e_pos = sci.find('e');
  std::string_view mantissa = sci.substr(0, e_pos);
  std::string text;
  if (mantissa.front() == '-') {
    text += '-';
    mantissa.remove_prefix(1);
  }
  std::string digits(1, mantissa.front());
  if (mantissa.size() > 2) digits.append(mantissa.substr(2));  // skip the point
  std::string_view exp_text = sci.substr(e_pos + 1);
  if (exp_text.front() == '+') exp_text.remove_prefix(1);
  int exp = 0;
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exp);

  const int n = static_cast<int>(digits.size());
  if (exp >= n - 1) {  // an integer: 1.5e3 is 1500
    text += digits;
    text.append(static_cast<std::size_t>(exp - (n - 1)), '0');
  } else if (exp >= 0) {
    const auto point = static_cast<std::size_t>(exp + 1);
    text += digits.substr(0, point) + '.' + digits.substr(point);
  } else {
    text += "0.";
    text.append(static_cast<std::size_t>(-exp - 1), '0');
    text += digits;
  }
  return text;
}

IoResult<void> JsonFormatter::writeln_message(std::string_view line) {
  VELT_TRY(write_all(output, line));
  return flush(output);
}

IoResult<void> JsonFormatter::write_event(const TestDesc& desc, std::string_view event,
                                          const std::optional<TestExecTime>& exec_time,
                                          std::optional<std::string_view> stdout,
                                          std::optional<std::string_view> extra) {
  std::string line = "{ \"type\": \"test\", \"name\": " + name_of(desc) + ", \"event\": \"";
  line += event;
  line += '"';
  if (exec_time) line += ", \"exec_time\": " + json_real(duration_secs(exec_time->duration));
  if (stdout) line += ", \"stdout\": " + quoted(EscapedString::lossy(*stdout));
  if (extra) {
    line += ", ";
    line += *extra;
  }
  line += " }\n";
  return writeln_message(line);
}

IoResult<void> JsonFormatter::write_discovery_start() {
  return writeln_message("{ \"type\": \"suite\", \"event\": \"discovery\" }\n");
}

IoResult<void> JsonFormatter::write_test_discovered(const TestDesc& desc, std::string_view kind) {
  std::string line = "{ \"type\": \"";
  line += kind;
  line += "\", \"event\": \"discovered\", \"name\": " + name_of(desc);
  line += ", \"ignore\": ";
  line += desc.ignore ? "true" : "false";
  line += ", \"ignore_message\": " +
          quoted(EscapedString::lossy(desc.ignore_message.value_or(std::string_view())));
  line += ", \"source_path\": " + quoted(EscapedString::lossy(desc.source_path));
  line += ", \"start_line\": " + std::to_string(desc.start_line);
  line += ", \"start_col\": " + std::to_string(desc.start_col);
  line += ", \"end_line\": " + std::to_string(desc.end_line);
  line += ", \"end_col\": " + std::to_string(desc.end_col);
  line += " }\n";
  return writeln_message(line);
}

IoResult<void> JsonFormatter::write_discovery_finish(const ConsoleTestDiscoveryState& state) {
  return writeln_message(
      "{ \"type\": \"suite\", \"event\": \"completed\", \"tests\": " + std::to_string(state.tests) +
      ", \"benchmarks\": " + std::to_string(state.benchmarks) +
      ", \"total\": " + std::to_string(state.tests + state.benchmarks) +
      ", \"ignored\": " + std::to_string(state.ignored) + " }\n");
}

IoResult<void> JsonFormatter::write_run_start(std::size_t test_count,
                                              std::optional<std::uint64_t> shuffle_seed) {
  std::string line = "{ \"type\": \"suite\", \"event\": \"started\", \"test_count\": " +
                     std::to_string(test_count);
  if (shuffle_seed) line += ", \"shuffle_seed\": " + std::to_string(*shuffle_seed);
  return writeln_message(line + " }\n");
}

IoResult<void> JsonFormatter::write_test_start(const TestDesc& desc) {
  return writeln_message(
      "{ \"type\": \"test\", \"event\": \"started\", \"name\": " + name_of(desc) + " }\n");
}

IoResult<void> JsonFormatter::write_timeout(const TestDesc& desc) {
  return writeln_message(
      "{ \"type\": \"test\", \"event\": \"timeout\", \"name\": " + name_of(desc) + " }\n");
}

IoResult<void> JsonFormatter::write_result(const TestDesc& desc, const TestResult& result,
                                           const std::optional<TestExecTime>& exec_time,
                                           std::string_view stdout, const ConsoleTestState& state) {
  // A passing test's output is noise unless asked for; anything else shows why it ended so.
  bool show_output =
      !stdout.empty() && (!std::holds_alternative<Ok>(result) || state.options.display_output);
  std::optional<std::string_view> shown;
  if (show_output) shown = stdout;
  return std::visit(
      Overloaded{[&](const Ok&) { return write_event(desc, "ok", exec_time, shown, std::nullopt); },
                 [&](const Failed&) {
                   return write_event(desc, "failed", exec_time, shown, std::nullopt);
                 },
                 [&](const FailedWithMessage& f) {
                   std::string extra = "\"message\": " + quoted(EscapedString::lossy(f.message));
                   return write_event(desc, "failed", exec_time, shown, extra);
                 },
                 [&](const Ignored&) {
                   if (!desc.ignore_message) {
                     return write_event(desc, "ignored", exec_time, shown, std::nullopt);
                   }
                   std::string extra =
                       "\"message\": " + quoted(EscapedString::lossy(*desc.ignore_message));
                   return write_event(desc, "ignored", exec_time, shown, extra);
                 },
                 [&](const TimeLimitExceeded&) {
                   return write_event(desc, "failed", exec_time, shown,
                                      "\"reason\": \"time limit exceeded\"");
                 },
                 [&](const Bench& b) {
                   const Summary& s = b.samples.ns_iter_summary;
                   std::string line = "{ \"type\": \"bench\", \"name\": " + name_of(desc) +
                                      ", \"median\": " + json_real(s.median) +
                                      ", \"deviation\": " + json_real(s.max - s.min);
                   if (b.samples.mb_per_second != 0) {
                     line += ", \"mib_per_second\": " + std::to_string(b.samples.mb_per_second);
                   }
                   return writeln_message(line + " }\n");
                 }},
      result);
}

IoResult<bool> JsonFormatter::write_run_finish(const ConsoleTestState& state) {
  std::string line = "{ \"type\": \"suite\", \"event\": \"";
  line += state.failed == 0 ? "ok" : "failed";
  line += "\", \"passed\": " + std::to_string(state.passed);
  line += ", \"failed\": " + std::to_string(state.failed);
  line += ", \"ignored\": " + std::to_string(state.ignored);
  line += ", \"measured\": " + std::to_string(state.measured);
  line += ", \"filtered_out\": " + std::to_string(state.filtered_out);
  if (state.exec_time)
    line += ", \"exec_time\": " + json_real(duration_secs(state.exec_time->duration));
  VELT_TRY(writeln_message(line + " }\n"));
  return state.failed == 0;
}

IoResult<void> JsonFormatter::write_merged_doctests_times(double total_time,
                                                          double compilation_time) {
  return writeln_message("{ \"type\": \"report\", \"total_time\": " + json_real(total_time) +
                         ", \"compilation_time\": " + json_real(compilation_time) + " }\n");
}

}  // namespace velt
