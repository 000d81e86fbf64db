#pragma once
// The program's commands: one handler for each entry of the tray menu and each command of the
// character's own menu, so a menu entry and the character's command of the same name do the same.
// The handlers run on the user-interface thread, also inside another part's speech wait; a
// command that starts new speech first quiets the character, which ends that wait.

#include "character/character_tables.h"

#include <QString>
#include <functional>
#include <optional>

namespace chimewise {

// What Read Clipboard says when the clipboard holds no text.
inline const QString kEmptyClipboardText = QStringLiteral("The clipboard holds no text for me to read.");

class CharacterHost;
class RoutinesPort;
class SchedulePort;
class SettingsStore;
class ViewerPort;
struct SharedState;

enum class Command {
  AddReminder,
  ReminderViewer,
  Listen,
  LoadJokes,
  TellJoke,
  CreateMailcaster,
  SayTime,
  ReadClipboard,
  Options,
  Snoring,
  Optimize,
  Update,
  About,
  Quit,
  StopTalking,  // only in the character's menu
  GoAway,       // only in the character's menu
  ReadMail,
  QuickAdd,
};

// A feature behind a command: what runs it, and whether it can run now (unset: whenever it has a
// handler). A sibling program, for one, is offered only while it is installed.
struct CommandFeature {
  std::function<void()> run;
  std::function<bool()> available;
  explicit operator bool() const { return run && (!available || available()); }
};

// Which of the windows behind the commands this program has. A command whose window or feature is
// missing is offered disabled, never as an entry that silently does nothing.
struct CommandFeatures {
  bool scheduleDialog = false;  // SchedulePort opens a real Schedule Activity dialog
  bool viewer = false;          // ViewerPort shows a real Reminder Viewer
  // The features that live above the commands, each run by its handler; an unset handler offers
  // its command disabled. The commands quiet the character before a joke and before mail read on
  // request; the others' handlers do what their windows need.
  CommandFeature listen;
  CommandFeature loadJokes;  // the sibling jokes program
  CommandFeature tellJoke;
  CommandFeature createMailcaster;  // the sibling mail-cartoon program
  CommandFeature options;
  CommandFeature update;
  CommandFeature about;
  CommandFeature readMail;
  CommandFeature quickAdd;  // the one-line Quick Add window
};

// The command a name of the character's menu stands for ("View", "Time", "NoTalk" ...), compared
// exactly, letter case included; nullopt for a separator or a name that is not a command.
std::optional<Command> CharacterCommandFor(const QString& name);

class ProgramCommands final : public CharacterCommandsPort {
 public:
  // quit runs the shutdown (the main window's Quit).
  ProgramCommands(SharedState& state, SettingsStore& settings, CharacterHost& character, RoutinesPort& routines,
                  SchedulePort& schedule, ViewerPort& viewer, CommandFeatures features, std::function<void()> quit);

  // Whether the command can be carried out in this program.
  bool Available(Command command) const;
  // A name of the character's menu: whether its command is available; a name that is no command
  // is left as the menu has it.
  bool CommandAvailable(const QString& name) const override;
  // For a command that switches something on and off, whether it is on now; else nothing.
  std::optional<bool> Checked(Command command) const;
  // Runs the command's handler; false (and nothing done) when it is not available.
  bool Run(Command command);
  // A command chosen from the character's menu or spoken to it; a name that is no command, or whose
  // command is not available, does nothing.
  void RunCharacterCommand(const QString& name);

  // Stops the reading in progress and opens the Schedule Activity dialog for a new reminder, unless
  // the dialog is open already.
  void AddReminder();
  void ShowViewer();
  void SayTime();
  // Reads the clipboard's text aloud. A clipboard without text (empty, blank or a picture) does
  // nothing and leaves the character's speech alone.
  void ReadClipboard();
  // Turns the character's own sound effects (its snoring) the other way; nothing is stored.
  void ToggleSnoring();
  // Quiets the character, then packs the reminder table and rebuilds its index.
  void Optimize();
  void Quit();
  // The user asks the character to be quiet: speech stops at once, and a spoken sequence that is
  // running (a tour, the introduction) ends at its next wait.
  void StopTalking();
  // As StopTalking, and the character hides and stays hidden at the next start.
  void GoAway();

 private:
  // Ends any speech wait, lets pending events run once and drops what the character has queued.
  void quietCharacter();

  SharedState& m_state;
  SettingsStore& m_settings;
  CharacterHost& m_character;
  RoutinesPort& m_routines;
  SchedulePort& m_schedule;
  ViewerPort& m_viewer;
  CommandFeatures m_features;
  std::function<void()> m_quit;
};

}  // namespace chimewise
