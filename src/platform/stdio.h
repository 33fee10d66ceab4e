// The process's standard output and error, written without stdio buffering, behind re-entrant
// locks that a thread may keep (the abort path keeps them for good).
#pragma once

#include <cstddef>
#include <mutex>
#include <string_view>

#include "src/result.h"

namespace velt::platform {

std::recursive_mutex& stdout_lock();
std::recursive_mutex& stderr_lock();

// One write(2) on descriptor 1 or 2 under its lock; returns the count taken. EINTR is
// returned as an error for the caller to retry.
IoResult<std::size_t> write_stdout(std::string_view bytes);
IoResult<std::size_t> write_stderr(std::string_view bytes);

// Writes all of `bytes`: partial writes continue, EINTR is retried, a zero-byte write is an
// error. The lock is held for the whole text so that it is not split by other threads.
IoResult<void> write_all_stdout(std::string_view bytes);
IoResult<void> write_all_stderr(std::string_view bytes);

// Writes all of `bytes` to descriptor `fd`, with the same rules and no lock.
IoResult<void> write_all_to(int fd, std::string_view bytes);

// Whether file descriptor `fd` is a terminal.
bool is_terminal(int fd);

// Makes a write to a closed pipe fail with EPIPE instead of killing the process, so that a
// reader that went away is reported like any other output error. Called once at start-up.
void ignore_sigpipe();

}  // namespace velt::platform
