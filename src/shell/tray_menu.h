#pragma once
// The tray icon's menu: the program's command table, in its order.

#include "shell/commands.h"

#include <QString>
#include <QSystemTrayIcon>

#include <array>
#include <optional>

class QMenu;

namespace chimewise {

struct TrayEntry {
  std::optional<Command> command;  // nullopt: a separator
  const char* caption;
};

// Every entry of the tray menu in order. "&" marks the access key, "&&" is a literal "&"; every
// entry has a letter no other entry uses, so pressing it chooses the entry at once.
const std::array<TrayEntry, 21>& TrayEntries();

// Fills `menu` with the entries, "&Add Reminder" as its bold default; an entry whose command is
// not available is shown disabled. Choosing an entry runs its command.
void FillTrayMenu(QMenu& menu, ProgramCommands& commands);

// What a click on the tray icon does. On a StatusNotifier host (KDE, AppIndicator, waybar) a left
// click is the icon's one activation and opens the viewer; the X11 tray has double-clicks for
// that and leaves a single click alone.
enum class TrayClick { Nothing, OpenViewer, OpenViewerElseMenu };
TrayClick TrayClickAction(QSystemTrayIcon::ActivationReason reason, bool statusNotifier);

// A menu caption as it is to be given to Qt where the menu is exported over D-Bus (dbusmenu):
// Qt turns only the first "&" into the dbusmenu access key and passes every other "&" through
// as it stands, so a literal "&&" would show doubled. "&Jesterbox && Quotes..." becomes
// "&Jesterbox & Quotes...", shown "Jesterbox & Quotes..." with J as its key. A literal "&" before
// the key (or in a caption without one) becomes the fullwidth ampersand, which Qt leaves alone;
// an underscore, dbusmenu's own key mark, is doubled.
QString ExportedMenuCaption(const QString& caption);

// Gives every entry of a menu that is exported over D-Bus its exported caption.
void UseExportedMenuCaptions(QMenu& menu);

}  // namespace chimewise
