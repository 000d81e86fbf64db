#include "shell/tray_menu.h"

#include <QAction>
#include <QMenu>

namespace chimewise {

const std::array<TrayEntry, 21>& TrayEntries() {
  // "&Read Clipboard" and "&Reminder Viewer", "T&urn Snoring" and "&Update Me", "&Add Reminder"
  // and an About on "A" would share their letters, and a shared letter only moves the highlight
  // between its entries: Read Clipboard is on "e", Update Me on "d" ("Read &Mail" has "M") and
  // About on "b".
  static const std::array<TrayEntry, 21> entries{{
      {Command::AddReminder, "&Add Reminder"},
      {Command::QuickAdd, "Qu&ick Add..."},
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

TrayClick TrayClickAction(QSystemTrayIcon::ActivationReason reason, bool statusNotifier) {
  switch (reason) {
    case QSystemTrayIcon::Trigger: return statusNotifier ? TrayClick::OpenViewer : TrayClick::Nothing;
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::MiddleClick: return TrayClick::OpenViewerElseMenu;
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::Unknown: break;  // the context menu opens by itself
  }
  return TrayClick::Nothing;
}

QString ExportedMenuCaption(const QString& caption) {
  // Read as QMenu reads it: "&&" a literal "&", "&" before another character the access key (the
  // first one only), a "&" at the very end a literal.
  QString shown;
  qsizetype keyAt = -1;  // where the access key's character is in `shown`
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] != u'&' || i + 1 == caption.size()) {
      shown += caption[i];
      continue;
    }
    ++i;
    if (caption[i] != u'&' && keyAt < 0) keyAt = shown.size();
    shown += caption[i];
  }
  // Qt turns the first "&" of the text into the key, so the key's own "&" must come first. A
  // literal before it (or in a caption without a key) would be taken for the key: it is written
  // as the fullwidth ampersand, which looks the same and which Qt leaves alone.
  // An underscore is dbusmenu's own key mark, so a literal one is doubled.
  const qsizetype plainFrom = keyAt < 0 ? shown.size() : keyAt;
  for (qsizetype i = 0; i < plainFrom; ++i)
    if (shown[i] == u'&') shown[i] = QChar(0xFF06);
  QString before = shown.left(plainFrom);
  QString after = shown.mid(plainFrom);
  before.replace(u'_', QStringLiteral("__"));
  after.replace(u'_', QStringLiteral("__"));
  return keyAt < 0 ? before : before + u'&' + after;
}

void UseExportedMenuCaptions(QMenu& menu) {
  for (QAction* action : menu.actions()) {
    if (action->isSeparator()) continue;
    // The caption it was filled with is kept, so that doing this twice changes nothing more.
    QVariant original = action->property("chimewiseCaption");
    if (!original.isValid()) {
      original = action->text();
      action->setProperty("chimewiseCaption", original);
    }
    action->setText(ExportedMenuCaption(original.toString()));
  }
}

}  // namespace chimewise
