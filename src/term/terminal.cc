#include "src/term/terminal.h"

#include <cerrno>

#include "src/platform/stdio.h"
#include "src/term/terminfo/terminfo.h"

namespace velt {
namespace {

// Standard output, shared with everything else that prints: each write is one write(2) under
// the standard-output lock, so there is nothing to flush.
class StdoutSink final : public term::terminfo::ByteSink {
 public:
  IoResult<std::size_t> write(std::string_view bytes) override {
    return platform::write_stdout(bytes);
  }
  IoResult<void> flush() override { return {}; }
};

}  // namespace

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

std::unique_ptr<Terminal> stdout() {
  std::optional<terminfo::TerminfoTerminal> t = terminfo::TerminfoTerminal::from_env(
      std::make_unique<StdoutSink>(), terminfo::TermEnv::from_process());
  if (!t) return nullptr;
  return std::make_unique<terminfo::TerminfoTerminal>(std::move(*t));
}

}  // namespace term
}  // namespace velt
