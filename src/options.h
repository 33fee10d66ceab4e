// Run options and the enumerations of the run configuration.
#pragma once

namespace velt {

enum class RunIgnored { Yes, No, Only };
enum class OutputFormat { Pretty, Terse, Json, Junit };
enum class ColorConfig { Auto, Always, Never };

struct RunOptions {
  bool display_output = false;  // also show the captured output of passing tests
  bool panic_abort = false;     // a failing body ends the process: isolate tests in children
};

}  // namespace velt
