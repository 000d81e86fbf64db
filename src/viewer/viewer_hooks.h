#pragma once
// What the viewer's menus reach outside the reminder logic: the character's stop, opening a help
// page, and program commands built elsewhere. A command left unset shows its menu entry (and
// toolbar button) disabled, never as an entry that does nothing.

#include <QString>
#include <QtGlobal>
#include <functional>

namespace chimewise::viewer {

struct ViewerHooks {
  // Stops everything the character is saying or doing, before the viewer has it read a reminder
  // (CharacterHost::QuietCharacter). Unset: nothing is stopped.
  std::function<void()> quietCharacter;
  // Opens a document (the help page) in the desktop's viewer. Unset: QDesktopServices.
  std::function<void(const QString& path)> openDocument;
  // "Optimi&ze Reminders": packs the table and rebuilds its index (the shell's optimize flow,
  // which closes and reopens this viewer). The viewer has already quieted the character and run
  // it after its own menu handler returned.
  std::function<void()> optimize;
  // "&Options..." and the toolbar's "Options": shows the Options dialog, not modally.
  std::function<void()> showOptions;
  // "&Tutorial": the introduction tour.
  std::function<void()> tutorial;
  // "&Update Me": the update check.
  std::function<void()> update;
  // A reminder was snoozed, edited or deleted here (its record number): whatever still shows it
  // elsewhere (a desktop notification) is withdrawn. Unset: nothing else shows reminders.
  std::function<void(qint64 recno)> reminderHandled;
  // The About entry: shows the About window modally (the viewer stops the main timer around it).
  std::function<void()> about;
};

}  // namespace chimewise::viewer
