#include "src/platform/panic.h"

#include <velt/test.h>

#include <source_location>
#include <stdexcept>
#include <string>
#include <thread>

#include "src/platform/capture.h"
#include "src/platform/thread.h"

namespace {

namespace platform = velt::platform;
using platform::PanicPayload;

struct Custom {
  int value;
};

// What `body` prints to this thread's standard error, from a thread named `name`, so that
// the report's first line is known whichever thread runs the test.
template <class F>
std::string reported_on(std::string name, F body) {
  auto buffer = std::make_shared<platform::CaptureBuffer>();
  auto thread = platform::Thread::spawn(std::move(name), [&] {
    platform::set_output_capture(buffer);
    body();
  });
  VELT_ASSERT(thread.ok());
  VELT_ASSERT(!thread->join());
  return buffer->contents();
}

bool backtrace_requested() {
  const char* v = std::getenv("VELT_BACKTRACE");
  return v != nullptr && std::string_view(v) != "0";
}

}  // namespace

VELT_TEST(panic::payload_kinds) {
  const char* const literal = "static";
  const struct {
    const char* name;
    void (*raise)();
    PanicPayload::Kind kind;
    const char* text;
    const char* type_name;  // checked when not null
  } cases[] = {
      {"string", [] { throw std::string("owned"); }, PanicPayload::OwnedText, "owned", nullptr},
      {"std::exception", [] { throw std::runtime_error("what"); }, PanicPayload::OwnedText, "what",
       "std::runtime_error"},
      {"PanicException", [] { throw platform::PanicException{"assert"}; }, PanicPayload::OwnedText,
       "assert", "velt::platform::PanicException"},
      {"literal", [] { throw "literal"; }, PanicPayload::StaticText, "literal", "char const*"},
      {"char*",
       [] {
         static char text[] = "mutable";
         throw static_cast<char*>(text);
       },
       PanicPayload::StaticText, "mutable", "char*"},
      {"int", [] { throw 7; }, PanicPayload::Other, "", "int"},
      {"struct", [] { throw Custom{1}; }, PanicPayload::Other, "", "(anonymous namespace)::Custom"},
  };
  (void)literal;
  for (const auto& c : cases) {
    PanicPayload p;
    try {
      c.raise();
    } catch (...) {
      p = platform::current_payload();
    }
    VELT_ASSERT_EQ(static_cast<int>(p.kind), static_cast<int>(c.kind), "case {}", c.name);
    VELT_ASSERT_EQ(p.text, c.text, "case {}", c.name);
    if (c.type_name != nullptr) VELT_ASSERT_EQ(p.type_name, c.type_name, "case {}", c.name);
  }
  // Outside a handler there is nothing to classify.
  VELT_ASSERT_EQ(static_cast<int>(platform::current_payload().kind),
                 static_cast<int>(PanicPayload::Other));
}

VELT_TEST(panic::default_report) {
  const platform::Location at{"src/x.cc", 12, 5};
  const struct {
    const platform::Location* location;
    const char* message;
    const char* want;
  } cases[] = {
      {&at, "boom", "thread 'reporter' panicked at src/x.cc:12:5:\nboom\n"},
      {nullptr, "two\nlines", "thread 'reporter' panicked:\ntwo\nlines\n"},
      {&at, "", "thread 'reporter' panicked at src/x.cc:12:5:\n\n"},
  };
  for (const auto& c : cases) {
    const std::string got = reported_on("reporter", [&] {
      platform::default_hook(platform::PanicInfo{c.message, c.location, true});
    });
    if (backtrace_requested()) {
      VELT_ASSERT(got.starts_with(c.want), "got {}", got);
    } else {
      VELT_ASSERT_EQ(got, c.want);
    }
  }
}

// velt::test::panic reports where it was called, then throws what the runner classifies.
VELT_TEST(panic::panic_reports_then_throws) {
  std::string message;
  unsigned line = 0;
  const std::string report = reported_on("panicking", [&] {
    try {
      line = std::source_location::current().line() + 1;
      velt::test::panic("it broke");
    } catch (const platform::PanicException& e) {
      message = e.message;
    }
  });
  VELT_ASSERT_EQ(message, "it broke");
  const std::string want =
      "thread 'panicking' panicked at " + std::string(__FILE__) + ":" + std::to_string(line);
  VELT_ASSERT(report.starts_with(want), "report {}", report);
  VELT_ASSERT(report.find(":\nit broke\n") != std::string::npos, "report {}", report);
}

// Exceptions thrown by other code are reported when caught; a velt panic already was.
VELT_TEST(panic::report_caught) {
  const platform::Location at{"t.cc", 1, 2};
  const struct {
    const char* name;
    void (*raise)();
    const char* want;
  } cases[] = {
      {"exception", [] { throw std::logic_error("bad state"); },
       "thread 'catcher' panicked at t.cc:1:2:\nbad state\n"},
      {"other", [] { throw 3; },
       "thread 'catcher' panicked at t.cc:1:2:\nexception of type `int`\n"},
      {"panic", [] { throw platform::PanicException{"reported before"}; }, ""},
  };
  for (const auto& c : cases) {
    const std::string got = reported_on("catcher", [&] {
      try {
        c.raise();
      } catch (...) {
        platform::report_caught(platform::current_payload(), &at);
      }
    });
    if (backtrace_requested() && *c.want != '\0') {
      VELT_ASSERT(got.starts_with(c.want), "case {}", c.name);
    } else {
      VELT_ASSERT_EQ(got, c.want, "case {}", c.name);
    }
  }
}

// The hook is process-wide and other tests may panic meanwhile: the recording hook keeps
// only this thread's reports and passes everything on to the hook it replaced.
VELT_TEST(panic::hook_replace_and_take) {
  const std::thread::id me = std::this_thread::get_id();
  std::string seen;
  bool seen_can_unwind = true;
  platform::PanicHook previous = platform::take_hook();
  platform::set_hook([&, previous](const platform::PanicInfo& info) {
    if (std::this_thread::get_id() == me) {
      seen = std::string(info.message);
      seen_can_unwind = info.can_unwind;
      return;
    }
    previous(info);
  });
  platform::call_hook(platform::PanicInfo{"through the hook", nullptr, false});
  platform::PanicHook mine = platform::take_hook();
  platform::set_hook(previous);
  VELT_ASSERT_EQ(seen, "through the hook");
  VELT_ASSERT(!seen_can_unwind);
  VELT_ASSERT(static_cast<bool>(mine));
}

VELT_TEST(panic::thread_names) {
  std::string named, unnamed;
  auto a = platform::Thread::spawn("a name longer than fifteen bytes",
                                   [&] { named = platform::current_thread_name(); });
  auto b = platform::Thread::spawn("", [&] { unnamed = platform::current_thread_name(); });
  VELT_ASSERT(a.ok() && b.ok());
  a->join();
  b->join();
  VELT_ASSERT_EQ(named, "a name longer than fifteen bytes");
  VELT_ASSERT_EQ(unnamed, "<unnamed>");
}
