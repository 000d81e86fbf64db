// A module with one entry point, and a function of the same name as one in the test program:
// the program must keep calling its own.
#include <modules/Module.h>

int SameNameAsTheProgramHas() { return 2; }

MODULES_ENTRY_POINT int modules_test_entry() { return 40 + SameNameAsTheProgramHas(); }
