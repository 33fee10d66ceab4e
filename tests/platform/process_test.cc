#include "src/platform/process.h"

#include <errno.h>
#include <signal.h>
#include <time.h>
#include <velt/test.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {
namespace platform = velt::platform;
}  // namespace

VELT_TEST(process::utf8_validity) {
  const struct {
    std::string_view bytes;
    bool valid;
  } cases[] = {
      {"", true},
      {"plain ascii", true},
      {"\xC3\xA9", true},                   // é
      {"\xE2\x82\xAC", true},               // €
      {"\xF0\x9F\x98\x80", true},           // an emoji, four bytes
      {"\xF4\x8F\xBF\xBF", true},           // U+10FFFF, the last code point
      {"\xEF\xBF\xBF", true},               // U+FFFF, a noncharacter but valid
      {std::string_view("a\0b", 3), true},  // NUL is a character like any other
      {"\xC0\x80", false},                  // overlong NUL
      {"\xC1\xBF", false},                  // overlong two-byte form
      {"\xE0\x9F\xBF", false},              // overlong three-byte form
      {"\xF0\x8F\xBF\xBF", false},          // overlong four-byte form
      {"\xED\xA0\x80", false},              // surrogate U+D800
      {"\xED\xBF\xBF", false},              // surrogate U+DFFF
      {"\xF4\x90\x80\x80", false},          // above U+10FFFF
      {"\xF5\x80\x80\x80", false},          // lead byte that can never occur
      {"\x80", false},                      // continuation without a lead
      {"ab\xC3", false},                    // truncated at the end
      {"\xE2\x82", false},                  // truncated three-byte sequence
      {"\xE2\x28\xA1", false},              // second byte not a continuation
      {"\xFF", false},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(platform::is_valid_utf8(c.bytes), c.valid, "bytes {}",
                   velt::test::detail::quoted(c.bytes));
  }
}

// Each maximal invalid subpart becomes one U+FFFD, as browsers decode.
VELT_TEST(process::utf8_lossy) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    std::string_view bytes;
    std::string want;
  } cases[] = {
      {"", ""},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"a\x80z", "a" + r + "z"},
      {"\xE2\x82", r},              // a truncated sequence is one subpart
      {"\xE2\x82z", r + "z"},       // the byte that breaks it is kept
      {"\xF4\x8F\xBF", r},          // valid prefix of U+10FFFF, cut short
      {"\xF0\x80\x80", r + r + r},  // 80 is out of range after F0: three parts
      {"\xED\xA0\x80", r + r + r},  // surrogates: each byte alone
      {"\xC0\xAF", r + r},          // C0 never starts a sequence
      {"\xE2\x28\xA1", r + "(" + r},
      {"\xF5\xFF", r + r},
      {"ok\xF0\x9F\x98\x80\xF0\x9F", "ok\xF0\x9F\x98\x80" + r},
  };
  for (const auto& c : cases) {
    const std::string got = platform::utf8_lossy(c.bytes);
    VELT_ASSERT_EQ(got, c.want, "bytes {}", velt::test::detail::quoted(c.bytes));
    VELT_ASSERT(platform::is_valid_utf8(got));
  }
}

VELT_TEST(process::args_and_environment) {
  const std::vector<std::string> args = platform::args();
  VELT_ASSERT(!args.empty() && !args[0].empty());  // the program path, found without main
  VELT_ASSERT(!platform::env_present("VELT_SURELY_NOT_SET_ANYWHERE"));
  VELT_ASSERT(!platform::env_var("VELT_SURELY_NOT_SET_ANYWHERE").has_value());
}

VELT_TEST(process::wall_clock) {
  const time_t before = time(nullptr);
  const auto nanos = platform::wall_clock_nanos();
  const time_t after = time(nullptr);
  VELT_ASSERT(nanos.has_value());
  const auto seconds = static_cast<long long>(*nanos / 1000000000u);
  VELT_ASSERT(seconds >= before && seconds <= after, "{} not in [{}, {}]", seconds, before, after);
}

VELT_TEST(process::invoked_path_is_first_argument) {
  const std::optional<std::string_view> path = platform::invoked_path();
  VELT_ASSERT(path.has_value());
  VELT_ASSERT_EQ(*path, platform::args().at(0));
}

// How a child ends and what it wrote, collected from both pipes at once: the children that
// write a lot to stderr before stdout would stall a reader that waits for stdout's end first.
VELT_TEST(process::run_child_collects_status_and_output) {
  const std::string big(200000, 'z');
  const struct {
    const char* script;
    platform::ChildStatus status;
    std::string out, err;
  } cases[] = {
      {"exit 0", {false, 0}, "", ""},
      {"exit 7", {false, 7}, "", ""},
      {"printf x; printf y >&2; exit 50", {false, 50}, "x", "y"},
      {"kill -SEGV $$", {true, 11}, "", ""},
      {"echo before; kill -ABRT $$", {true, 6}, "before\n", ""},
      {"read line; echo \"[$line]\"", {false, 0}, "[]\n", ""},  // stdin is empty
      {"head -c 200000 /dev/zero | tr '\\0' z >&2; printf done", {false, 0}, "done", big},
      {"head -c 200000 /dev/zero | tr '\\0' z; printf done >&2", {false, 0}, big, "done"},
  };
  for (const auto& c : cases) {
    platform::ChildCommand command;
    command.program = "/bin/sh";
    command.arg0 = "sh";
    command.args = {"-c", c.script};
    velt::IoResult<platform::ChildOutput> child = platform::run_child(command);
    VELT_ASSERT(child.ok(), "{}: {}", c.script, child.ok() ? "" : child.error().debug());
    VELT_ASSERT_EQ(child->status.signaled, c.status.signaled, "{}", c.script);
    VELT_ASSERT_EQ(child->status.code, c.status.code, "{}", c.script);
    VELT_ASSERT(child->out == c.out, "{}: stdout of {} bytes", c.script, child->out.size());
    VELT_ASSERT(child->err == c.err, "{}: stderr of {} bytes", c.script, child->err.size());
  }
}

// The child's environment is ours, less the removed names, with the set ones replacing ours.
VELT_TEST(process::run_child_environment) {
  platform::ChildCommand command;
  command.program = "/usr/bin/env";
  command.arg0 = "env";
  command.env_remove = {"PATH"};
  command.env_set = {{"VELT_CHILD_VALUE", "a=b c"}, {"HOME", "/elsewhere"}};
  velt::IoResult<platform::ChildOutput> child = platform::run_child(command);
  VELT_ASSERT(child.ok());
  VELT_ASSERT_EQ(child->status.code, 0);

  std::vector<std::string> lines;
  std::string_view rest = child->out;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    lines.emplace_back(rest.substr(0, end));
    rest.remove_prefix(end == rest.npos ? rest.size() : end + 1);
  }
  const auto count = [&](std::string_view prefix) {
    std::size_t n = 0;
    for (const std::string& line : lines) n += line.starts_with(prefix) ? 1 : 0;
    return n;
  };
  VELT_ASSERT_EQ(count("PATH="), 0u);
  VELT_ASSERT_EQ(count("VELT_CHILD_VALUE="), 1u);
  VELT_ASSERT_EQ(count("VELT_CHILD_VALUE=a=b c"), 1u);
  VELT_ASSERT_EQ(count("HOME="), 1u);
  VELT_ASSERT_EQ(count("HOME=/elsewhere"), 1u);
  // Everything else comes through: we have more variables than the two set here.
  VELT_ASSERT(lines.size() > 2, "{} lines", lines.size());
}

// A program that cannot be started is an error of the start, not an exit status.
VELT_TEST(process::run_child_start_errors) {
  const struct {
    std::string program;
    std::string arg;
    int code;
  } cases[] = {
      {"/nonexistent/program", "", ENOENT},
      {"/dev/null", "", EACCES},                          // not executable
      {"/bin/sh", std::string("-c\0exit 0", 9), EINVAL},  // would be cut at the NUL
  };
  for (const auto& c : cases) {
    platform::ChildCommand command;
    command.program = c.program;
    command.arg0 = "x";
    if (!c.arg.empty()) command.args = {c.arg};
    velt::IoResult<platform::ChildOutput> child = platform::run_child(command);
    VELT_ASSERT(!child.ok(), "{} started", c.program);
    VELT_ASSERT_EQ(child.error().code, c.code, "{}", c.program);
  }
}

// A process the child leaves running keeps the child's pipes open; the run must not wait for
// it, only for the child.
VELT_TEST(process::run_child_does_not_wait_for_what_the_child_left_running) {
  platform::ChildCommand command;
  command.program = "/bin/sh";
  command.arg0 = "sh";
  command.args = {"-c", "sleep 60 & echo $!; echo to stderr >&2"};
  const auto start = std::chrono::steady_clock::now();
  velt::IoResult<platform::ChildOutput> child = platform::run_child(command);
  const auto waited = std::chrono::steady_clock::now() - start;
  VELT_ASSERT(child.ok());
  const int sleeper = std::atoi(child->out.c_str());
  if (sleeper > 0) ::kill(sleeper, SIGKILL);
  VELT_ASSERT(sleeper > 0, "stdout {}", child->out);
  VELT_ASSERT_EQ(child->err, "to stderr\n");
  VELT_ASSERT(waited < std::chrono::seconds(30), "waited {} ms",
              std::chrono::duration_cast<std::chrono::milliseconds>(waited).count());
}
