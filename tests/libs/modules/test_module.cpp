// A module with entry points and a function named as one in the test program, which keeps its own.
#include "test_table.h"

#include <modules/module.h>

int SameNameAsTheProgramHas() { return 2; }

MODULES_ENTRY_POINT int modules_test_entry() { return 40 + SameNameAsTheProgramHas(); }

MODULES_ENTRY_POINT const TestTable* modules_test_table() {
  static const TestTable table{3, [] { return 7; }};
  return &table;
}
