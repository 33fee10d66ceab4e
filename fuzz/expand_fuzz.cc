// Fuzzes the capability expansion. The first byte chooses how many parameters follow (up to
// eleven, so that more than the nine slots are given too), four bytes each; the rest of the
// input is the capability.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "src/term/terminfo/parm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace terminfo = velt::term::terminfo;
  if (size == 0) return 0;
  std::size_t count = data[0] % 12;
  ++data;
  --size;
  std::vector<terminfo::Param> params;
  for (std::size_t i = 0; i < count && size >= 4; ++i) {
    terminfo::Param p;
    std::memcpy(&p, data, 4);
    params.push_back(p);
    data += 4;
    size -= 4;
  }
  terminfo::Variables vars;
  (void)terminfo::expand(std::string_view(reinterpret_cast<const char*>(data), size), params, vars);
  return 0;
}
