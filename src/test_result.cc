// Deciding a test's outcome from what its body did and what its descriptor expected.
#include "src/test_result.h"

#include <csignal>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace velt {
namespace {

// Characters a reader could not see or tell apart in a message: controls, separators other than
// the plain space, invisible formatting marks, private-use code points and noncharacters.
bool is_printable(std::uint32_t c) {
  if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) return false;
  if (c == 0xa0 || c == 0xad || c == 0x034f || c == 0x061c || c == 0x1680 || c == 0x180e ||
      c == 0x202f || c == 0x205f || c == 0x3000 || c == 0xfeff) {
    return false;
  }
  if ((c >= 0x0600 && c <= 0x0605) || c == 0x06dd || c == 0x070f || c == 0x08e2) return false;
  if ((c >= 0x2000 && c <= 0x200f) || (c >= 0x2028 && c <= 0x202e)) return false;
  if (c >= 0x2060 && c <= 0x206f) return false;
  if (c >= 0xe000 && c <= 0xf8ff) return false;  // private use
  if (c >= 0xfdd0 && c <= 0xfdef) return false;  // noncharacters
  if ((c & 0xfffe) == 0xfffe) return false;      // U+xFFFE and U+xFFFF in every plane
  if (c >= 0xfff9 && c <= 0xfffb) return false;  // interlinear annotation marks
  if (c >= 0x1bca0 && c <= 0x1bca3) return false;
  if (c >= 0x1d173 && c <= 0x1d17a) return false;
  if (c >= 0xe0000 && c <= 0xe0fff) return false;  // tags and variation selector supplement
  if (c >= 0xf0000) return false;                  // supplementary private use
  return true;
}

// Decodes one UTF-8 sequence at the start of `s`; none when it is malformed, overlong or a
// surrogate.
std::optional<std::pair<std::uint32_t, std::size_t>> decode_utf8(std::string_view s) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char b0 = byte(0);
  if (b0 < 0x80) return std::pair<std::uint32_t, std::size_t>{b0, 1};
  std::size_t len = b0 >= 0xf0 ? 4 : b0 >= 0xe0 ? 3 : b0 >= 0xc0 ? 2 : 0;
  if (len == 0 || b0 > 0xf4 || s.size() < len) return std::nullopt;
  std::uint32_t c = b0 & (0x7f >> len);
  for (std::size_t i = 1; i < len; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return std::nullopt;
    c = (c << 6) | (byte(i) & 0x3f);
  }
  static constexpr std::uint32_t min_for_len[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < min_for_len[len] || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return std::nullopt;
  return std::pair<std::uint32_t, std::size_t>{c, len};
}

void append_hex(std::string& out, std::uint32_t v) {
  static constexpr char digits[] = "0123456789abcdef";
  char buf[8];
  std::size_t n = 0;
  do {
    buf[n++] = digits[v & 0xf];
    v >>= 4;
  } while (v != 0);
  while (n > 0) out += buf[--n];
}

// The text in double quotes with escapes, so that a message shows exactly which bytes differ:
// "a\"b\n", "\u{200b}". A byte that is not part of valid UTF-8 shows as \xNN.
std::string quoted(std::string_view s) {
  std::string out = "\"";
  while (!s.empty()) {
    std::optional<std::pair<std::uint32_t, std::size_t>> d = decode_utf8(s);
    if (!d) {
      out += "\\x";
      auto b = static_cast<unsigned char>(s[0]);
      if (b < 0x10) out += '0';
      append_hex(out, b);
      s.remove_prefix(1);
      continue;
    }
    auto [c, len] = *d;
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\0':
        out += "\\0";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (is_printable(c)) {
          out.append(s.substr(0, len));
        } else {
          out += "\\u{";
          append_hex(out, c);
          out += '}';
        }
    }
    s.remove_prefix(len);
  }
  out += '"';
  return out;
}

// Only a test that passed can be too slow; a failure stays the failure it is.
TestResult check_time_limit(const TestDesc& desc, const std::optional<TestTimeOptions>& time_opts,
                            const std::optional<TestExecTime>& exec_time) {
  if (time_opts && exec_time && time_opts->error_on_excess &&
      time_opts->is_critical(desc, *exec_time)) {
    return TimeLimitExceeded{};
  }
  return Ok{};
}

}  // namespace

TestResult calc_result(const TestDesc& desc, const platform::PanicPayload* failure,
                       const std::optional<TestTimeOptions>& time_opts,
                       const std::optional<TestExecTime>& exec_time) {
  const ShouldPanic& expect = desc.should_panic;
  if (failure == nullptr) {
    if (expect.kind == ShouldPanic::No) return check_time_limit(desc, time_opts, exec_time);
    std::string message = "test did not panic as expected";
    if (!desc.source_path.empty()) {
      message += " at ";
      message += desc.source_path;
      message += ':' + std::to_string(desc.start_line) + ':' + std::to_string(desc.start_col);
    }
    return FailedWithMessage{std::move(message)};
  }
  switch (expect.kind) {
    case ShouldPanic::No:
      return Failed{};
    case ShouldPanic::Yes:
      return check_time_limit(desc, time_opts, exec_time);
    case ShouldPanic::YesWithMessage:
      break;
  }
  if (failure->kind == platform::PanicPayload::Other) {
    return FailedWithMessage{"expected panic with string value,\n found non-string value: `" +
                             failure->type_name +
                             "`\n     expected substring: " + quoted(expect.expected)};
  }
  if (failure->text.find(expect.expected) != std::string::npos) {
    return check_time_limit(desc, time_opts, exec_time);
  }
  return FailedWithMessage{
      "panic did not contain expected string\n      panic message: " + quoted(failure->text) +
      "\n expected substring: " + quoted(expect.expected)};
}

TestResult get_result_from_exit_code(const TestDesc& desc, ExitStatus status,
                                     const std::optional<TestTimeOptions>& time_opts,
                                     const std::optional<TestExecTime>& exec_time) {
  if (status.signaled) {
    if (status.code == SIGABRT) return Failed{};
    return FailedWithMessage{"child process exited with signal " + std::to_string(status.code)};
  }
  if (status.code != CHILD_PASSED) {
    return FailedWithMessage{"got unexpected return code " + std::to_string(status.code)};
  }
  return check_time_limit(desc, time_opts, exec_time);
}

}  // namespace velt
