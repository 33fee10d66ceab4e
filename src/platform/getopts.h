// A small command-line option parser: a table of option groups, parsing of an argument list
// into options, values and free arguments, and the option table laid out as help text.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/result.h"

namespace velt::platform {

enum class HasValue { No, Required, Optional };
enum class Occurrence { AtMostOnce, Repeatable, Required };

// One option as registered: "-h, --help", "--skip FILTER", "-Z unstable-options".
struct OptionGroup {
  std::string short_name;  // empty or one character
  std::string long_name;   // empty or at least two bytes
  std::string hint;        // the value's placeholder in the help text
  std::string description;
  HasValue has_value = HasValue::No;
  Occurrence occurrence = Occurrence::AtMostOnce;

  // How failures name the option once the whole command line has been read: "help", "Z".
  const std::string& identifying_name() const { return long_name.empty() ? short_name : long_name; }
};

struct ParseError {
  enum Kind {
    UnrecognizedOption,
    ArgumentMissing,
    UnexpectedArgument,
    OptionDuplicated,
    OptionMissing
  };
  Kind kind;
  std::string name;  // without dashes

  // "Unrecognized option: 'x'", "Argument to option 'Z' missing", ...
  std::string message() const;
};

// What a successful parse found. Options are looked up by long name or short letter; a name
// that no group registered is a programming error and panics.
class ParsedArgs {
 public:
  bool present(std::string_view name) const;
  // The first value given, if any.
  std::optional<std::string> value(std::string_view name) const;
  // Every value given, in command-line order.
  std::vector<std::string> values(std::string_view name) const;
  // The arguments that are neither options nor their values, in order.
  const std::vector<std::string>& free_args() const { return free_arguments; }

 private:
  friend class OptionParser;

  struct Names {
    std::string short_name;
    std::string long_name;
  };
  // An optional-value option given without one occurs with no value.
  using Occurrences = std::vector<std::optional<std::string>>;

  const Occurrences& occurrences_of(std::string_view name) const;

  std::vector<Names> names;              // one per group, in table order
  std::vector<Occurrences> occurrences;  // parallel to `names`
  std::vector<std::string> free_arguments;
};

class OptionParser {
 public:
  // Groups keep their registration order, which is also the order of the help rows.
  OptionParser& add(OptionGroup group);

  // Parses the arguments after the program name; the first failure ends parsing.
  Result<ParsedArgs, ParseError> parse(std::span<const std::string> args) const;

  // `usage_line`, a blank line, "Options:" and one row per group, each description wrapped to
  // 54 bytes starting in column 25. Ends with a line end.
  std::string usage(std::string_view usage_line) const;

 private:
  // Index of the group with that short letter or long name.
  std::optional<std::size_t> find_short(std::string_view letter) const;
  std::optional<std::size_t> find_long(std::string_view name) const;

  std::vector<OptionGroup> groups;
};

}  // namespace velt::platform
