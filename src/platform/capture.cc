#include "src/platform/capture.h"

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <iostream>
#include <streambuf>

#include "src/platform/stdio.h"

namespace velt::platform {
namespace {

// The slot's destructor runs at thread exit, possibly before other thread_local destructors
// that still print; `slot_gone` is trivially destructible and so stays readable, and sends
// those late writes to the real descriptor.
thread_local bool slot_gone = false;
struct CaptureSlot {
  CaptureHandle handle;
  ~CaptureSlot() { slot_gone = true; }
};
thread_local CaptureSlot slot;

const CaptureHandle no_capture;

std::atomic<bool> inherit_capture{false};

IoResult<void> write_real(int fd, std::string_view bytes) {
  return fd == STDOUT_FILENO ? write_all_stdout(bytes) : write_all_stderr(bytes);
}

// Unbuffered on purpose: a buffer here would be shared by every thread, while the bytes must
// go to the buffer of the thread that prints them, in the order it prints them.
class DispatchBuf final : public std::streambuf {
 public:
  explicit DispatchBuf(int fd) : fd_(fd) {}

 protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    const char c = traits_type::to_char_type(ch);
    return write_output(fd_, std::string_view(&c, 1)) ? ch : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    return write_output(fd_, std::string_view(s, static_cast<std::size_t>(n))) ? n : 0;
  }

 private:
  int fd_;
};

// The C streams: `cookie` is the descriptor number.
ssize_t cookie_write(void* cookie, const char* buf, size_t size) {
  const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(cookie));
  IoResult<void> written = write_output(fd, std::string_view(buf, size));
  if (written) return static_cast<ssize_t>(size);
  errno = written.error().code;
  return 0;  // stdio's signal for a failed write; it marks the stream's error flag
}

FILE* dispatching_file(int fd) {
  cookie_io_functions_t functions{};
  functions.write = cookie_write;
  FILE* f = fopencookie(reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)), "w", functions);
  if (f != nullptr) setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

void install() {
  // Never destroyed: std::cout is flushed by the runtime after static destructors have run.
  static DispatchBuf* const out_buf = new DispatchBuf(STDOUT_FILENO);
  static DispatchBuf* const err_buf = new DispatchBuf(STDERR_FILENO);
  std::cout.flush();
  std::cerr.flush();
  std::clog.flush();
  std::cout.rdbuf(out_buf);
  std::cerr.rdbuf(err_buf);
  std::clog.rdbuf(err_buf);

  // Whatever the old streams still hold goes out first. The old FILEs stay open: code that
  // kept a pointer to them keeps working, it only bypasses capture.
  fflush(stdout);
  fflush(stderr);
  if (FILE* out = dispatching_file(STDOUT_FILENO)) stdout = out;
  if (FILE* err = dispatching_file(STDERR_FILENO)) stderr = err;
}

}  // namespace

void CaptureBuffer::append(const char* data, std::size_t n) {
  std::lock_guard lock(mutex);
  bytes.append(data, n);
}

std::string CaptureBuffer::contents() {
  std::lock_guard lock(mutex);
  return bytes;
}

void install_output_capture() {
  static std::once_flag once;
  std::call_once(once, install);
}

CaptureHandle set_output_capture(CaptureHandle buffer) {
  if (slot_gone) return nullptr;
  std::swap(slot.handle, buffer);
  return buffer;
}

const CaptureHandle& current_output_capture() { return slot_gone ? no_capture : slot.handle; }

IoResult<void> write_output(int fd, std::string_view bytes) {
  if (!slot_gone) {
    if (CaptureBuffer* buffer = slot.handle.get()) {
      buffer->append(bytes.data(), bytes.size());
      return {};
    }
  }
  return write_real(fd, bytes);
}

void set_capture_inheritance(bool on) { inherit_capture.store(on, std::memory_order_relaxed); }
bool capture_inheritance() { return inherit_capture.load(std::memory_order_relaxed); }

}  // namespace velt::platform
