// Panics and the text of failed assertions.
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "include/velt/test.h"
#include "src/platform/capture.h"
#include "src/platform/panic.h"

namespace velt::test {
namespace {

// Shortest round-trip digits laid out like a literal: 1.0, 0.1, 1234.5, 1e16, 1.5e-7. The
// digits come from to_chars(scientific), which alone would print "1.5e+00"; to_chars(fixed)
// would print 1e23 as 99999999999999991611392.
template <class F>
std::string float_string(F v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  if (ec != std::errc()) return "?";
  const std::string_view sci(buf, static_cast<std::size_t>(end - buf));  // "-1.25e+03"
  const std::size_t e_pos = sci.find('e');
  std::string_view mantissa = sci.substr(0, e_pos);
  const bool negative = mantissa.front() == '-';
  if (negative) mantissa.remove_prefix(1);
  std::string digits(1, mantissa.front());
  if (mantissa.size() > 2) digits.append(mantissa.substr(2));  // skip the point
  int exp = 0;
  std::string_view exp_text = sci.substr(e_pos + 1);
  if (exp_text.front() == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exp);

  std::string text = negative ? "-" : "";
  const int n = static_cast<int>(digits.size());
  if (v != 0 && (exp < -4 || exp >= 16)) {
    text += digits.front();
    if (n > 1) text += '.' + digits.substr(1);
    return text + 'e' + std::to_string(exp);
  }
  if (exp + 1 >= n) {
    text += digits + std::string(static_cast<std::size_t>(exp + 1 - n), '0') + ".0";
  } else if (exp < 0) {
    text += "0." + std::string(static_cast<std::size_t>(-exp - 1), '0') + digits;
  } else {
    const auto point = static_cast<std::size_t>(exp + 1);
    text += digits.substr(0, point) + '.' + digits.substr(point);
  }
  return text;
}

template <class I>
std::string integer_string(I v) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, static_cast<std::size_t>(end - buf));
}

void append_hex(std::string& text, std::uint32_t v) {
  char buf[16];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, 16);
  text.append(buf, static_cast<std::size_t>(end - buf));
}

// Characters that would vanish or move the cursor when shown: controls, and the invisible
// formatting characters most likely to sneak into a message.
bool is_printable(std::uint32_t cp) {
  if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return false;
  if (cp == 0xAD || cp == 0xFEFF) return false;  // soft hyphen, byte order mark
  if (cp >= 0x300 && cp <= 0x36F) return false;  // combining marks
  if ((cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
      (cp >= 0x2060 && cp <= 0x2064)) {
    return false;  // zero-width and direction controls, line and paragraph separators
  }
  return true;
}

// Appends the escaped form of code point `cp`; `quote` is the delimiter that needs escaping.
void append_escaped(std::string& text, std::uint32_t cp, char quote) {
  switch (cp) {
    case '\\':
      text += "\\\\";
      return;
    case '\t':
      text += "\\t";
      return;
    case '\r':
      text += "\\r";
      return;
    case '\n':
      text += "\\n";
      return;
    case '\0':
      text += "\\0";
      return;
    default:
      break;
  }
  if (cp == static_cast<unsigned char>(quote)) {
    text += '\\';
    text += quote;
  } else if (!is_printable(cp)) {
    text += "\\u{";
    append_hex(text, cp);
    text += '}';
  } else if (cp < 0x80) {
    text += static_cast<char>(cp);
  } else {
    char utf8[4];
    std::size_t n = 0;
    if (cp < 0x800) {
      utf8[n++] = static_cast<char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
      utf8[n++] = static_cast<char>(0xE0 | (cp >> 12));
      utf8[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
      utf8[n++] = static_cast<char>(0xF0 | (cp >> 18));
      utf8[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      utf8[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    utf8[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    text.append(utf8, n);
  }
}

// Decodes one strictly valid UTF-8 character at `s[i]`; returns its length, or 0 for a byte
// that starts no valid sequence.
std::size_t decode(std::string_view s, std::size_t i, std::uint32_t* cp) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  }
  std::size_t n;
  std::uint32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, min = 0x80, *cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, min = 0x800, *cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, min = 0x10000, *cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (b(k) & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
  return n;
}

// A panic raised by the report of another panic on the same thread would recurse forever.
thread_local bool reporting_panic = false;

}  // namespace

void panic(std::string message, std::source_location where) {
  if (reporting_panic) {
    (void)platform::write_output(STDERR_FILENO,
                                 "thread panicked while processing panic. aborting.\n");
    std::abort();
  }
  const platform::Location location{where.file_name(), where.line(), where.column()};
  const bool aborts = platform::panic_aborts();
  reporting_panic = true;
  struct Reset {
    ~Reset() { reporting_panic = false; }
  } reset;
  platform::call_hook(platform::PanicInfo{message, &location, !aborts});
  if (aborts) std::abort();
  throw platform::PanicException{std::move(message)};
}

namespace detail {

void print_error(const std::string& message) {
  (void)platform::write_output(STDERR_FILENO, message + "\n");
}

std::string number_string(long long v) { return integer_string(v); }
std::string number_string(unsigned long long v) { return integer_string(v); }
std::string number_string(float v) { return float_string(v); }
std::string number_string(double v) { return float_string(v); }
std::string number_string(long double v) { return float_string(v); }

std::string char_string(char c) {
  const auto byte = static_cast<unsigned char>(c);
  std::string text = "'";
  if (byte < 0x80) {
    append_escaped(text, byte, '\'');
  } else {
    // A lone byte of a multi-byte character: show the byte, not a code point it is not.
    text += "\\x";
    if (byte < 0x10) text += '0';
    append_hex(text, byte);
  }
  return text + "'";
}

std::string quoted(std::string_view s) {
  std::string text = "\"";
  text.reserve(s.size() + 2);
  for (std::size_t i = 0; i < s.size();) {
    std::uint32_t cp = 0;
    if (const std::size_t n = decode(s, i, &cp)) {
      append_escaped(text, cp, '"');
      i += n;
    } else {
      const auto byte = static_cast<unsigned char>(s[i++]);
      text += "\\x";
      if (byte < 0x10) text += '0';
      append_hex(text, byte);
    }
  }
  return text + "\"";
}

std::string pointer_string(const void* p) {
  if (p == nullptr) return "nullptr";
  std::string text = "0x";
  char buf[24];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, reinterpret_cast<std::uintptr_t>(p), 16);
  return text.append(buf, static_cast<std::size_t>(end - buf));
}

std::string streamed(void (*write)(std::ostream&, const void*), const void* value) {
  std::ostringstream os;
  write(os, value);
  return std::move(os).str();
}

std::string unprintable() { return "<unprintable value>"; }

std::string format_message(std::string_view format, const std::string* args, std::size_t n) {
  std::string text;
  text.reserve(format.size());
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    const char after = i + 1 < format.size() ? format[i + 1] : '\0';
    if ((c == '{' && after == '{') || (c == '}' && after == '}')) {
      text += c;
      ++i;
    } else if (c == '{' && after == '}' && next < n) {
      text += args[next++];
      ++i;
    } else {
      text += c;  // a lone brace, or "{}" with no argument left, stays as written
    }
  }
  return text;
}

void assert_failed(const char* condition, std::string message, std::source_location where) {
  std::string text = "assertion failed: ";
  text += condition;
  if (!message.empty()) text += "\n" + message;
  panic(std::move(text), where);
}

void compare_failed(const char* op, const char* left_text, const char* right_text, std::string left,
                    std::string right, std::string message, std::source_location where) {
  std::string text = "assertion `";
  text.append(left_text).append(" ").append(op).append(" ").append(right_text);
  text += "` failed\n  left: " + left + "\n right: " + right;
  if (!message.empty()) text += "\n" + message;
  panic(std::move(text), where);
}

}  // namespace detail
}  // namespace velt::test
