#pragma once
// What the Options dialog asks of the program around it and needs an answer to: whether the viewer
// is open, how the last calendar sync went, and a sync now. A dialog given no port stands alone: no
// viewer is ever open, the Sync Now button is disabled and the Sync tab tells nothing of a last
// sync. What needs no answer (a tour, a help page, what Apply changes for the rest of the program)
// is a signal of the dialog's.

#include "options/options_rules.h"

#include <QString>
#include <functional>
#include <optional>

namespace chimewise {

class OptionsPort {
 public:
  virtual ~OptionsPort() = default;
  // Whether the Reminder Viewer is open.
  virtual bool ViewerOpen() const = 0;
  // How the last calendar sync went; none before the first.
  virtual std::optional<LastSync> LastSyncOutcome() const = 0;
  // A sync with the settings just applied; `done` gets what to show of how it went, once, later (it
  // may come after the dialog has closed).
  virtual void SyncNow(std::function<void(const QString& outcome)> done) = 0;
};

}  // namespace chimewise
