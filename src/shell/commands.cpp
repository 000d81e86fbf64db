#include "shell/commands.h"

#include "character/character_host.h"
#include "core/ports.h"
#include "core/program_events.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "shell/hidden_main_window.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <utility>

namespace chimewise {

std::optional<Command> CharacterCommandFor(const QString& name) {
  static const std::pair<const char*, Command> table[] = {
      {"View", Command::ReminderViewer}, {"Listen", Command::Listen},
      {"Time", Command::SayTime},        {"Clipboard", Command::ReadClipboard},
      {"Joke", Command::TellJoke},       {"NoSound", Command::Snoring},
      {"LoadJoke", Command::LoadJokes},  {"Create", Command::CreateMailcaster},
      {"Update", Command::Update},       {"NoTalk", Command::StopTalking},
      {"GoAway", Command::GoAway},       {"Options", Command::Options},
      {"Optimize", Command::Optimize},   {"Quit", Command::Quit},
      {"ReadMail", Command::ReadMail},   {"Add", Command::AddReminder},
      {"About", Command::About},         {"QuickAdd", Command::QuickAdd},
  };
  for (const auto& [n, command] : table)
    if (name == QLatin1String(n)) return command;
  return std::nullopt;
}

ProgramCommands::ProgramCommands(SharedState& state, SettingsStore& settings, CharacterHost& character,
                                 RoutinesPort& routines, SchedulePort& schedule, ViewerPort& viewer,
                                 CommandFeatures features, std::function<void()> quit)
    : m_state(state),
      m_settings(settings),
      m_character(character),
      m_routines(routines),
      m_schedule(schedule),
      m_viewer(viewer),
      m_features(std::move(features)),
      m_quit(std::move(quit)) {}

bool ProgramCommands::Available(Command command) const {
  switch (command) {
    case Command::AddReminder: return m_features.scheduleDialog;
    case Command::ReminderViewer: return m_features.viewer;
    // Voice commands, the jokes, the mail sender, the options, the update and the About window
    // are not part of this program yet.
    case Command::Listen: return bool(m_features.listen);
    case Command::LoadJokes: return bool(m_features.loadJokes);
    case Command::TellJoke: return bool(m_features.tellJoke);
    case Command::CreateMailcaster: return bool(m_features.createMailcaster);
    case Command::Options: return bool(m_features.options);
    case Command::Update: return bool(m_features.update);
    case Command::About: return bool(m_features.about);
    case Command::ReadMail: return bool(m_features.readMail);
    case Command::QuickAdd: return bool(m_features.quickAdd);
    case Command::SayTime:
    case Command::ReadClipboard:
    case Command::Snoring:
    case Command::Optimize:
    case Command::Quit:
    case Command::StopTalking:
    case Command::GoAway: return true;
  }
  return false;
}

bool ProgramCommands::Run(Command command) {
  if (!Available(command)) return false;
  switch (command) {
    case Command::AddReminder: AddReminder(); break;
    case Command::ReminderViewer: ShowViewer(); break;
    case Command::SayTime: SayTime(); break;
    case Command::ReadClipboard: ReadClipboard(); break;
    case Command::Snoring: ToggleSnoring(); break;
    case Command::Optimize: Optimize(); break;
    case Command::Quit: Quit(); break;
    case Command::StopTalking: StopTalking(); break;
    case Command::GoAway: GoAway(); break;
    case Command::TellJoke:
    case Command::ReadMail:
      // Both start new speech at once: what the character says or has queued ends first.
      quietCharacter();
      (command == Command::TellJoke ? m_features.tellJoke : m_features.readMail).run();
      break;
    case Command::Listen: m_features.listen.run(); break;
    case Command::LoadJokes: m_features.loadJokes.run(); break;
    case Command::CreateMailcaster: m_features.createMailcaster.run(); break;
    case Command::Options: m_features.options.run(); break;
    case Command::Update: m_features.update.run(); break;
    case Command::About: m_features.about.run(); break;
    case Command::QuickAdd: m_features.quickAdd.run(); break;
  }
  return true;
}

bool ProgramCommands::CommandAvailable(const QString& name) const {
  const auto command = CharacterCommandFor(name);
  return !command || Available(*command);
}

void ProgramCommands::RunCharacterCommand(const QString& name) {
  if (const auto command = CharacterCommandFor(name)) Run(*command);
}

void ProgramCommands::quietCharacter() { m_character.QuietCharacter(); }

void ProgramCommands::AddReminder() {
  // The dialog is modal: while it is open it holds the user's unsaved entry.
  if (m_schedule.ScheduleOpen()) return;
  quietCharacter();
  m_schedule.OpenSchedule(std::nullopt);
}

void ProgramCommands::ShowViewer() { m_viewer.ShowViewer(); }

void ProgramCommands::SayTime() { m_routines.AnnounceTime(); }

void ProgramCommands::ReadClipboard() {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  const QString text = clipboard ? clipboard->text() : QString();
  if (text.trimmed().isEmpty()) {
    // Said after whatever is being said now, which it leaves alone.
    m_character.SayText(kEmptyClipboardText);
    return;
  }
  quietCharacter();
  m_character.SayText(text);
}

std::optional<bool> ProgramCommands::Checked(Command command) const {
  if (command == Command::Snoring) return m_character.character() && m_character.soundEffectsOn();
  return std::nullopt;
}

void ProgramCommands::ToggleSnoring() {
  if (m_character.character()) m_character.SetSoundEffects(!m_character.soundEffectsOn());
}

void ProgramCommands::Optimize() {
  quietCharacter();
  m_routines.RebuildDatabase();
}

void ProgramCommands::Quit() {
  if (m_quit) m_quit();
}

void ProgramCommands::StopTalking() {
  m_character.QuietCharacter(true);
  m_state.events->RequestStop();
}

void ProgramCommands::GoAway() {
  m_state.events->EndSpeechWaits();
  m_character.hide();
  m_settings.write(settings::ShowOnStart, QStringLiteral("0"));
  m_character.setSentAway(true);
  m_state.events->RequestStop();
}

}  // namespace chimewise
