#include "src/platform/stdio.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <velt/test.h>

#include <iostream>
#include <string>

#include "src/platform/capture.h"
#include "src/platform/process.h"

namespace {

using velt::IoResult;
namespace platform = velt::platform;

std::string read_all(int fd) {
  std::string bytes;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) bytes.append(buf, static_cast<std::size_t>(n));
  return bytes;
}

// Points descriptors 1 and 2 at `target` while `body` runs on this thread, with no capture.
// Everything the harness prints takes the two locks, which are held throughout, so no other
// thread's output lands in `target` and none of it is lost.
template <class F>
void redirected(int target, F&& body) {
  platform::install_output_capture();
  std::scoped_lock locks(platform::stdout_lock(), platform::stderr_lock());
  struct Restore {
    int out = dup(STDOUT_FILENO), err = dup(STDERR_FILENO);
    platform::CaptureHandle capture = platform::set_output_capture(nullptr);
    ~Restore() {
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      close(out);
      close(err);
      platform::set_output_capture(std::move(capture));
    }
  } restore;
  dup2(target, STDOUT_FILENO);
  dup2(target, STDERR_FILENO);
  body();
}

}  // namespace

// Output outside a capture is never held back: raw writes land between stream writes.
VELT_TEST(stdio::uncaptured_output_is_written_at_once) {
  const int file = memfd_create("velt-stdio-test", 0);
  VELT_ASSERT(file >= 0);
  bool all_written = false;
  // No assertion inside: its report would land in the file.
  redirected(file, [&] {
    printf("a");
    all_written = write(STDOUT_FILENO, "b", 1) == 1;
    std::cout << "c";
    fputs("d", stderr);
    all_written &= write(STDERR_FILENO, "e", 1) == 1;
    std::cerr << "f";
    all_written &= platform::write_all_stdout("g").ok() && platform::write_all_stderr("h").ok() &&
                   platform::write_output(STDOUT_FILENO, "i").ok();
  });
  VELT_ASSERT(all_written);
  lseek(file, 0, SEEK_SET);
  VELT_ASSERT_EQ(read_all(file), "abcdefghi");
  close(file);
}

VELT_TEST(stdio::closed_pipe_is_an_error) {
  platform::ignore_sigpipe();
  int fds[2];
  VELT_ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  std::optional<velt::IoError> all, once;
  redirected(fds[1], [&] {
    IoResult<void> a = platform::write_all_stdout("lost");
    IoResult<std::size_t> b = platform::write_stderr("lost");
    if (!a) all = a.error();
    if (!b) once = b.error();
  });
  close(fds[1]);
  VELT_ASSERT(all.has_value() && once.has_value());
  VELT_ASSERT_EQ(all->code, EPIPE);
  VELT_ASSERT_EQ(once->code, EPIPE);
  VELT_ASSERT_EQ(all->debug(), "Broken pipe (os error 32)");
}

VELT_TEST(stdio::io_error_debug) {
  const struct {
    velt::IoError error;
    const char* want;
  } cases[] = {
      {velt::io_error_from_code(EPIPE), "Broken pipe (os error 32)"},
      {velt::io_error_from_code(ENOENT), "No such file or directory (os error 2)"},
      {velt::IoError{0, "failed to write whole buffer"}, "failed to write whole buffer"},
  };
  for (const auto& c : cases) VELT_ASSERT_EQ(c.error.debug(), c.want);
  errno = EBADF;
  VELT_ASSERT_EQ(velt::last_os_error().code, EBADF);
  VELT_ASSERT_EQ(velt::last_os_error().message, "Bad file descriptor");
}

// exit_process skips static destructors but must not drop what C stdio still buffers.
VELT_TEST(process::exit_process_flushes_c_stdio) {
  int fds[2];
  VELT_ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  VELT_ASSERT(child >= 0);
  if (child == 0) {
    close(fds[0]);
    FILE* out = fdopen(fds[1], "w");
    setvbuf(out, nullptr, _IOFBF, 4096);
    fputs("pending", out);
    platform::exit_process(7);
  }
  close(fds[1]);
  const std::string got = read_all(fds[0]);
  close(fds[0]);
  int status = 0;
  VELT_ASSERT_EQ(waitpid(child, &status, 0), child);
  VELT_ASSERT(WIFEXITED(status) && WEXITSTATUS(status) == 7, "status {}", status);
  VELT_ASSERT_EQ(got, "pending");
}

VELT_TEST(stdio::is_terminal) {
  int fds[2];
  VELT_ASSERT_EQ(pipe(fds), 0);
  VELT_ASSERT(!platform::is_terminal(fds[0]));
  VELT_ASSERT(!platform::is_terminal(-1));
  close(fds[0]);
  close(fds[1]);
}
