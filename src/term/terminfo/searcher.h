// Finds the compiled terminfo file of a terminal name in the directories of the database.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velt::term::terminfo {

// The environment the search depends on, read once so that it can also be given explicitly.
struct SearchEnv {
  std::optional<std::string> terminfo;       // TERMINFO, raw bytes
  std::optional<std::string> terminfo_dirs;  // TERMINFO_DIRS, only when valid UTF-8
  std::optional<std::string> home;           // the user's home directory

  static SearchEnv from_process();
};

// The directories to search, in order: TERMINFO, then either the pieces of TERMINFO_DIRS
// (an empty piece stands for /usr/share/terminfo) or ~/.terminfo and the system directories.
std::vector<std::string> search_dirs(const SearchEnv& env);

// The path of the first file for `name` in those directories, filed under its first character
// ("x/xterm") or that character's hexadecimal code ("78/xterm").
std::optional<std::string> get_dbpath_for_term(std::string_view name, const SearchEnv& env);

}  // namespace velt::term::terminfo
