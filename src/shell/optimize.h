#pragma once
// Optimizing the reminders: the character says what is happening, the table is packed and its
// index rebuilt, and the start-up suggestion is put off for twenty days.

namespace xbase {
class Engine;
}

namespace chimewise {

class Clock;
class Prompter;
class SettingsStore;
class Speaker;
class ViewerPort;
struct SharedState;

// The dialogs are closed and the viewer closed and reopened around the rebuild. Returns true when
// the table was rebuilt; a failure is told to the user, loses nothing and leaves "LastOptimize" as
// it was, so the suggestion comes again at the next start.
bool RebuildDatabase(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock,
                     xbase::Engine& engine, Speaker& speaker, ViewerPort& windows);

}  // namespace chimewise
