// The process: its arguments, its environment, the child processes it starts, and its end.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "src/result.h"

namespace velt::platform {

// The process arguments as the process received them (program path first; possibly empty).
// An argument that is not valid UTF-8 is a panic.
std::vector<std::string> args();
// The first process argument, the program's path as it was invoked, without copying or
// checking the rest; none when the process was started without one (an empty argument list,
// which Linux now turns into a single empty argument).
std::optional<std::string_view> invoked_path();

// The variable's value; none when absent or not valid UTF-8.
std::optional<std::string> env_var(const char* name);
// Whether the variable is present (with any value, valid UTF-8 or not).
bool env_present(const char* name);

bool is_valid_utf8(std::string_view s);
// Invalid sequences become U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// Nanoseconds since the Unix epoch from the wall clock; none when the clock reads earlier.
__extension__ std::optional<unsigned __int128> wall_clock_nanos();  // __int128 is not ISO C++

// A program to start as a child process.
struct ChildCommand {
  std::string program;            // the file executed
  std::string arg0;               // the name the child sees as its first argument
  std::vector<std::string> args;  // the arguments after it
  // The child's environment is ours without the variables named in `env_remove` and with
  // those of `env_set` added (replacing ours of the same name).
  std::vector<std::string> env_remove;
  std::vector<std::pair<std::string, std::string>> env_set;
  // Whether the child writes to our standard output and error instead of into pipes we
  // collect. Its standard input is always /dev/null: many children run at once, and none of
  // them may take the terminal's input.
  bool inherit_output = false;
};

// How a child process ended.
struct ChildStatus {
  bool signaled = false;
  int code = 0;  // the exit status, or the number of the signal that ended it
};

struct ChildOutput {
  ChildStatus status;
  std::string out;  // its standard output, when collected
  std::string err;  // its standard error, when collected
};

// Starts `command`, collects its output and waits for it to end, however long that takes.
// Both pipes are drained together, so a child that fills one while we read the other cannot
// stall; once the child has ended, what the pipes hold is taken without waiting for processes
// it left running with copies of them. Fails when the program cannot be started (its exec
// error is reported here, not by a child exit status) or cannot be waited for.
IoResult<ChildOutput> run_child(const ChildCommand& command);

// The path that starts this very executable again, whatever the first argument says: the
// first argument may be a bare name found through PATH, or relative to a directory we have
// left, and a name found through PATH may now be a different program.
inline constexpr const char* SELF_EXE = "/proc/self/exe";

// Ends the calling process by the abort signal, as a child reports a failure, without writing
// a core file: the failure was expected and reported, it is not a crash to investigate.
[[noreturn]] void abort_without_core();

// Ends the process with `status` (standard output is written unbuffered, nothing is lost).
[[noreturn]] void exit_process(int status);

}  // namespace velt::platform
