// The table of tests registered by the macros of the public header.
#include <algorithm>
#include <string_view>
#include <vector>

#include "include/velt/test.h"

namespace velt::test {
namespace {

// Registrars link themselves at start-up, before main; a plain pointer needs no construction
// and so cannot be used before it is initialised.
const detail::Registrar* registered_head = nullptr;

}  // namespace

detail::Registrar::Registrar(const TestEntry* e) : entry(e), next(registered_head) {
  registered_head = this;
}

TestTable registered_tests() {
  static const std::vector<const TestEntry*> table = [] {
    std::vector<const TestEntry*> entries;
    for (const detail::Registrar* r = registered_head; r != nullptr; r = r->next) {
      entries.push_back(r->entry);
    }
    // Registration runs in reverse link order; sort by name byte-wise (char_traits compares
    // as unsigned bytes), keeping registration order among equal names.
    std::reverse(entries.begin(), entries.end());
    std::stable_sort(entries.begin(), entries.end(), [](const TestEntry* a, const TestEntry* b) {
      return std::string_view(a->name) < std::string_view(b->name);
    });
    return entries;
  }();
  return TestTable{table.data(), table.size()};
}

}  // namespace velt::test
