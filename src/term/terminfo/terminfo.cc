#include "src/term/terminfo/terminfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "src/platform/process.h"
#include "src/term/terminfo/parser/compiled.h"

namespace velt::term::terminfo {
namespace {

// Closes the descriptor however parsing ends.
struct FdGuard {
  int fd;
  ~FdGuard() { ::close(fd); }
};

}  // namespace

TermEnv TermEnv::from_process() {
  TermEnv env;
  env.term = platform::env_var("TERM");
  env.msyscon = platform::env_var("MSYSCON");
  env.search = SearchEnv::from_process();
  return env;
}

Result<TermInfo, Error> TermInfo::from_env(const TermEnv& env) {
  // Without a terminal name there is nothing to colour for, not even under mintty.
  if (!env.term) return Err{Error{TermUnset{}}};
  Result<TermInfo, Error> found = from_name(*env.term, env.search);
  // mintty sets TERM to names a Windows machine may have no database for.
  if (!found.ok() && env.msyscon == "mintty.exe") return msys_terminfo();
  return found;
}

Result<TermInfo, Error> TermInfo::from_name(std::string_view name, const SearchEnv& env) {
  std::optional<std::string> path = get_dbpath_for_term(name, env);
  if (!path) return Err{Error{IoError{0, "terminfo file not found"}}};
  return from_path(*path);
}

Result<TermInfo, Error> TermInfo::from_path(const std::string& path) {
  // Not blocking on open, and accepting only regular files, keeps a TERM that names a FIFO or
  // a device from stalling or feeding the run.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Err{Error{last_os_error()}};
  FdGuard guard{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) return Err{Error{last_os_error()}};
  if (!S_ISREG(st.st_mode)) return Err{Error{IoError{0, "not a regular file"}}};
  parser::ByteReader in(fd);
  Result<TermInfo, std::string> parsed = parser::parse(in);
  if (!parsed.ok()) return Err{Error{MalformedTerminfo{std::move(parsed).error()}}};
  return std::move(parsed).value();
}

TermInfo msys_terminfo() {
  TermInfo info;
  info.names = {"cygwin"};
  info.numbers = {{"colors", 8}};
  info.strings = {{"sgr0", "\x1b[0m"},
                  {"bold", "\x1b[1m"},
                  {"setaf", "\x1b[3%p1%dm"},
                  {"setab", "\x1b[4%p1%dm"}};
  return info;
}

std::optional<TerminfoTerminal> TerminfoTerminal::from_env(std::unique_ptr<ByteSink> out,
                                                           const TermEnv& env) {
  Result<TermInfo, Error> info = TermInfo::from_env(env);
  if (!info.ok()) return std::nullopt;
  return TerminfoTerminal(std::move(out), std::move(info).value());
}

TerminfoTerminal::TerminfoTerminal(std::unique_ptr<ByteSink> sink, TermInfo entry)
    : out(std::move(sink)), info(std::move(entry)), colors(0) {
  // A foreground colour is only trusted when the entry can set the background too.
  if (info.strings.contains("setaf") && info.strings.contains("setab")) {
    if (auto n = info.numbers.find("colors"); n != info.numbers.end()) colors = n->second;
  }
}

IoResult<std::size_t> TerminfoTerminal::write(std::string_view bytes) { return out->write(bytes); }

IoResult<void> TerminfoTerminal::flush() { return out->flush(); }

IoResult<bool> TerminfoTerminal::fg(Color color) {
  // A bright colour the terminal lacks falls back to its plain variant: 10 (bright green)
  // becomes 2 on an 8-colour terminal.
  if (color >= 8 && color < 16 && colors <= color) color -= 8;
  if (color >= colors) return false;
  const Param param = static_cast<Param>(color);
  return apply_cap("setaf", std::span(&param, 1));
}

IoResult<bool> TerminfoTerminal::reset() {
  // sgr0 where the entry has it; sgr with no attributes, or op (original colours), else.
  for (std::string_view name : {"sgr0", "sgr", "op"}) {
    auto cap = info.strings.find(name);
    if (cap == info.strings.end()) continue;
    // A reset takes no parameters, and some entries (the tek41xx family) put bytes in it that
    // look like expansion operators but are meant literally; failing there would turn a
    // passing run into an error, so such a reset is sent as it stands.
    Variables vars;
    Result<std::string, std::string> bytes = expand(cap->second, {}, vars);
    VELT_TRY(write_all(bytes.ok() ? std::string_view(*bytes) : std::string_view(cap->second)));
    return true;
  }
  return false;
}

IoResult<bool> TerminfoTerminal::apply_cap(std::string_view name, std::span<const Param> params) {
  auto cap = info.strings.find(name);
  if (cap == info.strings.end()) return false;
  Variables vars;
  Result<std::string, std::string> bytes = expand(cap->second, params, vars);
  if (!bytes.ok()) return Err{IoError{0, std::move(bytes).error()}};
  VELT_TRY(write_all(*bytes));
  return true;
}

}  // namespace velt::term::terminfo
