#include "src/platform/getopts.h"

#include <algorithm>  // std::min
#include <utility>

#include "include/velt/test.h"

namespace velt::platform {

namespace {

constexpr std::size_t DESCRIPTION_COLUMN = 24;  // descriptions start in column 25
constexpr std::size_t DESCRIPTION_WIDTH = 54;

// The byte length of the UTF-8 sequence that starts with `lead`, so that "-é" is reported as
// 'é' and not as half a character. Stray continuation bytes count as one.
std::size_t utf8_length(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

// Whether an argument would be read as an option rather than as a free argument or value.
bool looks_like_option(std::string_view arg) { return arg.size() >= 2 && arg.front() == '-'; }

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Appends the description's rows: each line is refilled word by word up to the width, so the
// indentation a multi-line description carries in the source vanishes, and blank lines produce
// no row. A word wider than a row stands alone.
void append_description(std::string& out, std::string_view description) {
  const std::string row_break = "\n" + std::string(DESCRIPTION_COLUMN, ' ');
  bool first_row = true;
  std::size_t row_length = 0;
  auto end_row = [&] {
    if (row_length > 0) first_row = false;
    row_length = 0;
  };
  std::size_t i = 0;
  while (i < description.size()) {
    if (description[i] == '\n') {
      end_row();
      ++i;
      continue;
    }
    if (is_space(description[i])) {
      ++i;
      continue;
    }
    std::size_t word_end = i;
    while (word_end < description.size() && !is_space(description[word_end])) ++word_end;
    std::string_view word = description.substr(i, word_end - i);
    i = word_end;
    if (row_length > 0 && row_length + 1 + word.size() > DESCRIPTION_WIDTH) end_row();
    if (row_length > 0) {
      out += ' ';
      row_length += 1;
    } else if (!first_row) {
      out += row_break;
    }
    out += word;
    row_length += word.size();
  }
}

void append_row(std::string& out, const OptionGroup& group, bool table_has_short) {
  const std::size_t start = out.size();
  out += "    ";
  if (!group.short_name.empty()) {
    out += '-';
    out += group.short_name;
    out += group.long_name.empty() ? " " : ", ";
  } else if (table_has_short) {
    out += "    ";  // keeps long names aligned under "-h, "
  }
  if (!group.long_name.empty()) {
    out += "--";
    out += group.long_name;
    out += ' ';
  }
  if (group.has_value == HasValue::Required) {
    out += group.hint;
  } else if (group.has_value == HasValue::Optional) {
    out += '[';
    out += group.hint;
    out += ']';
  }
  const std::size_t length = out.size() - start;
  if (length < DESCRIPTION_COLUMN) {
    out.append(DESCRIPTION_COLUMN - length, ' ');
  } else {
    out += '\n';
    out.append(DESCRIPTION_COLUMN, ' ');
  }
  append_description(out, group.description);
}

}  // namespace

std::string ParseError::message() const {
  switch (kind) {
    case UnrecognizedOption:
      return "Unrecognized option: '" + name + "'";
    case ArgumentMissing:
      return "Argument to option '" + name + "' missing";
    case UnexpectedArgument:
      return "Option '" + name + "' does not take an argument";
    case OptionDuplicated:
      return "Option '" + name + "' given more than once";
    case OptionMissing:
      return "Required option '" + name + "' missing";
  }
  return {};
}

const ParsedArgs::Occurrences& ParsedArgs::occurrences_of(std::string_view name) const {
  for (std::size_t i = 0; !name.empty() && i < names.size(); ++i) {
    if (names[i].short_name == name || names[i].long_name == name) return occurrences[i];
  }
  // A misspelt name in the caller would otherwise read as "not given" forever.
  test::panic("no option named `" + std::string(name) + "` is registered");
}

bool ParsedArgs::present(std::string_view name) const { return !occurrences_of(name).empty(); }

std::optional<std::string> ParsedArgs::value(std::string_view name) const {
  for (const std::optional<std::string>& v : occurrences_of(name)) {
    if (v) return v;
  }
  return std::nullopt;
}

std::vector<std::string> ParsedArgs::values(std::string_view name) const {
  std::vector<std::string> out;
  for (const std::optional<std::string>& v : occurrences_of(name)) {
    if (v) out.push_back(*v);
  }
  return out;
}

OptionParser& OptionParser::add(OptionGroup group) {
  const bool short_ok =
      group.short_name.empty() ||
      utf8_length(static_cast<unsigned char>(group.short_name.front())) == group.short_name.size();
  const bool long_ok = group.long_name.empty() || group.long_name.size() >= 2;
  // A one-byte long name would be unreachable: "--x" means the short option x.
  if (!short_ok || !long_ok || (group.short_name.empty() && group.long_name.empty())) {
    test::panic(
        "option group needs a one-character short name or a long name of two or more "
        "bytes: `" +
        group.short_name + "`, `" + group.long_name + "`");
  }
  groups.push_back(std::move(group));
  return *this;
}

std::optional<std::size_t> OptionParser::find_short(std::string_view letter) const {
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (groups[i].short_name == letter) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> OptionParser::find_long(std::string_view name) const {
  if (name.empty()) return std::nullopt;  // "--=x" names no option, not one without a long name
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (groups[i].long_name == name) return i;
  }
  return std::nullopt;
}

Result<ParsedArgs, ParseError> OptionParser::parse(std::span<const std::string> args) const {
  ParsedArgs parsed;
  parsed.names.reserve(groups.size());
  for (const OptionGroup& g : groups) parsed.names.push_back({g.short_name, g.long_name});
  parsed.occurrences.resize(groups.size());

  // A value-taking option without an attached value takes the next argument, whatever it looks
  // like; an optional value is only taken when the next argument is not itself an option.
  std::size_t i = 0;
  auto take_next = [&](std::size_t group, std::string_view written) -> Result<void, ParseError> {
    const bool has_next = i + 1 < args.size();
    if (groups[group].has_value == HasValue::Required) {
      if (!has_next) return Err{ParseError{ParseError::ArgumentMissing, std::string(written)}};
      parsed.occurrences[group].emplace_back(args[++i]);
    } else if (has_next && !looks_like_option(args[i + 1])) {
      parsed.occurrences[group].emplace_back(args[++i]);
    } else {
      parsed.occurrences[group].emplace_back(std::nullopt);
    }
    return {};
  };

  for (; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!looks_like_option(arg)) {
      parsed.free_arguments.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      parsed.free_arguments.insert(parsed.free_arguments.end(), args.begin() + i + 1, args.end());
      break;
    }
    if (arg[1] == '-') {
      std::string_view name = arg.substr(2);
      std::optional<std::string_view> attached;
      if (std::size_t eq = name.find('='); eq != std::string_view::npos) {
        attached = name.substr(eq + 1);
        name = name.substr(0, eq);
      }
      // "--h" is "-h" and "--Z=unstable-options" is "-Z unstable-options".
      std::optional<std::size_t> group = name.size() == 1 ? find_short(name) : find_long(name);
      if (!group) return Err{ParseError{ParseError::UnrecognizedOption, std::string(name)}};
      if (attached) {
        if (groups[*group].has_value == HasValue::No) {
          return Err{ParseError{ParseError::UnexpectedArgument, std::string(name)}};
        }
        parsed.occurrences[*group].emplace_back(std::string(*attached));
      } else if (groups[*group].has_value == HasValue::No) {
        parsed.occurrences[*group].emplace_back(std::nullopt);
      } else {
        VELT_TRY(take_next(*group, name));
      }
      continue;
    }
    // A cluster of short options: "-qh" is -q then -h; the first one that takes a value ends
    // the cluster and gets the rest as its value ("-Zunstable-options").
    std::size_t pos = 1;
    while (pos < arg.size()) {
      const std::size_t length =
          std::min(utf8_length(static_cast<unsigned char>(arg[pos])), arg.size() - pos);
      const std::string_view letter = arg.substr(pos, length);
      pos += length;
      std::optional<std::size_t> group = find_short(letter);
      if (!group) return Err{ParseError{ParseError::UnrecognizedOption, std::string(letter)}};
      if (groups[*group].has_value == HasValue::No) {
        parsed.occurrences[*group].emplace_back(std::nullopt);
        continue;
      }
      if (pos < arg.size()) {
        parsed.occurrences[*group].emplace_back(std::string(arg.substr(pos)));
      } else {
        VELT_TRY(take_next(*group, letter));
      }
      break;
    }
  }

  // Checked only after the whole line was read, so an unknown option or a missing value
  // anywhere is reported before any repetition.
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const std::size_t count = parsed.occurrences[g].size();
    if (count == 0 && groups[g].occurrence == Occurrence::Required) {
      return Err{ParseError{ParseError::OptionMissing, groups[g].identifying_name()}};
    }
    if (count > 1 && groups[g].occurrence != Occurrence::Repeatable) {
      return Err{ParseError{ParseError::OptionDuplicated, groups[g].identifying_name()}};
    }
  }
  return parsed;
}

std::string OptionParser::usage(std::string_view usage_line) const {
  bool table_has_short = false;
  for (const OptionGroup& g : groups) table_has_short |= !g.short_name.empty();

  std::string out(usage_line);
  out += "\n\nOptions:\n";
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (g > 0) out += '\n';
    append_row(out, groups[g], table_has_short);
  }
  out += '\n';
  return out;
}

}  // namespace velt::platform
