#include "src/term/terminal.h"

#include <cerrno>

namespace velt {

IoResult<void> Terminal::write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    IoResult<std::size_t> n = write(bytes);
    if (!n.ok()) {
      if (n.error().code == EINTR) continue;
      return Err{std::move(n).error()};
    }
    if (*n == 0) return Err{IoError{0, "failed to write whole buffer"}};
    bytes.remove_prefix(*n);
  }
  return {};
}

namespace term {

// Terminal descriptions are not read yet: output is never coloured.
std::unique_ptr<Terminal> stdout() { return nullptr; }

}  // namespace term
}  // namespace velt
