// Reads terminfo files named on standard input, one path a line, and prints for each what a
// TerminfoTerminal over it writes for colour 2 and for a reset, for terminfo_db_check.py to
// compare with ncurses' tput:
//   PATH \t ok \t COLORS \t SETAF-2 \t RESET-CAP|- \t RESET-CAP-TEXT \t RESET
//   PATH \t error \t MESSAGE
// where RESET-CAP-TEXT is the capability the reset expands, SETAF-2 and RESET the bytes written,
// all in hexadecimal; and SETAF-2 and RESET are "-" when nothing was written, or "!"
// and the message when the expansion failed.
#include <iostream>
#include <memory>
#include <string>

#include "src/helpers/overloaded.h"
#include "src/term/terminfo/terminfo.h"

namespace {

namespace terminfo = velt::term::terminfo;

class MemorySink final : public terminfo::ByteSink {
 public:
  explicit MemorySink(std::string& sink) : out(sink) {}
  velt::IoResult<std::size_t> write(std::string_view bytes) override {
    out += bytes;
    return bytes.size();
  }
  velt::IoResult<void> flush() override { return {}; }

 private:
  std::string& out;
};

std::string hex(std::string_view bytes) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string s;
  for (unsigned char b : bytes) {
    s += DIGITS[b >> 4];
    s += DIGITS[b & 0xF];
  }
  return s;
}

std::string describe(const terminfo::Error& e) {
  return std::visit(velt::Overloaded{
                        [](const terminfo::TermUnset&) { return std::string("TERM unset"); },
                        [](const terminfo::MalformedTerminfo& m) { return m.message; },
                        [](const velt::IoError& io) { return io.debug(); },
                    },
                    e);
}

}  // namespace

int main() {
  std::string path;
  while (std::getline(std::cin, path)) {
    velt::Result<terminfo::TermInfo, terminfo::Error> info = terminfo::TermInfo::from_path(path);
    if (!info.ok()) {
      std::cout << path << "\terror\t" << describe(info.error()) << "\n";
      continue;
    }
    std::string reset_cap = "-";
    std::string reset_text;
    for (const char* name : {"sgr0", "sgr", "op"}) {
      if (auto cap = info->strings.find(name); cap != info->strings.end()) {
        reset_cap = name;
        reset_text = hex(cap->second);
        break;
      }
    }
    std::string written;
    terminfo::TerminfoTerminal term(std::make_unique<MemorySink>(written), std::move(info).value());
    auto outcome = [&](velt::IoResult<bool> r) {
      std::string text = !r.ok() ? "!" + r.error().debug() : *r ? hex(written) : "-";
      written.clear();
      return text;
    };
    std::string setaf = outcome(term.fg(2));
    std::string reset = outcome(term.reset());
    std::cout << path << "\tok\t" << term.num_colors() << "\t" << setaf << "\t" << reset_cap << "\t"
              << reset_text << "\t" << reset << "\n";
  }
  return 0;
}
