#include "src/term/terminfo/parser/compiled.h"

#include <velt/test.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/term/terminfo/compiled_entry.h"

namespace {

namespace terminfo = velt::term::terminfo;
using terminfo::parser::ByteReader;
using velt::testing::Entry;

velt::Result<terminfo::TermInfo, std::string> parse(const std::string& bytes) {
  ByteReader in(bytes);
  return terminfo::parser::parse(in);
}

std::string error_of(const Entry& e) {
  velt::Result<terminfo::TermInfo, std::string> r = parse(e.bytes());
  return r.ok() ? "parsed" : r.error();
}

}  // namespace

VELT_TEST(terminfo::compiled::reads_an_entry) {
  velt::Result<terminfo::TermInfo, std::string> r = parse(velt::testing::coloured_entry().bytes());
  VELT_ASSERT(r.ok(), "{}", r.ok() ? "" : r.error());
  VELT_ASSERT(r->names == std::vector<std::string>({"vt16", "a 16-colour test terminal"}));
  VELT_ASSERT(r->booleans == decltype(r->booleans)({{"am", true}}));
  VELT_ASSERT(r->numbers == decltype(r->numbers)({{"cols", 80}, {"lines", 24}, {"colors", 16}}));
  VELT_ASSERT(r->strings ==
              decltype(r->strings)(
                  {{"sgr0", "\x1b[m"}, {"setaf", "\x1b[3%p1%dm"}, {"setab", "\x1b[4%p1%dm"}}));
}

VELT_TEST(terminfo::compiled::header_counts) {
  const struct {
    const char* what;
    std::uint16_t raw;
    std::string want;
  } cases[] = {
      {"names size", 0xFFFF, "incompatible file: names field must be at least 1 byte wide"},
      {"names size", 0, "incompatible file: names field must be at least 1 byte wide"},
      {"names size", 0xFFFE, "incompatible file: length fields must be  >= -1"},
      {"names size", 0x8000, "incompatible file: length fields must be  >= -1"},
      {"booleans", 0xFFFF, "parsed"},  // -1: no booleans
      {"booleans", 0xFFFE, "incompatible file: length fields must be  >= -1"},
      {"booleans", 44, "end of file"},
      {"booleans", 45, "incompatible file: more booleans than expected"},
      {"numbers", 0xFFFF, "parsed"},
      {"numbers", 0xFFFE, "incompatible file: length fields must be  >= -1"},
      {"numbers", 40, "incompatible file: more numbers than expected"},
      {"string offsets", 0xFFFF, "parsed"},
      {"string offsets", 0xFFFE, "incompatible file: length fields must be  >= -1"},
      {"string offsets", 415, "incompatible file: more string offsets than expected"},
      {"string table", 0xFFFF, "invalid file: missing NUL in string_table"},  // -1: empty
      {"string table", 0xFFFE, "incompatible file: length fields must be  >= -1"},
  };
  for (const auto& c : cases) {
    Entry e;
    e.offsets = {0};  // one string at offset 0: "x"
    e.table = std::string("x\0", 2);
    std::string what = c.what;
    if (what == "names size") e.names_size = c.raw;
    if (what == "booleans") e.bool_count = c.raw;
    if (what == "numbers") e.number_count = c.raw;
    if (what == "string offsets") e.offset_count = c.raw;
    if (what == "string table") e.table_size = c.raw;
    VELT_ASSERT_EQ(error_of(e), c.want, "{} count {}", c.what, c.raw);
  }
}

// The counts are checked in file order: the first bad one names the fault.
VELT_TEST(terminfo::compiled::magic_and_check_order) {
  Entry e;
  e.magic = 0x1234;
  VELT_ASSERT_EQ(error_of(e), "invalid magic number, found 11064");
  e.magic = 0x011A;
  e.bool_count = 0xFFFE;
  e.names_size = 0;
  VELT_ASSERT_EQ(error_of(e), "incompatible file: length fields must be  >= -1");
  e.bool_count = 45;
  VELT_ASSERT_EQ(error_of(e), "incompatible file: names field must be at least 1 byte wide");
  e.names_size = std::nullopt;
  e.number_count = 40;
  VELT_ASSERT_EQ(error_of(e), "incompatible file: more booleans than expected");
}

VELT_TEST(terminfo::compiled::names) {
  const struct {
    std::string names;
    std::optional<std::uint16_t> names_size;
    std::vector<std::string> want;
    std::string error;
  } cases[] = {
      {"xterm|xterm-debian|X11 terminal",
       std::nullopt,
       {"xterm", "xterm-debian", "X11 terminal"},
       ""},
      {"a||b|", std::nullopt, {"a", "", "b", ""}, ""},  // empty names stay
      {"", std::nullopt, {""}, ""},                     // names size 1: just the NUL
      {"caf\xc3\xa9", std::nullopt, {"caf\xc3\xa9"}, ""},
      {"bad\xff", std::nullopt, {}, "input not utf-8"},
      {"abc", 3, {}, "incompatible file: missing null terminator for names section"},
  };
  for (const auto& c : cases) {
    Entry e;
    e.names = c.names;
    e.names_size = c.names_size;
    velt::Result<terminfo::TermInfo, std::string> r = parse(e.bytes());
    VELT_ASSERT_EQ(r.ok() ? std::string() : r.error(), c.error, "names {}",
                   velt::test::detail::quoted(c.names));
    if (r.ok()) VELT_ASSERT(r->names == c.want, "names {}", velt::test::detail::quoted(c.names));
  }
}

// Numbers start at an even offset: one byte is skipped after the booleans when the names and
// the booleans together take an odd number of bytes.
VELT_TEST(terminfo::compiled::alignment_and_numbers) {
  const struct {
    std::string names;  // with its NUL, names size is one more
    std::vector<std::uint8_t> booleans;
    std::uint16_t magic;
    std::vector<std::uint32_t> numbers;
    std::map<std::string, std::uint32_t, std::less<>> want;
  } cases[] = {
      {"abcdefgh", {1, 2, 0, 1}, 0x011A, {7}, {{"cols", 7}}},   // 9 + 4: one byte skipped
      {"abcdefghi", {1, 2, 0, 1}, 0x011A, {7}, {{"cols", 7}}},  // 10 + 4: none
      {"abcdefgh", {}, 0x011A, {7}, {{"cols", 7}}},             // 9 + 0
      {"x", {}, 0x011A, {0xFFFF, 0xFFFE, 0, 0x7FFF}, {{"it", 65534}, {"lines", 0}, {"lm", 32767}}},
      {"x",
       {},
       0x021E,
       {0xFFFFFFFF, 0xFFFF, 0x10000, 0xFFFFFFFE},
       {{"it", 65535}, {"lines", 65536}, {"lm", 4294967294}}},
      {"x", {}, 0x011A, std::vector<std::uint32_t>(39, 1), {}},  // all 39, checked below
  };
  for (const auto& c : cases) {
    Entry e;
    e.names = c.names;
    e.booleans = c.booleans;
    e.magic = c.magic;
    e.numbers = c.numbers;
    velt::Result<terminfo::TermInfo, std::string> r = parse(e.bytes());
    VELT_ASSERT(r.ok(), "names {} magic {}: {}", c.names, c.magic, r.ok() ? "" : r.error());
    if (c.numbers.size() == 39) {
      VELT_ASSERT_EQ(r->numbers.size(), 39u);
      VELT_ASSERT_EQ(r->numbers.count("colors"), 1u);
      VELT_ASSERT_EQ(r->numbers.count("UTug"), 1u);
      VELT_ASSERT_EQ(r->numbers.count("OTkn"), 1u);
      continue;
    }
    VELT_ASSERT(r->numbers == c.want, "names {} magic {}", c.names, c.magic);
  }
}

VELT_TEST(terminfo::compiled::booleans) {
  Entry e;
  e.booleans.assign(44, 0);
  e.booleans[0] = 1;   // bw
  e.booleans[1] = 2;   // am: only 1 sets a capability
  e.booleans[11] = 1;  // db
  e.booleans[12] = 0xFF;
  e.booleans[43] = 1;  // OTxr
  velt::Result<terminfo::TermInfo, std::string> r = parse(e.bytes());
  VELT_ASSERT(r.ok());
  VELT_ASSERT(r->booleans == decltype(r->booleans)({{"bw", true}, {"db", true}, {"OTxr", true}}));
}

VELT_TEST(terminfo::compiled::strings) {
  const struct {
    std::size_t position;
    std::uint16_t offset;
    std::optional<std::pair<std::string, std::string>> want;
  } cases[] = {
      {0, 0, {{"cbt", "abc"}}},
      {0, 2, {{"cbt", "c"}}},
      {0, 3, {{"cbt", ""}}},       // pointing at a NUL
      {0, 0xFFFE, {{"cbt", ""}}},  // cancelled: present and empty
      {0, 0xFFFF, std::nullopt},   // absent
      {1, 4, {{"bell", "de"}}},    // no short name of its own: the long one
      {6, 4, {{"clr_eol", "de"}}},
      {39, 4, {{"sgr0", "de"}}},
      {59, 4, {{"key_dc", "de"}}},
      {296, 4, {{"user9", "de"}}},  // the last of the long-name positions
      {297, 4, {{"op", "de"}}},
      {359, 4, {{"setaf", "de"}}},
      {397, 4, {{"OTbs", "de"}}},
      {413, 4, {{"box1", "de"}}},
  };
  for (const auto& c : cases) {
    Entry e;
    e.offsets.assign(c.position + 1, 0xFFFF);
    e.offsets[c.position] = c.offset;
    e.table = std::string("abc\0de\0", 7);
    velt::Result<terminfo::TermInfo, std::string> r = parse(e.bytes());
    VELT_ASSERT(r.ok(), "position {} offset {}", c.position, c.offset);
    VELT_ASSERT_EQ(r->strings.size(), c.want ? 1u : 0u, "position {}", c.position);
    if (c.want) {
      auto found = r->strings.find(c.want->first);
      VELT_ASSERT(found != r->strings.end(), "position {}: no {}", c.position, c.want->first);
      VELT_ASSERT_EQ(found->second, c.want->second, "position {}", c.position);
    }
  }
}

// A string must end inside the table the header declares; nothing beyond it is read.
VELT_TEST(terminfo::compiled::string_table_bounds) {
  const struct {
    std::uint16_t offset;
    std::string table;
    std::optional<std::uint16_t> table_size;
    std::string trailer;
    std::string want;
  } cases[] = {
      {0, std::string("ab\0", 3), std::nullopt, "", "parsed"},
      {0, "ab", std::nullopt, std::string("\0", 1), "invalid file: missing NUL in string_table"},
      {3, std::string("ab\0", 3), std::nullopt, "", "invalid file: missing NUL in string_table"},
      {4, std::string("ab\0", 3), std::nullopt, "",
       "invalid file: string offset beyond string_table"},
      {0xFFFD, std::string("ab\0", 3), std::nullopt, "",
       "invalid file: string offset beyond string_table"},
      {0, std::string("ab\0", 3), 2, "", "invalid file: missing NUL in string_table"},
      {0, std::string("ab\0", 3), 5, "", "invalid file: string table shorter than declared"},
      {0, std::string("ab\0", 3), 0xFFFF, "", "invalid file: missing NUL in string_table"},
  };
  for (const auto& c : cases) {
    Entry e;
    e.offsets = {c.offset};
    e.table = c.table;
    e.table_size = c.table_size;
    e.trailer = c.trailer;
    VELT_ASSERT_EQ(error_of(e), c.want, "offset {} table {}", c.offset,
                   velt::test::detail::quoted(c.table));
  }
}

// A file cut anywhere fails with the text of the read that came up short, and extended
// capabilities after the string table are not read.
VELT_TEST(terminfo::compiled::truncated_and_extended) {
  Entry e = velt::testing::coloured_entry();
  std::string whole = e.bytes();
  for (std::size_t n = 0; n < whole.size(); ++n) {
    velt::Result<terminfo::TermInfo, std::string> r = parse(whole.substr(0, n));
    VELT_ASSERT(!r.ok(), "{} of {} bytes parsed", n, whole.size());
    const std::string& m = r.error();
    VELT_ASSERT(m == "end of file" || m == "failed to fill whole buffer" ||
                    m == "invalid file: string table shorter than declared",
                "{} bytes: {}", n, m);
  }
  e.trailer = "\x01\x00\x01\x00garbage of the extended section";
  VELT_ASSERT(parse(e.bytes()).ok());
}
