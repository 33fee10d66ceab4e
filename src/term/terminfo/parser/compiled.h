// Reads a compiled terminfo entry, the binary form that tic writes into the terminal database,
// into a TermInfo. Nothing after the standard string table is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "src/result.h"
#include "src/term/terminfo/terminfo.h"

namespace velt::term::terminfo::parser {

// Little-endian reads from bytes in memory, or from an open file through one 8192-byte buffer.
// Neither the bytes nor the descriptor are owned.
class ByteReader {
 public:
  explicit ByteReader(std::string_view bytes) : window(bytes) {}
  explicit ByteReader(int fd);

  IoResult<std::uint8_t> read_byte();  // "end of file" when none is left
  IoResult<std::uint16_t> read_le_u16();
  IoResult<std::uint32_t> read_le_u32();
  // Appends exactly `n` bytes to `dst`, or fails when the input ends first.
  IoResult<void> read_exact(std::string& dst, std::size_t n);
  // Appends up to `n` bytes to `dst`, fewer only when the input ends.
  IoResult<void> read_up_to(std::string& dst, std::size_t n);

 private:
  // Refills the window from the file; false at its end.
  IoResult<bool> fill();

  int fd = -1;
  std::unique_ptr<char[]> buffer;
  std::string_view window;  // read but not yet consumed
};

// Parses one entry. Fails with a fixed message such as "invalid magic number, found 11064", or
// with the text of a failed read.
Result<TermInfo, std::string> parse(ByteReader& in);

}  // namespace velt::term::terminfo::parser
