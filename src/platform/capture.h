// Per-thread output capture. Everything a thread prints through std::cout, std::cerr,
// std::clog and C stdio (printf, puts, fputs/fprintf to stdout or stderr) goes to that
// thread's capture buffer when it has one, in order; other threads print to the real streams,
// unbuffered, so nothing printed outside a capture waits in a buffer.
// Only raw write(2) on descriptors 1 and 2 escapes capture: it bypasses the streams entirely.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "src/result.h"

namespace velt::platform {

// A byte buffer shared between a test's threads and its runner.
struct CaptureBuffer {
  std::mutex mutex;
  std::string bytes;

  void append(const char* data, std::size_t n);
  std::string contents();  // a copy
};

using CaptureHandle = std::shared_ptr<CaptureBuffer>;

// Routes the standard streams through the capture dispatch. Idempotent; call before the first
// capture is set.
void install_output_capture();

// Sets the calling thread's capture and returns the one it had (null: none).
CaptureHandle set_output_capture(CaptureHandle buffer);
// The calling thread's capture (null: none).
const CaptureHandle& current_output_capture();

// Writes `bytes` as the calling thread's standard output (`fd` 1) or error (`fd` 2): into its
// capture when it has one, else whole to the descriptor under its lock. Failure reports use
// this rather than stdio so that they neither split nor wait on a FILE lock.
IoResult<void> write_output(int fd, std::string_view bytes);

// When on, threads started through platform::Thread inherit the starting thread's capture.
void set_capture_inheritance(bool on);
bool capture_inheritance();

}  // namespace velt::platform
