// Decimal unsigned numbers from option values and environment variables, with the error texts
// users see after "must be a number (error: ...)".
#pragma once

#include <charconv>  // std::from_chars
#include <concepts>  // std::unsigned_integral
#include <string>
#include <string_view>
#include <system_error>  // std::errc

#include "src/result.h"

namespace velt {

// "+4" gives 4; "-1", "4x", "+" and " 4" are invalid digits; "" is empty; a value past the
// type's maximum is too large. Digits are read left to right, so "99999999999999999999x" is too
// large for 64 bits (the overflow comes first) while "x99999999999999999999" is an invalid digit.
template <std::unsigned_integral T>
Result<T, std::string> parse_unsigned(std::string_view text) {
  if (text.empty()) return Err{std::string("cannot parse integer from empty string")};
  if (text.front() == '+') text.remove_prefix(1);
  T value{};
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec == std::errc::result_out_of_range) {
    return Err{std::string("number too large to fit in target type")};
  }
  // from_chars rejects a sign of its own, so "+-1" and "-1" both land here.
  if (ec != std::errc{} || stop != end) return Err{std::string("invalid digit found in string")};
  return value;
}

}  // namespace velt
