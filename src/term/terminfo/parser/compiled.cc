#include "src/term/terminfo/parser/compiled.h"

#include <errno.h>
#include <unistd.h>

#include <array>

#include "src/platform/process.h"

namespace velt::term::terminfo::parser {
namespace {

constexpr std::size_t READ_BUFFER_SIZE = 8192;

// Capability names in the order of the compiled format.
constexpr std::array<std::string_view, 44> BOOL_NAMES = {
    "bw",   "am",   "xsb",   "xhp",  "xenl",  "eo",    "gn",   "hc",   "km",   "hs",   "in",
    "db",   "da",   "mir",   "msgr", "os",    "eslok", "xt",   "hz",   "ul",   "xon",  "nxon",
    "mc5i", "chts", "nrrmc", "npc",  "ndscr", "ccc",   "bce",  "hls",  "xhpa", "crxm", "daisy",
    "xvpa", "sam",  "cpix",  "lpix", "OTbs",  "OTns",  "OTnc", "OTMT", "OTNL", "OTpt", "OTxr"};

constexpr std::array<std::string_view, 39> NUMBER_NAMES = {
    "cols",  "it",     "lines",  "lm",     "xmc",   "pb",   "vt",    "wsl",   "nlab",  "lh",
    "lw",    "ma",     "wnum",   "colors", "pairs", "ncv",  "bufsz", "spinv", "spinh", "maddr",
    "mjump", "mcs",    "mls",    "npins",  "orc",   "orl",  "orhi",  "orvi",  "cps",   "widcs",
    "btns",  "bitwin", "bitype", "UTug",   "OTdC",  "OTdN", "OTdB",  "OTdT",  "OTkn"};

// The key each string position is stored under: its short name, except at the positions that
// have none of their own in the short-name table (1 "bell", 6 "clr_eol", 59 "key_dc", ...),
// where the long name stands in.
constexpr std::array<std::string_view, 414> STRING_KEYS = {
    "cbt",
    "bell",
    "cr",
    "csr",
    "tbc",
    "clear",
    "clr_eol",
    "clr_eos",
    "hpa",
    "cmdch",
    "cup",
    "cud1",
    "home",
    "civis",
    "cub1",
    "mrcup",
    "cnorm",
    "cuf1",
    "ll",
    "cuu1",
    "cvvis",
    "dch1",
    "dl1",
    "dsl",
    "hd",
    "smacs",
    "blink",
    "bold",
    "smcup",
    "smdc",
    "dim",
    "smir",
    "invis",
    "prot",
    "rev",
    "smso",
    "smul",
    "ech",
    "rmacs",
    "sgr0",
    "rmcup",
    "rmdc",
    "rmir",
    "rmso",
    "rmul",
    "flash",
    "ff",
    "fsl",
    "is1",
    "is2",
    "is3",
    "if",
    "ich1",
    "il1",
    "ip",
    "kbs",
    "ktbc",
    "kclr",
    "kctab",
    "key_dc",
    "key_dl",
    "kcud1",
    "key_eic",
    "key_eol",
    "key_eos",
    "key_f0",
    "key_f1",
    "key_f10",
    "key_f2",
    "key_f3",
    "key_f4",
    "key_f5",
    "key_f6",
    "key_f7",
    "key_f8",
    "key_f9",
    "khome",
    "key_ic",
    "key_il",
    "kcub1",
    "key_ll",
    "knp",
    "kpp",
    "kcuf1",
    "key_sf",
    "key_sr",
    "khts",
    "key_up",
    "rmkx",
    "smkx",
    "lab_f0",
    "lab_f1",
    "lab_f10",
    "lab_f2",
    "lab_f3",
    "lab_f4",
    "lab_f5",
    "lab_f6",
    "lab_f7",
    "lab_f8",
    "lab_f9",
    "rmm",
    "meta_on",
    "newline",
    "pad",
    "dch",
    "dl",
    "cud",
    "ich",
    "indn",
    "il",
    "cub",
    "cuf",
    "rin",
    "cuu",
    "pfkey",
    "pfloc",
    "pfx",
    "mc0",
    "mc4",
    "prtr_on",
    "rep",
    "rs1",
    "rs2",
    "rs3",
    "rf",
    "rc",
    "vpa",
    "sc",
    "ind",
    "ri",
    "sgr",
    "set_tab",
    "wind",
    "tab",
    "tsl",
    "uc",
    "hu",
    "iprog",
    "key_a1",
    "key_a3",
    "key_b2",
    "key_c1",
    "key_c3",
    "mc5p",
    "rmp",
    "acsc",
    "pln",
    "kcbt",
    "smxon",
    "rmxon",
    "smam",
    "rmam",
    "xonc",
    "xoffc",
    "ena_acs",
    "smln",
    "rmln",
    "key_beg",
    "kcan",
    "kclo",
    "kcmd",
    "kcpy",
    "kcrt",
    "key_end",
    "kent",
    "kext",
    "kfnd",
    "khlp",
    "kmrk",
    "kmsg",
    "kmov",
    "knxt",
    "kopn",
    "kopt",
    "kprv",
    "kprt",
    "krdo",
    "kref",
    "krfr",
    "krpl",
    "krst",
    "kres",
    "ksav",
    "kspd",
    "kund",
    "kBEG",
    "kCAN",
    "kCMD",
    "kCPY",
    "kCRT",
    "key_sdc",
    "key_sdl",
    "kslt",
    "kEND",
    "kEOL",
    "kEXT",
    "kFND",
    "kHLP",
    "kHOM",
    "key_sic",
    "kLFT",
    "kMSG",
    "kMOV",
    "kNXT",
    "kOPT",
    "kPRV",
    "kPRT",
    "kRDO",
    "kRPL",
    "kRIT",
    "kRES",
    "kSAV",
    "kSPD",
    "kUND",
    "rfi",
    "key_f11",
    "key_f12",
    "key_f13",
    "key_f14",
    "key_f15",
    "key_f16",
    "key_f17",
    "key_f18",
    "key_f19",
    "key_f20",
    "key_f21",
    "key_f22",
    "key_f23",
    "key_f24",
    "key_f25",
    "key_f26",
    "key_f27",
    "key_f28",
    "key_f29",
    "key_f30",
    "key_f31",
    "key_f32",
    "key_f33",
    "key_f34",
    "key_f35",
    "key_f36",
    "key_f37",
    "key_f38",
    "key_f39",
    "key_f40",
    "key_f41",
    "key_f42",
    "key_f43",
    "key_f44",
    "key_f45",
    "key_f46",
    "key_f47",
    "key_f48",
    "key_f49",
    "key_f50",
    "key_f51",
    "key_f52",
    "key_f53",
    "key_f54",
    "key_f55",
    "key_f56",
    "key_f57",
    "key_f58",
    "key_f59",
    "key_f60",
    "key_f61",
    "key_f62",
    "key_f63",
    "clr_bol",
    "clear_margins",
    "set_left_margin",
    "set_right_margin",
    "label_format",
    "set_clock",
    "dclk",
    "rmclk",
    "cwin",
    "wingo",
    "hangup",
    "dial",
    "qdial",
    "tone",
    "pulse",
    "hook",
    "pause",
    "wait",
    "user0",
    "user1",
    "user2",
    "user3",
    "user4",
    "user5",
    "user6",
    "user7",
    "user8",
    "user9",
    "op",
    "oc",
    "initc",
    "initp",
    "scp",
    "setf",
    "setb",
    "cpi",
    "lpi",
    "chr",
    "cvr",
    "defc",
    "swidm",
    "sdrfq",
    "sitm",
    "slm",
    "smicm",
    "snlq",
    "snrmq",
    "sshm",
    "ssubm",
    "ssupm",
    "sum",
    "rwidm",
    "ritm",
    "rlm",
    "rmicm",
    "rshm",
    "rsubm",
    "rsupm",
    "rum",
    "mhpa",
    "mcud1",
    "mcub1",
    "mcuf1",
    "mvpa",
    "mcuu1",
    "porder",
    "mcud",
    "mcub",
    "mcuf",
    "mcuu",
    "scs",
    "smgb",
    "smgbp",
    "smglp",
    "smgrp",
    "smgt",
    "smgtp",
    "sbim",
    "scsd",
    "rbim",
    "rcsd",
    "subcs",
    "supcs",
    "docr",
    "zerom",
    "csnm",
    "kmous",
    "minfo",
    "reqmp",
    "getm",
    "setaf",
    "setab",
    "pfxl",
    "devt",
    "csin",
    "s0ds",
    "s1ds",
    "s2ds",
    "s3ds",
    "smglr",
    "smgtb",
    "birep",
    "binel",
    "bicr",
    "colornm",
    "defbi",
    "endbi",
    "setcolor",
    "slines",
    "dispc",
    "smpch",
    "rmpch",
    "smsc",
    "rmsc",
    "pctrm",
    "scesc",
    "scesa",
    "ehhlm",
    "elhlm",
    "elohlm",
    "erhlm",
    "ethlm",
    "evhlm",
    "sgr1",
    "slength",
    "OTi2",
    "OTrs",
    "OTnl",
    "OTbs",
    "OTko",
    "OTma",
    "OTG2",
    "OTG3",
    "OTG1",
    "OTG4",
    "OTGR",
    "OTGL",
    "OTGU",
    "OTGD",
    "OTGH",
    "OTGV",
    "OTGC",
    "meml",
    "memu",
    "box1",
};

constexpr std::uint16_t MAGIC_16BIT = 0x011A;  // octal 0432: numbers are 16 bits wide
constexpr std::uint16_t MAGIC_32BIT = 0x021E;  // octal 01036: numbers are 32 bits wide
constexpr std::uint16_t ABSENT = 0xFFFF;
constexpr std::uint16_t CANCELLED = 0xFFFE;

IoError short_read() { return IoError{0, "failed to fill whole buffer"}; }

// A header count: -1 marks an absent section, anything lower is corrupt.
Result<std::size_t, std::string> read_count(ByteReader& in) {
  IoResult<std::uint16_t> raw = in.read_le_u16();
  if (!raw.ok()) return Err{std::move(raw).error().message};
  auto n = static_cast<std::int16_t>(*raw);
  if (n < -1) return Err{std::string("incompatible file: length fields must be  >= -1")};
  return n == -1 ? std::size_t{0} : static_cast<std::size_t>(n);
}

std::string octal(std::uint16_t v) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + (v & 7)));
    v >>= 3;
  } while (v != 0);
  return digits;
}

}  // namespace

ByteReader::ByteReader(int file) : fd(file), buffer(new char[READ_BUFFER_SIZE]) {}

IoResult<bool> ByteReader::fill() {
  if (fd < 0) return false;
  for (;;) {
    ssize_t n = ::read(fd, buffer.get(), READ_BUFFER_SIZE);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Err{last_os_error()};
    }
    window = std::string_view(buffer.get(), static_cast<std::size_t>(n));
    return n > 0;
  }
}

IoResult<std::uint8_t> ByteReader::read_byte() {
  if (window.empty()) {
    IoResult<bool> more = fill();
    if (!more.ok()) return Err{std::move(more).error()};
    if (!*more) return Err{IoError{0, "end of file"}};
  }
  auto b = static_cast<std::uint8_t>(window.front());
  window.remove_prefix(1);
  return b;
}

IoResult<void> ByteReader::read_up_to(std::string& dst, std::size_t n) {
  while (n > 0) {
    if (window.empty()) {
      IoResult<bool> more = fill();
      if (!more.ok()) return Err{std::move(more).error()};
      if (!*more) return {};
    }
    std::size_t take = std::min(n, window.size());
    dst.append(window.substr(0, take));
    window.remove_prefix(take);
    n -= take;
  }
  return {};
}

IoResult<void> ByteReader::read_exact(std::string& dst, std::size_t n) {
  std::size_t before = dst.size();
  VELT_TRY(read_up_to(dst, n));
  if (dst.size() - before < n) return Err{short_read()};
  return {};
}

IoResult<std::uint16_t> ByteReader::read_le_u16() {
  std::string b;
  VELT_TRY(read_exact(b, 2));
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[0]) |
                                    static_cast<std::uint8_t>(b[1]) << 8);
}

IoResult<std::uint32_t> ByteReader::read_le_u32() {
  std::string b;
  VELT_TRY(read_exact(b, 4));
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = v << 8 | static_cast<std::uint8_t>(b[static_cast<std::size_t>(i)]);
  return v;
}

Result<TermInfo, std::string> parse(ByteReader& in) {
  IoResult<std::uint16_t> magic = in.read_le_u16();
  if (!magic.ok()) return Err{std::move(magic).error().message};
  if (*magic != MAGIC_16BIT && *magic != MAGIC_32BIT) {
    return Err{"invalid magic number, found " + octal(*magic)};
  }
  bool wide_numbers = *magic == MAGIC_32BIT;

  std::array<std::size_t, 5> counts{};
  for (std::size_t& count : counts) {
    Result<std::size_t, std::string> n = read_count(in);
    if (!n.ok()) return Err{std::move(n).error()};
    count = *n;
  }
  auto [names_size, bool_count, number_count, string_count, table_size] = counts;
  if (names_size == 0) {
    return Err{std::string("incompatible file: names field must be at least 1 byte wide")};
  }
  if (bool_count > BOOL_NAMES.size()) {
    return Err{std::string("incompatible file: more booleans than expected")};
  }
  if (number_count > NUMBER_NAMES.size()) {
    return Err{std::string("incompatible file: more numbers than expected")};
  }
  if (string_count > STRING_KEYS.size()) {
    return Err{std::string("incompatible file: more string offsets than expected")};
  }

  TermInfo info;
  std::string names;
  IoResult<void> read = in.read_exact(names, names_size - 1);
  if (!read.ok()) return Err{std::move(read).error().message};
  if (!platform::is_valid_utf8(names)) return Err{std::string("input not utf-8")};
  for (std::size_t start = 0;;) {
    std::size_t bar = names.find('|', start);
    info.names.push_back(names.substr(start, bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  IoResult<std::uint8_t> nul = in.read_byte();
  if (!nul.ok()) return Err{std::move(nul).error().message};
  if (*nul != 0) {
    return Err{std::string("incompatible file: missing null terminator for names section")};
  }

  for (std::size_t i = 0; i < bool_count; ++i) {
    IoResult<std::uint8_t> b = in.read_byte();
    if (!b.ok()) return Err{std::move(b).error().message};
    if (*b == 1) info.booleans.emplace(BOOL_NAMES[i], true);
  }
  // Numbers are 16-bit aligned; the byte-sized names and booleans may leave the offset odd.
  if ((names_size + bool_count) % 2 == 1) {
    IoResult<std::uint8_t> pad = in.read_byte();
    if (!pad.ok()) return Err{std::move(pad).error().message};
  }

  for (std::size_t i = 0; i < number_count; ++i) {
    if (wide_numbers) {
      IoResult<std::uint32_t> n = in.read_le_u32();
      if (!n.ok()) return Err{std::move(n).error().message};
      if (*n != 0xFFFFFFFF) info.numbers.emplace(NUMBER_NAMES[i], *n);
    } else {
      IoResult<std::uint16_t> n = in.read_le_u16();
      if (!n.ok()) return Err{std::move(n).error().message};
      if (*n != ABSENT) info.numbers.emplace(NUMBER_NAMES[i], *n);
    }
  }

  if (string_count == 0) return info;
  std::array<std::uint16_t, STRING_KEYS.size()> offsets{};
  for (std::size_t i = 0; i < string_count; ++i) {
    IoResult<std::uint16_t> off = in.read_le_u16();
    if (!off.ok()) return Err{std::move(off).error().message};
    offsets[i] = *off;
  }
  std::string table;
  read = in.read_up_to(table, table_size);
  if (!read.ok()) return Err{std::move(read).error().message};
  // An offset into missing bytes would point at nothing defined: the file is refused rather
  // than read past what it declares.
  if (table.size() < table_size) {
    return Err{std::string("invalid file: string table shorter than declared")};
  }
  for (std::size_t i = 0; i < string_count; ++i) {
    if (offsets[i] == ABSENT) continue;
    if (offsets[i] == CANCELLED) {
      info.strings.emplace(STRING_KEYS[i], std::string());
      continue;
    }
    if (offsets[i] > table.size()) {
      return Err{std::string("invalid file: string offset beyond string_table")};
    }
    std::string_view rest = std::string_view(table).substr(offsets[i]);
    std::size_t end = rest.find('\0');
    if (end == std::string_view::npos) {
      return Err{std::string("invalid file: missing NUL in string_table")};
    }
    info.strings.emplace(STRING_KEYS[i], std::string(rest.substr(0, end)));
  }
  return info;
}

}  // namespace velt::term::terminfo::parser
