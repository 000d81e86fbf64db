#include "shell/hidden_main_window.h"

#include "character/character_choice.h"
#include "core/app_paths.h"
#include "core/clock.h"
#include "core/program_events.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/startup_settings.h"
#include "core/time_format.h"
#include "core/timer_tick.h"
#include "core/value_reading.h"
#include "shell/commands.h"
#include "shell/tray_menu.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <exception>

namespace chimewise {

namespace {

// A panel started with the session may come up after the program: without a tray, the program
// looks for one this often.
constexpr int kTrayWatchMs = 3000;

// Runs one shutdown step; a failure in one never keeps the next from running, and is written to
// the error stream with the step's name.
template <typename F>
void tolerant(const char* name, F&& step) {
  try {
    step();
  } catch (const std::exception& e) {
    qWarning("Olm Chimewise: the shutdown step \"%s\" failed (%s); the others go on", name, e.what());
  } catch (...) {
    qWarning("Olm Chimewise: the shutdown step \"%s\" failed; the others go on", name);
  }
}

}  // namespace

HiddenMainWindow::HiddenMainWindow(SharedState& state, ProgramOptions& options, SettingsStore& settings,
                                   Prompter& prompter, Clock& clock, CharacterPort& character, RoutinesPort& routines,
                                   ViewerPort& windows, QWidget* parent)
    : QWidget(parent),
      m_state(state),
      m_options(options),
      m_settings(settings),
      m_prompter(prompter),
      m_clock(clock),
      m_character(character),
      m_routines(routines),
      m_windows(windows) {
  setWindowTitle(kProgramTitle);
  resize(120, 90);
  m_timer1.setTimerType(Qt::CoarseTimer);
  connect(&m_timer1, &QTimer::timeout, this, &HiddenMainWindow::tick);
  m_trayWatch.setInterval(kTrayWatchMs);
  connect(&m_trayWatch, &QTimer::timeout, this, &HiddenMainWindow::lookForTray);
}

HiddenMainWindow::~HiddenMainWindow() {
  // The icon goes before the menu it shows.
  delete m_tray;
  m_tray = nullptr;
}

bool HiddenMainWindow::load(const QStringList& characterFolders) {
  // The character: the stored one, or the first installed one, remembered from now on.
  QString name = m_settings.read(settings::CharacterName);
  if (name.isEmpty()) {
    const auto chosen = ChooseCharacter(characterFolders);
    if (!chosen) {
      m_prompter.notice(kNoCharactersText, kNoCharactersTitle, PromptIcon::Information);
      return false;
    }
    name = *chosen;
    m_settings.write(settings::CharacterName, name);
  }

  m_options = ReadStartUpSettings(m_settings);

  const QDateTime now = m_clock.now();
  if (FindPathNoCase(m_state.AppFolder, QStringLiteral("CHIMINST.DLL")))
    m_settings.write(settings::LastOptimize, FormatDateText(now.addDays(20)));

  if (!m_character.LoadCharacter(name + kCharacterExtension, true)) return false;
  if (m_state.events->closing()) return false;
  startRunning();
  if (m_state.events->closing()) return false;
  // The first start's introduction, begun as the character loaded, runs on from the event loop
  // with the tray and the timer; the start-up's questions wait for its end.
  if (m_afterTours)
    m_afterTours([this] { askAtStart(); });
  else
    askAtStart();
  return !m_state.events->closing();
}

void HiddenMainWindow::startRunning() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect g = screen->geometry();
    move(g.width() - width(), g.height() - height());
  }
  showTrayIcon();

  m_repairedAtStart = m_routines.IndexNeedsRebuild();
  if (m_repairedAtStart) m_routines.RebuildDatabase();

  m_routines.FindNextAlarm();
  m_timer1.start(kTimerInterval);
  m_routines.ScheduleNextAnnouncement(-1);
  m_routines.ScheduleNextMailCheck(-1);
}

void HiddenMainWindow::askAtStart() {
  if (m_state.events->closing()) return;
  // Only now, with the timer running, may anything wait for the user: a reminder due meanwhile
  // is announced while a box is open.
  if (!m_inTray && !m_toldNoTray) {
    m_toldNoTray = true;
    m_prompter.notice(kNoTrayText, kNoTrayTitle, PromptIcon::Information);
  }
  if (!m_repairedAtStart) optimizePrompt();
}

void HiddenMainWindow::optimizePrompt() {
  const QDateTime now = m_clock.now();
  // The date from which the suggestion is due; one that cannot be read counts as long past.
  const auto due = ParseDateText(m_settings.read(settings::LastOptimize))
                       .value_or(*ParseDateText(QString::fromUtf8(settings::LastOptimize.defaultText)));
  if (due > now) return;
  QPointer<HiddenMainWindow> self(this);
  m_prompter.ask(kOptimizeQuestion, kOptimizeTitle, PromptIcon::Question, [self](bool yes) {
    if (!self || self->m_state.events->closing()) return;
    if (yes) {
      self->m_routines.RebuildDatabase();
      self->m_routines.FindNextAlarm();
    } else
      self->m_settings.write(settings::LastOptimize, FormatDateText(self->m_clock.now().addDays(7)));
  });
}

void HiddenMainWindow::showTrayIcon() {
  if (!m_tray) {
    m_tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/olm-chimewise.svg")), this);
    m_trayMenu = std::make_unique<QMenu>();
    if (m_commands) {
      FillTrayMenu(*m_trayMenu, *m_commands);
    } else {
      QAction* quitAction = m_trayMenu->addAction(QStringLiteral("&Quit Olm Chimewise"));
      connect(quitAction, &QAction::triggered, this, &HiddenMainWindow::quit);
    }
    m_tray->setContextMenu(m_trayMenu.get());
    // Exported over D-Bus (a StatusNotifier host), the menu's captions are read by dbusmenu rules.
    if (statusNotifierTray()) UseExportedMenuCaptions(*m_trayMenu);
    m_tray->setToolTip(kTrayToolTip);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onTrayActivated(static_cast<int>(reason)); });
  }
  m_inTray = m_trayAvailable ? m_trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
  if (m_inTray) {
    m_trayWatch.stop();
    m_tray->show();
    return;
  }
  // No tray: the character's own menu carries the same commands, so it must be on screen. The
  // user is told once the timer runs; meanwhile the program watches for a tray to appear.
  m_character.ShowCharacter();
  m_trayWatch.start();
}

void HiddenMainWindow::lookForTray() {
  if (m_state.events->closing() || m_inTray) {
    m_trayWatch.stop();
    return;
  }
  const bool available = m_trayAvailable ? m_trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
  if (available) showTrayIcon();
}

bool HiddenMainWindow::statusNotifierTray() const {
  // Qt gives the tray's menu a platform menu only where it exports it to a StatusNotifier host.
  return m_trayMenu && m_trayMenu->platformMenu();
}

void HiddenMainWindow::onTrayActivated(int reason) {
  switch (TrayClickAction(static_cast<QSystemTrayIcon::ActivationReason>(reason), statusNotifierTray())) {
    case TrayClick::OpenViewer:
      if (m_commands) m_commands->Run(Command::ReminderViewer);
      return;
    case TrayClick::OpenViewerElseMenu:
      // Without a viewer the clicks that would open it offer the menu instead.
      if (m_commands && m_commands->Run(Command::ReminderViewer)) return;
      if (m_trayMenu) m_trayMenu->popup(QCursor::pos());
      return;
    case TrayClick::Nothing: return;  // the right button opens the context menu by itself
  }
}

void HiddenMainWindow::tick() {
  if (m_state.events->closing()) return;
  auto inputs = [this] {
    return TickInputs{m_routines.NextAnnouncement().value_or(QDateTime()),
                      m_options.timeRangeOn,
                      m_options.rangeStart,
                      m_options.rangeEnd,
                      m_routines.NextAlarm().value_or(QDateTime()),
                      m_routines.NextMailCheck().value_or(QDateTime()),
                      m_routines.MailCheckRunning()};
  };
  const TickDecision first = DecideTick(inputs(), m_clock.now());
  if (first.announce)
    m_routines.AnnounceTime();
  else if (first.rescheduleAnnouncement)
    m_routines.ScheduleNextAnnouncement(-1);
  if (m_state.events->closing()) return;
  // The announcement may have spoken for a while: look at the alarms as they are now.
  if (DecideTick(inputs(), m_clock.now()).scanAlarms) {
    emit aboutToScanAlarms();
    if (m_state.events->closing()) return;
    m_routines.ScanDueAlarms();
  }
  if (m_state.events->closing()) return;
  if (DecideTick(inputs(), m_clock.now()).checkMail) m_routines.CheckMailAutomatically();
}

void HiddenMainWindow::quit() {
  m_state.events->BeginClosing();
  m_timer1.stop();
  m_trayWatch.stop();
  unload();
}

void HiddenMainWindow::unload() {
  if (m_unloaded) return;
  m_unloaded = true;
  tolerant("begin closing", [&] { m_state.events->BeginClosing(); });
  tolerant("stop the timer", [&] { m_timer1.stop(); });
  tolerant("end the speech waits", [&] { m_state.events->EndSpeechWaits(); });
  tolerant("say goodbye", [&] { m_character.SayGoodbye(); });
  tolerant("close the tables", [&] { m_routines.CloseAllTables(); });
  tolerant("close the windows", [&] { m_windows.UnloadWindows(); });
  // The goodbye plays on while the event loop runs; the last steps follow its end.
  bool released = false;
  tolerant("release the character", [&] {
    m_character.ReleaseCharacter([this] { finishUnload(); });
    released = true;
  });
  if (!released) finishUnload();
}

void HiddenMainWindow::finishUnload() {
  if (m_unloadFinished) return;
  m_unloadFinished = true;
  tolerant("hide the tray icon", [&] {
    if (m_tray) m_tray->hide();
  });
  emit unloaded();
}

}  // namespace chimewise
