// Start code: hands the registered table to the harness.
#include "include/velt/test.h"

int main() {
  velt::test::test_main_static(velt::test::registered_tests());
  return 0;
}
