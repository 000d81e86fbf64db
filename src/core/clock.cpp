#include "core/clock.h"

namespace chimewise {

namespace {
SystemClock g_system;
Clock* g_clock = &g_system;
}  // namespace

Clock& ProgramClock() { return *g_clock; }
void SetProgramClock(Clock* clock) { g_clock = clock ? clock : &g_system; }

}  // namespace chimewise
