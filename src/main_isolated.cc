// Start code for isolation: hands the registered table to the harness, which runs each test in
// a child copy of this executable.
#include "include/velt/test.h"

int main() {
  velt::test::test_main_isolated(velt::test::registered_tests());
  return 0;
}
