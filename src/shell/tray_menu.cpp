#include "shell/tray_menu.h"

#include <QAction>
#include <QMenu>

namespace chimewise {

const std::array<TrayEntry, 19>& TrayEntries() {
  // "&Read Clipboard" and "&Reminder Viewer", "T&urn Snoring" and "&Update Me", "&Add Reminder"
  // and an About on "A" would share their letters, and a shared letter only moves the highlight
  // between its entries: Read Clipboard is on "e", Update Me on "M" and About on "b".
  static const std::array<TrayEntry, 19> entries{{
      {Command::AddReminder, "&Add Reminder"},
      {Command::ReminderViewer, "&Reminder Viewer"},
      {Command::Listen, "&Listen"},
      {std::nullopt, "-"},
      {Command::LoadJokes, "&Jesterbox && Quotes..."},
      {Command::TellJoke, "&Tell a Joke or Quote..."},
      {Command::CreateMailcaster, "&Create Mailcaster"},
      {std::nullopt, "-"},
      {Command::SayTime, "&Say Time"},
      {Command::ReadClipboard, "R&ead Clipboard"},
      {std::nullopt, "-"},
      {Command::Options, "&Options..."},
      {Command::Snoring, "T&urn Snoring On/Off"},
      {Command::Optimize, "Optimi&ze Reminders"},
      {Command::Update, "Update &Me"},
      {std::nullopt, "-"},
      {Command::About, "A&bout Olm Chimewise"},
      {std::nullopt, "-"},
      {Command::Quit, "&Quit Olm Chimewise"},
  }};
  return entries;
}

void FillTrayMenu(QMenu& menu, ProgramCommands& commands) {
  menu.clear();
  for (const TrayEntry& e : TrayEntries()) {
    if (!e.command) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QString::fromUtf8(e.caption));
    const Command command = *e.command;
    action->setEnabled(commands.Available(command));
    QObject::connect(action, &QAction::triggered, &menu, [&commands, command] { commands.Run(command); });
    if (command == Command::AddReminder) menu.setDefaultAction(action);
  }
}

}  // namespace chimewise
