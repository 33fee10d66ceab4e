// A terminal's entry in the terminfo database, and the colour-capable terminal built on it.
#pragma once

#include <cstdint>
#include <functional>  // std::less<>, so that maps are searched with string_view keys
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "src/result.h"
#include "src/term/terminal.h"
#include "src/term/terminfo/parm.h"
#include "src/term/terminfo/searcher.h"

namespace velt::term::terminfo {

// Why no entry was read. None of these reaches the user: the output is simply uncoloured.
struct TermUnset {};  // TERM is absent or not UTF-8
struct MalformedTerminfo {
  std::string message;
};
using Error = std::variant<TermUnset, MalformedTerminfo, IoError>;

// The environment an entry is chosen by.
struct TermEnv {
  std::optional<std::string> term;  // TERM, only when valid UTF-8
  std::optional<std::string> msyscon;
  SearchEnv search;

  static TermEnv from_process();
};

// One parsed entry. Capabilities are keyed by their short names ("setaf", "colors").
struct TermInfo {
  std::vector<std::string> names;  // the terminal name, its aliases, its description
  std::map<std::string, bool, std::less<>> booleans;  // only the capabilities that are set
  std::map<std::string, std::uint32_t, std::less<>> numbers;
  std::map<std::string, std::string, std::less<>> strings;  // raw, unexpanded

  // The entry of TERM; under mintty on Windows, where no database may exist, a built-in one.
  static Result<TermInfo, Error> from_env(const TermEnv& env);
  static Result<TermInfo, Error> from_name(std::string_view name, const SearchEnv& env);
  static Result<TermInfo, Error> from_path(const std::string& path);
};

// The built-in 8-colour entry used under mintty.
TermInfo msys_terminfo();

// Where a TerminfoTerminal's bytes go: standard output in the harness, memory in tests.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual IoResult<std::size_t> write(std::string_view bytes) = 0;
  virtual IoResult<void> flush() = 0;
};

// A terminal that colours through the capabilities of its terminfo entry and writes all
// other bytes straight to its sink.
class TerminfoTerminal final : public Terminal {
 public:
  // None when no usable entry is found; the reason is dropped, as colours are optional.
  static std::optional<TerminfoTerminal> from_env(std::unique_ptr<ByteSink> out,
                                                  const TermEnv& env);
  TerminfoTerminal(std::unique_ptr<ByteSink> out, TermInfo info);

  IoResult<std::size_t> write(std::string_view bytes) override;
  IoResult<void> flush() override;
  IoResult<bool> fg(Color color) override;
  IoResult<bool> reset() override;

  std::uint32_t num_colors() const { return colors; }

 private:
  // Expands the string capability `name` and writes the result; false, writing nothing, when
  // the entry lacks it. A failed expansion is an error whose text is the expansion's message.
  IoResult<bool> apply_cap(std::string_view name, std::span<const Param> params);

  std::unique_ptr<ByteSink> out;
  TermInfo info;
  std::uint32_t colors;
};

}  // namespace velt::term::terminfo
