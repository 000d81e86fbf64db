#pragma once
// Optimizing the reminders: the character says what is happening, the table is packed and its
// index rebuilt, and the start-up suggestion is put off for twenty days.

namespace xbase {
class Engine;
}

namespace chimewise {

class Clock;
class Prompter;
class SchedulePort;
class SettingsStore;
class SpeakerPort;
class ViewerPort;
class WindowsPort;
struct SharedState;

// The character says it is rebuilding; the dialogs that edit reminders or settings close without
// saving (the Schedule Activity dialog as if cancelled); an open viewer closes for the upkeep,
// which leaves the character on screen, and comes back after the rebuild. Returns true when the
// table was rebuilt, after the character has said so; a failure is told to the user, loses
// nothing and leaves "LastOptimize" as it was, so the suggestion comes again at the next start.
bool RebuildDatabase(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock,
                     xbase::Engine& engine, SpeakerPort& speaker, WindowsPort& windows, ViewerPort& viewer,
                     SchedulePort& schedule);

}  // namespace chimewise
