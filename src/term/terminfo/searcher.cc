#include "src/term/terminfo/searcher.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/platform/process.h"

namespace velt::term::terminfo {
namespace {

constexpr std::string_view DEFAULT_DIR = "/usr/share/terminfo";

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// HOME when set, else the password database, as shells and ncurses find it.
std::optional<std::string> home_dir() {
  if (const char* home = ::getenv("HOME"); home && *home) return std::string(home);
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buf(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
  struct passwd pw;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found) {
    return std::nullopt;
  }
  if (!pw.pw_dir || !*pw.pw_dir) return std::nullopt;
  return std::string(pw.pw_dir);
}

// The first character of a UTF-8 name: its bytes and its code point.
std::pair<std::string_view, char32_t> first_char(std::string_view name) {
  auto lead = static_cast<unsigned char>(name[0]);
  std::size_t len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  len = std::min(len, name.size());  // a name that is not UTF-8 still gets a subdirectory
  char32_t code = len == 1 ? lead : lead & (0x7F >> len);
  for (std::size_t i = 1; i < len; ++i) code = code << 6 | (name[i] & 0x3F);
  return {name.substr(0, len), code};
}

std::string hex(char32_t v) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string s;
  do {
    s.insert(s.begin(), DIGITS[v & 0xF]);
    v >>= 4;
  } while (v != 0);
  return s;
}

}  // namespace

SearchEnv SearchEnv::from_process() {
  SearchEnv env;
  if (const char* dir = ::getenv("TERMINFO")) env.terminfo = dir;
  env.terminfo_dirs = platform::env_var("TERMINFO_DIRS");
  // The home directory matters only when TERMINFO_DIRS does not replace the usual list.
  if (!env.terminfo_dirs) env.home = home_dir();
  return env;
}

std::vector<std::string> search_dirs(const SearchEnv& env) {
  std::vector<std::string> dirs;
  if (env.terminfo) dirs.push_back(*env.terminfo);
  if (env.terminfo_dirs) {
    std::string_view rest = *env.terminfo_dirs;
    for (;;) {
      std::size_t colon = rest.find(':');
      std::string_view piece = rest.substr(0, colon);
      dirs.emplace_back(piece.empty() ? DEFAULT_DIR : piece);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
    return dirs;
  }
  if (env.home) dirs.push_back(*env.home + "/.terminfo");
  for (const char* dir :
       {"/etc/terminfo", "/lib/terminfo", "/usr/share/terminfo", "/boot/system/data/terminfo"}) {
    dirs.emplace_back(dir);
  }
  return dirs;
}

std::optional<std::string> get_dbpath_for_term(std::string_view name, const SearchEnv& env) {
  if (name.empty()) return std::nullopt;
  auto [first, code] = first_char(name);
  for (const std::string& dir : search_dirs(env)) {
    if (!exists(dir)) continue;
    std::string by_char = dir + "/" + std::string(first) + "/" + std::string(name);
    if (exists(by_char)) return by_char;
    // Databases on case-insensitive file systems file names under the hexadecimal code.
    std::string by_hex = dir + "/" + hex(code) + "/" + std::string(name);
    if (exists(by_hex)) return by_hex;
  }
  return std::nullopt;
}

}  // namespace velt::term::terminfo
