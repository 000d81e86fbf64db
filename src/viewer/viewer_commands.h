#pragma once
// What the viewer's menus reach outside the reminder logic (the character's stop, opening a help
// page, program commands built elsewhere) and what it tells (a reminder dealt with here), as
// signals the program connects to. A command nothing is connected to shows its menu entry (and
// toolbar button) disabled, never as an entry that does nothing.

#include <QMetaMethod>
#include <QObject>
#include <QString>
#include <QtGlobal>

namespace chimewise::viewer {

class ViewerCommands final : public QObject {
  Q_OBJECT
 public:
  // Whether something is connected to the command `signal`.
  template <typename Signal>
  bool offers(Signal signal) const {
    return isSignalConnected(QMetaMethod::fromSignal(signal));
  }

 signals:
  // Stops everything the character is saying or doing, before the viewer has it read a reminder
  // (connected directly: it has stopped when the emission returns).
  void quietCharacter();
  // Opens a document (the help page) in the desktop's viewer. Not connected: QDesktopServices.
  void openDocument(const QString& path);
  // "Optimi&ze Reminders": packs the table and rebuilds its index (the shell's optimize flow,
  // which closes and reopens this viewer). The viewer has already stored its memo and quieted the
  // character, and emits it after its own menu handler returned.
  void optimize();
  // "&Options..." and the toolbar's "Options": shows the Options dialog, not modally.
  void showOptions();
  // "&Tutorial": the introduction tour.
  void tutorial();
  // "&Update Me": the update check.
  void update();
  // The About entry: shows the About window (the viewer stops the main timer around the emission).
  void about();
  // A reminder was snoozed, edited or deleted here (its record number): whatever still shows it
  // elsewhere (a desktop notification) is withdrawn.
  void reminderHandled(qint64 recno);
};

}  // namespace chimewise::viewer
