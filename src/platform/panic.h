// Panics: the failure report, its replaceable process-wide hook, and the payload a caught
// panic carries. A panic is a C++ exception unwinding out of a test body; velt::test::panic
// (include/velt/test.h) throws one after reporting it.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velt::platform {

struct Location {
  std::string file;
  unsigned line = 0;
  unsigned column = 0;
};

// What the failure report shows.
struct PanicInfo {
  std::string_view message;
  const Location* location = nullptr;  // null when unknown
  bool can_unwind = true;              // false: the process aborts after the report
};

using PanicHook = std::function<void(const PanicInfo&)>;

// Replaces the process-wide hook; the previous one is released.
void set_hook(PanicHook hook);
// Removes the current hook and returns it; the default report is back in force.
PanicHook take_hook();
// Calls the current hook (the default report when none was set).
void call_hook(const PanicInfo& info);
// The default report, written to the calling thread's standard error (and so into its
// capture): "thread '{name}' panicked at {file}:{line}:{col}:\n{message}\n", and a backtrace
// when VELT_BACKTRACE is set to something other than "0".
void default_hook(const PanicInfo& info);

// Makes std::terminate report through the hook (as a failure that cannot unwind) before the
// process aborts, so that an exception escaping a noexcept function or a foreign thread still
// names its thread and shows the captured output. Called once at start-up.
void install_terminate_handler();

// Whether panics unwind (the default) or abort the process after the report.
void set_panic_aborts(bool aborts);
bool panic_aborts();

// The exception velt::test::panic throws. Deliberately not a std::exception, so that a test's
// own `catch (const std::exception&)` does not swallow a failed assertion.
struct PanicException {
  std::string message;
};

// What a caught panic carried.
struct PanicPayload {
  enum Kind { OwnedText, StaticText, Other };
  Kind kind = Other;
  std::string text;       // OwnedText, StaticText
  std::string type_name;  // the demangled type of the thrown value
};

// Inside a catch handler: classifies the exception being handled. std::string, a
// std::exception's what() and PanicException are owned text; a thrown string literal is
// static text; anything else is Other.
PanicPayload current_payload();

// Inside a catch handler: reports the exception being handled with the current hook, unless it
// was a PanicException (already reported where it was thrown). `where` names the code that ran.
void report_caught(const PanicPayload& payload, const Location* where);

// Notes on the calling thread that `e` has been reported already, so that report_caught
// stays silent when it is handled here (a failure rethrown by a join).
void mark_reported(std::exception_ptr e);

// The name of the calling thread as shown in reports ("main" for the main thread).
const std::string& current_thread_name();
void set_current_thread_name(std::string name);

}  // namespace velt::platform
