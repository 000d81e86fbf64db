#pragma once
// The running program put together: one data engine, the character, the alarm side, the talking
// clock and the hidden main window. The parts are handed to each other directly (the viewer and the
// Schedule Activity dialog are the ports the others are given); the program itself implements the
// ports of what it does over several parts: the character, the routines, the main timer and the
// windows as a whole.

#include "alarms/alarm_service.h"
#include "character/character_host.h"
#include "clock/talking_clock.h"
#include "core/ports.h"
#include "core/program_options.h"
#include "core/table_busy.h"
#include "exchange/sync_service.h"
#include "extras/banter.h"
#include "mail/email_window.h"
#include "mail/mail_account.h"
#include "mail/mail_reader.h"
#include "mail/password_dialog.h"
#include "options/options_windows.h"
#include "schedule/quick_add.h"
#include "schedule/save_event.h"
#include "schedule/schedule_windows.h"
#include "shell/commands.h"
#include "shell/hidden_main_window.h"
#include "tours/tour_runner.h"
#include "update/update_window.h"
#include "viewer/viewer_windows.h"

#include <xbase/engine.h>

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>

namespace chimewise {

class AboutDialog;
class Clock;
class DesktopNotices;
class HelpWindow;
class Prompter;
class SettingsStore;
struct SharedState;

struct ProgramSetup {
  QStringList characterFolders;
  QString windowsFolder;
  bool silentAudio = false;
  // Where the desktop's notification server is reached (the session bus); none: reminders never
  // become desktop notifications.
  std::optional<QDBusConnection> notificationBus;
};

class Program final : public QObject,
                      public CharacterPort,
                      public RoutinesPort,
                      public MainTimerPort,
                      public WindowsPort,
                      public OptionsPort,
                      public SyncPasswordPort {
  Q_OBJECT
 public:
  Program(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock, ProgramSetup setup);
  ~Program() override;

  // Sets up the engine and runs the load sequence; false when the program must end.
  bool start();
  // Acts on a command line handed over by a later start (or the command-line tool): "show" opens
  // the Reminder Viewer; where there is no tray, any other start brings the character back.
  void handleCommandLine(const QString& line);
  // The next shutdown ends without the goodbye: what the character has queued is dropped and it
  // leaves at once (a signal from the session). The rest of the shutdown is Quit's.
  void EndWithoutGoodbye() { m_withoutGoodbye = true; }

  HiddenMainWindow& mainWindow() { return *m_mainWindow; }
  CharacterHost& character() { return *m_character; }
  AlarmService& alarms() { return *m_alarms; }
  TalkingClock& talkingClock() { return *m_talkingClock; }
  EventSaver& saver() { return *m_saver; }
  ProgramCommands& commands() { return *m_commands; }
  DesktopNotices* notices() { return m_notices.get(); }
  xbase::Engine& engine() { return m_engine; }

  // CharacterPort
  bool LoadCharacter(const QString& fileName, bool atStartUp) override;
  void SayGoodbye() override;
  void ReleaseCharacter(std::function<void()> then) override;
  void ShowCharacter() override;
  // RoutinesPort
  void SetUpDataEngine() override;
  void CloseAllTables() override;
  bool IndexNeedsRebuild() override;
  void RebuildDatabase() override;
  void FindNextAlarm() override;
  void ScanDueAlarms() override;
  void AnnounceTime() override;
  void ScheduleNextAnnouncement(int interval) override;
  void ScheduleNextMailCheck(int interval) override;
  void CheckMailAutomatically() override;
  bool MailCheckRunning() const override;
  std::optional<QDateTime> NextAnnouncement() const override { return m_talkingClock->nextAnnouncement(); }
  std::optional<QDateTime> NextAlarm() const override { return m_alarms->nextAlarm(); }
  std::optional<QDateTime> NextMailCheck() const override;
  // MainTimerPort
  void SetTimerEnabled(bool on) override;
  // WindowsPort
  void CloseDialogs() override;
  void UnloadWindows() override;
  // OptionsPort
  bool ViewerOpen() const override { return m_viewer && m_viewer->ViewerOpen(); }
  std::optional<LastSync> LastSyncOutcome() const override { return m_lastSync; }
  void SyncNow(std::function<void(const QString& outcome)> done) override;
  // SyncPasswordPort: the secret store's, or the one typed this session.
  std::optional<QString> SyncPassword(const QString& server, const QString& user) override;

 private:
  // The commands' later features, each over the part that carries it out.
  CommandFeatures features();
  void ShowAbout();
  void OpenDocument(const QString& page);
  void CheckForUpdate();
  MailReader& mail();
  PasswordVault& vault();
  void KeepSyncPassword(const QString& server, const QString& user, const QString& password);
  // Reports what the alarm routines met, the table busy only when it lasts (see TableBusySpell).
  void reportTableOutcome(const Problem& outcome);

  SharedState& m_state;
  SettingsStore& m_settings;
  Prompter& m_prompter;
  Clock& m_clock;
  ProgramSetup m_setup;
  // The options the parts follow: read as the program loads, changed by the Options dialog.
  ProgramOptions m_options;
  xbase::Engine m_engine;
  // Problems of the routines the timer runs, each told once while it lasts.
  ProblemReporter m_reporter;
  // The reminder table held by another program: told only when it lasts.
  TableBusySpell m_tableBusy;
  std::unique_ptr<CharacterHost> m_character;
  std::unique_ptr<AlarmService> m_alarms;
  std::unique_ptr<TalkingClock> m_talkingClock;
  std::unique_ptr<EventSaver> m_saver;
  std::unique_ptr<ScheduleWindows> m_schedule;
  // The schedule dialog and the alarm side are given the viewer once it exists, and let go of it
  // before it goes (see the destructor).
  std::unique_ptr<ViewerWindows> m_viewer;
  std::unique_ptr<QuickAdd> m_quickAdd;
  // After the alarms and the viewer it acts on.
  std::unique_ptr<DesktopNotices> m_notices;
  // After the character: closing the dialog gives the character back its size.
  std::unique_ptr<OptionsWindows> m_optionsWindows;
  std::unique_ptr<update::UpdateCommand> m_update;
  QPointer<HelpWindow> m_help;    // open while shown; it deletes itself when closed
  QPointer<AboutDialog> m_about;  // open while shown; it deletes itself when closed
  // The mail reader, made once the data folder is known; its window goes before it.
  std::unique_ptr<SecretServiceVault> m_vault;
  PasswordWindow m_passwordWindow;  // outlives the account that asks it; closes a window left open
  std::unique_ptr<MailAccount> m_mailAccount;
  std::unique_ptr<MailReader> m_mail;
  std::unique_ptr<EmailWindows> m_mailWindows;
  // The calendar sync; a sync password typed where no secret store runs is kept for the session.
  std::unique_ptr<CalendarSyncService> m_sync;
  std::optional<std::pair<QString, QString>> m_syncLogin;  // server and user
  QString m_syncSessionPassword;
  std::optional<LastSync> m_lastSync;  // how the last sync went, for the Sync tab
  int m_syncNowWaiting = 0;
  bool m_withoutGoodbye = false;  // Sync Now passes not yet ended: theirs is told in the dialog
  std::unique_ptr<HiddenMainWindow> m_mainWindow;
  std::unique_ptr<TourContext> m_tours;
  std::unique_ptr<ProgramCommands> m_commands;
  std::unique_ptr<CharacterBanter> m_banter;
};

}  // namespace chimewise
