// A terminal that records what formatters write, for comparing whole outputs in tests.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "src/term/terminal.h"

namespace velt::testing {

// Records what is written, with colour changes shown as "<N>" and resets as "</>"; fails every
// write after `fail_after` writes, as a full disk would.
class MemoryTerminal final : public Terminal {
 public:
  explicit MemoryTerminal(std::shared_ptr<std::string> sink, int fail_after = 1 << 30)
      : out(std::move(sink)), writes_left(fail_after) {}
  IoResult<std::size_t> write(std::string_view bytes) override {
    if (writes_left-- <= 0) return Err{IoError{28, "No space left on device"}};
    *out += bytes;
    return bytes.size();
  }
  IoResult<void> flush() override { return {}; }
  IoResult<bool> fg(Color c) override {
    *out += "<" + std::to_string(c) + ">";
    return true;
  }
  IoResult<bool> reset() override {
    *out += "</>";
    return true;
  }

 private:
  std::shared_ptr<std::string> out;
  int writes_left;
};

}  // namespace velt::testing
