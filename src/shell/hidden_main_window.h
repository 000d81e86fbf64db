#pragma once
// The hidden main window: it owns the tray icon and the main timer, runs the start-up load
// sequence, the ticks and the shutdown sequence over the parts it is given.

#include "core/ports.h"
#include "core/program_options.h"

#include <QDateTime>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;

namespace chimewise {

class Clock;
class Prompter;
class SettingsStore;
struct SharedState;

// The character as the load and unload sequences use it.
class CharacterPort {
 public:
  virtual ~CharacterPort() = default;
  // Loads a character file; false when the program cannot go on.
  virtual bool LoadCharacter(const QString& fileName, bool atStartUp) = 0;
  virtual void SayGoodbye() = 0;
  // Unloads the character once its goodbye is over, then calls `then` (at once, or later from
  // the event loop while the goodbye still plays).
  virtual void ReleaseCharacter(std::function<void()> then) = 0;
  // Shows the character (where there is no tray it is the way to the program's commands).
  virtual void ShowCharacter() = 0;
};

// The routines the load sequence and the ticks run: the table's upkeep, the alarms, the talking
// clock and the mail check.
class RoutinesPort {
 public:
  virtual ~RoutinesPort() = default;
  virtual void SetUpDataEngine() = 0;
  virtual void CloseAllTables() = 0;
  // Whether the reminder table's index is missing, foreign or damaged and must be rebuilt.
  virtual bool IndexNeedsRebuild() = 0;
  // Packs the table and rebuilds its index (the optimize command).
  virtual void RebuildDatabase() = 0;
  virtual void FindNextAlarm() = 0;
  virtual void ScanDueAlarms() = 0;
  virtual void AnnounceTime() = 0;
  virtual void ScheduleNextAnnouncement(int interval) = 0;
  virtual void ScheduleNextMailCheck(int interval) = 0;
  // An automatic mail check: quiet when nothing is new. Whether one is still running.
  virtual void CheckMailAutomatically() = 0;
  virtual bool MailCheckRunning() const = 0;
  // When the talking clock, the alarms and the mail check are due next; none: not scheduled.
  virtual std::optional<QDateTime> NextAnnouncement() const = 0;
  virtual std::optional<QDateTime> NextAlarm() const = 0;
  virtual std::optional<QDateTime> NextMailCheck() const = 0;
};

// Texts the start-up shows.
inline const QString kNoCharactersText =
    QStringLiteral("No Characters seem to be installed. Please install Characters to Continue.");
inline const QString kNoCharactersTitle = QStringLiteral("Missing Character Files");
inline const QString kOptimizeQuestion = QStringLiteral(
    "You have not Optimized your reminders in a while. You should optimize them to keep them running "
    "fast. Would you like me to quickly optimize them for you now?");
inline const QString kOptimizeTitle = QStringLiteral("Optimize Reminders");
inline const QString kTrayToolTip = QStringLiteral("Olm Chimewise - Reminders On");
inline constexpr int kTimerInterval = 3000;
inline const QString kNoTrayTitle = QStringLiteral("No System Tray");
inline const QString kNoTrayText = QStringLiteral(
    "Your desktop has no System Tray, so Olm Chimewise cannot show its icon there. Right-click the character "
    "to get its menu with the program's commands. If you send the character away, start Olm Chimewise again "
    "to bring it back.");

class ProgramCommands;

class HiddenMainWindow : public QWidget {
  Q_OBJECT
 public:
  HiddenMainWindow(SharedState& state, ProgramOptions& options, SettingsStore& settings, Prompter& prompter,
                   Clock& clock, CharacterPort& character, RoutinesPort& routines, ViewerPort& windows,
                   QWidget* parent = nullptr);
  ~HiddenMainWindow() override;

  // The load handler. False when the program must end (no character, or Quit during loading).
  bool load(const QStringList& characterFolders);

  // The unload handler: the shutdown sequence. Safe to call more than once. It ends with
  // unloaded(), once the character's goodbye has played (the event loop runs meanwhile).
  void unload();

  // One tick of the main timer.
  void tick();

  // The commands the tray menu offers; set before load. Without them the menu offers only Quit.
  void setCommands(ProgramCommands* commands) { m_commands = commands; }
  // Whether the icon is in a system tray (false where the desktop has none).
  bool inTray() const { return m_inTray; }
  // Asks whether the desktop has a system tray (QSystemTrayIcon's answer unless replaced).
  void setTrayAvailability(std::function<bool()> available) { m_trayAvailable = std::move(available); }
  // Puts work off until no guided tour runs (the first start's introduction, begun while the
  // character loads): the start-up's questions wait for it, the tray and the timer do not. Unset,
  // the work runs at once.
  void setAfterTours(std::function<void(std::function<void()>)> defer) { m_afterTours = std::move(defer); }

  QTimer& timer1() { return m_timer1; }
  // How often a program started without a tray looks for one that appeared since.
  void setTrayWatchInterval(int ms) { m_trayWatch.setInterval(ms); }
  QSystemTrayIcon* trayIcon() const { return m_tray; }
  QMenu* trayMenu() const { return m_trayMenu.get(); }
  // Whether the icon sits with a StatusNotifier host (its menu exported over D-Bus) rather than
  // in an X11 tray.
  bool statusNotifierTray() const;

 signals:
  // Shutdown has run; the application may quit.
  void unloaded();
  // A tick found an alarm due; the scan that announces it follows once the receivers have run (a
  // tour stands aside).
  void aboutToScanAlarms();

 public slots:
  // The tray menu's Quit: sets Closing, stops the timers and unloads.
  void quit();

 private:
  void finishUnload();
  void optimizePrompt();
  // The rest of the load once the character is there: the window, the tray, the timer.
  void startRunning();
  // The start-up's questions (no tray, optimize), once no tour runs.
  void askAtStart();
  void showTrayIcon();
  void lookForTray();
  void onTrayActivated(int reason);

  SharedState& m_state;
  // Read from the settings as the program loads.
  ProgramOptions& m_options;
  SettingsStore& m_settings;
  Prompter& m_prompter;
  Clock& m_clock;
  CharacterPort& m_character;
  RoutinesPort& m_routines;
  ViewerPort& m_windows;
  QTimer m_timer1;
  QTimer m_trayWatch;
  QSystemTrayIcon* m_tray = nullptr;
  // Of no parent: it opens while the main window is disabled (a tour, a check for updates).
  std::unique_ptr<QMenu> m_trayMenu;
  ProgramCommands* m_commands = nullptr;
  std::function<bool()> m_trayAvailable;
  std::function<void(std::function<void()>)> m_afterTours;
  bool m_repairedAtStart = false;
  bool m_inTray = false;
  bool m_toldNoTray = false;
  bool m_unloaded = false;
  bool m_unloadFinished = false;
};

}  // namespace chimewise
