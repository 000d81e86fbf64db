#pragma once
// The hidden main window: it owns the tray icon, the main timer and (through the hooks) the
// character, runs the start-up load sequence and the shutdown sequence.

#include "shell/program_hooks.h"

#include <QDateTime>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QMenu;
class QSystemTrayIcon;

namespace chimewise {

class Clock;
class Prompter;
class SettingsStore;
struct SharedState;

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

class Reminders : public QWidget {
  Q_OBJECT
 public:
  Reminders(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock,
            ProgramHooks hooks, QWidget* parent = nullptr);
  ~Reminders() override;

  // The load handler. False when the program must end (no character, or Quit during loading).
  bool load(const QStringList& characterFolders);

  // The unload handler: the shutdown sequence. Safe to call more than once.
  void unload();

  // One tick of the main timer.
  void tick();

  QTimer& timer1() { return m_timer1; }
  QSystemTrayIcon* trayIcon() const { return m_tray; }
  QMenu* trayMenu() const { return m_trayMenu; }
  ProgramHooks& hooks() { return m_hooks; }

 signals:
  // Shutdown has run; the application may quit.
  void unloaded();

 public slots:
  // The tray menu's Quit: sets Closing, lets pending events run once and unloads.
  void quit();

 private:
  void optimizePrompt();
  void showTrayIcon();

  SharedState& m_state;
  SettingsStore& m_settings;
  Prompter& m_prompter;
  Clock& m_clock;
  ProgramHooks m_hooks;
  QTimer m_timer1;
  QSystemTrayIcon* m_tray = nullptr;
  QMenu* m_trayMenu = nullptr;
  bool m_unloaded = false;
};

}  // namespace chimewise
