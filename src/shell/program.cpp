#include "shell/program.h"

#include "data/calendar.h"
#include "core/clock.h"
#include "core/command_line.h"
#include "shell/optimize.h"
#include "core/settings_store.h"
#include "core/shared_state.h"

namespace chimewise {

Program::Program(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock,
                 ProgramOptions options)
    : m_state(state), m_settings(settings), m_prompter(prompter), m_clock(clock), m_options(std::move(options)) {
  m_character = std::make_unique<CharacterHost>(
      state, settings, prompter,
      CharacterHostOptions{m_options.characterFolders, m_options.windowsFolder, m_options.silentAudio, nullptr});
  m_alarms = std::make_unique<AlarmService>(state, prompter, clock, m_engine, *m_character);
  m_talkingClock = std::make_unique<TalkingClock>(state, settings, clock, *m_character);
  m_saver = std::make_unique<EventSaver>(state, prompter, clock, m_engine, *m_character, *m_alarms);

  ProgramHooks hooks;
  hooks.setUpDataEngine = [this] {
    m_engine.CloseAll();
    data::ApplyStartupSettings(m_engine);
  };
  hooks.closeAllTables = [this] { m_engine.CloseAll(); };
  hooks.indexNeedsRebuild = [this] {
    return !data::CalendarIndexProblem(m_engine, data::CalendarPath(m_state.AppFolder)).ok();
  };
  hooks.rebuildDatabase = [this] {
    RebuildDatabase(m_state, m_settings, m_prompter, m_clock, m_engine, *m_character);
  };
  hooks.loadCharacter = [this](const QString& file, bool atStartUp) {
    m_character->LoadCharacter(file, atStartUp);
    return true;  // a missing character has been told; the program goes on without one
  };
  hooks.sayGoodbye = [this] { m_character->SayGoodbye(); };
  hooks.releaseCharacter = [this] { m_character->ReleaseCharacter(); };
  hooks.findNextAlarm = [this] { m_alarms->FindNextAlarm(); };
  hooks.scanDueAlarms = [this] { m_alarms->ScanDueAlarms(); };
  hooks.announceTime = [this] { m_talkingClock->AnnounceTime(); };
  hooks.scheduleNextAnnouncement = [this](int interval) { m_talkingClock->ScheduleNextAnnouncement(interval); };
  m_reminders = std::make_unique<Reminders>(state, settings, prompter, clock, hooks);

  m_alarms->hooks().setTimerEnabled = [this](bool on) {
    if (on && !m_state.Closing) m_reminders->timer1().start(kTimerInterval);
    else m_reminders->timer1().stop();
  };
}

Program::~Program() = default;

bool Program::start() {
  m_reminders->hooks().setUpDataEngine();
  return m_reminders->load(m_options.characterFolders);
}

void Program::handleCommandLine(const QString& line) {
  if (line.trimmed() == kRefreshCommand) {
    m_alarms->FindNextAlarm();
    if (m_state.ViewerOpen && m_alarms->hooks().refreshViewer) m_alarms->hooks().refreshViewer();
    return;
  }
  if (ParseCommandLine(line, m_state.AppFolder).showViewer && m_reminders->hooks().showViewer)
    m_reminders->hooks().showViewer();
}

}  // namespace chimewise
