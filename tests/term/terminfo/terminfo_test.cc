#include "src/term/terminfo/terminfo.h"

#include <sys/stat.h>
#include <velt/test.h>

#include <memory>
#include <string>

#include "src/helpers/overloaded.h"
#include "tests/term/terminfo/compiled_entry.h"
#include "tests/term/terminfo/temp_dir.h"

namespace {

namespace terminfo = velt::term::terminfo;

// Collects what the terminal writes; fails every write after `fail_after` of them.
class MemorySink final : public terminfo::ByteSink {
 public:
  MemorySink(std::shared_ptr<std::string> sink, int fail_after)
      : out(std::move(sink)), writes_left(fail_after) {}
  velt::IoResult<std::size_t> write(std::string_view bytes) override {
    if (writes_left-- <= 0) return velt::Err{velt::IoError{28, "No space left on device"}};
    *out += bytes;
    return bytes.size();
  }
  velt::IoResult<void> flush() override { return {}; }

 private:
  std::shared_ptr<std::string> out;
  int writes_left;
};

struct Term {
  std::shared_ptr<std::string> out = std::make_shared<std::string>();
  terminfo::TerminfoTerminal terminal;

  explicit Term(terminfo::TermInfo info, int fail_after = 1 << 30)
      : terminal(std::make_unique<MemorySink>(out, fail_after), std::move(info)) {}
};

terminfo::TermInfo entry(std::map<std::string, std::string, std::less<>> strings,
                         std::optional<std::uint32_t> colors) {
  terminfo::TermInfo info;
  info.names = {"test"};
  info.strings = std::move(strings);
  if (colors) info.numbers["colors"] = *colors;
  return info;
}

// "true BYTES", "false BYTES" or "error MESSAGE": what a call returned and wrote.
std::string outcome(const velt::IoResult<bool>& r, std::string& written) {
  std::string text = !r.ok() ? "error " + r.error().debug() : (*r ? "true " : "false ") + written;
  written.clear();
  return text;
}

constexpr std::string_view XTERM_SETAF =
    "\x1b[%?%p1%{8}%<%t3%p1%d%e%p1%{16}%<%t9%p1%{8}%-%d%e38;5;%p1%d%;m";

std::string describe(const velt::Result<terminfo::TermInfo, terminfo::Error>& r) {
  if (r.ok()) return "entry " + r->names.front();
  return std::visit(
      velt::Overloaded{
          [](const terminfo::TermUnset&) { return std::string("TERM unset"); },
          [](const terminfo::MalformedTerminfo& m) { return "malformed: " + m.message; },
          [](const velt::IoError& e) { return "io: " + e.debug(); },
      },
      r.error());
}

}  // namespace

// Colours count only when the entry can set both the foreground and the background.
VELT_TEST(terminfo::terminal::colour_count) {
  const struct {
    bool setaf, setab;
    std::optional<std::uint32_t> colors;
    std::uint32_t want;
  } cases[] = {
      {true, true, 256, 256}, {true, true, std::nullopt, 0}, {true, false, 256, 0},
      {false, true, 256, 0},  {false, false, 8, 0},
  };
  for (const auto& c : cases) {
    std::map<std::string, std::string, std::less<>> strings;
    if (c.setaf) strings["setaf"] = "\x1b[3%p1%dm";
    if (c.setab) strings["setab"] = "\x1b[4%p1%dm";
    Term t(entry(strings, c.colors));
    VELT_ASSERT_EQ(t.terminal.num_colors(), c.want, "setaf {} setab {}", c.setaf, c.setab);
  }
}

VELT_TEST(terminfo::terminal::fg) {
  const std::map<std::string, std::string, std::less<>> xterm = {
      {"setaf", std::string(XTERM_SETAF)}, {"setab", "\x1b[4%p1%dm"}, {"sgr0", "\x1b(B\x1b[m"}};
  const struct {
    terminfo::TermInfo info;
    velt::Color color;
    std::string want;
  } cases[] = {
      {terminfo::msys_terminfo(), 2, "true \x1b[32m"},
      {terminfo::msys_terminfo(), 7, "true \x1b[37m"},
      {terminfo::msys_terminfo(), 10, "true \x1b[32m"},  // bright green dims to green
      {terminfo::msys_terminfo(), 8, "true \x1b[30m"},
      {terminfo::msys_terminfo(), 16, "false "},  // beyond the palette: uncoloured
      {entry(xterm, 16), 10, "true \x1b[92m"},    // 16 colours: not dimmed
      {entry(xterm, 16), 15, "true \x1b[97m"},
      {entry(xterm, 16), 16, "false "},
      {entry(xterm, 256), 100, "true \x1b[38;5;100m"},
      {entry(xterm, 11), 10, "true \x1b[92m"},  // 10 is within 11 colours
      {entry(xterm, 10), 10, "true \x1b[32m"},
      {entry(xterm, 0), 1, "false "},
      {entry({{"setaf", ""}, {"setab", ""}}, 8), 1, "true "},  // cancelled: nothing to write
  };
  for (const auto& c : cases) {
    Term t(c.info);
    VELT_ASSERT_EQ(outcome(t.terminal.fg(c.color), *t.out), c.want, "colour {} of {}", c.color,
                   t.terminal.num_colors());
  }
}

VELT_TEST(terminfo::terminal::reset) {
  const struct {
    std::map<std::string, std::string, std::less<>> strings;
    std::string want;
  } cases[] = {
      {{{"sgr0", "\x1b[0m"}, {"sgr", "\x1b[0;1m"}, {"op", "\x1b[39m"}}, "true \x1b[0m"},
      // sgr with every attribute off, as no parameters means zeros.
      {{{"sgr", "\x1b[0%?%p1%t;7%;m"}, {"op", "\x1b[39m"}}, "true \x1b[0m"},
      {{{"op", "\x1b[39;49m"}}, "true \x1b[39;49m"},
      {{{"bold", "\x1b[1m"}}, "false "},
      {{{"sgr0", "a%%b"}}, "true a%b"},
      {{{"sgr0", ""}}, "true "},
  };
  for (const auto& c : cases) {
    Term t(entry(c.strings, 8));
    VELT_ASSERT_EQ(outcome(t.terminal.reset(), *t.out), c.want);
  }
}

// An expansion that fails is an error carrying its message, except for a reset, which is then
// sent as it stands; a write that fails is returned as it is.
VELT_TEST(terminfo::terminal::errors) {
  const std::map<std::string, std::string, std::less<>> hostile = {
      {"setaf", "\x1b[%p1%{0}%/m"}, {"setab", "x"}, {"sgr0", "\x1b%!1"}};
  Term t(entry(hostile, 8));
  VELT_ASSERT_EQ(outcome(t.terminal.fg(2), *t.out), "error division by zero");
  VELT_ASSERT_EQ(outcome(t.terminal.reset(), *t.out), "true \x1b%!1");

  Term full(terminfo::msys_terminfo(), 0);
  VELT_ASSERT_EQ(outcome(full.terminal.fg(1), *full.out),
                 "error No space left on device (os error 28)");
  VELT_ASSERT_EQ(outcome(full.terminal.reset(), *full.out),
                 "error No space left on device (os error 28)");
}

// Everything but colours goes straight through to the sink.
VELT_TEST(terminfo::terminal::writes_through) {
  Term t(terminfo::msys_terminfo());
  VELT_ASSERT(t.terminal.write_all("plain text").ok());
  VELT_ASSERT(t.terminal.flush().ok());
  VELT_ASSERT_EQ(*t.out, "plain text");
}

VELT_TEST(terminfo::terminfo::from_env) {
  velt::testing::TempDir tmp;
  VELT_ASSERT(!tmp.path.empty());
  tmp.write("v/vt16", velt::testing::coloured_entry().bytes());
  tmp.write("b/broken", "\x34\x12 not an entry");
  const struct {
    std::optional<std::string> term;
    std::optional<std::string> msyscon;
    std::string want;
  } cases[] = {
      {"vt16", std::nullopt, "entry vt16"},
      {"vt16", "mintty.exe", "entry vt16"},
      {std::nullopt, "mintty.exe", "TERM unset"},  // no name, no fallback
      {std::nullopt, std::nullopt, "TERM unset"},
      {"nothere", std::nullopt, "io: terminfo file not found"},
      {"nothere", "mintty.exe", "entry cygwin"},
      {"nothere", "mintty", "io: terminfo file not found"},
      {"broken", std::nullopt, "malformed: invalid magic number, found 11064"},
      {"broken", "mintty.exe", "entry cygwin"},
      {"", "mintty.exe", "entry cygwin"},
  };
  for (const auto& c : cases) {
    terminfo::TermEnv env{c.term, c.msyscon, {std::nullopt, tmp.path, std::nullopt}};
    VELT_ASSERT_EQ(describe(terminfo::TermInfo::from_env(env)), c.want, "TERM {} MSYSCON {}",
                   c.term.value_or("unset"), c.msyscon.value_or("unset"));
  }
  terminfo::TermEnv found{"vt16", std::nullopt, {std::nullopt, tmp.path, std::nullopt}};
  std::optional<terminfo::TerminfoTerminal> t =
      terminfo::TerminfoTerminal::from_env(nullptr, found);
  VELT_ASSERT(t.has_value());
  VELT_ASSERT_EQ(t->num_colors(), 16u);
  found.term = "nothere";
  VELT_ASSERT(!terminfo::TerminfoTerminal::from_env(nullptr, found).has_value());
}

// Files are read through a fixed buffer, refilled as often as the entry needs; what is not a
// regular file is refused rather than read.
VELT_TEST(terminfo::terminfo::from_path) {
  velt::testing::TempDir tmp;
  VELT_ASSERT(!tmp.path.empty());
  velt::testing::Entry big = velt::testing::coloured_entry();
  std::string filler(20000, 'f');
  big.offsets[1] = 0;  // bell: 20000 bytes, so setaf lies beyond the first two buffers
  big.offsets[39] = 20001;
  big.offsets[359] = 20005;
  big.offsets[360] = 20015;
  big.table = filler + std::string("\0", 1) + big.table;
  std::string path = tmp.write("big", big.bytes());
  velt::Result<terminfo::TermInfo, terminfo::Error> r = terminfo::TermInfo::from_path(path);
  VELT_ASSERT_EQ(describe(r), "entry vt16");
  VELT_ASSERT_EQ(r->strings.at("bell").size(), 20000u);
  VELT_ASSERT_EQ(r->strings.at("setaf"), "\x1b[3%p1%dm");
  VELT_ASSERT_EQ(r->strings.at("setab"), "\x1b[4%p1%dm");

  std::string fifo = tmp.path + "/fifo";
  VELT_ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  VELT_ASSERT_EQ(describe(terminfo::TermInfo::from_path(fifo)), "io: not a regular file");
  VELT_ASSERT_EQ(describe(terminfo::TermInfo::from_path(tmp.path)), "io: not a regular file");
  VELT_ASSERT_EQ(describe(terminfo::TermInfo::from_path(tmp.path + "/none")),
                 "io: No such file or directory (os error 2)");
}
