// A terminal: a byte sink that can also set the foreground colour and reset attributes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "src/result.h"

namespace velt {

// Palette order: 0 black, 1 red, 2 green, 3 yellow, 4 blue, 5 magenta, 6 cyan, 7 white, and
// 8 to 15 their bright variants.
using Color = std::uint32_t;
namespace color {
inline constexpr Color RED = 1;
inline constexpr Color GREEN = 2;
inline constexpr Color YELLOW = 3;
inline constexpr Color CYAN = 6;
}  // namespace color

class Terminal {
 public:
  virtual ~Terminal() = default;
  virtual IoResult<std::size_t> write(std::string_view bytes) = 0;
  virtual IoResult<void> write_all(std::string_view bytes);
  virtual IoResult<void> flush() = 0;
  // True when a control sequence was written; false when the terminal cannot do it.
  virtual IoResult<bool> fg(Color color) = 0;
  virtual IoResult<bool> reset() = 0;
};

namespace term {
// A colour-capable terminal over standard output, when a description of the current terminal
// type is found; null otherwise.
std::unique_ptr<Terminal> stdout();
}  // namespace term

}  // namespace velt
