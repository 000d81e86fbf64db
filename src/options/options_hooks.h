#pragma once
// What the Options dialog asks of the program around it and needs an answer to: whether the viewer
// is open, whether there is a tour, how the last sync went, a sync now, opening a help page. A hook
// left unset means the program has no such part; the dialog then leaves that step out. What Apply
// changes for the rest of the program is news the dialog signals (OptionsDialog's signals).

#include "options/options_rules.h"

#include <QString>
#include <functional>
#include <optional>

namespace chimewise {

class OptionsDialog;

struct OptionsHooks {
  // The spoken tour of the dialog: section 0 runs them all (the first activation while the
  // settings' "Options" / "ShowHelp" is "1"), 1-4 the tab of that number (Help, answered Yes).
  // Unset: there is no tour, and Help's Yes opens the help page.
  std::function<void(OptionsDialog& dialog, int section)> runTour;
  // Opens a document (a help page) in the desktop's viewer. Unset: QDesktopServices.
  std::function<void(const QString& path)> openDocument;
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
