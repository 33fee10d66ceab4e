#include "src/term/terminfo/searcher.h"

#include <velt/test.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/term/terminfo/temp_dir.h"

namespace {

namespace terminfo = velt::term::terminfo;
using Dirs = std::vector<std::string>;

}  // namespace

VELT_TEST(terminfo::searcher::search_dirs) {
  const Dirs fixed = {"/etc/terminfo", "/lib/terminfo", "/usr/share/terminfo",
                      "/boot/system/data/terminfo"};
  const struct {
    terminfo::SearchEnv env;
    Dirs want;
  } cases[] = {
      {{std::nullopt, std::nullopt, std::nullopt}, fixed},
      {{std::nullopt, std::nullopt, "/home/ada"},
       {"/home/ada/.terminfo", "/etc/terminfo", "/lib/terminfo", "/usr/share/terminfo",
        "/boot/system/data/terminfo"}},
      {{"/opt/ti", std::nullopt, "/home/ada"},
       {"/opt/ti", "/home/ada/.terminfo", "/etc/terminfo", "/lib/terminfo", "/usr/share/terminfo",
        "/boot/system/data/terminfo"}},
      // TERMINFO_DIRS replaces the home directory and the fixed list; an empty piece stands
      // for /usr/share/terminfo.
      {{std::nullopt, "", "/home/ada"}, {"/usr/share/terminfo"}},
      {{"/opt/ti", "", std::nullopt}, {"/opt/ti", "/usr/share/terminfo"}},
      {{std::nullopt, "/a:/b", std::nullopt}, {"/a", "/b"}},
      {{std::nullopt, ":/a::/b:", std::nullopt},
       {"/usr/share/terminfo", "/a", "/usr/share/terminfo", "/b", "/usr/share/terminfo"}},
  };
  for (const auto& c : cases) {
    Dirs got = terminfo::search_dirs(c.env);
    std::string shown;
    for (const std::string& d : got) shown += d + " ";
    VELT_ASSERT(got == c.want, "TERMINFO_DIRS {} gave {}", c.env.terminfo_dirs.value_or("unset"),
                shown);
  }
}

VELT_TEST(terminfo::searcher::finds_files) {
  velt::testing::TempDir tmp;
  VELT_ASSERT(!tmp.path.empty());
  const std::string& root = tmp.path;
  tmp.write("db1/78/xterm", "hex");
  tmp.write("db1/b/both", "by letter");
  tmp.write("db1/62/both", "by code");
  tmp.write("db2/x/xterm", "letter");
  tmp.write("db2/o/other", "");
  tmp.write("db2/e9/\xc3\xa9t", "");  // "ét" under the code of "é"
  tmp.write("db2/\xc3\xa9/\xc3\xa9x", "");
  const struct {
    std::optional<std::string> terminfo;
    std::string dirs;
    std::string name;
    std::optional<std::string> want;  // relative to the root
  } cases[] = {
      // A directory that does not exist is skipped; the hexadecimal subdirectory of an earlier
      // directory wins over the letter of a later one.
      {root + "/missing", root + "/db1:" + root + "/db2", "xterm", "db1/78/xterm"},
      {std::nullopt, root + "/db2:" + root + "/db1", "xterm", "db2/x/xterm"},
      {root + "/db2", root + "/db1", "xterm", "db2/x/xterm"},  // TERMINFO comes first
      {std::nullopt, root + "/db1", "both", "db1/b/both"},     // the letter before the code
      {std::nullopt, root + "/db1:" + root + "/db2", "other", "db2/o/other"},
      {std::nullopt, root + "/db2", "\xc3\xa9t", "db2/e9/\xc3\xa9t"},
      {std::nullopt, root + "/db2", "\xc3\xa9x", "db2/\xc3\xa9/\xc3\xa9x"},
      {std::nullopt, root + "/db1:" + root + "/db2", "nothere", std::nullopt},
      {std::nullopt, root + "/db1:" + root + "/db2", "", std::nullopt},
      {std::nullopt, root + "/db1", "Xterm", std::nullopt},  // names are case-sensitive
  };
  for (const auto& c : cases) {
    terminfo::SearchEnv env{c.terminfo, c.dirs, std::nullopt};
    std::optional<std::string> got = terminfo::get_dbpath_for_term(c.name, env);
    std::optional<std::string> want;
    if (c.want) want = root + "/" + *c.want;
    VELT_ASSERT_EQ(got.value_or("none"), want.value_or("none"), "name {} in {}", c.name, c.dirs);
  }
}
