#include "src/platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "include/velt/test.h"

extern char** environ;  // declared by <unistd.h> only with _GNU_SOURCE

namespace velt::platform {
namespace {

int saved_argc = 0;
char** saved_argv = nullptr;

// glibc calls the functions of .init_array with main's argc, argv and envp before any
// constructor of the program runs, so the arguments are known without main's help. Living
// in the same object as args(), the entry is linked exactly when args() is.
void save_args(int argc, char** argv, char**) {
  saved_argc = argc;
  saved_argv = argv;
}
[[gnu::section(".init_array"), gnu::used]] void (*const save_args_entry)(int, char**,
                                                                         char**) = &save_args;

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence starting at `s[i]`, or 0 when the bytes there are no
// valid sequence; then `*bad` is the length of the maximal invalid subpart (at least 1), the
// bytes that one U+FFFD replaces. Overlong forms, surrogates and code points above U+10FFFF
// are invalid, which the bounds of the second byte decide.
std::size_t sequence_length(std::string_view s, std::size_t i, std::size_t* bad) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t need = 0;
  unsigned char lower = 0x80, upper = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) lower = 0xA0;  // overlong below U+0800
    if (lead == 0xED) upper = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) lower = 0x90;  // overlong below U+10000
    if (lead == 0xF4) upper = 0x8F;  // above U+10FFFF
  } else {
    *bad = 1;
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size() || byte(i + k) < lower || byte(i + k) > upper) {
      *bad = k;
      return 0;
    }
    lower = 0x80;
    upper = 0xBF;
  }
  return need + 1;
}

// A file descriptor closed when it goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read;
  Fd write;
};

// Close-on-exec, so that a child started meanwhile by another thread does not keep a copy of
// the write end, which would hold our read open until that unrelated child ends.
IoResult<Pipe> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return Err{last_os_error()};
  return Pipe{Fd(fds[0]), Fd(fds[1])};
}

// Owners of the spawn attributes, which must be destroyed however we leave.
struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { ::posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
};
struct SpawnAttrs {
  posix_spawnattr_t attrs;
  SpawnAttrs() { ::posix_spawnattr_init(&attrs); }
  ~SpawnAttrs() { ::posix_spawnattr_destroy(&attrs); }
  SpawnAttrs(const SpawnAttrs&) = delete;
  SpawnAttrs& operator=(const SpawnAttrs&) = delete;
};

bool has_nul(std::string_view s) { return s.find('\0') != std::string_view::npos; }

// NAME=VALUE entries: ours, less the removed and replaced names, then the set ones.
std::vector<std::string> child_environment(const ChildCommand& command) {
  const auto dropped = [&](std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find('='));
    for (const std::string& n : command.env_remove) {
      if (name == n) return true;
    }
    for (const auto& [n, value] : command.env_set) {
      if (name == n) return true;
    }
    return false;
  };
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (!dropped(*e)) env.emplace_back(*e);
  }
  for (const auto& [name, value] : command.env_set) env.push_back(name + '=' + value);
  return env;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> list;
  list.reserve(strings.size() + 1);
  for (std::string& s : strings) list.push_back(s.data());
  list.push_back(nullptr);
  return list;
}

// Appends what `fd` holds now, without waiting for more; closes it at its end.
IoResult<void> read_available(Fd& fd, std::string& sink) {
  if (::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK) != 0) {
    return Err{last_os_error()};
  }
  char buf[16384];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n > 0) {
      sink.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0) {
      fd.reset();
      return {};
    } else if (errno == EAGAIN) {
      return {};
    } else if (errno != EINTR) {
      return Err{last_os_error()};
    }
  }
}

// Reads both pipes until both are at their end, whichever the child fills first. Once the
// child has ended (`ended` turns readable), what is left in the pipes is taken without
// waiting for their end: a process the child left running may hold them open for as long as
// it lives.
IoResult<void> drain(Fd out_fd, Fd err_fd, const Fd& ended, std::string& out, std::string& err) {
  Fd* fds[2] = {&out_fd, &err_fd};
  std::string* sinks[2] = {&out, &err};
  char buf[16384];
  while (out_fd.open() || err_fd.open()) {
    pollfd polled[3];
    for (int i = 0; i < 2; ++i) polled[i] = pollfd{fds[i]->get(), POLLIN, 0};  // -1: skipped
    polled[2] = pollfd{ended.get(), POLLIN, 0};
    if (::poll(polled, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return Err{last_os_error()};
    }
    if (polled[2].revents != 0) {
      for (int i = 0; i < 2; ++i) {
        if (fds[i]->open()) VELT_TRY(read_available(*fds[i], *sinks[i]));
      }
      return {};
    }
    for (int i = 0; i < 2; ++i) {
      if (polled[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i]->get(), buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return Err{last_os_error()};
      }
      if (n == 0) {
        fds[i]->reset();  // the child closed it, usually by ending
      } else {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      }
    }
  }
  return {};
}

IoResult<ChildStatus> wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return Err{last_os_error()};
  }
  if (WIFSIGNALED(status)) return ChildStatus{true, WTERMSIG(status)};
  return ChildStatus{false, WEXITSTATUS(status)};
}

}  // namespace

std::optional<std::string_view> invoked_path() {
  if (saved_argc <= 0 || saved_argv == nullptr || saved_argv[0] == nullptr ||
      saved_argv[0][0] == '\0') {
    return std::nullopt;
  }
  return std::string_view(saved_argv[0]);
}

IoResult<ChildOutput> run_child(const ChildCommand& command) {
  // Text with a NUL cannot be passed to exec; it would be cut short silently.
  bool bad = has_nul(command.program) || has_nul(command.arg0);
  for (const std::string& a : command.args) bad = bad || has_nul(a);
  for (const auto& [name, value] : command.env_set) {
    bad = bad || has_nul(name) || has_nul(value) || name.find('=') != std::string::npos;
  }
  if (bad) return Err{io_error_from_code(EINVAL)};

  std::vector<std::string> argv_strings;
  argv_strings.reserve(command.args.size() + 1);
  argv_strings.push_back(command.arg0);
  argv_strings.insert(argv_strings.end(), command.args.begin(), command.args.end());
  std::vector<std::string> env_strings = child_environment(command);
  std::vector<char*> argv = c_strings(argv_strings);
  std::vector<char*> envp = c_strings(env_strings);

  SpawnActions actions;
  ::posix_spawn_file_actions_addopen(&actions.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  Pipe out, err;
  if (!command.inherit_output) {
    IoResult<Pipe> out_pipe = make_pipe();
    if (!out_pipe) return Err{std::move(out_pipe).error()};
    IoResult<Pipe> err_pipe = make_pipe();
    if (!err_pipe) return Err{std::move(err_pipe).error()};
    out = std::move(*out_pipe);
    err = std::move(*err_pipe);
    // dup2 clears close-on-exec on the copies; the originals close at exec.
    ::posix_spawn_file_actions_adddup2(&actions.actions, out.write.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions.actions, err.write.get(), STDERR_FILENO);
  }

  // The child starts with no signal blocked and SIGPIPE back at its default, whatever this
  // thread blocks and whatever this process ignores.
  SpawnAttrs attrs;
  sigset_t none, pipe_only;
  sigemptyset(&none);
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  ::posix_spawnattr_setsigmask(&attrs.attrs, &none);
  ::posix_spawnattr_setsigdefault(&attrs.attrs, &pipe_only);
  ::posix_spawnattr_setflags(&attrs.attrs, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, command.program.c_str(), &actions.actions, &attrs.attrs,
                               argv.data(), envp.data());
  if (rc != 0) return Err{io_error_from_code(rc)};

  ChildOutput output;
  IoResult<void> drained;
  if (!command.inherit_output) {
    // Our copies of the write ends must go, or the reads below never see the end.
    out.write.reset();
    err.write.reset();
    // The read ends close when `drain` returns, also on an error, so that a child still
    // writing gets EPIPE instead of blocking while we wait for it below.
    // Without a pidfd (kernels before 5.3) the pipes are read to their end.
    const Fd ended(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    drained = drain(std::move(out.read), std::move(err.read), ended, output.out, output.err);
  }
  IoResult<ChildStatus> status = wait_for(pid);  // reaped whatever happened above
  if (!drained) return Err{std::move(drained).error()};
  if (!status) return Err{std::move(status).error()};
  output.status = *status;
  return output;
}

void abort_without_core() {
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  ::abort();
}

std::vector<std::string> args() {
  std::vector<std::string> list;
  if (saved_argc <= 0 || saved_argv == nullptr) return list;
  list.reserve(static_cast<std::size_t>(saved_argc));
  for (int i = 0; i < saved_argc && saved_argv[i] != nullptr; ++i) {
    std::string arg = saved_argv[i];
    if (!is_valid_utf8(arg)) {
      test::panic("process argument is not valid UTF-8: " + utf8_lossy(arg));
    }
    list.push_back(std::move(arg));
  }
  return list;
}

std::optional<std::string> env_var(const char* name) {
  const char* value = ::getenv(name);
  if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

bool env_present(const char* name) { return ::getenv(name) != nullptr; }

bool is_valid_utf8(std::string_view s) {
  std::size_t bad = 0;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = sequence_length(s, i, &bad);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t valid_from = 0;  // start of the run of valid bytes not yet copied
  std::size_t bad = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = sequence_length(bytes, i, &bad);
    if (n != 0) {
      i += n;
      continue;
    }
    text.append(bytes.substr(valid_from, i - valid_from));
    text.append(REPLACEMENT);
    i += bad;
    valid_from = i;
  }
  text.append(bytes.substr(valid_from));
  return text;
}

__extension__ std::optional<unsigned __int128> wall_clock_nanos() {
  __extension__ using U128 = unsigned __int128;
  timespec now{};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec < 0) return std::nullopt;
  return static_cast<U128>(now.tv_sec) * 1000000000u + static_cast<U128>(now.tv_nsec);
}

void exit_process(int status) {
  // _exit rather than exit: worker threads may still be running, and the static destructors
  // that exit runs would pull their data from under them. Only C stdio can hold output.
  ::fflush(nullptr);
  ::_exit(status);
}

}  // namespace velt::platform
