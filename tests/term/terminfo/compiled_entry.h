// Compiled terminfo entries assembled byte by byte, for the parser and terminal tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velt::testing {

inline void put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

inline void put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
}

// A compiled entry assembled field by field; the header counts follow the contents unless
// set explicitly, so that a test can make them lie.
struct Entry {
  std::uint16_t magic = 0x011A;
  std::string names = "vt|a test terminal";
  std::vector<std::uint8_t> booleans;
  std::vector<std::uint32_t> numbers;
  std::vector<std::uint16_t> offsets;
  std::string table;
  std::optional<std::uint16_t> names_size, bool_count, number_count, offset_count, table_size;
  std::string trailer;  // what follows the string table, such as extended capabilities

  std::string bytes() const {
    std::string out;
    put16(out, magic);
    std::uint16_t ns = names_size.value_or(static_cast<std::uint16_t>(names.size() + 1));
    std::uint16_t bc = bool_count.value_or(static_cast<std::uint16_t>(booleans.size()));
    auto count = [](std::uint16_t raw) { return raw == 0xFFFF ? 0 : raw; };  // -1 is 0
    put16(out, ns);
    put16(out, bc);
    put16(out, number_count.value_or(static_cast<std::uint16_t>(numbers.size())));
    put16(out, offset_count.value_or(static_cast<std::uint16_t>(offsets.size())));
    put16(out, table_size.value_or(static_cast<std::uint16_t>(table.size())));
    out += names;
    out += '\0';
    for (std::uint8_t b : booleans) out += static_cast<char>(b);
    if ((count(ns) + count(bc)) % 2 == 1) out += '\xAA';  // the alignment byte
    for (std::uint32_t n : numbers) {
      if (magic == 0x021E) {
        put32(out, n);
      } else {
        put16(out, static_cast<std::uint16_t>(n));
      }
    }
    for (std::uint16_t off : offsets) put16(out, off);
    return out + table + trailer;
  }
};

// An entry with 16 colours, setaf and sgr0, as tic writes it.
inline Entry coloured_entry() {
  Entry e;
  e.names = "vt16|a 16-colour test terminal";
  e.booleans = {0, 1};  // am
  e.numbers = {80,     0xFFFF, 24,     0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
               0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 16};  // cols, lines, colors
  e.offsets.assign(361, 0xFFFF);
  e.table = std::string("\x1b[m\0\x1b[3%p1%dm\0\x1b[4%p1%dm\0", 25);
  e.offsets[39] = 0;    // sgr0
  e.offsets[359] = 4;   // setaf
  e.offsets[360] = 14;  // setab
  return e;
}

}  // namespace velt::testing
