#include "src/platform/process.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "include/velt/test.h"

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

}  // namespace

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
