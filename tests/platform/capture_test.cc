#include "src/platform/capture.h"

#include <stdio.h>
#include <velt/test.h>
#include <velt/thread.h>

#include <iostream>
#include <string>
#include <thread>

namespace {

using velt::platform::CaptureBuffer;
using velt::platform::CaptureHandle;
using velt::platform::set_output_capture;

// Gives the calling thread `buffer` as its capture until the end of the scope, then puts back
// the one it had (the running test's), even when an assertion fails inside.
struct ScopedCapture {
  explicit ScopedCapture(CaptureHandle buffer)
      : previous(
            (velt::platform::install_output_capture(), set_output_capture(std::move(buffer)))) {}
  ~ScopedCapture() { set_output_capture(std::move(previous)); }
  CaptureHandle previous;
};

struct ScopedInheritance {
  explicit ScopedInheritance(bool on) : previous(velt::platform::capture_inheritance()) {
    velt::platform::set_capture_inheritance(on);
  }
  ~ScopedInheritance() { velt::platform::set_capture_inheritance(previous); }
  bool previous;
};

template <class F>
std::string captured(F&& print) {
  auto buffer = std::make_shared<CaptureBuffer>();
  {
    ScopedCapture scope(buffer);
    print();
  }
  return buffer->contents();
}

}  // namespace

VELT_TEST(capture::streams_in_order) {
  const struct {
    const char* name;
    void (*print)();
    std::string want;
  } cases[] = {
      {"cout", [] { std::cout << "n=" << 42 << ' ' << 1.5 << std::endl; }, "n=42 1.5\n"},
      {"cerr and clog",
       [] {
         std::cerr << "e";
         std::clog << "l";
       },
       "el"},
      {"printf", [] { printf("%s-%d\n", "p", 7); }, "p-7\n"},
      {"puts and putchar",
       [] {
         puts("line");
         putchar('c');
       },
       "line\nc"},
      {"stderr",
       [] {
         fputs("f", stderr);
         fprintf(stderr, "%c", 'g');
       },
       "fg"},
      {"fwrite with a NUL", [] { fwrite("a\0b", 1, 3, stdout); }, std::string("a\0b", 3)},
      // No stream may hold bytes back: the interleaving survives exactly.
      {"mixed",
       [] {
         printf("1");
         std::cout << "2";
         fputs("3", stderr);
         std::cerr << '4';
         puts("5");
         std::cout.write("6", 1);
       },
       "12345\n6"},
  };
  for (const auto& c : cases) {
    VELT_ASSERT_EQ(captured(c.print), c.want, "case {}", c.name);
  }
}

VELT_TEST(capture::megabytes_are_kept_whole) {
  std::string chunk;
  for (int i = 0; i < 4096; ++i) chunk += static_cast<char>('a' + i % 26);
  const int rounds = 512;  // 2 MiB through each of the two paths
  const std::string got = captured([&] {
    for (int i = 0; i < rounds; ++i) {
      fwrite(chunk.data(), 1, chunk.size(), stdout);
      std::cout << chunk;
    }
  });
  VELT_ASSERT_EQ(got.size(), chunk.size() * rounds * 2);
  for (std::size_t at = 0; at < got.size(); at += chunk.size()) {
    if (got.compare(at, chunk.size(), chunk) != 0) VELT_PANIC("chunk at byte {} differs", at);
  }
}

VELT_TEST(capture::threads_started_by_a_test_share_its_buffer) {
  ScopedInheritance inherit(true);
  auto buffer = std::make_shared<CaptureBuffer>();
  {
    ScopedCapture scope(buffer);
    printf("before ");
    velt::test::thread helper([] {
      printf("helper ");
      velt::test::thread nested([] { std::cout << "nested "; });
      nested.join();
    });
    helper.join();
    printf("after");
  }
  VELT_ASSERT_EQ(buffer->contents(), "before helper nested after");
}

VELT_TEST(capture::threads_without_inheritance_print_elsewhere) {
  ScopedInheritance inherit(false);
  auto buffer = std::make_shared<CaptureBuffer>();
  auto elsewhere = std::make_shared<CaptureBuffer>();
  {
    ScopedCapture scope(buffer);
    velt::test::thread helper([&] {
      // The helper must start with no capture; it picks its own so nothing reaches the console.
      VELT_ASSERT(velt::platform::current_output_capture() == nullptr);
      ScopedCapture own(elsewhere);
      printf("helper");
    });
    helper.join();
  }
  VELT_ASSERT_EQ(buffer->contents(), "");
  VELT_ASSERT_EQ(elsewhere->contents(), "helper");
}

// Threads printing at once each keep their own bytes, none lost or strayed.
VELT_TEST(capture::concurrent_captures_stay_apart) {
  constexpr int THREADS = 8;
  constexpr int LINES = 2000;
  velt::platform::install_output_capture();
  std::shared_ptr<CaptureBuffer> buffers[THREADS];
  std::thread threads[THREADS];
  for (int t = 0; t < THREADS; ++t) {
    buffers[t] = std::make_shared<CaptureBuffer>();
    threads[t] = std::thread([t, buffer = buffers[t]] {
      set_output_capture(buffer);
      for (int i = 0; i < LINES; ++i) {
        if (i % 2 == 0) {
          printf("%d\n", t);
        } else {
          std::cerr << t << '\n';
        }
      }
      set_output_capture(nullptr);
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < THREADS; ++t) {
    std::string want;
    for (int i = 0; i < LINES; ++i) want += std::to_string(t) + "\n";
    VELT_ASSERT(buffers[t]->contents() == want, "thread {}", t);
  }
}
