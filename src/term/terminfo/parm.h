// Expansion of parameterised terminfo capabilities: the "%" language that turns a capability
// such as "\x1b[3%p1%dm" and the colour 2 into "\x1b[32m".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "src/result.h"

namespace velt::term::terminfo {

// Parameters, stack entries and variables are all numbers; no capability we expand takes text.
using Param = std::int32_t;

// The variables of %P and %g: static ones A to Z and dynamic ones a to z, all 0 at the start.
struct Variables {
  std::array<Param, 26> sta{};
  std::array<Param, 26> dyn{};
};

// The flags of one %-format such as "%:-5d" or "%#x".
struct Flags {
  std::size_t width = 0;
  std::size_t precision = 0;
  bool alternate = false;
  bool left = false;
  bool sign = false;
  bool space = false;
};

// The conversion letter of a %-format: d, o, x, X or s.
enum class FormatOp { Digit, Octal, LowerHex, UpperHex, String };
std::optional<FormatOp> format_op_from_char(char c);

// Expands `cap` with up to nine `params` (missing ones are 0, further ones ignored). Fails with
// a fixed message such as "stack is empty"; the partial output is then discarded.
Result<std::string, std::string> expand(std::string_view cap, std::span<const Param> params,
                                        Variables& vars);

// One number laid out as a %-format says: "%.3d" with -5 gives "-005".
Result<std::string, std::string> format(Param value, FormatOp op, const Flags& flags);

}  // namespace velt::term::terminfo
