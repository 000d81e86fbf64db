#pragma once
// The settings the program copies into its shared state when it starts.

namespace chimewise {

class SettingsStore;
struct SharedState;

// ReadMemos, ReadActivity, RemindOn, WaitTime, TimeFormat, TimeRangeOn, RangeStart, RangeEnd.
// A value that cannot be read counts as its default.
void ReadStartUpSettings(SharedState& state, const SettingsStore& settings);

}  // namespace chimewise
