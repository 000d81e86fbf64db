#pragma once
// What the Options dialog reaches outside its own settings and the character: the viewer, the
// talking clock's and the mail reader's schedules, the guided tour, and opening a help page. A
// hook left unset means the program has no such part; the dialog then leaves that step out.

#include "options/options_rules.h"

#include <QString>
#include <functional>
#include <optional>

namespace chimewise {

class OptionsDialog;

struct OptionsHooks {
  // Apply, while the Reminder Viewer is open: it lists every reminder (true) or only the current
  // ones, and ticks its "View Future Events" to match.
  std::function<void(bool showFuture)> applyShowFuture;
  // Apply: the next time announcement from now, at the interval chosen (a position 0-6).
  std::function<void(int intervalPosition)> scheduleNextAnnouncement;
  // Apply: the next automatic mail check, the number in the mail interval box in minutes.
  std::function<void(int minutes)> scheduleNextMailCheck;
  // The spoken tour of the dialog: section 0 runs them all (the first activation while the
  // settings' "Options" / "ShowHelp" is "1"), 1-4 the tab of that number (Help, answered Yes).
  // Unset: there is no tour, and Help's Yes opens the help page.
  std::function<void(OptionsDialog& dialog, int section)> runTour;
  // Opens a document (a help page) in the desktop's viewer. Unset: QDesktopServices.
  std::function<void(const QString& path)> openDocument;
  // Apply or Sync Now with a password typed in the Sync tab: kept for the user on the server (in
  // the secret store, else for this session).
  std::function<void(const QString& server, const QString& user, const QString& password)> keepSyncPassword;
  // Sync Now: a sync with the settings just applied; `done` gets what to show of how it went (it
  // may come after the dialog has closed). Unset: the program does not sync, and the button is
  // disabled.
  std::function<void(std::function<void(const QString& outcome)> done)> syncNow;
  // How the last calendar sync went; none before the first. Unset: the tab tells nothing of it.
  std::function<std::optional<LastSync>()> lastSync;
  // Whether the Reminder Viewer is open. Unset: it never is.
  std::function<bool()> viewerOpen;
};

}  // namespace chimewise
