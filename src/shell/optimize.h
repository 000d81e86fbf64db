#pragma once
// Optimizing the reminders: the character says what is happening, the table is packed and its
// index rebuilt, and the start-up suggestion is put off for twenty days.

#include <functional>

namespace xbase {
class Engine;
}

namespace chimewise {

class Clock;
class Prompter;
class SettingsStore;
class Speaker;
struct SharedState;

struct OptimizeHooks {
  std::function<void()> closeDialogs;         // the options and Schedule Activity dialogs
  std::function<bool()> closeViewer;          // true when it was open (it is then shown again)
  std::function<void()> reopenViewer;
};

// Returns true when the table was rebuilt; a failure is told to the user and loses nothing.
bool RebuildDatabase(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock,
                     xbase::Engine& engine, Speaker& speaker, const OptimizeHooks& hooks = {});

}  // namespace chimewise
