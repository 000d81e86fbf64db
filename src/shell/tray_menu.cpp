#include "shell/tray_menu.h"

#include <QAction>
#include <QMenu>

namespace chimewise {

const std::array<TrayEntry, 20>& TrayEntries() {
  // "&Read Clipboard" and "&Reminder Viewer", "T&urn Snoring" and "&Update Me", "&Add Reminder"
  // and an About on "A" would share their letters, and a shared letter only moves the highlight
  // between its entries: Read Clipboard is on "e", Update Me on "d" ("Read &Mail" has "M") and
  // About on "b".
  static const std::array<TrayEntry, 20> entries{{
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
      {Command::ReadMail, "Read &Mail"},
      {std::nullopt, "-"},
      {Command::Options, "&Options..."},
      {Command::Snoring, "T&urn Snoring On/Off"},
      {Command::Optimize, "Optimi&ze Reminders"},
      {Command::Update, "Up&date Me"},
      {std::nullopt, "-"},
      {Command::About, "A&bout Olm Chimewise"},
      {std::nullopt, "-"},
      {Command::Quit, "&Quit Olm Chimewise"},
  }};
  return entries;
}

void FillTrayMenu(QMenu& menu, ProgramCommands& commands) {
  menu.clear();
  QObject::disconnect(&menu, &QMenu::aboutToShow, nullptr, nullptr);
  for (const TrayEntry& e : TrayEntries()) {
    if (!e.command) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QString::fromUtf8(e.caption));
    const Command command = *e.command;
    action->setEnabled(commands.Available(command));
    action->setData(static_cast<int>(command));
    if (const std::optional<bool> on = commands.Checked(command)) {
      action->setCheckable(true);
      action->setChecked(*on);
    }
    QObject::connect(action, &QAction::triggered, &menu, [&commands, command] { commands.Run(command); });
    if (command == Command::AddReminder) menu.setDefaultAction(action);
  }
  // What can run may change while the program runs (a sibling program installed or removed).
  QObject::connect(&menu, &QMenu::aboutToShow, &menu, [&menu, &commands] {
    for (QAction* action : menu.actions()) {
      if (action->isSeparator()) continue;
      const auto command = static_cast<Command>(action->data().toInt());
      action->setEnabled(commands.Available(command));
      if (const std::optional<bool> on = commands.Checked(command)) action->setChecked(*on);
    }
  });
}

}  // namespace chimewise
