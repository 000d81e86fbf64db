#pragma once
// The options the program reads from the settings when it starts.

#include "core/program_options.h"

namespace chimewise {

class SettingsStore;

// Every ProgramOptions value from its setting. A value that cannot be read counts as its default;
// a read switch or the late-reminder switch is on only when stored as 1.
ProgramOptions ReadStartUpSettings(const SettingsStore& settings);

}  // namespace chimewise
