// Fuzzes the compiled-entry parser with arbitrary files, then drives every colour and the
// reset of whatever entry it accepts, so that hostile capabilities are expanded too.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "src/term/terminfo/parser/compiled.h"
#include "src/term/terminfo/terminfo.h"

namespace {

using velt::term::terminfo::ByteSink;

class NullSink final : public ByteSink {
 public:
  velt::IoResult<std::size_t> write(std::string_view bytes) override { return bytes.size(); }
  velt::IoResult<void> flush() override { return {}; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace terminfo = velt::term::terminfo;
  terminfo::parser::ByteReader in(std::string_view(reinterpret_cast<const char*>(data), size));
  velt::Result<terminfo::TermInfo, std::string> info = terminfo::parser::parse(in);
  if (!info.ok()) return 0;
  terminfo::TerminfoTerminal term(std::make_unique<NullSink>(), std::move(info).value());
  for (velt::Color c = 0; c < 16; ++c) (void)term.fg(c);
  (void)term.reset();
  return 0;
}
