#include "shell/reminders.h"

#include "core/app_paths.h"
#include "character/character_choice.h"
#include "core/clock.h"
#include "core/date_text.h"
#include "core/program_events.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/startup_settings.h"
#include "core/timer_tick.h"
#include "core/value_reading.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>

namespace chimewise {

namespace {

// Runs one shutdown step; a failure in one never keeps the next from running.
template <typename F>
void tolerant(F&& step) {
  try {
    step();
  } catch (...) {
  }
}

template <typename Hook, typename... Args>
void callHook(const Hook& hook, Args&&... args) {
  if (hook) hook(std::forward<Args>(args)...);
}

}  // namespace

Reminders::Reminders(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock,
                     ProgramHooks hooks, QWidget* parent)
    : QWidget(parent), m_state(state), m_settings(settings), m_prompter(prompter), m_clock(clock),
      m_hooks(std::move(hooks)) {
  setWindowTitle(kProgramTitle);
  resize(120, 90);
  m_timer1.setTimerType(Qt::CoarseTimer);
  connect(&m_timer1, &QTimer::timeout, this, &Reminders::tick);
}

Reminders::~Reminders() = default;

bool Reminders::load(const QStringList& characterFolders) {
  // The character: the stored one, or the first installed one, remembered from now on.
  QString name = m_settings.read(settings::CharacterName);
  if (name.isEmpty()) {
    const auto chosen = ChooseCharacter(characterFolders);
    if (!chosen) {
      m_prompter.message(kNoCharactersText, kNoCharactersTitle, PromptIcon::Information);
      return false;
    }
    name = *chosen;
    m_settings.write(settings::CharacterName, name);
  }

  ReadStartUpSettings(m_state, m_settings);

  const QDateTime now = m_clock.now();
  if (FindPathNoCase(m_state.AppFolder, QStringLiteral("CHIMINST.DLL")))
    m_settings.write(settings::LastOptimize, FormatDateText(now.addDays(20)));

  if (m_hooks.loadCharacter && !m_hooks.loadCharacter(name + kCharacterExtension, true)) return false;
  if (m_state.Closing) return false;

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect g = screen->geometry();
    move(g.width() - width(), g.height() - height());
  }
  showTrayIcon();

  const bool rebuild = m_hooks.indexNeedsRebuild
                           ? m_hooks.indexNeedsRebuild()
                           : !FindPathNoCase(m_state.AppFolder, QStringLiteral("data/CALENDAR.CDX")).has_value();
  if (rebuild)
    callHook(m_hooks.rebuildDatabase);
  else
    optimizePrompt();

  m_state.NextAnnounceTime = QDateTime();
  callHook(m_hooks.findNextAlarm);
  m_timer1.start(kTimerInterval);
  callHook(m_hooks.scheduleNextAnnouncement, -1);
  callHook(m_hooks.scheduleNextMailCheck, -1);
  return !m_state.Closing;
}

void Reminders::optimizePrompt() {
  const QDateTime now = m_clock.now();
  // The date from which the suggestion is due; one that cannot be read counts as long past.
  const auto due = ParseDateText(m_settings.read(settings::LastOptimize))
                       .value_or(*ParseDateText(QString::fromUtf8(settings::LastOptimize.defaultText)));
  if (due > now) return;
  if (m_prompter.askYesNo(kOptimizeQuestion, kOptimizeTitle, PromptIcon::Question))
    callHook(m_hooks.rebuildDatabase);
  else
    m_settings.write(settings::LastOptimize, FormatDateText(m_clock.now().addDays(7)));
}

void Reminders::showTrayIcon() {
  if (!m_tray) {
    m_tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/olm-chimewise.svg")), this);
    m_trayMenu = new QMenu(this);
    QAction* quitAction = m_trayMenu->addAction(QStringLiteral("&Quit Olm Chimewise"));
    connect(quitAction, &QAction::triggered, this, &Reminders::quit);
    m_tray->setContextMenu(m_trayMenu);
    m_tray->setToolTip(kTrayToolTip);
  }
  m_tray->show();
}

void Reminders::tick() {
  if (m_state.Closing) return;
  auto inputs = [this] {
    return TickInputs{m_state.NextAnnounceTime, m_state.TimeRangeOn, m_state.RangeStart, m_state.RangeEnd,
                      m_state.NextAlarmTime};
  };
  const TickDecision first = DecideTick(inputs(), m_clock.now());
  if (first.announce) callHook(m_hooks.announceTime);
  else if (first.rescheduleAnnouncement) callHook(m_hooks.scheduleNextAnnouncement, -1);
  if (m_state.Closing) return;
  // The announcement may have spoken for a while: look at the alarms as they are now.
  if (DecideTick(inputs(), m_clock.now()).scanAlarms) callHook(m_hooks.scanDueAlarms);
}

void Reminders::quit() {
  BeginClosing(m_state);
  QCoreApplication::processEvents();
  unload();
}

void Reminders::unload() {
  if (m_unloaded) return;
  m_unloaded = true;
  tolerant([&] {
    BeginClosing(m_state);
    QCoreApplication::processEvents();
  });
  tolerant([&] { m_timer1.stop(); });
  tolerant([&] { InvertSpeechToggle(m_state); });
  tolerant([&] { callHook(m_hooks.sayGoodbye); });
  tolerant([&] { callHook(m_hooks.closeAllTables); });
  tolerant([&] { callHook(m_hooks.unloadWindows); });
  tolerant([&] { callHook(m_hooks.releaseCharacter); });
  tolerant([&] {
    if (m_tray) m_tray->hide();
  });
  emit unloaded();
}

}  // namespace chimewise
