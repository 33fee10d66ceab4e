// For tests of code that must panic: the message of the panic a callable raised.
#pragma once

#include <functional>
#include <string>

#include "src/platform/panic.h"

namespace velt::testing {

// "(no panic)" when `f` returned normally.
inline std::string panic_message(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::PanicException& e) {
    return e.message;
  }
  return "(no panic)";
}

}  // namespace velt::testing
