// The process: its arguments, its environment and its end.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velt::platform {

// The process arguments as the process received them (program path first; possibly empty).
// An argument that is not valid UTF-8 is a panic.
std::vector<std::string> args();

// The variable's value; none when absent or not valid UTF-8.
std::optional<std::string> env_var(const char* name);
// Whether the variable is present (with any value, valid UTF-8 or not).
bool env_present(const char* name);

bool is_valid_utf8(std::string_view s);
// Invalid sequences become U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// Nanoseconds since the Unix epoch from the wall clock; none when the clock reads earlier.
__extension__ std::optional<unsigned __int128> wall_clock_nanos();  // __int128 is not ISO C++

// Ends the process with `status` (standard output is written unbuffered, nothing is lost).
[[noreturn]] void exit_process(int status);

}  // namespace velt::platform
