#include "src/platform/stdio.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace velt {
namespace {

// strerror_r comes in two flavours; g++ defines _GNU_SOURCE and so gets the GNU one, which
// may return a static string instead of filling the buffer. Both are handled so that the
// choice of feature macros cannot silently break the text.
[[maybe_unused]] const char* strerror_text(int result, const char* buf) {
  return result == 0 ? buf : "Unknown error";
}
[[maybe_unused]] const char* strerror_text(const char* result, const char*) { return result; }

std::string os_error_text(int code) {
  char buf[256] = {};
  return strerror_text(strerror_r(code, buf, sizeof buf), buf);
}

}  // namespace

std::string IoError::debug() const {
  if (code == 0) return message;
  return os_error_text(code) + " (os error " + std::to_string(code) + ")";
}

IoError last_os_error() { return io_error_from_code(errno); }

IoError io_error_from_code(int code) { return IoError{code, os_error_text(code)}; }

namespace platform {
namespace {

IoResult<std::size_t> write_fd(int fd, std::recursive_mutex& lock, std::string_view bytes) {
  std::lock_guard guard(lock);
  ssize_t n = ::write(fd, bytes.data(), bytes.size());
  if (n < 0) return Err{last_os_error()};
  return static_cast<std::size_t>(n);
}

IoResult<void> write_all_fd(int fd, std::recursive_mutex& lock, std::string_view bytes) {
  std::lock_guard guard(lock);
  return write_all_to(fd, bytes);
}

}  // namespace

IoResult<void> write_all_to(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Err{last_os_error()};
    }
    if (n == 0) return Err{IoError{0, "failed to write whole buffer"}};
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

// The abort path keeps these locked for good and threads that outlive main may still print,
// so they must survive every static destructor: they are never destroyed. Built on first use,
// as static initialisers elsewhere may already print.
std::recursive_mutex& stdout_lock() {
  static std::recursive_mutex* const lock = new std::recursive_mutex;
  return *lock;
}
std::recursive_mutex& stderr_lock() {
  static std::recursive_mutex* const lock = new std::recursive_mutex;
  return *lock;
}

IoResult<std::size_t> write_stdout(std::string_view bytes) {
  return write_fd(STDOUT_FILENO, stdout_lock(), bytes);
}
IoResult<std::size_t> write_stderr(std::string_view bytes) {
  return write_fd(STDERR_FILENO, stderr_lock(), bytes);
}

IoResult<void> write_all_stdout(std::string_view bytes) {
  return write_all_fd(STDOUT_FILENO, stdout_lock(), bytes);
}
IoResult<void> write_all_stderr(std::string_view bytes) {
  return write_all_fd(STDERR_FILENO, stderr_lock(), bytes);
}

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

void ignore_sigpipe() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform
}  // namespace velt
