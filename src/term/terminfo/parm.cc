#include "src/term/terminfo/parm.h"

#include <charconv>
#include <limits>
#include <variant>
#include <vector>

namespace velt::term::terminfo {
namespace {

// A width or zero-fill target beyond this is refused: "%:99999999999d" would otherwise ask
// for terabytes of padding, and a capability comes from a file anyone may write.
constexpr std::size_t MAX_FORMAT_FILL = 65535;

// The states of the expansion, one byte at a time.
struct Text {};
struct AfterPercent {};  // after "%"
struct StoreVar {};      // after "%P"
struct LoadVar {};       // after "%g"
struct ParamDigit {};    // after "%p"
struct CharLiteral {};   // after "%'"
struct CharLiteralEnd {};
struct IntLiteral {  // inside "%{...}"
  Param value = 0;
};
enum class FormatPart { Flags, Width, Precision };
struct FormatSpec {  // inside "%:-5d" and the like
  Flags flags;
  FormatPart part = FormatPart::Flags;
};
// Skipping a then-part whose condition was 0, up to its "%e" or "%;"; `depth` counts the
// conditionals opened inside the skipped text, whose own "%;" must not end the skip.
struct SkipElse {
  std::size_t depth = 0;
};
struct SkipElsePercent {
  std::size_t depth = 0;
};
// Skipping an else-part after a then-part ran, up to its "%;".
struct SkipEnd {
  std::size_t depth = 0;
};
struct SkipEndPercent {
  std::size_t depth = 0;
};
using State =
    std::variant<Text, AfterPercent, StoreVar, LoadVar, ParamDigit, CharLiteral, CharLiteralEnd,
                 IntLiteral, FormatSpec, SkipElse, SkipElsePercent, SkipEnd, SkipEndPercent>;

using Step = Result<State, std::string>;

bool is_digit(char b) { return b >= '0' && b <= '9'; }

// Appends the byte as the character with that code, so 0xE9 reads as "é" in a message.
void append_as_char(std::string& out, unsigned char b) {
  if (b < 0x80) {
    out += static_cast<char>(b);
  } else {
    out += static_cast<char>(0xC0 | (b >> 6));
    out += static_cast<char>(0x80 | (b & 0x3F));
  }
}

std::string to_base(std::uint64_t v, int base) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, base);
  return std::string(buf, end);
}

std::string zero_filled(std::string digits, std::size_t target) {
  if (digits.size() < target) digits.insert(0, target - digits.size(), '0');
  return digits;
}

class Machine {
 public:
  Machine(std::string_view cap, std::span<const Param> given, Variables& variables)
      : vars(variables) {
    for (std::size_t i = 0; i < given.size() && i < params.size(); ++i) params[i] = given[i];
    out.reserve(cap.size());
  }

  // One byte in one state. Every state has its own overload, so a new state fails to compile
  // until it is handled.
  Step step(const State& state, char b) {
    return std::visit([&](const auto& s) { return on(s, b); }, state);
  }

  std::string out;

 private:
  static Step stack_empty() { return Err{std::string("stack is empty")}; }

  std::optional<Param> pop() {
    if (stack.empty()) return std::nullopt;
    Param v = stack.back();
    stack.pop_back();
    return v;
  }

  Param* variable(char b) {
    if (b >= 'A' && b <= 'Z') return &vars.sta[static_cast<std::size_t>(b - 'A')];
    if (b >= 'a' && b <= 'z') return &vars.dyn[static_cast<std::size_t>(b - 'a')];
    return nullptr;
  }

  Step append_formatted(FormatOp op, const Flags& flags) {
    std::optional<Param> v = pop();
    if (!v) return stack_empty();
    Result<std::string, std::string> text = format(*v, op, flags);
    if (!text.ok()) return Err{std::move(text).error()};
    out += *text;
    return State{Text{}};
  }

  // The operators that pop y, then x, and push one result.
  Step binary(char op) {
    if (stack.size() < 2) return stack_empty();
    Param y = *pop();
    Param x = *pop();
    auto wrap = [](std::uint32_t v) { return static_cast<Param>(v); };
    auto ux = static_cast<std::uint32_t>(x);
    auto uy = static_cast<std::uint32_t>(y);
    Param r = 0;
    switch (op) {
      case '+':
        r = wrap(ux + uy);
        break;
      case '-':
        r = wrap(ux - uy);
        break;
      case '*':
        r = wrap(ux * uy);
        break;
      case '/':
      case 'm':
        // Both would trap the processor: a zero divisor ("division by zero"), and the smallest
        // value divided by -1, whose quotient does not fit ("division overflow"). A capability
        // from a hostile file must fail its expansion, not the process.
        if (y == 0) return Err{std::string("division by zero")};
        if (x == std::numeric_limits<Param>::min() && y == -1) {
          return Err{std::string("division overflow")};
        }
        r = op == '/' ? x / y : x % y;
        break;
      case '&':
        r = x & y;
        break;
      case '|':
        r = x | y;
        break;
      case '^':
        r = x ^ y;
        break;
      case '=':
        r = x == y;
        break;
      case '<':
        r = x < y;
        break;
      case '>':
        r = x > y;
        break;
      case 'A':
        r = x > 0 && y > 0;
        break;
      case 'O':
        r = x > 0 || y > 0;
        break;
    }
    stack.push_back(r);
    return State{Text{}};
  }

  Step on(const Text&, char b) {
    if (b == '%') return State{AfterPercent{}};
    out += b;
    return State{Text{}};
  }

  Step on(const AfterPercent&, char b) { return after_percent(b); }

  Step on(const StoreVar&, char b) {
    Param* var = variable(b);
    if (!var) return Err{std::string("bad variable name in %P")};
    std::optional<Param> v = pop();
    if (!v) return stack_empty();
    *var = *v;
    return State{Text{}};
  }

  Step on(const LoadVar&, char b) {
    Param* var = variable(b);
    if (!var) return Err{std::string("bad variable name in %g")};
    stack.push_back(*var);
    return State{Text{}};
  }

  Step on(const ParamDigit&, char b) {
    // Parameters are numbered from 1: "%p0" is as wrong as "%pa".
    if (b < '1' || b > '9') return Err{std::string("bad param number")};
    stack.push_back(params[static_cast<std::size_t>(b - '1')]);
    return State{Text{}};
  }

  Step on(const CharLiteral&, char b) {
    stack.push_back(static_cast<unsigned char>(b));
    return State{CharLiteralEnd{}};
  }

  Step on(const CharLiteralEnd&, char b) {
    if (b != '\'') return Err{std::string("malformed character constant")};
    return State{Text{}};
  }

  Step on(const IntLiteral& s, char b) {
    if (b == '}') {
      stack.push_back(s.value);
      return State{Text{}};
    }
    if (!is_digit(b)) return Err{std::string("bad int constant")};
    Param n;
    if (__builtin_mul_overflow(s.value, 10, &n) || __builtin_add_overflow(n, b - '0', &n)) {
      return Err{std::string("int constant too large")};
    }
    return State{IntLiteral{n}};
  }

  Step on(const FormatSpec& s, char b) { return format_spec(s, b); }

  Step on(const SkipElse& s, char b) {
    if (b == '%') return State{SkipElsePercent{s.depth}};
    return State{s};
  }

  Step on(const SkipElsePercent& s, char b) {
    if (b == ';') return s.depth == 0 ? State{Text{}} : State{SkipElse{s.depth - 1}};
    if (b == 'e' && s.depth == 0) return State{Text{}};  // the else-part runs
    if (b == '?') return State{SkipElse{s.depth + 1}};
    return State{SkipElse{s.depth}};
  }

  Step on(const SkipEnd& s, char b) {
    if (b == '%') return State{SkipEndPercent{s.depth}};
    return State{s};
  }

  Step on(const SkipEndPercent& s, char b) {
    if (b == ';') return s.depth == 0 ? State{Text{}} : State{SkipEnd{s.depth - 1}};
    if (b == '?') return State{SkipEnd{s.depth + 1}};
    return State{SkipEnd{s.depth}};
  }

  Step after_percent(char b) {
    switch (b) {
      case '%':
        out += '%';
        return State{Text{}};
      case 'c': {
        std::optional<Param> v = pop();
        if (!v) return stack_empty();
        // A NUL byte would end the capability for C readers; 0x80 reads as NUL on a terminal
        // that strips the eighth bit.
        out += *v == 0 ? '\x80' : static_cast<char>(*v & 0xFF);
        return State{Text{}};
      }
      case 'p':
        return State{ParamDigit{}};
      case 'P':
        return State{StoreVar{}};
      case 'g':
        return State{LoadVar{}};
      case '\'':
        return State{CharLiteral{}};
      case '{':
        return State{IntLiteral{}};
      case 'l':
        if (stack.empty()) return stack_empty();
        return Err{std::string("a non-str was used with %l")};
      case '+':
      case '-':
      case '*':
      case '/':
      case 'm':
      case '&':
      case '|':
      case '^':
      case '=':
      case '<':
      case '>':
      case 'A':
      case 'O':
        return binary(b);
      case '!': {
        std::optional<Param> x = pop();
        if (!x) return stack_empty();
        stack.push_back(*x <= 0 ? 1 : 0);
        return State{Text{}};
      }
      case '~': {
        std::optional<Param> x = pop();
        if (!x) return stack_empty();
        stack.push_back(~*x);
        return State{Text{}};
      }
      case 'i':
        // For the 1-based row and column of cursor addressing.
        params[0] = static_cast<Param>(static_cast<std::uint32_t>(params[0]) + 1);
        params[1] = static_cast<Param>(static_cast<std::uint32_t>(params[1]) + 1);
        return State{Text{}};
      case 'd':
      case 'o':
      case 'x':
      case 'X':
      case 's':
        return append_formatted(*format_op_from_char(b), Flags{});
      case ':':
        return State{FormatSpec{}};
      case '#':
        return State{FormatSpec{Flags{.alternate = true}, FormatPart::Flags}};
      case ' ':
        return State{FormatSpec{Flags{.space = true}, FormatPart::Flags}};
      case '.':
        return State{FormatSpec{Flags{}, FormatPart::Precision}};
      case '?':
      case ';':
        return State{Text{}};
      case 't': {
        std::optional<Param> v = pop();
        if (!v) return stack_empty();
        if (*v == 0) return State{SkipElse{}};
        return State{Text{}};
      }
      case 'e':
        return State{SkipEnd{}};
      default:
        break;
    }
    if (is_digit(b)) {
      return State{
          FormatSpec{Flags{.width = static_cast<std::size_t>(b - '0')}, FormatPart::Width}};
    }
    std::string message = "unrecognized format option ";
    append_as_char(message, static_cast<unsigned char>(b));
    return Err{std::move(message)};
  }

  Step format_spec(FormatSpec s, char b) {
    if (std::optional<FormatOp> op = format_op_from_char(b)) return append_formatted(*op, s.flags);
    auto accumulate = [&](std::size_t& field) {
      std::size_t v;
      return !__builtin_mul_overflow(field, 10, &v) &&
             !__builtin_add_overflow(v, static_cast<std::size_t>(b - '0'), &field);
    };
    switch (s.part) {
      case FormatPart::Flags:
        switch (b) {
          case '#':
            s.flags.alternate = true;
            return State{s};
          case '-':
            s.flags.left = true;
            return State{s};
          case '+':
            s.flags.sign = true;
            return State{s};
          case ' ':
            s.flags.space = true;
            return State{s};
          default:
            break;
        }
        if (is_digit(b)) {
          s.flags.width = static_cast<std::size_t>(b - '0');
          s.part = FormatPart::Width;
          return State{s};
        }
        if (b == '.') {
          s.part = FormatPart::Precision;
          return State{s};
        }
        break;
      case FormatPart::Width:
        if (b == '.') {
          s.part = FormatPart::Precision;
          return State{s};
        }
        if (is_digit(b)) {
          if (!accumulate(s.flags.width)) return Err{std::string("format width overflow")};
          return State{s};
        }
        break;
      case FormatPart::Precision:
        if (is_digit(b)) {
          if (!accumulate(s.flags.precision)) return Err{std::string("format precision overflow")};
          return State{s};
        }
        break;
    }
    return Err{std::string("invalid format specifier")};
  }

  std::vector<Param> stack;
  std::array<Param, 9> params{};
  Variables& vars;
};

}  // namespace

std::optional<FormatOp> format_op_from_char(char c) {
  switch (c) {
    case 'd':
      return FormatOp::Digit;
    case 'o':
      return FormatOp::Octal;
    case 'x':
      return FormatOp::LowerHex;
    case 'X':
      return FormatOp::UpperHex;
    case 's':
      return FormatOp::String;
    default:
      return std::nullopt;
  }
}

Result<std::string, std::string> expand(std::string_view cap, std::span<const Param> params,
                                        Variables& vars) {
  Machine m(cap, params, vars);
  State state = Text{};
  for (char b : cap) {
    Step next = m.step(state, b);
    if (!next.ok()) return Err{std::move(next).error()};
    state = *next;
  }
  // An escape left open at the end ("...%" or "%{12") is dropped: what came before stands.
  return std::move(m.out);
}

Result<std::string, std::string> format(Param value, FormatOp op, const Flags& flags) {
  if (op == FormatOp::String) return Err{std::string("non-number on stack with %s")};
  if (flags.width > MAX_FORMAT_FILL) return Err{std::string("format width overflow")};
  bool negative = value < 0;
  // Zero-filling a negative decimal counts its "-", so the fill target is one more.
  std::size_t fill_target = flags.precision;
  if (op == FormatOp::Digit && negative && !flags.sign && fill_target <= MAX_FORMAT_FILL) {
    ++fill_target;
  }
  if (fill_target > MAX_FORMAT_FILL) return Err{std::string("format precision overflow")};

  auto bits = static_cast<std::uint32_t>(value);
  std::string text;
  switch (op) {
    case FormatOp::Digit: {
      // Through 64 bits, so that the magnitude of the smallest 32-bit value is representable.
      std::int64_t wide = value;
      std::string digits = to_base(static_cast<std::uint64_t>(negative ? -wide : wide), 10);
      if (flags.sign) {
        text = (negative ? "-" : "+") +
               zero_filled(std::move(digits), flags.precision > 0 ? flags.precision - 1 : 0);
      } else if (negative) {
        text = "-" + zero_filled(std::move(digits), flags.precision);
      } else if (flags.space) {
        text = " " + zero_filled(std::move(digits), flags.precision);
      } else {
        text = zero_filled(std::move(digits), flags.precision);
      }
      break;
    }
    case FormatOp::Octal:
      if (flags.alternate) {
        text = "0" + zero_filled(to_base(bits, 8), flags.precision > 0 ? flags.precision - 1 : 0);
      } else {
        text = zero_filled(to_base(bits, 8), flags.precision);
      }
      break;
    case FormatOp::LowerHex:
    case FormatOp::UpperHex: {
      bool upper = op == FormatOp::UpperHex;
      std::string digits = zero_filled(to_base(bits, 16), flags.precision);
      if (upper) {
        for (char& c : digits) {
          if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
        }
      }
      text = flags.alternate && value != 0 ? (upper ? "0X" : "0x") + digits : digits;
      break;
    }
    case FormatOp::String:
      break;  // refused above
  }
  if (text.size() < flags.width) {
    std::size_t pad = flags.width - text.size();
    if (flags.left) {
      text.append(pad, ' ');
    } else {
      text.insert(0, pad, ' ');
    }
  }
  return text;
}

}  // namespace velt::term::terminfo
