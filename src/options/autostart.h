#pragma once
// Starting the program when the user logs in: an XDG autostart entry under the program's own
// desktop ID in the user's autostart folder ($XDG_CONFIG_HOME/autostart). The program's first
// start writes it; the Options dialog's "Start Olm Chimewise when I log in" box shows and changes
// it, and an entry the user has removed or disabled is left so.

#include <QString>

namespace chimewise {

// The program's application ID: its menu entry and its autostart entry are this plus ".desktop".
inline constexpr char kApplicationId[] = "org.olmchimewise.Chimewise";

// The user's autostart folder and the program's entry in it.
QString AutostartFolder();
QString AutostartEntryPath();

// Whether a desktop entry's text starts its program at login: not when its [Desktop Entry]
// group says Hidden=true or X-GNOME-Autostart-enabled=false.
bool AutostartEntryEnabled(const QString& entryText);
// Whether the program starts at login: its entry exists and is not disabled.
bool StartsAtLogin();

// One argument of a desktop entry's Exec line as its value is written in the file: quoted, with
// ", `, $ and \ escaped inside the quotes, % doubled, and the string escapes of the file on top.
QString DesktopExecArgument(const QString& argument);
// The autostart entry that starts `program` (an absolute path).
QString AutostartEntryText(const QString& program);

// Writes the entry for `program`, making the folder when it is missing, or removes it (a missing
// entry is no failure; nothing else in the folder is touched). Each returns "" on success, else
// a sentence for the user saying what went wrong.
QString EnableStartAtLogin(const QString& program);
QString DisableStartAtLogin();

}  // namespace chimewise
