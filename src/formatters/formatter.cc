#include "src/formatters/formatter.h"

#include "src/helpers/overloaded.h"
#include "src/platform/stdio.h"

namespace velt {

IoResult<void> write_all(OutputLocation& out, std::string_view bytes) {
  return std::visit(Overloaded{[&](ToTerminal& t) { return t.terminal->write_all(bytes); },
                               [&](ToStdout&) { return platform::write_all_stdout(bytes); }},
                    out);
}

IoResult<void> flush(OutputLocation& out) {
  return std::visit(Overloaded{[](ToTerminal& t) { return t.terminal->flush(); },
                               [](ToStdout&) { return IoResult<void>(); }},
                    out);
}

}  // namespace velt
