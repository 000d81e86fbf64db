#include "shell/program.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

#include "core/clock.h"
#include "core/command_line.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "data/calendar.h"
#include "data/calendar_memo.h"
#include "data/kept_events.h"
#include "extras/about_dialog.h"
#include "extras/jokes.h"
#include "extras/programs.h"
#include "options/autostart.h"
#include "options/options_windows.h"
#include "schedule/schedule_dialog.h"
#include "shell/desktop_notices.h"
#include "shell/help_window.h"
#include "shell/optimize.h"
#include "tours/first_run.h"
#include "tours/introduction_tour.h"
#include "tours/options_tour.h"
#include "tours/schedule_tour.h"
#include "update/update_window.h"
#include <agent/character.h>

namespace chimewise {

namespace {

const QString kStartAtLoginTitle = QStringLiteral("Start at Login");
const QString kStartAtLoginText = QStringLiteral(
    "Olm Chimewise will now start each time you log in, so that no reminder is missed. To change "
    "this, untick \"Start Olm Chimewise when I log in\" under Reminder Options in Options.");

}  // namespace

// Opens one of our pages (help, documents) in the program's help window, or says why not.
void Program::OpenDocument(const QString& page) {
  if (!QFileInfo(page).isFile()) {
    m_prompter.notice(QStringLiteral("The help page %1 is missing.").arg(QDir::toNativeSeparators(page)), kProgramTitle,
                      PromptIcon::Information);
    return;
  }
  if (!m_help) {
    m_help = new HelpWindow;
    m_help->setAttribute(Qt::WA_DeleteOnClose);
  }
  m_help->ShowPage(page);
  m_help->show();
  m_help->raise();
  m_help->activateWindow();
}

Program::Program(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock, ProgramSetup setup)
    : m_state(state),
      m_settings(settings),
      m_prompter(prompter),
      m_clock(clock),
      m_setup(std::move(setup)),
      m_reporter(prompter),
      m_tableBusy(clock) {
  m_character = std::make_unique<CharacterHost>(
      state, settings, prompter,
      CharacterHostOptions{m_setup.characterFolders, m_setup.windowsFolder, m_setup.silentAudio, nullptr, 120000,
                           qEnvironmentVariable("CHIMEWISE_TRANSCRIPT")});
  m_alarms = std::make_unique<AlarmService>(state, m_options, clock, m_engine, *m_character, *this);
  m_talkingClock = std::make_unique<TalkingClock>(m_options, settings, clock, *m_character);
  m_saver = std::make_unique<EventSaver>(state, m_options, clock, m_engine);
  // The viewer uses the alarm side and opens the schedule dialog; those two are given it once it
  // exists (the viewer shows what the alarms announced, the dialog is placed beside it).
  m_schedule =
      std::make_unique<ScheduleWindows>(state, settings, prompter, clock, m_engine, *m_saver, *m_alarms, *m_character);
  connect(m_schedule.get(), &ScheduleWindows::openDocument, this, &Program::OpenDocument);
  m_viewer = std::make_unique<ViewerWindows>(state, settings, prompter, clock, m_engine, *m_alarms, *m_character,
                                             *m_schedule, *this);
  m_alarms->setViewer(m_viewer.get());
  m_schedule->setViewer(m_viewer.get());
  m_quickAdd = std::make_unique<QuickAdd>(clock, *m_saver, *m_alarms, *m_character, *m_viewer, prompter,
                                          [this](const EventInput& values) {
                                            if (!m_schedule->ScheduleOpen()) m_character->QuietCharacter();
                                            m_schedule->OpenNewSchedule(values);
                                          });
  const viewer::ViewerCommands* commands = &m_viewer->commands();
  using viewer::ViewerCommands;
  connect(commands, &ViewerCommands::quietCharacter, this, [this] { m_character->QuietCharacter(); });
  connect(commands, &ViewerCommands::optimize, this, [this] { RebuildDatabase(); });
  connect(commands, &ViewerCommands::about, this, [this] { ShowAbout(); });
  connect(commands, &ViewerCommands::showOptions, this, [this] { m_optionsWindows->ShowOptions(); });
  connect(commands, &ViewerCommands::update, this, [this] { CheckForUpdate(); });
  connect(commands, &ViewerCommands::tutorial, this, [this] { RunIntroduction(*m_tours, OpenViewerOf(*m_viewer)); });
  connect(commands, &ViewerCommands::openDocument, this, [this](const QString& page) { OpenDocument(page); });
  connect(commands, &ViewerCommands::reminderHandled, this, [this](qint64 recno) {
    if (m_notices) m_notices->ReminderHandled(recno);
  });
  if (m_setup.notificationBus) {
    m_notices = std::make_unique<DesktopNotices>(
        state, settings, clock, *m_alarms, *m_viewer,
        [this] {
          NoticeConditions c;
          c.characterLoaded = m_character->character() != nullptr;
          c.characterSentAway = m_character->sentAway();
          c.audible = m_character->audible();
          c.canPlaceItself = CharacterCanPlaceItself(QGuiApplication::platformName());
          return c;
        },
        *m_setup.notificationBus);
    connect(m_notices.get(), &DesktopNotices::snoozeFailed, this,
            [this](const Problem& problem) { m_reporter.Report(problem); });
    connect(m_alarms.get(), &AlarmService::announced, m_notices.get(), &DesktopNotices::ReminderAnnounced);
    connect(m_alarms.get(), &AlarmService::moved, m_notices.get(), &DesktopNotices::ReminderMoved);
    // Whatever changed the table (a save here, another program's write, a scan), the notifications
    // follow it.
    connect(m_alarms.get(), &AlarmService::lookedUp, m_notices.get(), &DesktopNotices::ReconcileSoon);
  }
  // What fails once a reminder was heard has no caller to return to.
  connect(m_alarms.get(), &AlarmService::failedAfterHearing, this, &Program::reportTableOutcome);
  // A click on the character calls it back after Go Away.
  connect(m_character.get(), &CharacterHost::clicked, this, [this] { m_character->setSentAway(false); });
  m_mainWindow = std::make_unique<HiddenMainWindow>(state, m_options, settings, prompter, clock, *this, *this, *this);
  // The calendar sync looks at its schedule on every tick; its transfers never hold the tick up.
  m_sync = std::make_unique<CalendarSyncService>(
      ReminderStore{state, clock, m_engine, *m_character, *m_alarms, *m_viewer}, settings);
  m_sync->setPasswords(this);
  connect(&m_mainWindow->timer1(), &QTimer::timeout, m_sync.get(), [this] {
    if (!m_state.events->closing()) m_sync->Tick();
  });
  connect(m_sync.get(), &CalendarSyncService::synced, this, [this](const SyncReport& report, const QString& told) {
    if (!told.isEmpty()) qInfo("calendar sync: %s", qUtf8Printable(told));
    m_lastSync =
        LastSync{m_clock.now(), told.isEmpty() ? QStringLiteral("Synced: ") + SyncSummary(report) : told, report.notes};
    // An automatic sync that fails is tried again later: the tray's tooltip says so while it lasts,
    // and the first failure of a run comes once as a notification. Sync Now tells its own.
    const bool automatic = m_syncNowWaiting == 0;
    if (automatic) {
      if (QSystemTrayIcon* tray = m_mainWindow->trayIcon())
        tray->setToolTip(told.isEmpty() ? kTrayToolTip
                                        : kTrayToolTip +
                                              (report.ok() ? QStringLiteral("\nCalendar sync: ")
                                                           : QStringLiteral("\nCalendar sync failed: ")) +
                                              told);
      if (m_notices) m_notices->SyncEnded(report.ok(), told);
    }
    if (OptionsDialog* dialog = m_optionsWindows ? m_optionsWindows->dialog() : nullptr) dialog->ShowLastSync();
    if (report.changedHere() && m_viewer->ViewerOpen()) m_viewer->RefreshViewer();
  });
  m_tours = std::make_unique<TourContext>(TourContext{state, m_options, settings, *m_character, clock});
  m_tours->installed = [this](const QString& program) {
    return !FindSiblingProgram(m_state.AppFolder, program).isEmpty();
  };
  m_tours->mainWindow = m_mainWindow.get();
  // The start-up's questions wait for the first start's introduction; the timer does not.
  m_mainWindow->setAfterTours([this](std::function<void()> work) { RunWhenNoTourRuns(*m_tours, std::move(work)); });
  // A reminder falling due is heard at once: a tour stands aside for it.
  connect(m_mainWindow.get(), &HiddenMainWindow::aboutToScanAlarms, this, [this] { InterruptTour(*m_tours); });
  connect(m_schedule.get(), &ScheduleWindows::tourWanted, this,
          [this](ScheduleDialog* dialog) { RunScheduleTour(*dialog, *m_tours); });
  connect(m_character.get(), &CharacterHost::introductionDue, this,
          [this] { RunIntroduction(*m_tours, OpenViewerOf(*m_viewer)); });
  m_optionsWindows = std::make_unique<OptionsWindows>(
      OptionsContext{state, m_options, settings, prompter, clock, *m_character, m_setup.characterFolders, this});
  connect(m_optionsWindows.get(), &OptionsWindows::openDocument, this, &Program::OpenDocument);
  connect(m_optionsWindows.get(), &OptionsWindows::tourWanted, this,
          [this](OptionsDialog* dialog, int section) { RunOptionsTour(*dialog, section, *m_tours); });
  connect(m_optionsWindows.get(), &OptionsWindows::showFutureApplied, this,
          [this](bool on) { m_viewer->ApplyShowFuture(on); });
  connect(m_optionsWindows.get(), &OptionsWindows::announcementIntervalApplied, this,
          &Program::ScheduleNextAnnouncement);
  connect(m_optionsWindows.get(), &OptionsWindows::mailIntervalApplied, this, &Program::ScheduleNextMailCheck);
  connect(m_optionsWindows.get(), &OptionsWindows::syncPasswordTyped, this, &Program::KeepSyncPassword);
  // Quit ends a tour first: nothing of it is said or waited for any more.
  m_commands = std::make_unique<ProgramCommands>(state, settings, *m_character, *this, *m_schedule, *m_viewer,
                                                 features(), [this] {
                                                   EndTour(*m_tours);
                                                   m_mainWindow->quit();
                                                 });
  m_mainWindow->setCommands(m_commands.get());
  m_character->setCommands(m_commands.get());
  connect(m_character.get(), &CharacterHost::listenUnavailable, this, [this](const QString& reason) {
    m_prompter.notice(QStringLiteral("Voice commands are unavailable: ") + reason, kProgramTitle,
                      PromptIcon::Information);
  });
  connect(m_character.get(), &CharacterHost::commandChosen, this,
          [this](const QString& name) { m_commands->RunCharacterCommand(name); });
  m_banter = std::make_unique<CharacterBanter>(*m_character, clock);
}

Program::~Program() {
  // Announcements made during the teardown (none are expected) reach no notification any more.
  if (m_alarms) m_alarms->disconnect();
  // The update check goes first: one still running at shutdown (aborted, its transfer not yet
  // given up) must not reach, through its signals, the parts destroyed before it. Its destructor
  // stops the transfer and calls nothing back.
  m_update.reset();
  delete m_about.data();  // its signal reaches this program
  delete m_help.data();
  // The viewer goes before the alarm side and the schedule dialog it was given to: neither
  // reaches it any more.
  m_alarms->setViewer(nullptr);
  m_schedule->setViewer(nullptr);
}

CommandFeatures Program::features() {
  CommandFeatures f{true, true};
  f.tellJoke.run = [this] {
    m_reporter.Report(TellJokeOrQuote(m_engine, m_settings, *m_character, m_state.AppFolder).problem);
  };
  const auto sibling = [this](const QString& name) {
    return CommandFeature{[this, name] { LaunchSiblingProgram(m_state.AppFolder, name, m_prompter); },
                          [this, name] { return !FindSiblingProgram(m_state.AppFolder, name).isEmpty(); }};
  };
  f.loadJokes = sibling(kJesterboxProgram);
  f.createMailcaster = sibling(kMailcasterProgram);
  f.about.run = [this] { ShowAbout(); };
  // Voice commands: the character listens; a recognised phrase comes back as its command.
  f.listen = {[this] { m_character->Listen(); }, [this] { return m_character->character() != nullptr; }};
  f.readMail.run = [this] { mail().CheckNewMail(false, true); };
  f.quickAdd.run = [this] { m_quickAdd->Open(); };
  f.update.run = [this] {
    m_character->QuietCharacter();
    CheckForUpdate();
  };
  f.options.run = [this] {
    m_character->QuietCharacter();
    m_optionsWindows->ShowOptions();
  };
  return f;
}

// Starts the check and returns at once: the check runs on from the event loop, with the main
// window out of use until it ends (or until the installer has started and the program quits).
void Program::CheckForUpdate() {
  if (!m_update) {
    // Made at the first check: the data folder it downloads into is known once the program runs.
    update::UpdateOptions options;
    options.appFolder = m_state.AppFolder;
    m_update = std::make_unique<update::UpdateCommand>(m_settings, m_prompter, *m_character, m_state.events.get(),
                                                       std::move(options));
    const update::UpdateCheck* check = &m_update->check();
    connect(check, &update::UpdateCheck::setMainWindowEnabled, m_mainWindow.get(), &QWidget::setEnabled);
    // The check touches nothing of itself once this has run, so the shutdown may go ahead at once.
    connect(check, &update::UpdateCheck::quit, m_mainWindow.get(), &HiddenMainWindow::quit);
  }
  m_update->CheckForUpdate();
}

void Program::ShowAbout() {
  // A window of its own, not a modal box: reminders keep firing while it is open.
  if (m_about) {
    m_about->raise();
    m_about->activateWindow();
    return;
  }
  auto* about = new AboutDialog(m_state.AppFolder, m_prompter);
  connect(about, &AboutDialog::openDocument, this, &Program::OpenDocument);
  about->setAttribute(Qt::WA_DeleteOnClose);
  m_about = about;
  about->show();
}

bool Program::start() {
  if (!CharacterCanPlaceItself(QGuiApplication::platformName())) {
    // Said at each start to whoever reads the program's output, and once as a notification,
    // before the character first appears.
    std::fprintf(stderr, "Olm Chimewise: %s\n", qUtf8Printable(kPlacementLimitText));
    if (m_notices) m_notices->TellPlacementLimitOnce();
  }
  SetUpDataEngine();
  // A table of an earlier version: the calendar part of its memos goes to the kept events, once.
  if (const MemoMove moved = MoveCalendarMemos(m_engine, m_state.AppFolder); !moved.problem.ok())
    qWarning("%s", qUtf8Printable(Describe(moved.problem).text));
  // Calendar events kept for reminders deleted in an earlier run (nothing can undo those now).
  PruneKeptEvents(m_engine, m_state.AppFolder);
  // A reminder program starts with the session: the first start puts it there and says so once.
  // An entry the user has removed or disabled since is never written again.
  bool startsAtLogin = false;
  if (FirstRunMarker(m_state.AppFolder) && !QFileInfo::exists(AutostartEntryPath())) {
    const QString problem = EnableStartAtLogin(QCoreApplication::applicationFilePath());
    startsAtLogin = problem.isEmpty();
    if (!startsAtLogin) qWarning("%s", qUtf8Printable(problem));
  }
  const bool running = m_mainWindow->load(m_setup.characterFolders);
  if (running && startsAtLogin)
    RunWhenNoTourRuns(*m_tours, [this] {
      if (!m_state.events->closing()) m_prompter.notice(kStartAtLoginText, kStartAtLoginTitle, PromptIcon::Information);
    });
  return running;
}

void Program::handleCommandLine(const QString& line) {
  if (line.trimmed() == kRefreshCommand) {
    reportTableOutcome(m_alarms->FindNextAlarm());
    if (m_viewer->ViewerOpen()) m_viewer->RefreshViewer();
    return;
  }
  if (ParseCommandLine(line, m_state.AppFolder).showViewer)
    m_commands->ShowViewer();
  else if (!m_mainWindow->inTray())
    ShowCharacter();
}

bool Program::LoadCharacter(const QString& fileName, bool atStartUp) {
  m_character->LoadCharacter(fileName, atStartUp);
  return true;  // a missing character has been told; the program goes on without one
}

void Program::SayGoodbye() {
  if (m_withoutGoodbye)
    m_character->StopAll();
  else
    m_character->SayGoodbye();
}
void Program::ReleaseCharacter(std::function<void()> then) { m_character->ReleaseCharacter(std::move(then)); }
void Program::ShowCharacter() {
  m_character->setSentAway(false);
  m_character->show();
}

void Program::SetUpDataEngine() {
  m_engine.CloseAll().IgnoreError();  // nothing is open yet
  data::ApplyStartupSettings(m_engine);
  // Every table the program opens is reached through this engine, from the event loop's thread:
  // a table another program holds is waited for only briefly (see ScanDueAlarms for the timer).
  m_engine.settings().lock_wait_ms = data::kInteractiveLockWaitMs;
}

void Program::CloseAllTables() {
  if (const xbase::Status s = m_engine.CloseAll(); !s.ok())
    qWarning("Olm Chimewise: the reminder tables could not be written out at the end (%s)", s.message().c_str());
}

bool Program::IndexNeedsRebuild() {
  return data::CalendarIndexNeedsRebuild(m_engine, data::CalendarPath(m_state.AppFolder));
}

void Program::RebuildDatabase() {
  chimewise::RebuildDatabase(m_state, m_settings, m_prompter, m_clock, m_engine, *m_character, *this, *m_viewer,
                             *m_schedule);
}

// The table busy (another program packing or writing it) is not told at once: the alarm side has
// kept the scan due, and the next tick tries again. Only a spell that lasts is told, once.
void Program::reportTableOutcome(const Problem& outcome) {
  if (const std::optional<Problem> tell = m_tableBusy.filter(outcome)) m_reporter.Report(*tell);
}

void Program::FindNextAlarm() { reportTableOutcome(m_alarms->FindNextAlarm()); }
void Program::ScanDueAlarms() { reportTableOutcome(m_alarms->ScanDueAlarms()); }
void Program::AnnounceTime() { m_talkingClock->AnnounceTime(); }
void Program::ScheduleNextAnnouncement(int interval) { m_talkingClock->ScheduleNextAnnouncement(interval); }

void Program::ScheduleNextMailCheck(int interval) { mail().ScheduleNextMailCheck(interval); }

std::optional<QDateTime> Program::NextMailCheck() const { return m_mail ? m_mail->nextCheck() : std::nullopt; }
void Program::CheckMailAutomatically() { mail().CheckNewMail(true, false); }
bool Program::MailCheckRunning() const { return m_mail && m_mail->busy(); }

PasswordVault& Program::vault() {
  if (!m_vault) m_vault = std::make_unique<SecretServiceVault>();
  return *m_vault;
}

std::optional<QString> Program::SyncPassword(const QString& server, const QString& user) {
  if (m_syncLogin == std::pair(server, user)) return m_syncSessionPassword;
  return vault().Find(server, user).password;
}

void Program::KeepSyncPassword(const QString& server, const QString& user, const QString& password) {
  // Kept for this session in any case: where no secret store runs, that is all there is.
  m_syncLogin = std::pair(server, user);
  m_syncSessionPassword = password;
  vault().Keep(server, user, password);
}

void Program::SyncNow(std::function<void(const QString& outcome)> done) {
  ++m_syncNowWaiting;
  m_sync->SyncNow([this, done = std::move(done)](const SyncReport& report, const QString& told) {
    --m_syncNowWaiting;
    done(told.isEmpty() ? QStringLiteral("Synced: ") + SyncSummary(report) : told);
  });
}

MailReader& Program::mail() {
  if (!m_mail) {
    // Made at the first use, once the data folder is known: it clears what a crash left there.
    m_mailAccount = std::make_unique<MailAccount>(m_settings, vault(), &m_passwordWindow);
    m_mail = std::make_unique<MailReader>(m_state, m_settings, m_clock, *m_character, *m_viewer, *m_mailAccount,
                                          MessageFiles(MessageFiles::DefaultFolder(m_state.AppFolder)));
    connect(m_mail.get(), &MailReader::stopCharacter, m_character.get(), [this] { m_character->StopAll(); });
    m_mailWindows = std::make_unique<EmailWindows>(*m_character, *m_mail);
    connect(m_mailWindows.get(), &EmailWindows::showOptions, this, [this] {
      m_optionsWindows->ShowOptions();
      if (OptionsDialog* d = m_optionsWindows->dialog()) d->tabs->setCurrentIndex(3);  // "Email Options"
    });
  }
  return *m_mail;
}

void Program::CloseDialogs() {
  m_optionsWindows->CloseOptions();
  // The viewer is no dialog: the upkeep closes it next and reopens it afterwards, keeping the
  // character on screen. What the user typed in its memo box is stored now.
  m_viewer->SaveMemo();
}

void Program::UnloadWindows() {
  // A check in progress stops; it ends from the event loop, or goes with the program.
  if (m_update) m_update->Abort();
  m_mailWindows.reset();
  m_passwordWindow.CloseWithoutAnswer();
  m_optionsWindows->CloseOptions();
  m_schedule->CloseSchedule();
  if (m_quickAdd && m_quickAdd->window()) m_quickAdd->window()->close();
  m_viewer->Unload();
}

void Program::SetTimerEnabled(bool on) {
  QTimer& timer = m_mainWindow->timer1();
  if (!on || m_state.events->closing()) {
    timer.stop();
    return;
  }
  const bool wasRunning = timer.isActive();
  timer.start(kTimerInterval);
  // Held back meanwhile (a tour, a modal window): what fell due is looked at now, not a tick later.
  if (!wasRunning) QTimer::singleShot(0, m_mainWindow.get(), [r = m_mainWindow.get()] { r->tick(); });
}

}  // namespace chimewise
