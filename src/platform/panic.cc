#include "src/platform/panic.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <typeinfo>

#include "src/platform/capture.h"

namespace velt::platform {
namespace {

using SharedHook = std::shared_ptr<const PanicHook>;

// A thread may still panic while the process exits, so the hook and its lock are never
// destroyed.
std::mutex& hook_mutex() {
  static std::mutex* const mutex = new std::mutex;
  return *mutex;
}
SharedHook& hook_slot() {
  static SharedHook* const slot = new SharedHook;
  return *slot;
}

std::atomic<bool> aborts{false};

struct ThreadName {
  bool known = false;
  std::string name;
};
thread_local ThreadName thread_name;

std::string demangle(const char* name) {
  int status = 0;
  char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  if (status != 0 || plain == nullptr) return name;
  std::string text = plain;
  std::free(plain);
  return text;
}

// The type of the exception being handled, or null outside a handler (and for exceptions
// thrown by other languages).
const std::type_info* handled_type() { return abi::__cxa_current_exception_type(); }

bool backtrace_wanted() {
  const char* value = std::getenv("VELT_BACKTRACE");
  return value != nullptr && std::string_view(value) != "0";
}

// Best effort: glibc names only exported symbols, so frames of static functions show as
// their module and offset, which addr2line can still resolve.
std::string backtrace_text() {
  void* frames[128];
  const int count = ::backtrace(frames, 128);
  std::string text = "stack backtrace:\n";
  char** symbols = ::backtrace_symbols(frames, count);
  if (symbols == nullptr) return text;
  // Frame 0 is this function, frame 1 the report; the panic's own code starts after them.
  for (int i = 2; i < count; ++i) {
    std::string_view line = symbols[i];  // "module(mangled+0x1f) [0x4011d6]"
    std::string name;
    const std::size_t open = line.find('(');
    const std::size_t plus = line.find_first_of("+)", open == line.npos ? 0 : open);
    if (open != line.npos && plus != line.npos && plus > open + 1) {
      name = demangle(std::string(line.substr(open + 1, plus - open - 1)).c_str());
    }
    text += "  " + std::to_string(i - 2) + ": ";
    text += name.empty() ? std::string(line) : name + "\n             at " + std::string(line);
    text += '\n';
  }
  std::free(symbols);
  return text;
}

[[noreturn]] void on_terminate() noexcept {
  // A hook that itself ends in terminate must not loop.
  thread_local bool terminating = false;
  if (terminating) std::abort();
  terminating = true;

  std::string message;
  if (const std::type_info* type = handled_type()) {
    if (*type == typeid(PanicException)) {
      // Reported where it was raised; what is left to say is why it ends the process.
      message = "panic in a function that cannot unwind";
    } else {
      const PanicPayload payload = current_payload();
      message = "terminate called after throwing an exception of type `" + payload.type_name + "`";
      if (payload.kind != PanicPayload::Other) message += ": " + payload.text;
    }
  } else {
    message = "terminate called without an active exception";
  }
  call_hook(PanicInfo{message, nullptr, false});
  std::abort();
}

}  // namespace

void set_hook(PanicHook hook) {
  SharedHook replaced = std::make_shared<const PanicHook>(std::move(hook));
  {
    std::lock_guard lock(hook_mutex());
    hook_slot().swap(replaced);
  }
  // The old hook is released here, outside the lock, in case releasing it reports.
}

PanicHook take_hook() {
  SharedHook taken;
  {
    std::lock_guard lock(hook_mutex());
    hook_slot().swap(taken);
  }
  if (!taken || !*taken) return PanicHook(default_hook);
  return *taken;
}

void call_hook(const PanicInfo& info) {
  SharedHook hook;
  {
    std::lock_guard lock(hook_mutex());
    hook = hook_slot();
  }
  // Called without the lock: a hook may run for good (the abort path) or panic itself.
  if (hook && *hook) {
    (*hook)(info);
  } else {
    default_hook(info);
  }
}

void default_hook(const PanicInfo& info) {
  std::string text = "thread '" + current_thread_name() + "' panicked";
  if (info.location != nullptr) {
    text += " at " + info.location->file + ':' + std::to_string(info.location->line) + ':' +
            std::to_string(info.location->column);
  }
  text += ":\n";
  text += info.message;
  text += '\n';
  if (backtrace_wanted()) text += backtrace_text();
  // One write, so that the report is not interleaved with other threads' output.
  (void)write_output(STDERR_FILENO, text);
}

void install_terminate_handler() { std::set_terminate(on_terminate); }

void set_panic_aborts(bool on) { aborts.store(on, std::memory_order_relaxed); }
bool panic_aborts() { return aborts.load(std::memory_order_relaxed); }

PanicPayload current_payload() {
  PanicPayload payload;
  const std::type_info* type = handled_type();
  if (type == nullptr) return payload;
  payload.type_name = demangle(type->name());
  try {
    throw;
  } catch (const PanicException& e) {
    payload.kind = PanicPayload::OwnedText;
    payload.text = e.message;
  } catch (const std::string& s) {
    payload.kind = PanicPayload::OwnedText;
    payload.text = s;
  } catch (const std::exception& e) {
    payload.kind = PanicPayload::OwnedText;
    payload.text = e.what();
  } catch (const char* s) {  // also catches a thrown char*
    payload.kind = PanicPayload::StaticText;
    payload.text = s != nullptr ? s : "";
  } catch (...) {
    payload.kind = PanicPayload::Other;
  }
  return payload;
}

namespace {
thread_local std::exception_ptr already_reported;
}  // namespace

void mark_reported(std::exception_ptr e) { already_reported = std::move(e); }

void report_caught(const PanicPayload& payload, const Location* where) {
  // velt::test::panic reported its panic where it was thrown, with the exact location.
  const std::type_info* type = handled_type();
  if (type != nullptr && *type == typeid(PanicException)) return;
  if (already_reported) {
    bool same = std::current_exception() == already_reported;
    already_reported = nullptr;
    if (same) return;
  }
  const std::string message = payload.kind == PanicPayload::Other
                                  ? "exception of type `" + payload.type_name + "`"
                                  : payload.text;
  call_hook(PanicInfo{message, where, !panic_aborts()});
}

const std::string& current_thread_name() {
  if (!thread_name.known) {
    // The main thread's id is the process id; other unnamed threads are shown as such.
    thread_name.name = ::gettid() == ::getpid() ? "main" : "<unnamed>";
    thread_name.known = true;
  }
  return thread_name.name;
}

void set_current_thread_name(std::string name) {
  thread_name.name = std::move(name);
  thread_name.known = true;
}

}  // namespace velt::platform
